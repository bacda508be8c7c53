#pragma once

#include "locolist/decoderfields.h"
#include "locolist/programmer.h"

#include <QList>

#include <variant>

// The decoder tab's operations on the programming track, without a window:
// identify, factory reset, backup and restore. They run through a
// DecoderProgrammer and tell the window what happens through its
// ProgrammingObserver: searchRunning(true) before the first exchange and
// false after the last one of an abortable job, processEvents() after every
// exchange, progress() in per cent of the whole job, stage() with
// "CV n von m" before each CV of a backup or restore, aborted() once when a
// job was aborted. The caller switches the programming mode on and off around
// a job and takes its time, as for the other programming operations.
//
// Nothing counts as acknowledged without a valid reply, and a job ends at the
// first exchange that gets none.
class DecoderJobs
{
public:
    explicit DecoderJobs(DecoderProgrammer &programmer, ProgrammingObserver *observer = nullptr);

    void setObserver(ProgrammingObserver *observer);

    // The abort button while a job runs: the job stops after its current
    // exchange, before that exchange's reply is judged. A job clears a
    // request left from before it started.
    void requestAbort() { m_abortRequested = true; }
    bool abortRequested() const { return m_abortRequested; }

    // One CV read with the bit checks of "Wert suchen" (eight checks with
    // command 34, a ninth with command 33 for 0). DecoderProgrammer::ReadCVBits
    // sends the same checks but reports a silent controller like an
    // unconfirmed CV; a backup has to tell the two apart.
    struct CvRead
    {
        enum Outcome {
            Read,
            Unreadable, // answered, but the decoder confirmed nothing
            NoReply,    // an exchange got no valid reply
            Aborted,
        };
        Outcome outcome = Unreadable;
        int value = 0;
    };

    struct Identification
    {
        enum Outcome { Identified, Failed, Aborted };
        Outcome outcome = Failed;
        DecoderFields::CvValues values; // what was read, also when it failed
        int failedCv = 0;               // the CV that could not be read
    };
    // Reads CV 8, CV 7, CV 29, then CV 1 or CV 17 and CV 18 as bit 5 of CV 29
    // says; stops at the first CV that cannot be read.
    Identification identify();

    // Writes 8 to CV 8 (command 30, P1 = 8, P2 = 8, P3 = 0) as a single write
    // the user started: two attempts and the failure box of the exchange.
    DecoderReply factoryReset();

    struct Backup
    {
        enum Outcome {
            Done,
            NothingRead, // every CV answered, none was confirmed
            NoReply,     // the controller stopped answering
            Aborted,
        };
        Outcome outcome = NothingRead;
        DecoderFields::CvValues values;
        QList<int> unreadable;
        int failedCv = 0; // with NoReply: the CV being read
        // Only a Done backup is saved: an aborted or failed one writes nothing.
        bool worthSaving() const { return outcome == Done; }
    };
    // Reads the CVs first to last (1 to 1024); a CV the decoder does not
    // confirm is noted as unreadable and the backup goes on.
    Backup backup(int first, int last);

    struct Restore
    {
        enum Outcome { Done, Failed, NoReply, Aborted };
        Outcome outcome = Done;
        int count = 0;         // CVs to write
        int written = 0;       // written and confirmed by the verify
        QList<int> failed;     // not confirmed, with those never reached after a silent controller
        int failedCv = 0;      // with NoReply: the CV being written
    };
    // Writes each CV (command 30) and verifies it (command 33 with the
    // value); a CV counts as written when the verify is confirmed.
    Restore restore(const QList<DecoderFields::CvValue> &plan);

    // One of the four jobs, as the decoder tab asks for it, and its result.
    struct Job
    {
        enum Kind { Identify, FactoryReset, Backup, Restore };
        Kind kind = Identify;
        int first = 0; // Backup: the CV range
        int last = 0;
        QList<DecoderFields::CvValue> plan; // Restore: the CVs to write
    };
    using Outcome = std::variant<Identification, DecoderReply, Backup, Restore>;
    Outcome run(const Job &job);

private:
    // One CV, the index-th of count in the job (for the progress).
    CvRead readCv(int cv, int index, int count);
    void jobStarts();
    // Lets the window have its say after an exchange; true when the job is to
    // stop here.
    bool afterExchange();
    void jobEnds(bool aborted);

    DecoderProgrammer &m_programmer;
    ProgrammingObserver *m_observer;
    bool m_abortRequested = false;
};
