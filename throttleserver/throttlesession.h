#pragma once

#include "throttleserver/withrottle.h"

#include <QByteArrayList>
#include <QHash>
#include <QMap>
#include <QList>
#include <QString>

#include <variant>

// What every throttle was last sent, as a phone sees it. Speed on the
// controller's scale 0-255; bit n of functions is Fn (F0 the light).
struct PhoneLoco
{
    int speed = 0;
    bool forward = true;
    quint32 functions = 0;

    bool function(int n) const { return n >= 0 && n < 32 && (functions >> n) & 1u; }
    friend bool operator==(const PhoneLoco &, const PhoneLoco &) = default;
};

// What a session asks of the rest of the program. The loco intents are the
// same ones a panel produces; the driver behind them sends the frames, updates
// the shared loco state on a reply and then tells every session.
namespace ThrottleIntent {
struct SetSpeed { int loco = 0; int speed = 0; };          // 0-255
struct SetDirection { int loco = 0; bool forward = true; };
struct SetFunction { int loco = 0; int function = 0; bool on = false; };   // F0-F12
struct Stop { int loco = 0; };                             // that loco's emergency stop
struct StopAll {};                                         // every loco's emergency stop
struct SetTrackPower { bool on = false; };
// Events without a frame. Released: this client holds the loco no more (other
// clients may); Quit: the client said goodbye; Closed: the session ended and
// takes no further input (SpokeHttp: the client sent a request or header line
// of HTTP, as a web page's request to this port does).
struct Released { int loco = 0; };
struct Quit {};
enum class CloseReason { Quit, ConnectionLost, LineTooLong, TooManyLines, NoIntroduction,
                         SpokeHttp };
struct Closed { CloseReason reason = CloseReason::ConnectionLost; };
} // namespace ThrottleIntent

using ThrottleIntentValue =
    std::variant<ThrottleIntent::SetSpeed, ThrottleIntent::SetDirection,
                 ThrottleIntent::SetFunction, ThrottleIntent::Stop, ThrottleIntent::SetTrackPower,
                 ThrottleIntent::Released, ThrottleIntent::Quit, ThrottleIntent::Closed,
                 ThrottleIntent::StopAll>;

// The seam between the phone sessions and the loco driver: the session reads
// the shared state through it and hands its intents to it. The program binds
// it to the loco driver; tests record.
class ThrottleHost
{
public:
    virtual ~ThrottleHost() = default;
    virtual PhoneLoco locoState(int loco) const = 0;
    virtual WiThrottle::PowerState trackPower() const = 0;
    // Whether a controller passed the check; before that the program sends
    // nothing for a phone, and the session says why.
    virtual bool controllerChecked() const { return true; }
    // The loco's speed steps as the program last learnt them from the
    // controller (14, 28 or 126); 0 when it does not know them.
    virtual int speedSteps(int /*loco*/) const { return 0; }
    virtual void perform(const ThrottleIntentValue &intent) = 0;
    // The same intent, from the server's client number client: a host that
    // shares the line fairly among its clients tells them apart by it.
    virtual void performFor(quint64 client, const ThrottleIntentValue &intent)
    {
        Q_UNUSED(client);
        perform(intent);
    }
};

// One client's conversation, without I/O: bytes and the time in, lines out
// (takeLines) and intents to the host. Time is milliseconds on any monotonic
// scale; the session never reads a clock itself.
class ThrottleSession
{
public:
    // Highest function a phone may switch; higher ones are reported off.
    static constexpr int MaxSwitchedFunction = 12;
    static constexpr int HeartbeatSeconds = 10;
    // A monitored client's locos stop after this much silence: one and a half
    // intervals, because the apps beat at 90 % of the interval and Wi-Fi
    // delivers a line a second or two late now and then.
    static constexpr int HeartbeatToleranceMs = HeartbeatSeconds * 1500;
    // A connection that has said neither N nor HU by then is closed, so that
    // port scanners and half-open sockets cannot hold the server's places.
    static constexpr int IntroductionMs = 30'000;
    // Locos one client may hold over all its throttles; a further acquire is
    // refused with a message, so that one line cannot send hundreds of frames.
    static constexpr int MaxLocosPerClient = 32;
    // Output a transport may hold unsent for one client; beyond it the client
    // reads nothing and its connection counts as lost (connectionEnded).
    static constexpr qint64 MaxUnsentBytes = 256 * 1024;
    // F2, the horn, is on only while pressed unless the user says otherwise.
    static constexpr int DefaultMomentaryFunction = 2;
    // More lines than this in each of two consecutive seconds (counted from
    // the connection's start) close the connection. A burst within one second
    // is fine: apps send a few dozen lines at an acquire.
    static constexpr int MaxLinesPerSecond = 50;

    // Queues the greeting: version, roster, track power, the web server's
    // port (when there is one) and the heartbeat interval. Roster entries
    // outside the loco range are left out.
    ThrottleSession(ThrottleHost &host, const QList<int> &roster, qint64 nowMs);
    ThrottleSession(ThrottleHost &host, const WiThrottle::PhoneRoster &roster, qint64 nowMs,
                    quint16 webPort = 0);

