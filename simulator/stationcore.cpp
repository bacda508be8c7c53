#include "simulator/stationcore.h"

#include <algorithm>

Q_LOGGING_CATEGORY(kzStation, "kz.link.station", QtWarningMsg)

namespace {

// Timing of a real programming track: the decoder answers a check it agrees
// with by a current pulse soon; a check it does not agree with only ends when
// the station gives up waiting; a write takes its packets plus the decoder's
// write time.
constexpr qint64 VerifyAckMs = 100;
constexpr qint64 VerifyNakMs = 150;
constexpr qint64 WriteMs = 150;
constexpr qint64 RestartMs = 300;

constexpr int MaxLocoNumber = 10239;
constexpr int MaxDecoderId = 511;
constexpr int MaxFunction = 12;
constexpr int MaxOutput = 3;
// Bits 2-6 of the loco flags carry nothing and are not stored.
constexpr quint8 StoredFlagBits = 0x83;

constexpr int VersionCv = 7;
constexpr int MakerCv = 8;
// Written to CV 8, it resets the decoder to its factory values.
constexpr quint8 ResetValue = 8;
// The function mapping of a new decoder (F0 forward and backward, then F1 to
// F12, from CV 33 on) and its speed table (CVs 67 to 94).
constexpr int FirstMappingCv = 33;
constexpr quint8 FunctionMapping[] = {1, 2, 4, 8, 2, 4, 8, 16, 4, 8, 16, 4, 8, 16};
constexpr int FirstSpeedTableCv = 67;
constexpr int SpeedTableSteps = 28;

bool validLoco(int number)
{
    return number >= 1 && number <= MaxLocoNumber;
}

int numberOf(const CommandBuffer &request)
{
    return joinBytes(request.p2, request.p3);
}

} // namespace

TrackPins defaultOperatingPins(BoardLayout layout)
{
    if (layout == BoardLayout::Uno)
        return {3, 11, 14}; // monitoring on A0
    return {3, 11, 54};     // monitoring on A0 of the Mega
}

TrackPins defaultProgrammingPins(BoardLayout layout)
{
    if (layout == BoardLayout::Uno)
        return {5, 12, 15}; // A1
    return {5, 12, 55};     // A1 of the Mega
}

std::array<quint8, 1024> defaultDecoderCvs()
{
    std::array<quint8, 1024> cvs{};
    cvs[1 - 1] = 3;    // short address
    cvs[2 - 1] = 1;    // start voltage
    cvs[3 - 1] = 8;    // acceleration
    cvs[4 - 1] = 6;    // deceleration
    cvs[7 - 1] = 42;   // version
    cvs[8 - 1] = 13;   // maker id of home-built decoders
    cvs[17 - 1] = 192; // long address 3, not in use
    cvs[18 - 1] = 3;
    cvs[29 - 1] = 6;   // 28/126 speed steps, analogue operation allowed
    for (int i = 0; i < int(std::size(FunctionMapping)); ++i)
        cvs[FirstMappingCv - 1 + i] = FunctionMapping[i];
    // A straight speed table from 9 up to 255.
    for (int step = 1; step <= SpeedTableSteps; ++step)
        cvs[FirstSpeedTableCv - 2 + step] = quint8((255 * step + SpeedTableSteps / 2) / SpeedTableSteps);
    return cvs;
}

CvSet defaultDecoderCvSet()
{
    CvSet set;
    // Address, start, acceleration, deceleration, top and middle voltage,
    // version, maker; long address, consist address and consist functions;
    // configuration; function mapping; speed table; user ids.
    for (int cv : {1, 2, 3, 4, 5, 6, 7, 8, 17, 18, 19, 21, 22, 29, 105, 106})
        set.set(cv - 1);
    for (int i = 0; i < int(std::size(FunctionMapping)); ++i)
        set.set(FirstMappingCv - 1 + i);
    for (int step = 1; step <= SpeedTableSteps; ++step)
        set.set(FirstSpeedTableCv - 2 + step);
    return set;
}

Fault Fault::noReply(int count)
{
    Fault f;
    f.kind = NoReply;
    f.count = count;
    return f;
}

