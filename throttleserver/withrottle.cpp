#include "throttleserver/withrottle.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace WiThrottle {

namespace {

constexpr QByteArrayView PartDelimiter = "<;>";
constexpr QByteArrayView EntryDelimiter = "]\\[";
constexpr QByteArrayView FieldDelimiter = "}|{";

// Plain decimal digits only: no sign, no blanks, no more digits than any value
// we accept needs (so nothing can overflow).
std::optional<int> parseNumber(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 6)
        return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// A name or id to show: control characters (which a list entry or a log line
// would show as garbage or act on) become blanks; blanks at the ends go.
QString printable(QByteArrayView text)
{
    QString result = QString::fromUtf8(text);
    for (QChar &c : result) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    return result.trimmed();
}

// Decimal digits appended in place: a loco's state on acquiring is some
// thirty lines, and each must not cost a handful of allocations.
void appendNumber(QByteArray &text, int value)
{
    char digits[12];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
    text.append(digits, end.ptr - digits);
}

// M<t><op><key><;><tail>, built in one allocation.
QByteArray throttleLine(char throttle, char op, QByteArrayView key, QByteArrayView tail)
{
    QByteArray line;
    line.reserve(3 + key.size() + PartDelimiter.size() + tail.size());
    line.append('M').append(throttle).append(op).append(key).append(PartDelimiter).append(tail);
    return line;
}

// Integer division rounding halves up; both scales are non-negative.
int roundedRatio(int value, int numerator, int denominator)
{
    return (value * numerator * 2 + denominator) / (denominator * 2);
}

// A key is an address form or "*" (every loco of the throttle).
bool parseKey(QByteArrayView key, std::optional<int> &loco)
{
    if (key == "*") {
        loco.reset();
        return true;
    }
    loco = parseAddress(key);
    return loco.has_value();
}

std::optional<Action> parseAction(QByteArrayView text)
{
    if (text.isEmpty())
        return std::nullopt;
    const char kind = text.front();
    const QByteArrayView rest = text.sliced(1);
    switch (kind) {
    case 'V': {
        // A negative speed is the apps' emergency stop.
        if (rest.startsWith('-')) {
            if (parseNumber(rest.sliced(1)))
                return EmergencyStop{};
            return std::nullopt;
        }
        const std::optional<int> value = parseNumber(rest);
        if (!value || *value > MaxAppSpeed)
            return std::nullopt;
        return Speed{*value};
    }
    case 'R': {
        const std::optional<int> value = parseNumber(rest);
        if (!value)
            return std::nullopt;
        return Direction{*value != 0};
    }
    case 'F':
    case 'f': {
        if (rest.size() < 2 || (rest.front() != '0' && rest.front() != '1'))
            return std::nullopt;
        const std::optional<int> function = parseNumber(rest.sliced(1));
        if (!function || *function > MaxFunction)
            return std::nullopt;
        const bool one = rest.front() == '1';
        if (kind == 'F')
            return FunctionKey{one, *function};
        return ForceFunction{one, *function};
    }
    case 'X':
        return rest.isEmpty() ? std::optional<Action>(EmergencyStop{}) : std::nullopt;
    case 'I':
        return rest.isEmpty() ? std::optional<Action>(Idle{}) : std::nullopt;
    case 'q':
        if (rest == "V")
            return QuerySpeed{};
        if (rest == "R")
            return QueryDirection{};
        return std::nullopt;
    case 's': {
        const std::optional<int> mode = parseNumber(rest);
        if (!mode)
            return std::nullopt;
        return SpeedStepMode{*mode};
    }
    case 'm': {
        if (rest.size() < 2 || (rest.front() != '0' && rest.front() != '1'))
            return std::nullopt;
        const std::optional<int> function = parseNumber(rest.sliced(1));
        if (!function || *function > MaxFunction)
            return std::nullopt;
        return MomentaryFunction{rest.front() == '1', *function};
    }
    default:
        return std::nullopt;
    }
}

std::optional<ClientCommand> parseThrottleLine(QByteArrayView line)
{
    // M<t><op><key><;><rest>
    if (line.size() < 3)
        return std::nullopt;
    const char throttle = line[1];
    // The throttle is one visible character: it is repeated in our lines.
    if (throttle <= ' ' || throttle > '~')
        return std::nullopt;
    const char op = line[2];
    const QByteArrayView body = line.sliced(3);
    const qsizetype split = body.indexOf(PartDelimiter);
    if (split < 0)
        return std::nullopt;
    const QByteArrayView key = body.first(split);
    const QByteArrayView rest = body.sliced(split + PartDelimiter.size());

    switch (op) {
    case '+': {
        // The key names the loco in later lines, so it must be an address.
        if (!parseAddress(key))
            return std::nullopt;
        Acquire acquire{throttle, key.toByteArray(), 0, {}};
        if (rest.startsWith('E')) {
            acquire.rosterName = QString::fromUtf8(rest.sliced(1));
            if (acquire.rosterName.isEmpty())
                return std::nullopt;
            return acquire;
        }
        const std::optional<int> loco = parseAddress(rest);
        if (!loco)
            return std::nullopt;
        acquire.loco = *loco;
        return acquire;
    }
    case '-': {
        // "r" (release) and "d" (dispatch) both let the loco go.
        if (!rest.isEmpty() && rest != "r" && rest != "d")
            return std::nullopt;
        Release release{throttle, key.toByteArray(), {}};
        if (!parseKey(key, release.loco))
            return std::nullopt;
        return release;
    }
    case 'A': {
        LocoAction action{throttle, key.toByteArray(), {}, Idle{}};
        if (!parseKey(key, action.loco))
            return std::nullopt;
        const std::optional<Action> parsed = parseAction(rest);
        if (!parsed)
            return std::nullopt;
        action.action = *parsed;
        return action;
    }
    default:
        return std::nullopt;
    }
}

// T<…> or S<…>: the older clients' throttle letter, then an address command
// or the same actions as after <;>.
std::optional<ClientCommand> parseSelectedLine(QByteArrayView line)
{
    const char throttle = line.front();
    const QByteArrayView rest = line.sliced(1);
    if (rest == "r" || rest == "d")
        return Deselect{throttle};
    if (rest.startsWith('L') || rest.startsWith('S')) {
        const std::optional<int> loco = parseAddress(rest);
        if (!loco)
            return std::nullopt;
        return Select{throttle, rest.toByteArray(), *loco, {}};
    }
    if (rest.startsWith('E')) {
        Select select{throttle, {}, 0, QString::fromUtf8(rest.sliced(1))};
        if (select.rosterName.isEmpty())
            return std::nullopt;
        return select;
    }
    const std::optional<Action> action = parseAction(rest);
    if (!action)
        return std::nullopt;
    return SelectedAction{throttle, *action};
}

} // namespace

