#pragma once

#include "link/commands.h"
#include "link/frame.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QLoggingCategory>
#include <QMap>
#include <QString>
#include <QStringList>

#include <array>
#include <bitset>
#include <functional>
#include <optional>

// Frame traces of the virtual command station, for example
// QT_LOGGING_RULES="kz.link.station.debug=true".
Q_DECLARE_LOGGING_CATEGORY(kzStation)

// What the track output of the station is doing.
enum class TrackOutput : quint8 {
    Off = TrackMode::Off,
    PowerOn = TrackMode::PowerOn,
    Programming = TrackMode::Programming,
};

// The three pins of one track output as the board numbers them.
struct TrackPins
{
    quint8 output = 0;
    quint8 loadCurrent = 0;
    quint8 monitoring = 0;

    friend bool operator==(const TrackPins &, const TrackPins &) = default;
};

// One entry of the station's loco list.
struct LocoEntry
{
    int number = 0;
    quint8 flags = 0;

    friend bool operator==(const LocoEntry &, const LocoEntry &) = default;
};

// What the station last told a loco on the track.
struct LocoDrive
{
    quint8 speed = 0;
    bool forward = true;
    quint16 functions = 0; // bit 0 light, bits 1-12 F1-F12

    friend bool operator==(const LocoDrive &, const LocoDrive &) = default;
};

// The factory pin assignment of a board (an unknown board gets the Mega one).
TrackPins defaultOperatingPins(BoardLayout layout);
TrackPins defaultProgrammingPins(BoardLayout layout);

// The CV contents of a new decoder: short address 3, 28 speed steps, maker
// id 13, version 42.
std::array<quint8, 1024> defaultDecoderCvs();

// Which CVs a decoder has, bit n - 1 for CV n.
using CvSet = std::bitset<1024>;
// The CVs of a new decoder: the address, speed, identity, consist, function
// mapping and speed table CVs that decoders commonly have; no others.
CvSet defaultDecoderCvSet();

// Everything the station remembers. Tests and kzsim set it up directly or
// through the setters of StationCore, and inspect it after an exchange.
struct StationState
{
    quint8 controller = 1;
    quint8 firmwareMajor = 5;
    quint8 firmwareMinor = 2;
    quint8 firmwareBuild = 0;
    BoardLayout layout = BoardLayout::Mega;
    bool hardwareStopInput = true; // the board has the input
    bool hardwareStopOn = false;   // the input is switched on
    TrackOutput track = TrackOutput::Off;
    TrackPins operatingPins = defaultOperatingPins(BoardLayout::Mega);
    TrackPins programmingPins = defaultProgrammingPins(BoardLayout::Mega);

    // The loco list as stored in the board's memory, in storage order: writes
    // change it and the list walk reads it. The running firmware drives with
    // the active list, which a restart reloads from the stored one.
    QList<LocoEntry> storedLocos;
    QList<LocoEntry> activeLocos;
    // Index of the entry the last walk request returned; -1 before the first.
    int walkPosition = -1;
    int restarts = 0;

    QMap<int, LocoDrive> drives;      // loco number -> last drive state
    QMap<int, quint8> accessories;    // decoder id -> outputs on, bit n = output n

    // The decoder standing on the programming track. A CV it does not have
    // acknowledges no check, as on a real decoder; a CV becomes one of its
    // own when it is set, by the station's setup or by a write.
    bool decoderPresent = true;
    std::array<quint8, 1024> cvs = defaultDecoderCvs(); // CV n at index n - 1
    CvSet cvPresent = defaultDecoderCvSet();
    // What writing 8 to CV 8 restores.
    std::array<quint8, 1024> factoryCvs = defaultDecoderCvs();
    CvSet factoryCvPresent = defaultDecoderCvSet();
    quint8 pageRegister = 1;
};

// A deliberate misbehaviour of the station, applied to the replies of the
// next count answered frames (Always: to every one).
struct Fault
{
    enum Kind {
        NoReply,         // the station acts on the request, the reply is lost
        LateReply,       // the reply comes delayMs later than usual
        WrongChecksum,   // the reply's checksum byte is wrong
        Refusal,         // reply command 255 with a correct checksum
        SplitReply,      // the reply arrives in pieces of the given sizes, delayMs apart
        Noise,           // stray bytes before and after the reply
        OtherController, // the reply carries the controller number `controller`
        DoubleReply,     // the reply is sent twice in a row
    };
    static constexpr int Always = -1;

    Kind kind = NoReply;
    int count = 1;
    int delayMs = 0;
    QList<int> pieces;
    QByteArray before;
    QByteArray after;
    quint8 controller = 0;

