#include "locolist/decoderjobs.h"

#include "link/commands.h"
#include "locolist/addressing.h"

#include <optional>

using namespace DecoderFields;

namespace {

constexpr int BitsPerCv = 8;

ProgrammingObserver &defaultObserver()
{
    static ProgrammingObserver observer;
    return observer;
}

CommandBuffer bitCheck(int cv, int bit, int bitValue = 1)
{
    return {0, Command::VerifyCVBit, bitByte(bit, bitValue), lowByte(cv), highByte(cv)};
}

CommandBuffer valueCheck(int cv, int value)
{
    return {0, Command::VerifyCV, quint8(value), lowByte(cv), highByte(cv)};
}

CommandBuffer valueWrite(int cv, int value)
{
    return {0, Command::WriteCV, quint8(value), lowByte(cv), highByte(cv)};
}

} // namespace

DecoderJobs::DecoderJobs(DecoderProgrammer &programmer, ProgrammingObserver *observer)
    : m_programmer(programmer)
    , m_observer(observer ? observer : &defaultObserver())
{
}

void DecoderJobs::setObserver(ProgrammingObserver *observer)
{
    m_observer = observer ? observer : &defaultObserver();
}

void DecoderJobs::jobStarts()
{
    m_abortRequested = false;
    m_observer->searchRunning(true);
}

bool DecoderJobs::afterExchange()
{
    m_observer->processEvents();
    return m_abortRequested;
}

void DecoderJobs::jobEnds(bool aborted)
{
    m_observer->searchRunning(false);
    if (!aborted)
        return;
    m_abortRequested = false;
    m_observer->aborted();
}

DecoderJobs::Check DecoderJobs::check(const CommandBuffer &frame)
{
    const DecoderReply reply = m_programmer.checkExchange(frame);
    if (afterExchange())
        return Check::Aborted;
    switch (reply) {
    case DecoderReply::Acknowledged: return Check::Acknowledged;
    case DecoderReply::NotAcknowledged: return Check::NotAcknowledged;
    case DecoderReply::NoReply: break;
    }
    return Check::NoReply;
}

namespace {

// A check that ends the read: the controller silent or the user's abort.
std::optional<DecoderJobs::CvRead::Outcome> stops(DecoderJobs::Check result)
{
    if (result == DecoderJobs::Check::NoReply)
        return DecoderJobs::CvRead::NoReply;
    if (result == DecoderJobs::Check::Aborted)
        return DecoderJobs::CvRead::Aborted;
    return std::nullopt;
}

// The quick look's verdict as a job's outcome: true when no decoder answered
// (or the controller did not, or the user aborted) and the job ends here.
template<typename Result>
bool endsBeforeStart(const DecoderJobs::CvRead &look, Result &result,
                     typename Result::Outcome silent)
{
    using Read = DecoderJobs::CvRead;
    if (look.outcome == Read::Read)
        return false;
    result.outcome = look.outcome == Read::Aborted      ? Result::Aborted
                     : look.outcome == Read::Unreadable ? Result::NoDecoder
                                                        : silent;
    result.failedCv = look.outcome == Read::NoReply ? look.value : 0;
    return true;
}

} // namespace

DecoderJobs::CvRead DecoderJobs::readOnce(int cv, int index, int count)
{
    CvRead read;
    auto stopped = [&read](Check result) {
        if (const auto outcome = stops(result)) {
            read.outcome = *outcome;
            return true;
        }
        return false;
    };
    auto showBit = [&](int bit) {
        if (count > 0)
            m_observer->progress(100.0 * (index + (bit + 1.0) / (BitsPerCv + 1)) / count);
    };

    // Bit 0 for 1, then for 0: a decoder answers one of the two for every
    // CV it has, so two silences mean the CV is not there.
    Check result = check(bitCheck(cv, 0, 1));
    if (stopped(result))
        return read;
    if (result == Check::NotAcknowledged) {
        result = check(bitCheck(cv, 0, 0));
        if (stopped(result))
            return read;
        if (result == Check::NotAcknowledged) {
            read.outcome = CvRead::Unreadable;
            return read;
        }
    } else {
        read.value = 1;
    }
    showBit(0);
    for (int bit = 1; bit < BitsPerCv; ++bit) {
        result = check(bitCheck(cv, bit));
        if (stopped(result))
            return read;
        if (result == Check::Acknowledged)
            read.value |= 1 << bit;
        showBit(bit);
    }
    // A lost pulse reads a 1 as 0; the decoder does not confirm that value.
    result = check(valueCheck(cv, read.value));
    if (stopped(result))
        return read;
    read.outcome = result == Check::Acknowledged ? CvRead::Read : CvRead::Uncertain;
    return read;
}