Fault Fault::lateReply(int delayMs, int count)
{
    Fault f;
    f.kind = LateReply;
    f.delayMs = delayMs;
    f.count = count;
    return f;
}

Fault Fault::wrongChecksum(int count)
{
    Fault f;
    f.kind = WrongChecksum;
    f.count = count;
    return f;
}

Fault Fault::refusal(int count)
{
    Fault f;
    f.kind = Refusal;
    f.count = count;
    return f;
}

Fault Fault::splitReply(QList<int> pieces, int gapMs, int count)
{
    Fault f;
    f.kind = SplitReply;
    f.pieces = std::move(pieces);
    f.delayMs = gapMs;
    f.count = count;
    return f;
}

Fault Fault::noise(QByteArray before, QByteArray after, int count)
{
    Fault f;
    f.kind = Noise;
    f.before = std::move(before);
    f.after = std::move(after);
    f.count = count;
    return f;
}

Fault Fault::otherController(quint8 controller, int count)
{
    Fault f;
    f.kind = OtherController;
    f.controller = controller;
    f.count = count;
    return f;
}

Fault Fault::doubleReply(int count)
{
    Fault f;
    f.kind = DoubleReply;
    f.count = count;
    return f;
}

QString hexBytes(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper());
}

QString LogEntry::toString() const
{
    QString line = QStringLiteral("%1 ms %2 %3")
                       .arg(timeMs, 10)
                       .arg(direction == Received ? QStringLiteral("RX") : QStringLiteral("TX"),
                            hexBytes(bytes));
    if (!note.isEmpty())
        line += QStringLiteral("  (") + note + QLatin1Char(')');
    return line;
}

StationCore::StationCore() = default;

StationCore::StationCore(const StationState &state)
    : m_state(state)
{
}

void StationCore::setFirmware(quint8 major, quint8 minor, quint8 build)
{
    m_state.firmwareMajor = major;
    m_state.firmwareMinor = minor;
    m_state.firmwareBuild = build;
}

void StationCore::setLayout(BoardLayout layout)
{
    m_state.layout = layout;
    m_state.operatingPins = defaultOperatingPins(layout);
    m_state.programmingPins = defaultProgrammingPins(layout);
}

void StationCore::setHardwareStopInput(bool present, bool on)
{
    m_state.hardwareStopInput = present;
    m_state.hardwareStopOn = on;
}

void StationCore::setLocos(const QList<LocoEntry> &locos)
{
    m_state.storedLocos = locos;
    m_state.activeLocos = locos;
    m_state.walkPosition = -1;
}

void StationCore::setCv(int cv, quint8 value)
{
    if (cv < 1 || cv > MaxCv)
        return;
    m_state.cvs[cv - 1] = value;
    m_state.cvPresent.set(cv - 1);
}

quint8 StationCore::cv(int cv) const
{
    return cv >= 1 && cv <= MaxCv ? m_state.cvs[cv - 1] : 0;
}

bool StationCore::hasCv(int cv) const
{
    return cv >= 1 && cv <= MaxCv && m_state.cvPresent.test(cv - 1);
}

void StationCore::removeCv(int cv)
{
    if (cv >= 1 && cv <= MaxCv)
        m_state.cvPresent.reset(cv - 1);
}

void StationCore::setDecoderIdentity(quint8 maker, quint8 version)
{
    for (auto [cv, value] : {std::pair{MakerCv, maker}, std::pair{VersionCv, version}}) {
        setCv(cv, value);
        m_state.factoryCvs[cv - 1] = value;
        m_state.factoryCvPresent.set(cv - 1);
    }
}

void StationCore::factoryReset()
{
    m_state.cvs = m_state.factoryCvs;
    m_state.cvPresent = m_state.factoryCvPresent;
}

quint8 StationCore::registerValue(int reg) const
{
    const quint8 *cell = const_cast<StationCore *>(this)->registerCell(reg);
    return cell ? *cell : 0;
}

int StationCore::cvOfCell(const quint8 *cell) const
{
    const quint8 *first = m_state.cvs.data();
    if (cell < first || cell >= first + MaxCv)
        return 0;
    return int(cell - first) + 1;
}

