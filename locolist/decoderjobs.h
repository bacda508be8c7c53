#pragma once

#include "locolist/decoderfields.h"
#include "locolist/programmer.h"

#include <QList>

#include <functional>

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
// first exchange that gets none. A value counts as read only when the decoder
// confirmed the whole byte (command 33) after the bit checks: a lost
// acknowledgement pulse makes a bit check look like 0, and the byte check of
// that wrong value fails. Before identify, backup and restore a quick look at
// CV 1, 7 and 8 tells an empty track within a few checks.
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

    // One CV read and confirmed. Bit 0 is checked for 1 and, when that is
    // not acknowledged, for 0: neither acknowledged, the decoder lacks the CV
    // (two checks). Then bits 1 to 7 are checked for 1 and the byte for the
    // value found (command 33); a byte check that is not acknowledged reads
    // the CV again, at most twice more. CV 1, 7, 8 and 29, which every
    // decoder has, are read again also when bit 0 stayed silent.
    struct CvRead
    {
        enum Outcome {
            Read,       // confirmed by the byte check
            Unreadable, // the decoder lacks the CV: bit 0 neither 1 nor 0
            Uncertain,  // answered, but no read was confirmed
            NoReply,    // an exchange got no valid reply
            Aborted,
        };
        Outcome outcome = Unreadable;
        int value = 0;
    };
    static constexpr int ReadsPerCv = 3;

    struct Identification
    {
        enum Outcome { Identified, Failed, Aborted, NoDecoder };
        Outcome outcome = Failed;
        DecoderFields::CvValues values; // what was confirmed, also when it failed
        QList<int> uncertain;           // answered, never confirmed
        int failedCv = 0;               // the CV that could not be read
    };
    // Reads CV 8, CV 7, CV 29, then CV 1 or CV 17 and CV 18 as bit 5 of CV 29
    // says; stops at the first CV the decoder lacks or the controller leaves
    // unanswered. An uncertain CV fails the identification but the others are
    // still read (without the address when CV 29 is uncertain).
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
            NoDecoder,   // nothing answered the quick look
        };
        Outcome outcome = NothingRead;
        DecoderFields::CvValues values; // confirmed values only
        QList<int> unreadable;          // CVs the decoder lacks
        QList<int> uncertain;           // answered, never confirmed
        // CV 7 and CV 8 as this job confirmed them (read for the file's head
        // when the range leaves them out).
        DecoderFields::CvValues identity;
        int failedCv = 0; // with NoReply: the CV being read
        // Only a Done backup is saved: an aborted or failed one writes nothing.
        bool worthSaving() const { return outcome == Done; }
    };
    // Reads the CVs first to last (1 to 1024); a CV the decoder lacks is
    // noted as unreadable, one never confirmed as uncertain, and the backup
    // goes on: a long run of missing CVs is a decoder's gap. CV 7 and CV 8
    // are read as well when the range leaves them out.
    Backup backup(int first, int last);

    struct Restore
    {
        enum Outcome { Done, Failed, NoReply, Aborted, NoDecoder, Declined };
        Outcome outcome = Done;
        int count = 0;         // CVs to write
        int written = 0;       // written and confirmed by the verify
        QList<int> failed;     // not confirmed, with those never reached after a silent controller
        int failedCv = 0;      // with NoReply or Aborted: the CV being written
        DecoderFields::CvValues trackIdentity; // CV 7 and CV 8 of the decoder on the track
    };
    // Asked before the first write with CV 7 and CV 8 of the decoder on the
    // track (those confirmed); false declines the restore.
    using RestoreQuestion = std::function<bool(const DecoderFields::CvValues &trackIdentity)>;
    // Looks for the decoder, reads its CV 7 and CV 8 and asks question (if
    // any); then writes each CV (command 30) and verifies it (command 33 with
    // the value); a CV counts as written when the verify is confirmed.
    Restore restore(const QList<DecoderFields::CvValue> &plan,
                    const RestoreQuestion &question = {});

    // One of the four jobs, as the decoder tab asks for it, and its result.
    struct Job
    {
        enum Kind { Identify, FactoryReset, Backup, Restore };
        Kind kind = Identify;
        int first = 0; // Backup: the CV range
        int last = 0;
        QList<DecoderFields::CvValue> plan; // Restore: the CVs to write
        RestoreQuestion question;           // Restore: asked before writing
    };
    using Outcome = std::variant<Identification, DecoderReply, Backup, Restore>;
    Outcome run(const Job &job);

    // How one check of a job ended.
    enum class Check { Acknowledged, NotAcknowledged, NoReply, Aborted };

private:
    // One check with the window's say after it.
    Check check(const CommandBuffer &frame);
    // One CV, the index-th of count in the job (for the progress; no
    // progress with count 0).
    CvRead readCv(int cv, int index, int count);
    // One read of the bits and the byte check of the value found.
    CvRead readOnce(int cv, int index, int count);
    // The quick look at CV 1, 7 and 8: Read when any of them answers bit 0,
    // Unreadable when none does.
    CvRead lookForDecoder();
    void jobStarts();
    // Lets the window have its say after an exchange; true when the job is to
    // stop here.
    bool afterExchange();
    void jobEnds(bool aborted);

    DecoderProgrammer &m_programmer;
    ProgrammingObserver *m_observer;
    bool m_abortRequested = false;
};