    static Fault noReply(int count = 1);
    static Fault lateReply(int delayMs, int count = 1);
    static Fault wrongChecksum(int count = 1);
    static Fault refusal(int count = 1);
    static Fault splitReply(QList<int> pieces, int gapMs = 5, int count = 1);
    static Fault noise(QByteArray before, QByteArray after, int count = 1);
    static Fault otherController(quint8 controller, int count = 1);
    static Fault doubleReply(int count = 1);
};

// One frame (or stray bytes) that passed the station's serial line.
struct LogEntry
{
    enum Direction { Received, Sent };

    Direction direction = Received;
    qint64 timeMs = 0;  // arrival of a request; due time of a reply
    QByteArray bytes;
    std::optional<CommandBuffer> frame; // a well-formed request, or the reply meant
    QString note;       // why a request was not answered, a fault applied

    // "   1000001 ms <- 01 18 FF FF 00 19" and a note, if any.
    QString toString() const;
};

// The virtual command station: a controller board that answers every request
// of the protocol from its own state. It does no I/O and runs no event loop:
// bytes come in with their arrival time, and replies are taken out once their
// due time has come.
//
// Reply conventions of this firmware:
// - A request for its own number or for 255 (all controllers) is answered with
//   the station's own number in the controller byte.
// - The reply echoes the request's command code and parameters, except where
//   the command returns data (the list walk, the queries, the programming
//   acknowledgement).
// - The status query is answered with command byte 0 ("ok") and the flags in
//   P1. A status query for another number is sent back unchanged, command byte
//   2 included: that is how the program learns that no controller of that
//   number is on the line. Every other request for another number goes
//   unanswered.
// - A request the firmware cannot carry out (unknown command, parameter or
//   selector, a loco or decoder number out of range) is refused with command
//   byte 255.
// - Programming commands are acknowledged with P1 = 1, P2 = P3 = 0 and not
//   acknowledged with P1 = P2 = P3 = 255.
// - The decoder on the programming track acknowledges no check of a CV it
//   does not have, and takes a write of 8 to CV 8 (also through register 8)
//   as a factory reset: every CV goes back to its factory value, CVs written
//   since are gone again.
// - A frame with a wrong checksum is ignored. Bytes of an incomplete frame
//   that sees no further byte for more than 20 ms are dropped, so that the
//   board falls back into step after a disturbance on the line.
class StationCore
{
public:
    // Reply to the status query of a controller that is present.
    static constexpr quint8 StatusReplyCommand = 0;
    static constexpr quint8 Ack = 1;
    static constexpr qint64 ResyncGapMs = 20;
    static constexpr int MaxCv = 1024;

    StationCore();
    explicit StationCore(const StationState &state);

    // --- configuration and state -------------------------------------------
    StationState &state() { return m_state; }
    const StationState &state() const { return m_state; }
    void setState(const StationState &state) { m_state = state; }

    void setControllerNumber(quint8 number) { m_state.controller = number; }
    void setFirmware(quint8 major, quint8 minor, quint8 build);
    // Also puts the board's factory pins in place.
    void setLayout(BoardLayout layout);
    void setHardwareStopInput(bool present, bool on = false);
    void setTrackOutput(TrackOutput track) { m_state.track = track; }
    // Sets the stored and the active list, as after a restart.
    void setLocos(const QList<LocoEntry> &locos);
    void setDecoderPresent(bool present) { m_state.decoderPresent = present; }
    // CV numbers 1 to 1024; others are ignored (read as 0). Setting a CV
    // gives the decoder that CV; removeCv() takes it away again.
    void setCv(int cv, quint8 value);
    quint8 cv(int cv) const;
    bool hasCv(int cv) const;
    void removeCv(int cv);
    // Maker id (CV 8) and version (CV 7): fixed in the decoder, so a factory
    // reset keeps them.
    void setDecoderIdentity(quint8 maker, quint8 version);
    // What writing 8 to CV 8 does.
    void factoryReset();

    // A line that misses acknowledgement pulses (a dirty wheel, a poor
    // contact): the decoder confirms, but the station does not see it and
    // answers "not acknowledged" after its full wait. loseAcks() loses the
    // acknowledgements of CV cv numbered in which (1 the next one);
    // setLostAckShare() loses each acknowledgement with the given probability
    // (0 to 1), drawn from a generator seeded with seed so that a run can be
    // repeated.
    void loseAcks(int cv, const QList<int> &which);
    void setLostAckShare(double share, quint32 seed = 1);
    int lostAcks() const { return m_lostAckCount; }
    // Register 1-8 as a register-mode decoder maps it onto its CVs.
    quint8 registerValue(int reg) const;

    // Replies are due replyDelayMs after their request (default 1 ms). With
    // realistic timing the programming commands take as long as on a real
    // programming track instead.
    void setReplyDelayMs(int ms) { m_replyDelayMs = qMax(0, ms); }
    void setRealisticTiming(bool on) { m_realisticTiming = on; }
    bool realisticTiming() const { return m_realisticTiming; }
    // A serial line of baud bits per second (ten bits a byte): a reply is
    // due only after the request's and its own bytes have passed it. 0, the
    // default, is a line that takes no time.
    void setLineSpeed(int baud) { m_lineBaud = qMax(0, baud); }
    int lineSpeed() const { return m_lineBaud; }