// Register mode: registers 1-4 are CVs 1-4, 5 is CV 29, 6 the page register,
// 7 and 8 are CVs 7 and 8.
quint8 *StationCore::registerCell(int reg)
{
    switch (reg) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 7:
    case 8:
        return &m_state.cvs[reg - 1];
    case 5:
        return &m_state.cvs[29 - 1];
    case 6:
        return &m_state.pageRegister;
    default:
        return nullptr;
    }
}

// --- the serial line --------------------------------------------------------

void StationCore::deviceOpened(qint64 nowMs)
{
    if (m_resetOnOpenMs == 0)
        return;
    resetLine();
    restart();
    m_bootingUntilMs = nowMs + m_resetOnOpenMs;
    LogEntry entry;
    entry.direction = LogEntry::Received;
    entry.timeMs = nowMs;
    entry.note = QStringLiteral("Schnittstelle geöffnet, Neustart für %1 ms").arg(m_resetOnOpenMs);
    addLog(std::move(entry));
}

void StationCore::receive(QByteArrayView bytes, qint64 nowMs)
{
    if (bytes.isEmpty())
        return;
    if (isBooting(nowMs)) {
        // The boot loader does not pass anything on to the firmware.
        LogEntry entry;
        entry.direction = LogEntry::Received;
        entry.timeMs = nowMs;
        entry.bytes = bytes.toByteArray();
        entry.note = QStringLiteral("während des Neustarts verloren");
        addLog(std::move(entry));
        return;
    }
    // The line was quiet for longer than a frame takes: what came before was
    // the rest of a disturbance, not the start of this frame.
    if (!m_partial.isEmpty() && nowMs - m_lastByteMs > ResyncGapMs) {
        LogEntry entry;
        entry.direction = LogEntry::Received;
        entry.timeMs = m_lastByteMs;
        entry.bytes = m_partial;
        entry.note = QStringLiteral("unvollständig, verworfen");
        addLog(std::move(entry));
        m_partial.clear();
    }
    m_lastByteMs = nowMs;
    m_partial.append(bytes.data(), bytes.size());
    while (m_partial.size() >= Frame::Size) {
        const QByteArray frame = m_partial.left(Frame::Size);
        m_partial.remove(0, Frame::Size);
        handleFrame(frame, nowMs);
    }
}

QByteArray StationCore::takeDue(qint64 nowMs)
{
    QByteArray out;
    while (!m_pending.isEmpty() && m_pending.constFirst().dueMs <= nowMs)
        out += m_pending.takeFirst().bytes;
    return out;
}

std::optional<qint64> StationCore::nextDueMs() const
{
    if (m_pending.isEmpty())
        return std::nullopt;
    return m_pending.constFirst().dueMs;
}

void StationCore::resetLine()
{
    m_pending.clear();
    m_partial.clear();
    m_busyUntilMs = 0;
}

void StationCore::handleFrame(QByteArrayView bytes, qint64 nowMs)
{
    LogEntry entry;
    entry.direction = LogEntry::Received;
    entry.timeMs = nowMs;
    entry.bytes = bytes.toByteArray();

    const CommandBuffer request = Frame::decode(bytes);
    if (quint8(bytes[5]) != Frame::checksum(request)) {
        entry.note = QStringLiteral("Prüfsumme falsch, keine Antwort");
        addLog(std::move(entry));
        return;
    }
    entry.frame = request;

    const bool forMe = request.controller == m_state.controller || request.controller == 255;
    std::optional<Answer> a;
    if (forMe) {
        a = answer(request);
    } else if (request.command == Command::QueryController && request.p2 == Selector::Status) {
        entry.note = QStringLiteral("anderer Controller, unverändert zurück");
        a = Answer{request, m_replyDelayMs};
    } else {
        entry.note = QStringLiteral("anderer Controller, keine Antwort");
    }

    if (!a) {
        addLog(std::move(entry));
        return;
    }
    Outgoing out = applyFaults(*a);
    if (out.lost) {
        // The request was carried out; only its reply never reaches the line.
        entry.note = out.note;
        addLog(std::move(entry));
        return;
    }
    addLog(std::move(entry));
    sendReply(std::move(out), nowMs);
}

