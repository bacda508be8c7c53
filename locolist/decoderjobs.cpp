#include "locolist/decoderjobs.h"

#include "link/commands.h"
#include "locolist/addressing.h"

using namespace DecoderFields;

namespace {

constexpr int BitsPerCv = 8;

ProgrammingObserver &defaultObserver()
{
    static ProgrammingObserver observer;
    return observer;
}

CommandBuffer bitCheck(int cv, int bit)
{
    return {0, Command::VerifyCVBit, bitByte(bit, 1), lowByte(cv), highByte(cv)};
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

DecoderJobs::CvRead DecoderJobs::readCv(int cv, int index, int count)
{
    CvRead read;
    for (int bit = 0; bit < BitsPerCv; ++bit) {
        const DecoderReply reply = m_programmer.checkExchange(bitCheck(cv, bit));
        if (afterExchange()) {
            read.outcome = CvRead::Aborted;
            return read;
        }
        if (reply == DecoderReply::NoReply) {
            read.outcome = CvRead::NoReply;
            return read;
        }
        if (reply == DecoderReply::Acknowledged)
            read.value |= 1 << bit;
        m_observer->progress(100.0 * (index + (bit + 1.0) / BitsPerCv) / count);
    }
    if (read.value != 0) {
        read.outcome = CvRead::Read;
        return read;
    }
    // No bit is 1: either the byte is 0 or the decoder confirms nothing.
    const DecoderReply reply = m_programmer.checkExchange(valueCheck(cv, 0));
    if (afterExchange())
        read.outcome = CvRead::Aborted;
    else if (reply == DecoderReply::NoReply)
        read.outcome = CvRead::NoReply;
    else
        read.outcome = reply == DecoderReply::Acknowledged ? CvRead::Read : CvRead::Unreadable;
    return read;
}

DecoderJobs::Identification DecoderJobs::identify()
{
    jobStarts();
    Identification result;
    QList<int> cvs = identityCvs();
    for (int i = 0; i < cvs.size(); ++i) {
        const int cv = cvs.at(i);
        // Until CV 29 is in, the longer of the two address kinds is assumed.
        const int count = i < 3 ? cvs.size() + 2 : int(cvs.size());
        const CvRead read = readCv(cv, i, count);
        if (read.outcome == CvRead::Aborted) {
            result.outcome = Identification::Aborted;
            jobEnds(true);
            return result;
        }
        if (read.outcome != CvRead::Read) {
            result.outcome = Identification::Failed;
            result.failedCv = cv;
            jobEnds(false);
            return result;
        }
        result.values.insert(cv, read.value);
        if (cv == Addressing::ConfigurationCv)
            cvs += addressCvs(read.value);
    }
    result.outcome = Identification::Identified;
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
    first = qMax(first, FirstCv);
    last = qMin(last, LastCv);
    const int count = qMax(0, last - first + 1);
    for (int i = 0; i < count; ++i) {
        const int cv = first + i;
        m_observer->stage(cvProgressText(i + 1, count));
        const CvRead read = readCv(cv, i, count);
        switch (read.outcome) {
        case CvRead::Read:
            result.values.insert(cv, read.value);
            break;
        case CvRead::Unreadable:
            result.unreadable << cv;
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

DecoderJobs::Restore DecoderJobs::restore(const QList<CvValue> &plan)
{
    jobStarts();
    Restore result;
    result.count = int(plan.size());
    const int exchanges = 2 * result.count;
    for (int i = 0; i < result.count; ++i) {
        const CvValue &entry = plan.at(i);
        m_observer->stage(cvProgressText(i + 1, result.count));
        // The write's own acknowledgement is not trusted on its own: some
        // decoders store without a pulse. The verify decides.
        DecoderReply reply = m_programmer.addressWriteExchange(valueWrite(entry.cv, entry.value));
        if (afterExchange()) {
            result.outcome = Restore::Aborted;
            jobEnds(true);
            return result;
        }
        m_observer->progress(100.0 * (2 * i + 1) / exchanges);
        if (reply != DecoderReply::NoReply) {
            reply = m_programmer.checkExchange(valueCheck(entry.cv, entry.value));
            if (afterExchange()) {
                result.outcome = Restore::Aborted;
                jobEnds(true);
                return result;
            }
            m_observer->progress(100.0 * (2 * i + 2) / exchanges);
        }
        if (reply == DecoderReply::NoReply) {
            // This CV and every later one stay unwritten.
            result.outcome = Restore::NoReply;
            result.failedCv = entry.cv;
            for (int j = i; j < result.count; ++j)
                result.failed << plan.at(j).cv;
            jobEnds(false);
            return result;
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
    case Job::Restore: return restore(job.plan);
    }
    return identify();
}
