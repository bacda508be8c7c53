// The pin text conversion of the controller settings dialog with arbitrary
// texts, pins and board layouts.
//
// Input: a byte choosing the layout, two bytes of a pin number, then the
// text (UTF-8).
//
// What must hold:
// - a text that is no analog input ("A" first) reads as pin 0, and so does
//   every text for an undefined layout;
// - an analog input reads as the layout's first analog pin plus the number
//   in the (at most two) characters after the "A";
// - every pin the dialog shows as an analog input reads back as itself;
// - a digital pin field gives a pin from 0 to 255.

#include "fuzzinput.h"

#include "controller/controllersettings.h"

#include <QCoreApplication>

namespace {

constexpr qint32 Layouts[] = {ControllerLayout::Undefined, ControllerLayout::Mega,
                              ControllerLayout::Uno, -1, 3};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    const qint32 layout = Layouts[in.byte() % std::size(Layouts)];
    const quint8 high = in.byte();
    const quint8 low = in.byte();
    const auto pin = qint16(quint16(high) << 8 | low);
    const QString text = QString::fromUtf8(in.rest());

    const qint16 read = PINFormatToNumber(text, layout);
    const QString trimmed = text.trimmed();
    const bool analog = !trimmed.isEmpty() && trimmed.at(0).toUpper() == QLatin1Char('A');
    if (!analog || (layout != ControllerLayout::Mega && layout != ControllerLayout::Uno))
        FUZZ_CHECK(read == 0);
    else if (layout == ControllerLayout::Mega)
        FUZZ_CHECK(read >= 54 - 9 && read <= 54 + 99);
    else
        FUZZ_CHECK(read >= 14 - 9 && read <= 14 + 99);

    const QString shown = NumberToPINFormat(pin, layout);
    if (pin == 0)
        FUZZ_CHECK(shown == QStringLiteral("n/a"));
    else if (shown.startsWith(QLatin1Char('A')))
        FUZZ_CHECK(PINFormatToNumber(shown, layout) == pin);
    else
        FUZZ_CHECK(shown == QString::number(pin));

    const qint16 field = pinFieldNumber(text);
    FUZZ_CHECK(field >= 0 && field <= 255);
    return 0;
}