int controllerSpeed(int appSpeed)
{
    return roundedRatio(qBound(0, appSpeed, MaxAppSpeed), MaxControllerSpeed, MaxAppSpeed);
}

int appSpeed(int controllerSpeed)
{
    return roundedRatio(qBound(0, controllerSpeed, MaxControllerSpeed), MaxAppSpeed,
                        MaxControllerSpeed);
}

std::optional<int> parseAddress(QByteArrayView text)
{
    if (text.size() < 2 || (text.front() != 'S' && text.front() != 'L'))
        return std::nullopt;
    const std::optional<int> number = parseNumber(text.sliced(1));
    if (!number || *number < MinLoco || *number > MaxLoco)
        return std::nullopt;
    return number;
}

QByteArray addressKey(int loco)
{
    return (loco <= MaxShortAddress ? "S" : "L") + QByteArray::number(loco);
}

std::optional<ClientCommand> parseLine(QByteArrayView line)
{
    if (line.isEmpty())
        return std::nullopt;
    switch (line.front()) {
    case 'N': {
        const QString name = printable(line.sliced(1));
        if (name.isEmpty())
            return std::nullopt;
        return SetName{name};
    }
    case 'H':
        if (line.startsWith("HU")) {
            const QString id = printable(line.sliced(2));
            if (!id.isEmpty())
                return HardwareId{id};
        }
        return std::nullopt;
    case '*':
        if (line == "*")
            return Heartbeat{Heartbeat::Beat};
        if (line == "*+")
            return Heartbeat{Heartbeat::MonitorOn};
        if (line == "*-")
            return Heartbeat{Heartbeat::MonitorOff};
        return std::nullopt;
    case 'P':
        if (line == "PPA1")
            return SetPower{true};
        if (line == "PPA0")
            return SetPower{false};
        if (line == "PXA")
            return StopAll{};
        return std::nullopt;
    case 'Q':
        if (line == "Q")
            return Quit{};
        return std::nullopt;
    case 'M':
        return parseThrottleLine(line);
    case 'T':
    case 'S':
        return parseSelectedLine(line);
    default:
        return std::nullopt;
    }
}

QByteArray versionLine()
{
    return QByteArrayLiteral("VN2.0");
}

