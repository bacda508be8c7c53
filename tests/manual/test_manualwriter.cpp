#include "manual/manualwriter.h"
#include "tests/support/testmain.h"

#include <QAbstractTextDocumentLayout>
#include <QImage>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

namespace {

int pdfPages(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray pdf = file.readAll();
    if (!pdf.startsWith("%PDF-"))
        return -1;
    return int(QString::fromLatin1(pdf).count(QRegularExpression(QStringLiteral("/Type /Page\\b(?!s)"))));
}

// The block whose text is exactly this, or an invalid block.
QTextBlock blockWithText(QTextDocument &document, const QString &text)
{
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block.text() == text)
            return block;
    }
    return QTextBlock();
}

int pageOf(QTextDocument &document, const QTextBlock &block)
{
    const QRectF rect = document.documentLayout()->blockBoundingRect(block);
    return int((rect.top() + 1) / document.pageSize().height()) + 1;
}

QList<QTextImageFormat> images(QTextDocument &document)
{
    QList<QTextImageFormat> found;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isImageFormat())
                found.append(it.fragment().charFormat().toImageFormat());
        }
    }
    return found;
}

} // namespace

class TestManualWriter : public QObject
{
    Q_OBJECT

private slots:
    void contentsListsNumberedHeadingsWithTheirPages();
    void headingStaysWithItsText();
    void contentsLeaveNoShortTail();
    void picturesAreScaledCaptionedOrLeftOut();
    void angleBracketsAreText();
    void codeLinesFitThePage();
    void unwritableFileIsReported();

private:
    QTemporaryDir m_dir;
};

void TestManualWriter::contentsListsNumberedHeadingsWithTheirPages()
{
    ManualWriter writer({});
    writer.setMarkdown(QStringLiteral("# Titel\n\nUntertitel\n\n# Inhalt\n\n[Inhalt]\n\n"
                                      "# Erstes\n\nText.\n\n## Eins-eins\n\nText.\n\n"
                                      "# Zweites\n\n## Zwei-eins\n\nText.\n"),
                       m_dir.path());
    QCOMPARE(writer.contents(), QStringList({QStringLiteral("1 Erstes"),
                                             QStringLiteral("1.1 Eins-eins"),
                                             QStringLiteral("2 Zweites"),
                                             QStringLiteral("2.1 Zwei-eins")}));

    const QString pdf = m_dir.filePath(QStringLiteral("contents.pdf"));
    QVERIFY(writer.writePdf(pdf));
    // Title page, contents, one page per chapter.
    QCOMPARE(writer.pageCount(), 4);
    QCOMPARE(pdfPages(pdf), 4);
    QCOMPARE(writer.contentsPages(), QList<int>({3, 3, 4, 4}));

    // The contents table shows each title beside its page.
    QTextDocument &document = writer.document();
    const QList<int> pages = writer.contentsPages();
    for (int i = 0; i < writer.contents().size(); ++i) {
        const QTextBlock title = blockWithText(document, writer.contents().at(i));
        QVERIFY2(title.isValid(), qPrintable(writer.contents().at(i)));
        QCOMPARE(title.next().text(), QString::number(pages.at(i)));
    }
    // The headings themselves carry their numbers.
    QVERIFY(blockWithText(document, QStringLiteral("2.1  Zwei-eins")).isValid());
    // Headings before the contents are not numbered.
    QVERIFY(blockWithText(document, QStringLiteral("Inhalt")).isValid());
}

void TestManualWriter::headingStaysWithItsText()
{
    // Whatever fills the page before it, a heading lands on the page of the
    // text it introduces. Some filler length pushes it to a new page.
    bool movedOnce = false;
    for (int lines = 30; lines <= 75; ++lines) {
        QString markdown = QStringLiteral("# Titel\n\n# Kapitel\n\n");
        for (int i = 0; i < lines; ++i)
            markdown += QStringLiteral("Zeile %1.\n\n").arg(i);
        markdown += QStringLiteral("## Abschnitt\n\nDer Text zum Abschnitt.\n");
        ManualWriter writer({});
        writer.setMarkdown(markdown, m_dir.path());
        QVERIFY(writer.writePdf(m_dir.filePath(QStringLiteral("keep.pdf"))));

        QTextDocument &document = writer.document();
        const QTextBlock heading = blockWithText(document, QStringLiteral("Abschnitt"));
        QVERIFY(heading.isValid());
        QCOMPARE(pageOf(document, heading), pageOf(document, heading.next()));
        if (pageOf(document, heading) > pageOf(document, heading.previous()))
            movedOnce = true;
    }
    QVERIFY(movedOnce);
}

void TestManualWriter::contentsLeaveNoShortTail()
{
    // However many sections there are, the contents either fit on one page
    // or leave at least six lines on their last page, and the first chapter
    // follows on the next page. Around 42 sections a few lines would spill.
    bool spilled = false;
    for (int sections = 40; sections <= 46; ++sections) {
        QString markdown = QStringLiteral("# Titel\n\n# Inhalt\n\n[Inhalt]\n\n");
        for (int i = 0; i < sections; ++i) {
            if (i % 6 == 0)
                markdown += QStringLiteral("# Kapitel %1\n\n").arg(i / 6 + 1);
            markdown += QStringLiteral("## Abschnitt %1\n\nText.\n\n").arg(i);
        }
        ManualWriter writer({});
        writer.setMarkdown(markdown, m_dir.path());
        QVERIFY(writer.writePdf(m_dir.filePath(QStringLiteral("tail.pdf"))));

        QTextDocument &document = writer.document();
        QList<int> rowPages;
        for (const QString &title : writer.contents()) {
            const QTextBlock row = blockWithText(document, title);
            QVERIFY2(row.isValid(), qPrintable(title));
            rowPages.append(pageOf(document, row));
        }
        const int lastPage = rowPages.last();
        const qsizetype tail = rowPages.count(lastPage);
        if (tail < rowPages.size())
            spilled = true;
        QVERIFY2(tail == rowPages.size() || tail >= 6,
                 qPrintable(QStringLiteral("%1 sections: %2 lines alone").arg(sections).arg(tail)));
        // The chapter after the contents starts on the page after them.
        const QTextBlock first = blockWithText(document, QStringLiteral("1  Kapitel 1"));
        QCOMPARE(pageOf(document, first), lastPage + 1);
        QCOMPARE(writer.contentsPages().first(), lastPage + 1);
    }
    QVERIFY(spilled);
}