DecoderJobs::CvRead DecoderJobs::readCv(int cv, int index, int count)
{
    // A CV every decoder has is not given up on two silent checks: one lost
    // pulse would be enough.
    const bool everyDecoderHasIt =
        presenceCvs().contains(cv) || cv == Addressing::ConfigurationCv;
    bool answered = false;
    CvRead read;
    for (int attempt = 0; attempt < ReadsPerCv; ++attempt) {
        read = readOnce(cv, index, attempt == 0 ? count : 0);
        if (read.outcome == CvRead::Uncertain)
            answered = true;
        else if (read.outcome != CvRead::Unreadable || (!answered && !everyDecoderHasIt))
            break;
    }
    if (read.outcome == CvRead::Unreadable && answered)
        read.outcome = CvRead::Uncertain;
    if (count > 0 && (read.outcome == CvRead::Read || read.outcome == CvRead::Unreadable
                      || read.outcome == CvRead::Uncertain))
        m_observer->progress(100.0 * (index + 1) / count);
    return read;
}

DecoderJobs::CvRead DecoderJobs::lookForDecoder()
{
    CvRead look;
    for (int cv : presenceCvs()) {
        for (int bitValue : {1, 0}) {
            const Check result = check(bitCheck(cv, 0, bitValue));
            if (const auto outcome = stops(result)) {
                look.outcome = *outcome;
                look.value = cv;
                return look;
            }
            if (result == Check::Acknowledged) {
                look.outcome = CvRead::Read;
                return look;
            }
        }
    }
    look.outcome = CvRead::Unreadable;
    return look;
}

DecoderJobs::Identification DecoderJobs::identify()
{
    jobStarts();
    Identification result;
    const CvRead look = lookForDecoder();
    if (endsBeforeStart(look, result, Identification::Failed)) {
        jobEnds(look.outcome == CvRead::Aborted);
        return result;
    }
    QList<int> cvs = identityCvs();
    for (int i = 0; i < cvs.size(); ++i) {
        const int cv = cvs.at(i);
        // Until CV 29 is in, the longer of the two address kinds is assumed.
        const int count = i < 3 ? cvs.size() + 2 : int(cvs.size());
        const CvRead read = readCv(cv, i, count);
        switch (read.outcome) {
        case CvRead::Aborted:
            result.outcome = Identification::Aborted;
            jobEnds(true);
            return result;
        case CvRead::Unreadable:
        case CvRead::NoReply:
            result.outcome = Identification::Failed;
            result.failedCv = cv;
            jobEnds(false);
            return result;
        case CvRead::Uncertain:
            result.uncertain << cv;
            break;
        case CvRead::Read:
            result.values.insert(cv, read.value);
            if (cv == Addressing::ConfigurationCv)
                cvs += addressCvs(read.value);
            break;
        }
    }
    if (result.uncertain.isEmpty()) {
        result.outcome = Identification::Identified;
    } else {
        result.outcome = Identification::Failed;
        result.failedCv = result.uncertain.first();
    }
    m_observer->progress(100.0);
    jobEnds(false);
    return result;
}

DecoderReply DecoderJobs::factoryReset()
{
    return m_programmer.singleExchange(
        {0, Command::WriteCV, quint8(ResetValue), quint8(MakerCv), 0});
}