std::optional<StationCore::Answer> StationCore::answer(const CommandBuffer &request)
{
    switch (request.command) {
    case Command::SetParameter:
        return setParameter(request);
    case Command::QueryController:
        return query(request);
    case Command::ReadLocoEntry:
        return readLocoEntry(request);
    case Command::WriteLocoEntry:
        return writeLocoEntry(request);
    case Command::SetDirection:
    case Command::SetSpeed:
    case Command::StopLoco:
    case Command::FunctionOn:
    case Command::FunctionOff:
        return drive(request);
    case Command::AccessoryOn:
    case Command::AccessoryOff:
        return accessory(request);
    case Command::WriteCV:
    case Command::WriteCVBit:
    case Command::WriteRegister:
    case Command::VerifyCV:
    case Command::VerifyCVBit:
    case Command::VerifyRegister:
        return programming(request);
    default:
        return refusal(request);
    }
}

StationCore::Answer StationCore::echo(const CommandBuffer &request) const
{
    CommandBuffer reply = request;
    reply.controller = m_state.controller;
    return Answer{reply, m_replyDelayMs};
}

StationCore::Answer StationCore::refusal(const CommandBuffer &request) const
{
    Answer a = echo(request);
    a.reply.command = Frame::RefusalCommand;
    return a;
}

StationCore::Answer StationCore::setParameter(const CommandBuffer &request)
{
    switch (request.p2) {
    case Parameter::Restart: {
        restart();
        Answer a = echo(request);
        if (m_realisticTiming)
            a.delayMs = RestartMs;
        return a;
    }
    case Parameter::HardwareStopInput:
        if (!m_state.hardwareStopInput || request.p3 > 1)
            return refusal(request);
        m_state.hardwareStopOn = request.p3 == 1;
        return echo(request);
    case Parameter::TrackOutput:
        if (request.p3 > TrackMode::Programming)
            return refusal(request);
        m_state.track = TrackOutput(request.p3);
        return echo(request);
    case Parameter::OperatingTrackPins:
        m_state.operatingPins.output = request.p3;
        m_state.operatingPins.loadCurrent = request.p1;
        return echo(request);
    case Parameter::ProgrammingTrackPins:
        m_state.programmingPins.output = request.p3;
        m_state.programmingPins.loadCurrent = request.p1;
        return echo(request);
    case Parameter::MonitoringPins:
        m_state.operatingPins.monitoring = request.p3;
        m_state.programmingPins.monitoring = request.p1;
        return echo(request);
    default:
        return refusal(request);
    }
}

quint8 StationCore::statusFlags() const
{
    quint8 flags = 0;
    if (m_state.hardwareStopInput) {
        flags |= StatusBits::HardwareStopInput;
        if (m_state.hardwareStopOn)
            flags |= StatusBits::HardwareStopOn;
    }
    if (m_state.layout == BoardLayout::Uno)
        flags |= StatusBits::Uno;
    else if (m_state.layout == BoardLayout::Mega)
        flags |= StatusBits::Mega;
    if (m_state.track == TrackOutput::PowerOn)
        flags |= StatusBits::TrackPower;
    return flags;
}

StationCore::Answer StationCore::query(const CommandBuffer &request)
{
    Answer a = echo(request);
    CommandBuffer &r = a.reply;
    switch (request.p2) {
    case Selector::Status:
        r.command = StatusReplyCommand;
        r.p1 = statusFlags();
        r.p2 = 0;
        r.p3 = 0;
        return a;
    case Selector::Version:
        r.p1 = m_state.firmwareBuild;
        r.p2 = m_state.firmwareMajor;
        r.p3 = m_state.firmwareMinor;
        return a;
    case Selector::OperatingTrackPins:
    case Selector::ProgrammingTrackPins: {
        const TrackPins &pins = request.p2 == Selector::OperatingTrackPins
                                    ? m_state.operatingPins
                                    : m_state.programmingPins;
        r.p1 = pins.monitoring;
        r.p2 = pins.output;
        r.p3 = pins.loadCurrent;
        return a;
    }
    default:
        return refusal(request);
    }
}

