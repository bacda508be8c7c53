#pragma once

#include "link/exchange.h"

#include <QString>

// What a running programming operation tells the window, and how the window
// gets its say between two exchanges. The defaults do nothing but process
// pending events.
class ProgrammingObserver
{
public:
    virtual ~ProgrammingObserver() = default;

    // Progress of a search, 0 to 100 per cent.
    virtual void progress(double percent) { Q_UNUSED(percent); }
    // A search that can be aborted starts (true) or ends (false).
    virtual void searchRunning(bool running) { Q_UNUSED(running); }
    // Called once after every exchange of a search or a decoder check; a
    // click on the abort button reaches requestAbort() here.
    virtual void processEvents();
    // A search was aborted.
    virtual void aborted() {}
    // An interim step of the recognition, e.g. "Niedrige Lok-Nummern erkannt ...".
    virtual void stage(const QString &text) { Q_UNUSED(text); }
};

// How the decoder answered one programming exchange.
enum class DecoderReply {
    Acknowledged,
    NotAcknowledged,
    // No valid reply came (or simulation mode): nothing is known about the
    // decoder, so this is never taken as an acknowledgement.
    NoReply,
};

// The programming algorithms on the programming track, without a window. All
// exchanges go through the command buffer handed in (one per window) to the
// controller set with setController().
class DecoderProgrammer
{
public:
    static constexpr int NotFound = -1;
    static constexpr int Aborted = -2;

    explicit DecoderProgrammer(CommandBuffer &buffer, ProgrammingObserver *observer = nullptr);

    void setController(quint8 controller) { m_controller = controller; }
    quint8 controller() const { return m_controller; }
    void setObserver(ProgrammingObserver *observer);

    // The abort button: the running search stops after its current exchange,
    // before that exchange's reply is judged.
    void requestAbort() { m_abortRequested = true; }
    bool abortRequested() const { return m_abortRequested; }

    // Switches the controller's programming mode on or off (three attempts, no
    // box); the reply is not looked at.
    void SetProgMode(bool on);

    // One verify or write the user started (two attempts, failure box): the
    // decoder acknowledged when any reply parameter is not 255.
    DecoderReply singleExchange(const CommandBuffer &frame);

    // One step of a search, check or address write (three attempts, no box).
    // A check is acknowledged when reply P1 or P2 is not 255.
    DecoderReply checkExchange(const CommandBuffer &frame);
    // A write of the loco number fails only when all three are 255.
    DecoderReply addressWriteExchange(const CommandBuffer &frame);

    // Reads a CV with eight bit checks (and a ninth for 0 when no bit is set):
    // the value, NotFound, or Aborted. Stops at the first exchange without a
    // valid reply with NotFound.
    int ReadCVBits(int cv);

    // The first value from first to last that the decoder confirms for the
    // register: the value, NotFound, or Aborted. Stops at the first exchange
    // without a valid reply with NotFound.
    int FindValue(int address, int first, int last);

    // One check of CV 29 (Addressing::Check), with events processed after it.
    DecoderReply ProbeDecoder(int check);

    // Writes the loco number: CV 29 bit 5 and the address CVs. Every write is
    // sent even when an earlier one was not acknowledged; the writes stop at
    // the first exchange without a valid reply.
    enum class SetResult { Done, NotAcknowledged, NoReply };
    SetResult setLocoNumber(int number);

    struct Recognition
    {
        enum Outcome {
            Recognised,
            NotRecognised, // neither address kind confirmed, or a check unanswered
            NotFound,      // the address could not be read
        };
        Outcome outcome = NotRecognised;
        bool shortAddress = false;
        int number = 0;
        bool fourteenSteps = false; // the 14-step check was confirmed
        QString suffix;             // speed-step suffix of the message
        bool aborted = false;
    };
    // Finds out which address the decoder uses and reads it.
    Recognition recogniseLocoNumber();

private:
    DecoderReply exchange(const CommandBuffer &frame, const ExchangePolicy &policy, bool judgeP3);
    void processEvents();
    void searchStarts();
    int searchEnds(int result, bool aborted);

    CommandBuffer &m_buffer;
    ProgrammingObserver *m_observer;
    quint8 m_controller = 0;
    bool m_abortRequested = false;
};
