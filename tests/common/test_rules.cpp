#include "common/rules.h"
#include "common/validation.h"

#include "../support/recordingboxes.h"
#include "../support/testmain.h"

#include <QLineEdit>
#include <QWidget>

#include <cmath>

// Rule texts, the list procedures and the walk over a window's fields.
class TestRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void checksRules_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message"); // empty: passes

        const QString loco = QStringLiteral("Die Lok-Nummer,NUM,MIN=1,MAX=10239");
        const QString locoRange =
            QStringLiteral("Die Lok-Nummer ist nicht im gültigen Bereich (1 bis 10239) .");
        QTest::newRow("loco empty counts as 0") << loco << "" << locoRange;
        QTest::newRow("loco letters") << loco << "abc" << "Die Lok-Nummer muß numerisch sein.";
        QTest::newRow("loco too large") << loco << "10240" << locoRange;
        QTest::newRow("loco with blanks") << loco << " 12 " << "";
        QTest::newRow("loco lowest") << loco << "1" << "";
        QTest::newRow("loco decimal comma reads as number") << loco << "1,5" << "";
        // The range is checked on the value that is sent: 10239,6 would go
        // out as 10240.
        QTest::newRow("loco comma fraction above the range") << loco << "10239,6" << locoRange;
        QTest::newRow("loco comma fraction below the range") << loco << "0,5" << locoRange;

        const QString cv = QStringLiteral("Die CV-Adresse,Mandatory,MIN=1,MAX=1023,NUM");
        QTest::newRow("CV empty") << cv << "" << "Die CV-Adresse muß eingegeben werden.";
        QTest::newRow("CV blanks") << cv << "   " << "Die CV-Adresse muß eingegeben werden.";
        QTest::newRow("CV 1023") << cv << "1023" << "";

        const QString value = QStringLiteral("Der CV-Wert,Mandatory,MIN=0,MAX=255,NUM");
        QTest::newRow("value 0") << value << "0" << "";
        QTest::newRow("value 255") << value << "255" << "";
        QTest::newRow("value 256")
            << value << "256" << "Der CV-Wert ist nicht im gültigen Bereich (0 bis 255) .";
        const QString notNumeric = QStringLiteral("Der CV-Wert muß numerisch sein.");
        QTest::newRow("value nan") << value << "nan" << notNumeric;
        QTest::newRow("value inf") << value << "inf" << notNumeric;
        QTest::newRow("value -inf") << value << "-inf" << notNumeric;
        QTest::newRow("value exponent") << value << "1e2" << notNumeric;
        QTest::newRow("value two separators") << value << "1.000,5" << notNumeric;
        QTest::newRow("value 255,5 above the range")
            << value << "255,5" << "Der CV-Wert ist nicht im gültigen Bereich (0 bis 255) .";

        QTest::newRow("INTEGER is not evaluated")
            << QStringLiteral("Der Pin,INTEGER,NUM,MIN=2,MAX=53") << "2.5" << "";

        const QString monitor = QStringLiteral(
            "Der Port für die Überwachung im Fahrmodus,MANDATORY,VALID=A0;A1;A2;A3;A4;A5;A6;A7;"
            "A8;A9;A10;A11;A12;A13;A14;A15");
        const QString monitorRange =
            QStringLiteral("Der Port für die Überwachung im Fahrmodus ist nicht im gültigen Bereich ( bis ")
            + QString(255, QChar(255)) + QStringLiteral(") .");
        QTest::newRow("valid A7") << monitor << "A7" << "";
        QTest::newRow("valid a7") << monitor << "a7" << "";
        QTest::newRow("valid list, empty is mandatory")
            << monitor << "" << "Der Port für die Überwachung im Fahrmodus muß eingegeben werden.";
        QTest::newRow("not in list A16") << monitor << "A16" << monitorRange;
        QTest::newRow("not in list 7") << monitor << "7" << monitorRange;

        QTest::newRow("in range though not in list")
            << QStringLiteral("Der Pin,NUM,MIN=2,MAX=53,VALID=A0;A1") << "20" << "";
        QTest::newRow("neither in range nor in list")
            << QStringLiteral("Der Pin,NUM,MIN=2,MAX=53,VALID=A0;A1") << "60"
            << "Der Pin ist nicht im gültigen Bereich (2 bis 53) .";
        QTest::newRow("later bound wins")
            << QStringLiteral("Die Zahl,NUM,MAX=5,MAX=9") << "7" << "";
        QTest::newRow("keywords in any case")
            << QStringLiteral("Die Zahl,num,mandatory,min=3") << "2"
            << "Die Zahl ist nicht im gültigen Bereich (3 bis 1E+99) .";
        QTest::newRow("fraction bounds in the locale's form")
            << QStringLiteral("Der Faktor,NUM,MIN=0.5,MAX=2.5") << "3"
            << "Der Faktor ist nicht im gültigen Bereich (0,5 bis 2,5) .";
        QTest::newRow("no rule items beyond the name") << QStringLiteral("Das Feld") << "xyz" << "";
        QTest::newRow("date field") << QStringLiteral("Das Datum,Date") << "31.02.2020"
                                    << "Das Datum muß ein gültiges Datum sein.";
        QTest::newRow("date field valid") << QStringLiteral("Das Datum,Date") << "29.02.2020" << "";
        QTest::newRow("text range")
            << QStringLiteral("Der Name,MIN=b,MAX=d") << "Emil"
            << "Der Name ist nicht im gültigen Bereich (b bis d) .";
        QTest::newRow("text range ignores case")
            << QStringLiteral("Der Name,MIN=b,MAX=d") << "C" << "";
        const QString keys = QStringLiteral("Die Tastfunktion,LIST,NUM,MIN=1,MAX=12");
        QTest::newRow("list") << keys << "2, 3;12 1" << "";
        QTest::newRow("list empty") << keys << " " << "";
        QTest::newRow("list entry out of range")
            << keys << "2, 13" << "Die Tastfunktion ist nicht im gültigen Bereich (1 bis 12) .";
        QTest::newRow("list entry no number")
            << keys << "2, x" << "Die Tastfunktion muß numerisch sein.";
        QTest::newRow("list empty, mandatory") << keys + QStringLiteral(",Mandatory") << ""
                                               << "Die Tastfunktion muß eingegeben werden.";
    }
    void checksRules()
    {
        QFETCH(QString, rule);
        QFETCH(QString, text);
        QFETCH(QString, message);
        const auto result = checkRule(rule, text);
        QCOMPARE(result.value_or(QString()), message);
    }

    // A birthday is a date field; its default bounds only come into play
    // together with a Min= or Max= item.
    void birthdayIsADateField()
    {
        const QDateTime now(QDate(2026, 12, 9), QTime(10, 0));
        const QString rule = QStringLiteral("Der Geburtstag,Birthday");
        QVERIFY(!checkRule(rule, QStringLiteral("01.01.1990"), QLocale(), now));
        QCOMPARE(checkRule(rule, QStringLiteral("1990"), QLocale(), now).value_or(QString()),
                 QStringLiteral("Der Geburtstag muß ein gültiges Datum sein."));
        QVERIFY(!checkRule(rule, QString(), QLocale(), now));
    }

    void leadingNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("blanks") << " 12 " << 12.0;
        QTest::newRow("German comma stops") << "1,5" << 1.0;
        QTest::newRow("point") << "2.5" << 2.5;
        QTest::newRow("trailing letters") << "12abc" << 12.0;
        QTest::newRow("negative") << "-7" << -7.0;
        QTest::newRow("exponent") << "1E3" << 1000.0;
        QTest::newRow("letters only") << "A7" << 0.0;
    }
    void leadingNumbers()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(leadingNumber(text), value);
    }

    // The one reading of typed numbers, and the whole number that is sent.
    void typedNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isNumber");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("whole");
        QTest::newRow("plain") << "12" << true << 12.0 << 12;
        QTest::newRow("blanks around") << " 12 " << true << 12.0 << 12;
        QTest::newRow("point half to even down") << "2.5" << true << 2.5 << 2;
        QTest::newRow("comma half to even down") << "2,5" << true << 2.5 << 2;
        QTest::newRow("comma half to even up") << "3,5" << true << 3.5 << 4;
        QTest::newRow("point half to even up") << "3.5" << true << 3.5 << 4;
        QTest::newRow("comma rounds up") << "3,7" << true << 3.7 << 4;
        QTest::newRow("comma rounds down") << "1,4" << true << 1.4 << 1;
        QTest::newRow("negative half") << "-2,5" << true << -2.5 << -2;
        QTest::newRow("plus sign") << "+7" << true << 7.0 << 7;
        QTest::newRow("no digits before") << ",5" << true << 0.5 << 0;
        QTest::newRow("no digits after") << "5." << true << 5.0 << 5;
        QTest::newRow("German thousands are a decimal point") << "1.000" << true << 1.0 << 1;
        QTest::newRow("empty") << "" << false << 0.0 << 0;
        QTest::newRow("blanks") << "  " << false << 0.0 << 0;
        QTest::newRow("nan") << "nan" << false << 0.0 << 0;
        QTest::newRow("NaN") << "NaN" << false << 0.0 << 0;
        QTest::newRow("inf") << "inf" << false << 0.0 << 0;
        QTest::newRow("-inf") << "-inf" << false << 0.0 << 0;
        QTest::newRow("exponent") << "1e3" << false << 0.0 << 0;
        QTest::newRow("two separators") << "1.000,5" << false << 0.0 << 0;
        QTest::newRow("sign only") << "-" << false << 0.0 << 0;
        QTest::newRow("separator only") << "," << false << 0.0 << 0;
        QTest::newRow("sign in the middle") << "1-2" << false << 0.0 << 0;
        QTest::newRow("blank inside") << "1 2" << false << 0.0 << 0;
        QTest::newRow("trailing letters") << "12abc" << false << 0.0 << 0;
        QTest::newRow("Arabic-Indic digits") << QStringLiteral("\u0661\u0662") << false << 0.0 << 0;
        QTest::newRow("too many digits for a double")
            << QString(400, u'9') << false << 0.0 << 0;
        QTest::newRow("too large for a whole number") << "3000000000" << true << 3e9 << 0;
    }
    void typedNumbers()
    {
        QFETCH(QString, text);
        QFETCH(bool, isNumber);
        QFETCH(double, value);
        QFETCH(int, whole);
        const std::optional<double> number = readNumber(text);
        QCOMPARE(number.has_value(), isNumber);
        QCOMPARE(readsAsNumber(text), isNumber);
        QCOMPARE(readsAsNumber(text, QLocale::c()), isNumber);
        if (number)
            QCOMPARE(*number, value);
        const bool fitsInt = isNumber && std::abs(value) < 2e9;
        QCOMPARE(readWholeNumber(text).has_value(), fitsInt);
        QCOMPARE(readWholeNumber(text).value_or(0), whole);
    }

    void listProcedures()
    {
        const QString comma = QStringLiteral(",");
        QCOMPARE(sysListNumEntries(QString(), comma), 1);
        QCOMPARE(sysListNumEntries(QStringLiteral("a,b,"), comma), 3);
        QCOMPARE(sysListEntry(3, QStringLiteral("a,b,"), comma), QString());
        QCOMPARE(sysListEntry(2, QStringLiteral("a, b ,c"), comma), QStringLiteral(" b "));
        QCOMPARE(sysListEntry(0, QStringLiteral("a,b"), comma), QString());
        QCOMPARE(sysListEntry(4, QStringLiteral("a,b"), comma), QString());
        QCOMPARE(sysListLookUp(QStringLiteral("num"), QStringLiteral("Die Lok-Nummer,NUM,MIN=1"), comma), 2);
        QCOMPARE(sysListLookUp(QStringLiteral("max"), QStringLiteral("Die Lok-Nummer,NUM,MIN=1"), comma), 0);
    }

    // Only the first failing field in creation order is reported, and it
    // gets the focus; fields without a rule, hidden or not, are skipped.
    void dataOkReportsFirstFailingField()
    {
        RecordingMessageBoxes recorder;
        QWidget form;
        auto *free = new QLineEdit(QStringLiteral("anything"), &form);
        auto *first = new QLineEdit(QStringLiteral("0"), &form);
        setRule(first, QStringLiteral("Die Decoder-ID,NUM,MIN=1,MAX=511"));
        auto *second = new QLineEdit(QStringLiteral("600"), &form);
        setRule(second, QStringLiteral("Die Lok-Nummer,NUM,MIN=1,MAX=10239,x"));
        second->setText(QStringLiteral("abc"));
        Q_UNUSED(free);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.activateWindow();

        QVERIFY(!sysDataOK(&form));
        QCOMPARE(recorder.texts(),
                 QStringList{"Die Decoder-ID ist nicht im gültigen Bereich (1 bis 511) ."});
        QCOMPARE(recorder.last().icon, BoxIcon::Warning);
        QCOMPARE(recorder.last().caption, QStringLiteral("TALVIRO Velantor"));
        QVERIFY(!recorder.last().text.contains(QStringLiteral("Rückfragen")));
        QCOMPARE(QApplication::focusWidget(), first);

        first->setText(QStringLiteral("511"));
        second->hide();
        recorder.clear();
        QVERIFY(!sysDataOK(&form));
        QCOMPARE(recorder.texts(), QStringList{"Die Lok-Nummer muß numerisch sein."});

        second->setText(QStringLiteral("3"));
        recorder.clear();
        QVERIFY(sysDataOK(&form));
        QCOMPARE(recorder.count(), 0);
    }
};

KZ_TEST_MAIN(TestRules)
#include "test_rules.moc"