// The walk and the single query read the stored list, so that a changed entry
// reads back at once; the firmware drives with it only after a restart.
StationCore::Answer StationCore::readLocoEntry(const CommandBuffer &request)
{
    Answer a = echo(request);
    CommandBuffer &r = a.reply;
    const QList<LocoEntry> &list = m_state.storedLocos;

    if (request.p1 == LocoWalk::SingleLoco) {
        const int number = numberOf(request);
        r.p1 = NothingToReport;
        for (const LocoEntry &e : list) {
            if (e.number == number) {
                r.p1 = e.flags;
                break;
            }
        }
        return a;
    }

    if (request.p1 == LocoWalk::First)
        m_state.walkPosition = 0;
    else if (request.p1 == LocoWalk::Next)
        m_state.walkPosition = qMin(m_state.walkPosition + 1, int(list.size()));
    else
        return refusal(request);

    if (m_state.walkPosition < list.size()) {
        const LocoEntry &e = list.at(m_state.walkPosition);
        r.p1 = e.flags;
        r.p2 = lowByte(e.number);
        r.p3 = highByte(e.number);
    } else {
        r.p1 = NothingToReport;
        r.p2 = 0;
        r.p3 = 0;
    }
    return a;
}

StationCore::Answer StationCore::writeLocoEntry(const CommandBuffer &request)
{
    const int number = numberOf(request);
    if (!validLoco(number))
        return refusal(request);
    QList<LocoEntry> &list = m_state.storedLocos;
    const auto it = std::find_if(list.begin(), list.end(),
                                 [number](const LocoEntry &e) { return e.number == number; });
    if (request.p1 == 0) {
        if (it != list.end())
            list.erase(it);
    } else {
        const quint8 flags = request.p1 & StoredFlagBits;
        if (it != list.end())
            it->flags = flags;
        else
            list.append(LocoEntry{number, flags});
    }
    return echo(request);
}

StationCore::Answer StationCore::drive(const CommandBuffer &request)
{
    if (request.command == Command::StopLoco && request.p2 == 255 && request.p3 == 255) {
        for (LocoDrive &d : m_state.drives)
            d.speed = 0;
        return echo(request);
    }
    const int number = numberOf(request);
    if (!validLoco(number))
        return refusal(request);

    LocoDrive d = m_state.drives.value(number);
    switch (request.command) {
    case Command::SetDirection:
        if (request.p1 > 1)
            return refusal(request);
        d.forward = request.p1 == 1;
        break;
    case Command::SetSpeed:
        d.speed = request.p1;
        break;
    case Command::StopLoco:
        d.speed = 0;
        break;
    case Command::FunctionOn:
    case Command::FunctionOff:
        if (request.p1 > MaxFunction)
            return refusal(request);
        if (request.command == Command::FunctionOn)
            d.functions |= quint16(1u << request.p1);
        else
            d.functions &= quint16(~(1u << request.p1));
        break;
    }
    m_state.drives.insert(number, d);
    return echo(request);
}

StationCore::Answer StationCore::accessory(const CommandBuffer &request)
{
    const int id = numberOf(request);
    if (id < 1 || id > MaxDecoderId || request.p1 > MaxOutput)
        return refusal(request);
    quint8 &outputs = m_state.accessories[id];
    if (request.command == Command::AccessoryOn)
        outputs |= quint8(1u << request.p1);
    else
        outputs &= quint8(~(1u << request.p1));
    return echo(request);
}

StationCore::Answer StationCore::acknowledgement(const CommandBuffer &request, bool acknowledged,
                                                 bool isWrite) const
{
    Answer a = echo(request);
    if (acknowledged) {
        a.reply.p1 = Ack;
        a.reply.p2 = 0;
        a.reply.p3 = 0;
    } else {
        a.reply.p1 = NothingToReport;
        a.reply.p2 = NothingToReport;
        a.reply.p3 = NothingToReport;
    }
    if (m_realisticTiming)
        a.delayMs = isWrite ? WriteMs : (acknowledged ? VerifyAckMs : VerifyNakMs);
    return a;
}

void StationCore::loseAcks(int cv, const QList<int> &which)
{
    m_lostAcksByCv.insert(cv, LostAcks{0, which});
}

void StationCore::setLostAckShare(double share, quint32 seed)
{
    m_lostAckShare = qBound(0.0, share, 1.0);
    m_lostAckRandom = seed ? seed : 1;
}