void TestManualWriter::picturesAreScaledCaptionedOrLeftOut()
{
    QTemporaryDir pictures;
    QImage wide(1200, 300, QImage::Format_RGB32);
    wide.fill(Qt::blue);
    QVERIFY(wide.save(pictures.filePath(QStringLiteral("breit.png"))));
    QImage small(100, 50, QImage::Format_RGB32);
    small.fill(Qt::green);
    QVERIFY(small.save(pictures.filePath(QStringLiteral("klein.png"))));

    ManualWriter::Options options;
    options.pictureDirectories = {pictures.path()};
    ManualWriter writer(options);
    writer.setMarkdown(QStringLiteral("# Titel\n\n![Logo](klein.png)\n\n# Inhalt\n\n[Inhalt]\n\n"
                                      "# Kapitel\n\n![Breites Bild](breit.png)\n\nText davor.\n\n"
                                      "![Gibt es nicht](fehlt.png)\n\nText danach.\n\n"
                                      "![Kleines Bild](klein.png)\n"),
                       m_dir.path());

    QCOMPARE(writer.missingPictures(), QStringList({QStringLiteral("fehlt.png")}));
    QCOMPARE(writer.embeddedPictures().size(), 3);

    QTextDocument &document = writer.document();
    const QString text = document.toPlainText();
    QVERIFY(text.contains(QStringLiteral("Abbildung 1: Breites Bild")));
    QVERIFY(text.contains(QStringLiteral("Abbildung 2: Kleines Bild")));
    QVERIFY(!text.contains(QStringLiteral("Gibt es nicht")));
    QVERIFY(!text.contains(QStringLiteral("Logo")));
    // The missing picture leaves no empty paragraph between the two texts.
    QCOMPARE(blockWithText(document, QStringLiteral("Text davor.")).next().text(),
             QStringLiteral("Text danach."));

    const QList<QTextImageFormat> placed = images(document);
    QCOMPARE(placed.size(), 3);
    // Too wide: scaled to the text width, keeping its proportions.
    QCOMPARE(placed.at(1).width(), options.maxPictureWidth);
    QCOMPARE(placed.at(1).height(), options.maxPictureWidth / 4);
    // Small enough: its own size.
    QCOMPARE(placed.at(2).width(), 100.0);
    QCOMPARE(placed.at(2).height(), 50.0);
    for (const QTextImageFormat &image : placed)
        QVERIFY(!document.resource(QTextDocument::ImageResource, QUrl(image.name())).isNull());
}

void TestManualWriter::angleBracketsAreText()
{
    // The program's texts have angle brackets; they are no HTML tags that
    // would swallow the rest of the manual.
    ManualWriter writer({});
    writer.setMarkdown(QStringLiteral("# Titel\n\nWählen Sie „<Simulationsmodus>“.\n\n"
                                      "## Weiter\n\nText.\n"),
                       m_dir.path());
    const QString text = writer.document().toPlainText();
    QVERIFY(text.contains(QStringLiteral("„<Simulationsmodus>“")));
    QVERIFY(blockWithText(writer.document(), QStringLiteral("Weiter")).isValid());
}

void TestManualWriter::codeLinesFitThePage()
{
    // A line of code is never wrapped, and never wider than the page, where
    // its end would be cut off: its type gets smaller instead.
    const QString longLine = QStringLiteral("SUBSYSTEM==\"tty\", ") + QString(100, u'x');
    ManualWriter writer({});
    writer.setMarkdown(QStringLiteral("# Titel\n\n# Kapitel\n\nDie Zeile:\n\n```\nkurz\n")
                           + longLine + QStringLiteral("\n```\n"),
                       m_dir.path());
    QVERIFY(writer.writePdf(m_dir.filePath(QStringLiteral("code.pdf"))));
    QTextDocument &document = writer.document();
    const QTextBlock line = blockWithText(document, longLine);
    QVERIFY(line.isValid());
    QCOMPARE(line.layout()->lineCount(), 1);
    QVERIFY2(line.layout()->lineAt(0).naturalTextWidth() <= document.pageSize().width() - 12,
             qPrintable(QString::number(line.layout()->lineAt(0).naturalTextWidth())));
    // The block's lines keep one size.
    QCOMPARE(QTextCursor(blockWithText(document, QStringLiteral("kurz"))).charFormat().fontPointSize(),
             QTextCursor(line).charFormat().fontPointSize());
}

void TestManualWriter::unwritableFileIsReported()
{
    ManualWriter writer({});
    writer.setMarkdown(QStringLiteral("# Titel\n"), m_dir.path());
    QVERIFY(!writer.writePdf(m_dir.filePath(QStringLiteral("kein-ordner/handbuch.pdf"))));
}

KZ_TEST_MAIN(TestManualWriter)
#include "test_manualwriter.moc"