QList<RosterItem> rosterItems(const PhoneRoster &roster)
{
    QList<RosterItem> items;
    items.reserve(roster.entries.size() + roster.locos.size());
    // One bit a loco number: a thousand entries are looked at in no time.
    std::vector<bool> named(std::size_t(MaxLoco) + 1);
    for (const RosterEntry &entry : roster.entries) {
        items << RosterItem{listText(entry.id), entry.address, entry.isLong(), &entry};
        if (entry.address >= MinLoco && entry.address <= MaxLoco)
            named[std::size_t(entry.address)] = true;
    }
    for (const int loco : roster.locos) {
        if (loco < MinLoco || loco > MaxLoco || named[std::size_t(loco)])
            continue;
        named[std::size_t(loco)] = true;
        items << RosterItem{rosterName(loco), loco, loco > MaxShortAddress, nullptr};
    }
    return items;
}

QString listText(const QString &text)
{
    // Most names hold none of it and stay the same string.
    const bool plain = std::none_of(text.cbegin(), text.cend(), [](QChar c) {
        return c < QLatin1Char(' ') || c == QLatin1Char(']') || c == QLatin1Char('}')
            || c == QLatin1Char('<') || c.category() == QChar::Other_Control
            || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
    });
    if (plain)
        return text;
    QString result = text;
    for (QChar &c : result) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator
            || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    }
    for (const QByteArrayView delimiter : {EntryDelimiter, FieldDelimiter, PartDelimiter})
        result.replace(QString::fromLatin1(delimiter), QStringLiteral(" "));
    return result;
}

QByteArray rosterLine(const QList<int> &locos)
{
    return rosterLine(PhoneRoster{{}, locos});
}

QByteArray rosterLine(const PhoneRoster &roster)
{
    const QList<RosterItem> items = rosterItems(roster);
    QByteArray line = "RL" + QByteArray::number(items.size());
    for (const RosterItem &item : items) {
        line.append(EntryDelimiter).append(item.name.toUtf8()).append(FieldDelimiter);
        appendNumber(line, item.loco);
        line.append(FieldDelimiter).append(item.longAddress ? 'L' : 'S');
    }
    return line;
}

QByteArray labelLine(char throttle, QByteArrayView key, const RosterEntry &entry)
{
    QByteArray labels;
    for (int n = 0; n <= RosterEntry::MaxLabelledFunction; ++n) {
        labels.append(EntryDelimiter);
        if (entry.hasLabel(n))
            labels.append(listText(entry.label(n).text.trimmed()).toUtf8());
    }
    return throttleLine(throttle, 'L', key, labels);
}

QByteArray webPortLine(quint16 port)
{
    return "PW" + QByteArray::number(port);
}

QByteArray powerLine(PowerState state)
{
    switch (state) {
    case PowerState::Off: return QByteArrayLiteral("PPA0");
    case PowerState::On: return QByteArrayLiteral("PPA1");
    case PowerState::Unknown: break;
    }
    return QByteArrayLiteral("PPA2");
}

QByteArray heartbeatLine(int seconds)
{
    return "*" + QByteArray::number(seconds);
}

QByteArray acquiredLine(char throttle, QByteArrayView key)
{
    return throttleLine(throttle, '+', key, {});
}

QByteArray releasedLine(char throttle, QByteArrayView key)
{
    return throttleLine(throttle, '-', key, {});
}

QByteArray actionLine(char throttle, QByteArrayView key, QByteArrayView action)
{
    return throttleLine(throttle, 'A', key, action);
}

QByteArray speedAction(int appSpeed)
{
    QByteArray action("V");
    appendNumber(action, appSpeed);
    return action;
}

QByteArray directionAction(bool forward)
{
    return forward ? QByteArrayLiteral("R1") : QByteArrayLiteral("R0");
}

QByteArray functionAction(int function, bool on)
{
    QByteArray action(on ? "F1" : "F0");
    appendNumber(action, function);
    return action;
}

QByteArray stepModeAction(int mode)
{
    return "s" + QByteArray::number(mode);
}

int speedStepMode(int speedSteps)
{
    switch (speedSteps) {
    case 28: return 2;
    case 14: return 8;
    default: return 1;
    }
}

QByteArray messageLine(const QString &text)
{
    QByteArray line = "HM" + text.toUtf8();
    line.replace('\n', ' ').replace('\r', ' ');
    return line;
}

QString rosterName(int loco)
{
    return QStringLiteral("Lok ") + QString::number(loco);
}

} // namespace WiThrottle