bool StationCore::ackLost(int cv)
{
    bool lost = false;
    auto it = m_lostAcksByCv.find(cv);
    if (it != m_lostAcksByCv.end())
        lost = it->which.contains(++it->seen);
    if (!lost && m_lostAckShare > 0) {
        // xorshift32: the same sequence on every platform for one seed.
        m_lostAckRandom ^= m_lostAckRandom << 13;
        m_lostAckRandom ^= m_lostAckRandom >> 17;
        m_lostAckRandom ^= m_lostAckRandom << 5;
        lost = double(m_lostAckRandom) / 4294967296.0 < m_lostAckShare;
    }
    if (lost)
        ++m_lostAckCount;
    return lost;
}

StationCore::Answer StationCore::programming(const CommandBuffer &request)
{
    const bool isWrite = request.command == Command::WriteCV
                         || request.command == Command::WriteCVBit
                         || request.command == Command::WriteRegister;
    // Without programming mode there is no programming track signal, and
    // without a decoder nobody draws the acknowledgement pulse.
    if (m_state.track != TrackOutput::Programming || !m_state.decoderPresent)
        return acknowledgement(request, false, isWrite);

    const int cvNumber = numberOf(request);
    quint8 *cell = nullptr;
    if (request.command == Command::WriteRegister || request.command == Command::VerifyRegister) {
        // Register numbers fit in P2; a P3 other than 0 names no register.
        cell = request.p3 == 0 ? registerCell(request.p2) : nullptr;
    } else if (cvNumber >= 1 && cvNumber <= MaxCv) {
        cell = &m_state.cvs[cvNumber - 1];
    }
    const bool bitCommand = request.command == Command::WriteCVBit
                            || request.command == Command::VerifyCVBit;
    // A bit byte uses bits 0-3 only.
    if (!cell || (bitCommand && request.p1 > 15))
        return acknowledgement(request, false, isWrite);

    // A CV the decoder does not have answers no check; a write gives it one.
    const int cellCv = cvOfCell(cell);
    if (cellCv != 0 && !isWrite && !hasCv(cellCv))
        return acknowledgement(request, false, isWrite);
    if (cellCv == MakerCv && request.p1 == ResetValue
        && (request.command == Command::WriteCV || request.command == Command::WriteRegister)) {
        factoryReset();
        return acknowledgement(request, !ackLost(cellCv), isWrite);
    }
    if (cellCv != 0)
        m_state.cvPresent.set(cellCv - 1);

    const int position = bitBytePosition(request.p1);
    const quint8 mask = quint8(1u << position);
    bool acknowledged = true;
    switch (request.command) {
    case Command::WriteCV:
    case Command::WriteRegister:
        *cell = request.p1;
        break;
    case Command::WriteCVBit:
        if (bitByteValue(request.p1))
            *cell |= mask;
        else
            *cell &= quint8(~mask);
        break;
    case Command::VerifyCV:
    case Command::VerifyRegister:
        acknowledged = *cell == request.p1;
        break;
    case Command::VerifyCVBit:
        acknowledged = ((*cell & mask) != 0) == (bitByteValue(request.p1) == 1);
        break;
    }
    if (acknowledged && ackLost(cellCv))
        acknowledged = false;
    return acknowledgement(request, acknowledged, isWrite);
}

void StationCore::restart()
{
    m_state.activeLocos = m_state.storedLocos;
    m_state.walkPosition = -1;
    m_state.drives.clear();
    m_state.accessories.clear();
    m_state.track = TrackOutput::Off;
    ++m_state.restarts;
}

// --- replies and faults -----------------------------------------------------