DecoderJobs::Backup DecoderJobs::backup(int first, int last)
{
    jobStarts();
    Backup result;
    const CvRead look = lookForDecoder();
    if (endsBeforeStart(look, result, Backup::NoReply)) {
        jobEnds(look.outcome == CvRead::Aborted);
        return result;
    }
    first = qMax(first, FirstCv);
    last = qMin(last, LastCv);
    QList<int> cvs;
    for (int cv = first; cv <= last; ++cv)
        cvs << cv;
    const int count = int(cvs.size());
    // Maker and version for the file's head come from this job only.
    for (int cv : {MakerCv, VersionCv}) {
        if (cv < first || cv > last)
            cvs << cv;
    }
    for (int i = 0; i < cvs.size(); ++i) {
        const int cv = cvs.at(i);
        const bool inRange = i < count;
        if (inRange)
            m_observer->stage(cvProgressText(i + 1, count));
        const CvRead read = readCv(cv, i, int(cvs.size()));
        switch (read.outcome) {
        case CvRead::Read:
            if (inRange)
                result.values.insert(cv, read.value);
            if (cv == MakerCv || cv == VersionCv)
                result.identity.insert(cv, read.value);
            break;
        case CvRead::Unreadable:
            if (inRange)
                result.unreadable << cv;
            break;
        case CvRead::Uncertain:
            if (inRange)
                result.uncertain << cv;
            break;
        case CvRead::NoReply:
            result.outcome = Backup::NoReply;
            result.failedCv = cv;
            jobEnds(false);
            return result;
        case CvRead::Aborted:
            result.outcome = Backup::Aborted;
            jobEnds(true);
            return result;
        }
    }
    result.outcome = result.values.isEmpty() ? Backup::NothingRead : Backup::Done;
    jobEnds(false);
    return result;
}

DecoderJobs::Restore DecoderJobs::restore(const QList<CvValue> &plan,
                                          const RestoreQuestion &question)
{
    jobStarts();
    Restore result;
    result.count = int(plan.size());
    auto ends = [&](Restore::Outcome outcome, int cv) {
        result.outcome = outcome;
        result.failedCv = cv;
        jobEnds(outcome == Restore::Aborted);
        return result;
    };
    // Stopped before the first write: nothing written, the first CV is
    // where it stopped.
    auto before = [&](Restore::Outcome outcome) {
        for (const CvValue &entry : plan)
            result.failed << entry.cv;
        return ends(outcome, outcome == Restore::NoReply && !plan.isEmpty() ? plan.first().cv : 0);
    };
    const CvRead look = lookForDecoder();
    if (look.outcome == CvRead::Aborted)
        return before(Restore::Aborted);
    if (look.outcome == CvRead::NoReply)
        return before(Restore::NoReply);
    if (look.outcome == CvRead::Unreadable)
        return before(Restore::NoDecoder);
    // What stands on the track, for the question.
    for (int cv : {MakerCv, VersionCv}) {
        const CvRead read = readCv(cv, 0, 0);
        if (read.outcome == CvRead::Aborted)
            return before(Restore::Aborted);
        if (read.outcome == CvRead::NoReply)
            return before(Restore::NoReply);
        if (read.outcome == CvRead::Read)
            result.trackIdentity.insert(cv, read.value);
    }
    if (question && !question(result.trackIdentity))
        return before(Restore::Declined);

    const int exchanges = 2 * result.count;
    for (int i = 0; i < result.count; ++i) {
        const CvValue &entry = plan.at(i);
        m_observer->stage(cvProgressText(i + 1, result.count));
        // The write's own acknowledgement is not trusted on its own: some
        // decoders store without a pulse. The verify decides.
        DecoderReply reply = m_programmer.addressWriteExchange(valueWrite(entry.cv, entry.value));
        if (afterExchange())
            return ends(Restore::Aborted, entry.cv);
        m_observer->progress(100.0 * (2 * i + 1) / exchanges);
        if (reply != DecoderReply::NoReply) {
            reply = m_programmer.checkExchange(valueCheck(entry.cv, entry.value));
            if (afterExchange())
                return ends(Restore::Aborted, entry.cv);
            m_observer->progress(100.0 * (2 * i + 2) / exchanges);
        }
        if (reply == DecoderReply::NoReply) {
            // This CV and every later one stay unwritten.
            for (int j = i; j < result.count; ++j)
                result.failed << plan.at(j).cv;
            return ends(Restore::NoReply, entry.cv);
        }
        if (reply == DecoderReply::Acknowledged)
            ++result.written;
        else
            result.failed << entry.cv;
    }
    result.outcome = result.failed.isEmpty() ? Restore::Done : Restore::Failed;
    jobEnds(false);
    return result;
}

DecoderJobs::Outcome DecoderJobs::run(const Job &job)
{
    switch (job.kind) {
    case Job::Identify: return identify();
    case Job::FactoryReset: return factoryReset();
    case Job::Backup: return backup(job.first, job.last);
    case Job::Restore: return restore(job.plan, job.question);
    }
    return identify();
}