    // A board that restarts when its port is opened (the DTR line resets
    // it): for ms milliseconds after deviceOpened() its boot loader runs, and
    // whatever arrives on the line is lost. 0, the default, is a board that
    // keeps running.
    void setResetOnOpenMs(int ms) { m_resetOnOpenMs = qMax(0, ms); }
    int resetOnOpenMs() const { return m_resetOnOpenMs; }
    // The program opened the device.
    void deviceOpened(qint64 nowMs);
    bool isBooting(qint64 nowMs) const { return nowMs < m_bootingUntilMs; }

    // --- faults ------------------------------------------------------------
    void addFault(const Fault &fault) { m_faults.append(fault); }
    void clearFaults() { m_faults.clear(); }
    const QList<Fault> &faults() const { return m_faults; }

    // --- the serial line -----------------------------------------------------
    void receive(QByteArrayView bytes, qint64 nowMs);
    // Every reply byte whose due time is nowMs or earlier, in order.
    QByteArray takeDue(qint64 nowMs);
    std::optional<qint64> nextDueMs() const;
    bool hasPendingReplies() const { return !m_pending.isEmpty(); }
    // Forgets replies not yet taken and an incomplete request.
    void resetLine();

    // --- the log -------------------------------------------------------------
    const QList<LogEntry> &log() const { return m_log; }
    QStringList logLines() const;
    void clearLog() { m_log.clear(); }
    // Well-formed requests received, in order (whoever they were for).
    QList<CommandBuffer> receivedRequests() const;
    // Replies sent, as meant (before a checksum fault or noise mangled them).
    QList<CommandBuffer> sentReplies() const;
    // Oldest entries are dropped beyond this many (default 100000).
    void setLogLimit(int entries) { m_logLimit = qMax(1, entries); }
    // Called for every new log entry (kzsim's --log).
    void setLogObserver(std::function<void(const LogEntry &)> observer)
    {
        m_logObserver = std::move(observer);
    }

private:
    struct Answer
    {
        CommandBuffer reply;
        qint64 delayMs = 0;
    };
    struct Pending
    {
        qint64 dueMs = 0;
        QByteArray bytes;
    };

    void handleFrame(QByteArrayView bytes, qint64 nowMs);
    std::optional<Answer> answer(const CommandBuffer &request);
    Answer setParameter(const CommandBuffer &request);
    Answer query(const CommandBuffer &request);
    Answer readLocoEntry(const CommandBuffer &request);
    Answer writeLocoEntry(const CommandBuffer &request);
    Answer drive(const CommandBuffer &request);
    Answer accessory(const CommandBuffer &request);
    Answer programming(const CommandBuffer &request);
    Answer refusal(const CommandBuffer &request) const;
    Answer echo(const CommandBuffer &request) const;
    Answer acknowledgement(const CommandBuffer &request, bool acknowledged, bool isWrite) const;
    // Whether the station misses the pulse of this acknowledgement of cv.
    bool ackLost(int cv);
    quint8 statusFlags() const;
    void restart();
    quint8 *registerCell(int reg);
    // The CV a cell of the CV array stands for, 0 for the page register.
    int cvOfCell(const quint8 *cell) const;

    // A reply as it goes on the line, after the faults had their way with it.
    struct Outgoing
    {
        CommandBuffer reply;
        QByteArray bytes;
        qint64 delayMs = 0;
        bool lost = false;
        QList<int> pieces;
        qint64 gapMs = 0;
        QString note;
    };
    Outgoing applyFaults(const Answer &answer);
    void sendReply(Outgoing out, qint64 nowMs);
    void queue(qint64 dueMs, QByteArray bytes);
    void addLog(LogEntry entry);

    StationState m_state;
    int m_replyDelayMs = 1;
    bool m_realisticTiming = false;
    int m_lineBaud = 0;
    int m_resetOnOpenMs = 0;
    qint64 m_bootingUntilMs = 0;
    QList<Fault> m_faults;
    struct LostAcks
    {
        int seen = 0;
        QList<int> which;
    };
    QMap<int, LostAcks> m_lostAcksByCv;
    double m_lostAckShare = 0;
    quint32 m_lostAckRandom = 1;
    int m_lostAckCount = 0;

    QByteArray m_partial;
    qint64 m_lastByteMs = 0;
    qint64 m_busyUntilMs = 0;
    QList<Pending> m_pending; // in due order

    QList<LogEntry> m_log;
    int m_logLimit = 100000;
    std::function<void(const LogEntry &)> m_logObserver;
};

// "01 18 FF FF 00 19"
QString hexBytes(QByteArrayView bytes);