StationCore::Outgoing StationCore::applyFaults(const Answer &answer)
{
    Outgoing out;
    out.reply = answer.reply;
    out.delayMs = answer.delayMs;
    bool badChecksum = false;
    bool twice = false;
    QByteArray before;
    QByteArray after;
    QStringList notes;

    for (auto it = m_faults.begin(); it != m_faults.end();) {
        Fault &f = *it;
        if (f.count == 0) {
            it = m_faults.erase(it);
            continue;
        }
        switch (f.kind) {
        case Fault::NoReply:
            out.lost = true;
            notes << QStringLiteral("Antwort verloren");
            break;
        case Fault::LateReply:
            out.delayMs += qMax(0, f.delayMs);
            notes << QStringLiteral("%1 ms verspätet").arg(f.delayMs);
            break;
        case Fault::WrongChecksum:
            badChecksum = true;
            notes << QStringLiteral("Prüfsumme verfälscht");
            break;
        case Fault::Refusal:
            out.reply.command = Frame::RefusalCommand;
            notes << QStringLiteral("Ablehnung");
            break;
        case Fault::SplitReply:
            out.pieces = f.pieces;
            out.gapMs = qMax(0, f.delayMs);
            notes << QStringLiteral("in Stücken");
            break;
        case Fault::Noise:
            before += f.before;
            after += f.after;
            notes << QStringLiteral("Störbytes");
            break;
        case Fault::OtherController:
            out.reply.controller = f.controller;
            notes << QStringLiteral("als Controller %1").arg(f.controller);
            break;
        case Fault::DoubleReply:
            twice = true;
            notes << QStringLiteral("doppelt");
            break;
        }
        if (f.count > 0 && --f.count == 0)
            it = m_faults.erase(it);
        else
            ++it;
    }

    QByteArray frame = Frame::encode(out.reply);
    if (badChecksum)
        frame[5] = char(quint8(frame[5]) ^ 0x5A);
    out.bytes = before + frame + (twice ? frame : QByteArray()) + after;
    out.note = notes.join(QStringLiteral(", "));
    return out;
}

void StationCore::sendReply(Outgoing out, qint64 nowMs)
{
    // The firmware handles one request at a time: a reply never overtakes an
    // earlier one. On a line with a speed, the request's six bytes and the
    // reply's take their time on the wire too.
    qint64 lineMs = 0;
    if (m_lineBaud > 0)
        lineMs = qRound64(double(Frame::Size + out.bytes.size()) * 10'000.0 / m_lineBaud);
    const qint64 dueMs = qMax(nowMs, m_busyUntilMs) + out.delayMs + lineMs;

    LogEntry entry;
    entry.direction = LogEntry::Sent;
    entry.timeMs = dueMs;
    entry.bytes = out.bytes;
    entry.frame = out.reply;
    entry.note = out.note;
    addLog(std::move(entry));

    QByteArray &bytes = out.bytes;
    qint64 pieceDue = dueMs;
    qint64 lastDueMs = dueMs;
    for (int size : std::as_const(out.pieces)) {
        if (bytes.isEmpty())
            break;
        const int n = qMax(0, size);
        queue(pieceDue, bytes.left(n));
        bytes.remove(0, n);
        lastDueMs = pieceDue;
        pieceDue += out.gapMs;
    }
    if (!bytes.isEmpty()) {
        queue(pieceDue, bytes);
        lastDueMs = pieceDue;
    }
    m_busyUntilMs = lastDueMs;
}

void StationCore::queue(qint64 dueMs, QByteArray bytes)
{
    if (bytes.isEmpty())
        return;
    auto it = std::upper_bound(m_pending.begin(), m_pending.end(), dueMs,
                               [](qint64 due, const Pending &p) { return due < p.dueMs; });
    m_pending.insert(it, Pending{dueMs, std::move(bytes)});
}

// --- the log ------------------------------------------------------------------

void StationCore::addLog(LogEntry entry)
{
    qCDebug(kzStation).noquote() << entry.toString();
    if (m_logObserver)
        m_logObserver(entry);
    m_log.append(std::move(entry));
    if (m_log.size() > m_logLimit)
        m_log.remove(0, m_log.size() - m_logLimit);
}

QStringList StationCore::logLines() const
{
    QStringList lines;
    lines.reserve(m_log.size());
    for (const LogEntry &e : m_log)
        lines << e.toString();
    return lines;
}

QList<CommandBuffer> StationCore::receivedRequests() const
{
    QList<CommandBuffer> frames;
    for (const LogEntry &e : m_log) {
        if (e.direction == LogEntry::Received && e.frame)
            frames << *e.frame;
    }
    return frames;
}

QList<CommandBuffer> StationCore::sentReplies() const
{
    QList<CommandBuffer> frames;
    for (const LogEntry &e : m_log) {
        if (e.direction == LogEntry::Sent && e.frame)
            frames << *e.frame;
    }
    return frames;
}
