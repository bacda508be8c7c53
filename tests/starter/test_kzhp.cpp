#include "starter/modkzhp.h"
#include "tests/support/testmain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

// kzhp is run as a program, with a stand-in "xdg-open" first on PATH. The
// stand-in records its arguments and working directory, says "started", and
// then waits until the test releases it: so the test can tell that kzhp
// ended while the opener was still running.
class TestKzhp : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensExactlyTheAddress_data();
    void opensExactlyTheAddress();
    void opensFromItsOwnDirectory();
    void eachStartOpensThePageAgain();
    void endsNormallyWithoutOpener();
    void executableDirectoryIsTheProgramsDirectory();
    void unstartableProgramIsNoCrash();

private:
    // Runs kzhp with the given arguments from workingDirectory, with path as
    // PATH, and answers its exit code (-1 when it did not end normally).
    int runKzhp(const QStringList &arguments, const QString &workingDirectory,
                const QString &path);
    // The stand-in first, then the system's tools it uses itself.
    QString searchPath() const { return m_binDir + QStringLiteral(":/usr/bin:/bin"); }
    QStringList records() const;
    QString recordFile(const QString &record, const QString &name) const;
    static QString readAll(const QString &path);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_binDir;
    QString m_recordDir;
};

void TestKzhp::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_binDir = m_dir->filePath(QStringLiteral("bin"));
    m_recordDir = m_dir->filePath(QStringLiteral("records"));
    QVERIFY(QDir().mkpath(m_binDir));
    QVERIFY(QDir().mkpath(m_recordDir));

    const QString script = m_binDir + QStringLiteral("/xdg-open");
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"(#!/bin/sh
rec="$KZHP_RECORD_DIR/run.$$"
mkdir "$rec"
pwd -P > "$rec/cwd"
echo "$#" > "$rec/argc"
for a in "$@"; do printf '%s\n' "$a"; done > "$rec/args"
touch "$rec/started"
i=0
while [ ! -e "$KZHP_RECORD_DIR/release" ] && [ "$i" -lt 300 ]; do
    sleep 0.1
    i=$((i + 1))
done
touch "$rec/finished"
)");
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void TestKzhp::cleanup()
{
    // Let every stand-in end before its directory goes away.
    QFile release(m_recordDir + QStringLiteral("/release"));
    QVERIFY(release.open(QIODevice::WriteOnly));
    release.close();
    for (const QString &record : records()) {
        if (QFile::exists(recordFile(record, QStringLiteral("started"))))
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(recordFile(record, QStringLiteral("finished"))),
                                     10000);
    }
    m_dir.reset();
}

int TestKzhp::runKzhp(const QStringList &arguments, const QString &workingDirectory,
                      const QString &path)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"), path);
    environment.insert(QStringLiteral("KZHP_RECORD_DIR"), m_recordDir);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingDirectory);
    process.start(QStringLiteral(KZHP_PATH), arguments);
    if (!process.waitForFinished(20000))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QStringList TestKzhp::records() const
{
    return QDir(m_recordDir).entryList({QStringLiteral("run.*")}, QDir::Dirs);
}

QString TestKzhp::recordFile(const QString &record, const QString &name) const
{
    return m_recordDir + QLatin1Char('/') + record + QLatin1Char('/') + name;
}

QString TestKzhp::readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

void TestKzhp::opensExactlyTheAddress_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no arguments") << QStringList();
    QTest::newRow("options and another address")
        << QStringList{QStringLiteral("--help"), QStringLiteral("https://elsewhere.example")};
    QTest::newRow("shell characters") << QStringList{QStringLiteral("a b; touch pwned"),
                                                     QStringLiteral("$(id)"), QString()};
}

void TestKzhp::opensExactlyTheAddress()
{
    QFETCH(QStringList, arguments);
    QCOMPARE(runKzhp(arguments, m_dir->path(), searchPath()), 0);

    // kzhp has ended; the opener it started is still waiting for the test.
    QTRY_COMPARE_WITH_TIMEOUT(records().size(), 1, 10000);
    const QString record = records().constFirst();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(recordFile(record, QStringLiteral("started"))), 10000);
    QVERIFY(!QFile::exists(recordFile(record, QStringLiteral("finished"))));

    QCOMPARE(readAll(recordFile(record, QStringLiteral("argc"))), QStringLiteral("1\n"));
    QCOMPARE(readAll(recordFile(record, QStringLiteral("args"))),
             QString::fromLatin1(modKZHP::WebAddress) + QLatin1Char('\n'));
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("pwned"))));
}

void TestKzhp::opensFromItsOwnDirectory()
{
    QTemporaryDir elsewhere;
    QCOMPARE(runKzhp({}, elsewhere.path(), searchPath()), 0);
    QTRY_COMPARE_WITH_TIMEOUT(records().size(), 1, 10000);
    const QString record = records().constFirst();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(recordFile(record, QStringLiteral("started"))), 10000);
    QCOMPARE(readAll(recordFile(record, QStringLiteral("cwd"))).trimmed(),
             QFileInfo(QStringLiteral(KZHP_PATH)).canonicalPath());
}

void TestKzhp::eachStartOpensThePageAgain()
{
    QCOMPARE(runKzhp({}, m_dir->path(), searchPath()), 0);
    QCOMPARE(runKzhp({}, m_dir->path(), searchPath()), 0);
    QTRY_COMPARE_WITH_TIMEOUT(records().size(), 2, 10000);
    for (const QString &record : records()) {
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(recordFile(record, QStringLiteral("started"))),
                                 10000);
        QVERIFY(!QFile::exists(recordFile(record, QStringLiteral("finished"))));
    }
}

void TestKzhp::endsNormallyWithoutOpener()
{
    QTemporaryDir empty;
    QCOMPARE(runKzhp({QStringLiteral("x")}, m_dir->path(), empty.path()), 0);
    QVERIFY(records().isEmpty());
}

void TestKzhp::executableDirectoryIsTheProgramsDirectory()
{
    QCOMPARE(QString::fromStdString(modKZHP::executableDirectory()),
             QFileInfo(QCoreApplication::applicationFilePath()).canonicalPath());
}

void TestKzhp::unstartableProgramIsNoCrash()
{
    QVERIFY(!modKZHP::startDetached("kzhp-no-such-program-here", {modKZHP::WebAddress},
                                    std::string()));
    QVERIFY(!modKZHP::startDetached(m_binDir.toStdString() + "/xdg-open",
                                    {modKZHP::WebAddress}, "/no/such/directory"));
}

KZ_TEST_MAIN(TestKzhp)
#include "test_kzhp.moc"