    // Bytes from the client, in any pieces.
    void receive(QByteArrayView bytes, qint64 nowMs);
    // Lets time pass without input (heartbeat check).
    void advanceTo(qint64 nowMs);
    // The connection ended from the other side or was dropped; without a
    // preceding Q the session's locos are stopped.
    void connectionEnded();

    // The shared state changed (by any throttle, panel or a refused command
    // that leaves it as it was): holders get the loco's lines.
    void locoStateChanged(int loco, const PhoneLoco &state);
    void trackPowerChanged(WiThrottle::PowerState state);
    void setRoster(const QList<int> &roster);
    // The roster's names and labels with the controller's locos; holders of
    // a loco whose labels changed get its label line again.
    void setPhoneRoster(const WiThrottle::PhoneRoster &roster);
    // The web server's port (0: none); told at once when there is one.
    void setWebPort(quint16 port);
    // The functions that are on only while the key is pressed (F1-F12; others
    // are left out); every other function latches. A client's m lines change
    // this for its own locos.
    void setMomentaryFunctions(const QList<int> &functions);

    // Lines to send, without terminators, in order; emptied by the call.
    QByteArrayList takeLines();

    // Closed: by Q, an ended connection or an abuse limit. The server then
    // closes the socket; the session takes no further input.
    bool isClosed() const { return m_closed; }
    ThrottleIntent::CloseReason closeReason() const { return m_closeReason; }
    QString name() const { return m_name; }
    QString hardwareId() const { return m_hardwareId; }
    // Every loco a throttle of this client holds, each once, ascending.
    QList<int> heldLocos() const;
    bool heartbeatMonitored() const { return m_monitored; }

    // Texts of the messages the app shows.
    static QString tooManyLocosText();
    static QString notCheckedText();

private:
    struct Held
    {
        int loco = 0;
        // The address form the client named it by (S3, L1234).
        QByteArray key;
        // What the client was last told, so that only changed functions are
        // repeated.
        PhoneLoco reported;
        // The roster entry the loco was taken as: the one named, else the
        // first with its address.
        std::optional<RosterEntry> entry;
    };

    // A throttle is named by the prefix of its lines: "M0" for throttle 0 of
    // the multi-throttle lines, "T" or "S" for an older client's throttle.
    using ThrottleId = QByteArray;

    void handleLine(QByteArrayView line, qint64 nowMs);
    void handle(const WiThrottle::ClientCommand &command);
    void handleAction(const WiThrottle::LocoAction &action);
    void acquire(const ThrottleId &throttle, const QByteArray &key, int loco,
                 const QString &rosterName);
    // Sends the label line of a multi-throttle's roster loco.
    void sendLabels(const ThrottleId &throttle, const Held &held);
    void release(const ThrottleId &throttle, const std::optional<int> &loco, bool answer);
    void actOn(const ThrottleId &throttle, Held &held, const WiThrottle::Action &action);
    void drive(const ThrottleIntentValue &intent);
    bool isMomentary(const Held &held, int function) const;
    // Bit n: Fn is momentary for this loco unless a client's m line said
    // otherwise: the roster's flag for a labelled function, the server's list
    // for every other one.
    quint32 defaultMomentary(const Held &held) const;
    QByteArray stateLine(const ThrottleId &throttle, const Held &held, QByteArrayView action) const;
    void sendLocoState(const ThrottleId &throttle, Held &held, const PhoneLoco &state,
                       bool everything);
    void checkTime(qint64 nowMs);
    bool countLine(qint64 nowMs);
    void close(ThrottleIntent::CloseReason reason, bool stopLocos);
    void emitIntent(const ThrottleIntentValue &intent) { m_host.perform(intent); }

    ThrottleHost &m_host;
    WiThrottle::PhoneRoster m_roster;
    quint16 m_webPort = 0;
    QByteArrayList m_out;
    QByteArray m_pending;
    bool m_afterCR = false;
    bool m_closed = false;
    ThrottleIntent::CloseReason m_closeReason = ThrottleIntent::CloseReason::ConnectionLost;
    // Whether a line came yet: only a first line can be an HTTP request line.
    bool m_heardLine = false;
    QString m_name;
    QString m_hardwareId;
    // Throttle → its locos in acquire order.
    QMap<ThrottleId, QList<Held>> m_throttles;
    // Bit n: Fn is momentary; per loco once a client's m line changed it.
    quint32 m_momentary = 1u << DefaultMomentaryFunction;
    QHash<int, quint32> m_momentaryByLoco;
    bool m_introduced = false;
    bool m_toldNotChecked = false;
    bool m_monitored = false;
    bool m_silenceHandled = false;
    qint64 m_lastLineMs = 0;
    // Lines in the current and the previous second, counted in whole seconds
    // since the connection began: fixed memory however fast a client sends.
    qint64 m_startMs = 0;
    qint64 m_rateSecond = 0;
    int m_linesThisSecond = 0;
    int m_linesSecondBefore = 0;
};
