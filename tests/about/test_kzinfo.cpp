#include "about/kzinfo.h"
#include "tests/support/testmain.h"

#include <QElapsedTimer>
#include <QLabel>

// The about window: its texts, and what closes it.
class TestKzInfo : public QObject
{
    Q_OBJECT

private slots:
    void texts();
    void keys_data();
    void keys();
    void clicks();
    void closeTimer();
    void closedEarlyTheTimerStops();
};

void TestKzInfo::texts()
{
    kzInfo info;
    QCOMPARE(info.windowTitle(), QStringLiteral("Info"));
    QCOMPARE(info.size(), QSize(545, 304));
    QCOMPARE(info.lblProductName()->text(), QStringLiteral("Velantor"));
    QCOMPARE(info.lblVersion()->text(), QStringLiteral("Version 5.2 "));
    QCOMPARE(info.lblBuild()->text(), QStringLiteral("(build 16) "));
    QCOMPARE(info.lblCopyright()->text(),
             kzInfo::CopyrightNotice + QStringLiteral(" by Brenholt EDV-Beratung"));
    QCOMPARE(info.lblLegalInfo()->text(), kzInfo::LegalNotice);
    QCOMPARE(info.piclogo()->pixmap().size(), QSize(491, 85));
    QCOMPARE(info.piclogo()->toolTip(),
             QStringLiteral("Klicken Sie das Fenster an, um es wieder zu schliessen"));
    QCOMPARE(info.timerInterval(), 0);
    QVERIFY(!info.timerActive());
    QCOMPARE(info.lblVersion()->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    QVERIFY(info.lblVersion()->font().bold() && info.lblVersion()->font().italic());
}

void TestKzInfo::keys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("closes");
    QTest::newRow("Enter") << int(Qt::Key_Return) << 0 << true;
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << true;
    QTest::newRow("Space") << int(Qt::Key_Space) << 0 << true;
    QTest::newRow("Shift+Space") << int(Qt::Key_Space) << int(Qt::ShiftModifier) << true;
    QTest::newRow("Esc") << int(Qt::Key_Escape) << 0 << false;
    QTest::newRow("letter") << int(Qt::Key_A) << 0 << false;
}

void TestKzInfo::keys()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, closes);
    kzInfo info;
    info.show();
    QTest::keyClick(&info, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(info.isVisible(), !closes);
}

void TestKzInfo::clicks()
{
    kzInfo onText;
    onText.show();
    QTest::mouseClick(onText.lblVersion(), Qt::LeftButton);
    QTest::mouseClick(onText.lblLegalInfo(), Qt::LeftButton);
    QVERIFY(onText.isVisible());

    kzInfo onLogo;
    onLogo.show();
    QTest::mouseClick(onLogo.piclogo(), Qt::LeftButton, {}, QPoint(20, 20));
    QVERIFY(!onLogo.isVisible());

    kzInfo onFreeArea;
    onFreeArea.show();
    QTest::mouseClick(&onFreeArea, Qt::LeftButton, {}, QPoint(10, 290));
    QVERIFY(!onFreeArea.isVisible());

    // A click is a press and a release there: a press alone, or one dragged
    // off the window before it is let go, leaves it open.
    kzInfo pressed;
    pressed.show();
    QTest::mousePress(&pressed, Qt::LeftButton, {}, QPoint(10, 290));
    QVERIFY(pressed.isVisible());
    QTest::mouseRelease(&pressed, Qt::LeftButton, {}, QPoint(10, 290));
    QVERIFY(!pressed.isVisible());

    kzInfo draggedOff;
    draggedOff.show();
    QTest::mousePress(draggedOff.piclogo(), Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseRelease(draggedOff.piclogo(), Qt::LeftButton, {}, QPoint(-40, -40));
    QVERIFY(draggedOff.isVisible());
    QTest::mousePress(&draggedOff, Qt::LeftButton, {}, QPoint(10, 290));
    QTest::mouseRelease(&draggedOff, Qt::LeftButton, {}, QPoint(900, 900));
    QVERIFY(draggedOff.isVisible());
}

void TestKzInfo::closeTimer()
{
    // The splash's 2 seconds, shortened: the timer alone closes a modal run.
    kzInfo info;
    info.setTimerInterval(30);
    QElapsedTimer elapsed;
    elapsed.start();
    QCOMPARE(info.exec(), int(QDialog::Accepted));
    QVERIFY(elapsed.elapsed() >= 25);
    QVERIFY(elapsed.elapsed() < 5000);
}

void TestKzInfo::closedEarlyTheTimerStops()
{
    kzInfo info;
    info.setTimerInterval(2000);
    info.show();
    QVERIFY(info.timerActive());
    QTest::keyClick(&info, Qt::Key_Space);
    QVERIFY(!info.isVisible());
    QVERIFY(!info.timerActive());
}

KZ_TEST_MAIN(TestKzInfo)
#include "test_kzinfo.moc"
