#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QtGlobal>

#include "link/commands.h"
#include "roster/rosterentry.h"

#include <optional>
#include <variant>

// The WiThrottle text protocol as plain values: what a client line means and
// how the server's lines are written. No sockets and no state here; one client's
// conversation is ThrottleSession's business.
//
// Lines are handled without their terminator (LF, CR or CR LF).
namespace WiThrottle {

// Loco numbers a phone may drive: the DCC range. 0 is the broadcast address.
constexpr int MinLoco = Limits::MinLocoNumber;
constexpr int MaxLoco = Limits::MaxLocoNumber;
// Addresses up to this one are short (S) in the roster, above it long (L).
constexpr int MaxShortAddress = 127;
// Speeds travel on this scale (126 = full) whatever the loco's steps.
constexpr int MaxAppSpeed = 126;
// The controller's speed scale.
constexpr int MaxControllerSpeed = 255;
// Function numbers a client may name; the state we send covers F0-F28.
constexpr int MaxFunction = 28;
// A client line longer than this ends the connection.
constexpr qsizetype MaxLineBytes = 1024;

// round(n × 255 / 126) for n 0-126 (clamped outside), and back.
int controllerSpeed(int appSpeed);
int appSpeed(int controllerSpeed);

// "S3" or "L3" → 3; anything else, or a number outside MinLoco-MaxLoco → nullopt.
// Both forms name the same loco: the controller knows numbers, not the form.
std::optional<int> parseAddress(QByteArrayView text);
// The form the roster uses: S for 1-127, L above.
QByteArray addressKey(int loco);

enum class PowerState { Off, On, Unknown };

// --- What a client sends -----------------------------------------------------

struct SetName { QString name; };
struct HardwareId { QString id; };
struct Heartbeat
{
    enum Kind { Beat, MonitorOn, MonitorOff };
    Kind kind = Beat;
};
struct SetPower { bool on = false; };
struct Quit {};
// PXA: every loco stops at once, as the window's "STOP (alle Loks)" does.
struct StopAll {};

// M<t>+<key><;><address>. The key is the address form the client uses for this
// loco in later lines; the loco is named either by number (S/L form) or by a
// roster entry's name (E form, loco 0 then).
struct Acquire
{
    char throttle = 0;
    QByteArray key;
    int loco = 0;
    QString rosterName;
};

// M<t>-<key><;>r. A key of "*" is every loco of the throttle (loco nullopt).
struct Release
{
    char throttle = 0;
    QByteArray key;
    std::optional<int> loco;
};

// The actions after M<t>A<key><;>.
struct Speed { int value = 0; };          // 0-126
struct Direction { bool forward = true; };
struct FunctionKey { bool pressed = false; int function = 0; };   // F1n / F0n
struct ForceFunction { bool on = false; int function = 0; };      // f1n / f0n
struct EmergencyStop {};                                          // X, or V below 0
struct Idle {};                                                   // I
struct QuerySpeed {};                                             // qV
struct QueryDirection {};                                         // qR
struct SpeedStepMode { int mode = 0; };                           // s<mode>
struct MomentaryFunction { bool momentary = false; int function = 0; }; // m1n / m0n
using Action = std::variant<Speed, Direction, FunctionKey, ForceFunction, EmergencyStop, Idle,
                            QuerySpeed, QueryDirection, SpeedStepMode, MomentaryFunction>;

// M<t>A<key><;><action>. A key of "*" is every loco of the throttle.
struct LocoAction
{
    char throttle = 0;
    QByteArray key;
    std::optional<int> loco;
    Action action;
};

// The older single-throttle lines: the throttle's letter (T or S) and then an
// address or an action, one loco per throttle.
// TL<n> / TS<n> / TE<name>: select a loco; the one the throttle had is let go.
struct Select
{
    char throttle = 0;
    QByteArray key;       // the address form, "L1234" or "S3"; empty for a roster name
    int loco = 0;
    QString rosterName;
};
// Tr / Td: let the loco go.
struct Deselect { char throttle = 0; };
// T<action>: an action for the throttle's loco.
struct SelectedAction
{
    char throttle = 0;
    Action action;
};

using ClientCommand = std::variant<SetName, HardwareId, Heartbeat, SetPower, Quit, Acquire,
                                   Release, LocoAction, Select, Deselect, SelectedAction,
                                   StopAll>;

// One client line without its terminator. Unknown and malformed lines give
// nullopt: the server ignores them and keeps the connection.
std::optional<ClientCommand> parseLine(QByteArrayView line);

// --- The roster the phones see ----------------------------------------------

// The roster's locos by their names, then each loco of the controller's list
// that has no roster entry, as "Lok <n>".
struct PhoneRoster
{
    QList<RosterEntry> entries;
    QList<int> locos;
};

struct RosterItem
{
    QString name;                       // as the RL line gives it
    int loco = 0;
    bool longAddress = false;
    const RosterEntry *entry = nullptr; // into the PhoneRoster; none for "Lok <n>"
};
// The RL line's entries in order. Controller locos outside the loco range,
// twice in the list or with an entry of their own are left out.
QList<RosterItem> rosterItems(const PhoneRoster &roster);

// A name or label as the lines carry it: line breaks and control characters
// become blanks, and the protocol's delimiters (]\[ }|{ <;>) a blank each, so
// that no text can split a line into fields it does not have.
QString listText(const QString &text);

// --- What the server sends ---------------------------------------------------

QByteArray versionLine();                              // VN2.0
QByteArray rosterLine(const QList<int> &locos);        // RL<n>]\[Lok 3}|{3}|{S…
QByteArray rosterLine(const PhoneRoster &roster);      // RL2]\[BR 218}|{218}|{L]\[Lok 3…
// M0LL218<;>]\[Licht]\[Sound…: one slot a function from F0 to F12, empty
// for a function without a label.
QByteArray labelLine(char throttle, QByteArrayView key, const RosterEntry &entry);
// PW12080: the port of the web server the apps fetch the roster from.
QByteArray webPortLine(quint16 port);
QByteArray powerLine(PowerState state);                // PPA0 / PPA1 / PPA2
QByteArray heartbeatLine(int seconds);                 // *10
QByteArray acquiredLine(char throttle, QByteArrayView key);  // M0+S3<;>
QByteArray releasedLine(char throttle, QByteArrayView key);  // M0-S3<;>
// M0AS3<;> followed by the action text.
QByteArray actionLine(char throttle, QByteArrayView key, QByteArrayView action);

QByteArray speedAction(int appSpeed);                  // V50
QByteArray directionAction(bool forward);              // R1 / R0
QByteArray functionAction(int function, bool on);      // F13 / F03
QByteArray stepModeAction(int mode);                   // s1
// JMRI's code for a loco's speed steps: 2 for 28, 8 for 14, 1 for 126 and for
// steps not known (0).
int speedStepMode(int speedSteps);
// HM<text>: a message the app shows; line ends in text become blanks.
QByteArray messageLine(const QString &text);

// The name a roster entry shows: "Lok " + number.
QString rosterName(int loco);

} // namespace WiThrottle
