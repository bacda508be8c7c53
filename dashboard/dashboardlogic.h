#pragma once

#include "link/frame.h"

#include <QColor>
#include <QString>

#include <optional>

// The decisions of the main window, kept apart from its widgets so that they
// can be checked without a window.

namespace StatusColour {
inline const QColor Running(192, 192, 0);
inline const QColor Success(0, 192, 0);
inline const QColor Failure(255, 0, 0);
} // namespace StatusColour

namespace StatusText {
inline const QString Initial = QStringLiteral("---");
inline const QString Running = QStringLiteral("--- Controller wird geprüft ---");
inline const QString Simulation = QStringLiteral("Controller im Simulationsmodus");
inline const QString CommunicationError = QStringLiteral("Kommunikationsfehler");
inline const QString RecheckAfterOptions =
    QStringLiteral("Nach Änderung der Einstellungen bitte Controller erneut prüfen");
} // namespace StatusText

// "Controller 7 nicht gefunden", naming the controller byte of the reply.
QString notFoundText(quint8 controller);
// "OK (Firmware 5.2.3) ", with the blank at the end.
QString firmwareOkText(int major, int minor, int build);
// "Versionsprobleme zwischen Velantor und Firmware"
QString versionProblemText();

// "Velantor V5.2 (build 16)" for the status bar.
QString programInfoText();
// The port panel: "Simulation" for "NUL" in any case, else the name itself.
QString portPanelText(const QString &portName);

// The controller number check accepts: the leading number of the text, from
// 0 to 250 before rounding.
bool checkAcceptsControllerNumber(const QString &text);

// The controller byte for the text of the controller number box: its leading
// numeric part (0 when none), rounded halves to even. Nothing when the number
// does not fit one byte.
std::optional<quint8> controllerNumberFromText(const QString &text);
QString controllerNumberRefusal(const QString &text);

// A loco number (Limits::isLocoNumber), written in digits.
std::optional<int> locoNumberFromText(const QString &text);
QString locoNumberRefusal(const QString &text);

// The firmware check against the program's own version.
enum class FirmwareVerdict { Fits, TooOld, Mismatch };
constexpr int MinimumFirmware = 50108; // 5.1.8 as major * 10000 + minor * 100 + build
FirmwareVerdict firmwareVerdict(int major, int minor, int build);
QString firmwareTooOldMessage(int major, int minor, int build);
QString firmwareMismatchMessage(int major, int minor, int build);
// Caption of both version boxes.
QString versionCheckCaption();

// "Uno", "Mega" or "unbekannt" from the status flags.
QString boardLayoutText(quint8 statusFlags);

// "14 FS", "28 FS", "126 FS", "Fehler" or "n.v." from P1 of the speed-step
// reply.
QString speedStepText(quint8 replyP1);

// The slider's value is the speed: 0 (stopped) at the bottom, 255 (full
// speed) at the top, so that its fill grows with the speed and a screen
// reader announces the speed.
constexpr int SliderStop = 0;
constexpr quint8 speedFromSlider(int sliderValue) { return quint8(sliderValue); }
constexpr int sliderFromSpeed(quint8 speed) { return speed; }
// Whole percent of full speed, rounded down.
int speedPercent(int sliderValue);
QString percentText(int sliderValue);

// The background of "Licht" when it is on, and of an F key that is on: a
// light blue of its own, far from the grey of a key that is off, with black
// text at a contrast of about 10:1.
inline const QColor LightOnColour(255, 255, 0);
inline const QColor FunctionOnColour(110, 190, 255);

// "F7" gives 7; 0 for a key without a number.
int functionNumberFromKey(const QString &key);
// The key of function 7 is "F7".
QString functionKey(int number);

// The decoder id of a box that passed its rule: the typed number (comma or
// point) rounded, halves to even.
int decoderIdFromText(const QString &text);

// Settings keys of the panels: "Slider00" to "Slider03",
// "AccessoryAdress00" to "AccessoryAdress03".
QString locoPanelKey(int panel);
QString accessoryPanelKey(int panel);
inline const QString PortSettingKey = QStringLiteral("SignalOutputTo");

// Question asked at closing while track power is on.
QString trackPowerQuestion();

// Text when the manual is missing, and its file name.
inline const QString ManualFileName = QStringLiteral("Handbuch_Velantor.pdf");
inline const QString ManualMissingText = QStringLiteral("Handbuch nicht vorhanden.");
// Warnings when the manual is there but cannot be shown: the desktop has no
// application for PDF files, or the opener failed. Both name the manual's
// path so that the user can open it another way.
QString manualNoPdfApplicationText(const QString &path);
QString manualNotOpenedText(const QString &path);

// Escape presses the stop of all locos, as an emergency button on a desk
// would; the button's tool-tip says so.
inline const QString GlobalStopToolTip = QStringLiteral("Alle Loks anhalten (Taste Esc)");
