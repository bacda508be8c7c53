#include "locolist/programmer.h"

#include "common/lineboxes.h"
#include "link/commands.h"
#include "link/exchange.h"
#include "locolist/addressing.h"

#include <QCoreApplication>

namespace {

ProgrammingObserver &defaultObserver()
{
    static ProgrammingObserver observer;
    return observer;
}

} // namespace

void ProgrammingObserver::processEvents()
{
    QCoreApplication::processEvents();
}

DecoderProgrammer::DecoderProgrammer(CommandBuffer &buffer, ProgrammingObserver *observer)
    : m_buffer(buffer)
    , m_observer(observer ? observer : &defaultObserver())
{
}

void DecoderProgrammer::setObserver(ProgrammingObserver *observer)
{
    m_observer = observer ? observer : &defaultObserver();
}

void DecoderProgrammer::SetProgMode(bool on)
{
    m_buffer = CommandBuffer{m_controller, Command::SetParameter, 0, Parameter::TrackOutput,
                             on ? TrackMode::Programming : TrackMode::Off};
    const ExchangeResult result = RunWindowExchange(m_buffer, Exchange::Background);
    if (result.reply)
        m_buffer = *result.reply;
}

DecoderReply DecoderProgrammer::exchange(const CommandBuffer &frame, const ExchangePolicy &policy,
                                         bool judgeP3)
{
    m_buffer = frame;
    m_buffer.controller = m_controller;
    const ExchangeResult result = RunWindowExchange(m_buffer, policy);
    // Without a valid reply nothing is known about the decoder.
    if (!result.reply)
        return DecoderReply::NoReply;
    m_buffer = *result.reply;
    const CommandBuffer &reply = *result.reply;
    const bool acknowledged = reply.p1 != NothingToReport || reply.p2 != NothingToReport
                              || (judgeP3 && reply.p3 != NothingToReport);
    return acknowledged ? DecoderReply::Acknowledged : DecoderReply::NotAcknowledged;
}

DecoderReply DecoderProgrammer::singleExchange(const CommandBuffer &frame)
{
    return exchange(frame, Exchange::Window, true);
}

DecoderReply DecoderProgrammer::checkExchange(const CommandBuffer &frame)
{
    return exchange(frame, Exchange::Background, false);
}

DecoderReply DecoderProgrammer::addressWriteExchange(const CommandBuffer &frame)
{
    return exchange(frame, Exchange::Background, true);
}

void DecoderProgrammer::processEvents()
{
    m_observer->processEvents();
}

void DecoderProgrammer::searchStarts()
{
    m_observer->searchRunning(true);
    m_abortRequested = false;
}

int DecoderProgrammer::searchEnds(int result, bool aborted)
{
    m_observer->searchRunning(false);
    if (!aborted)
        return result;
    m_abortRequested = false;
    m_observer->aborted();
    return Aborted;
}

int DecoderProgrammer::ReadCVBits(int cv)
{
    searchStarts();
    int value = 0;
    bool aborted = false;
    bool unanswered = false;
    for (int bit = 0; bit < 8; ++bit) {
        m_observer->progress(100.0 / 8.0 * (bit + 1));
        const DecoderReply reply = checkExchange(
            {0, Command::VerifyCVBit, bitByte(bit, 1), lowByte(cv), highByte(cv)});
        processEvents();
        if (m_abortRequested) {
            aborted = true;
            break;
        }
        if (reply == DecoderReply::NoReply) {
            unanswered = true;
            break;
        }
        if (reply == DecoderReply::Acknowledged)
            value += 1 << bit;
    }
    int result = value;
    if (unanswered) {
        result = NotFound;
    } else if (!aborted && value == 0) {
        // No bit is 1: either the byte is 0 or the decoder answers nothing.
        const DecoderReply reply =
            checkExchange({0, Command::VerifyCV, 0, lowByte(cv), highByte(cv)});
        result = reply == DecoderReply::Acknowledged ? 0 : NotFound;
    }
    return searchEnds(result, aborted);
}

int DecoderProgrammer::FindValue(int address, int first, int last)
{
    searchStarts();
    int result = NotFound;
    bool aborted = false;
    const int count = last - first + 1;
    for (int value = first; value <= last; ++value) {
        m_observer->progress(100.0 / count * (value - first + 1));
        const DecoderReply reply =
            checkExchange({0, Command::VerifyRegister, quint8(value), quint8(address), 0});
        processEvents();
        if (m_abortRequested) {
            aborted = true;
            break;
        }
        if (reply == DecoderReply::NoReply)
            break;
        if (reply == DecoderReply::Acknowledged) {
            m_observer->progress(100.0);
            result = value;
            break;
        }
    }
    return searchEnds(result, aborted);
}

DecoderReply DecoderProgrammer::ProbeDecoder(int check)
{
    const DecoderReply reply = checkExchange(Addressing::checkFrame(check));
    processEvents();
    return reply;
}

DecoderProgrammer::SetResult DecoderProgrammer::setLocoNumber(int number)
{
    SetResult result = SetResult::Done;
    for (const CommandBuffer &write : Addressing::addressWrites(number)) {
        const DecoderReply reply = addressWriteExchange(write);
        if (reply == DecoderReply::NoReply)
            return SetResult::NoReply;
        if (reply == DecoderReply::NotAcknowledged)
            result = SetResult::NotAcknowledged;
    }
    return result;
}

DecoderProgrammer::Recognition DecoderProgrammer::recogniseLocoNumber()
{
    Recognition recognition;
    DecoderReply replies[4];
    const int order[4] = {Addressing::LongAddressCheck, Addressing::ShortAddressCheck,
                          Addressing::FourteenStepsCheck, Addressing::ManyStepsCheck};
    for (int i = 0; i < 4; ++i) {
        replies[i] = ProbeDecoder(order[i]);
        // A controller that stopped answering tells nothing about the decoder.
        if (replies[i] == DecoderReply::NoReply)
            return recognition;
    }
    const bool longConfirmed = replies[0] == DecoderReply::Acknowledged;
    const bool shortConfirmed = replies[1] == DecoderReply::Acknowledged;
    recognition.fourteenSteps = replies[2] == DecoderReply::Acknowledged;
    const bool manySteps = replies[3] == DecoderReply::Acknowledged;
    recognition.suffix = Addressing::speedStepSuffix(recognition.fourteenSteps, manySteps);

    if (shortConfirmed) {
        recognition.shortAddress = true;
        m_observer->stage(QStringLiteral("Niedrige Lok-Nummern erkannt ..."));
        const int number = ReadCVBits(Addressing::AddressCv);
        if (number < 0) {
            recognition.outcome = Recognition::NotFound;
            recognition.aborted = number == Aborted;
            return recognition;
        }
        recognition.outcome = Recognition::Recognised;
        recognition.number = number;
        return recognition;
    }
    if (!longConfirmed)
        return recognition;

    m_observer->stage(QStringLiteral("Hohe Lok-Nummern erkannt ..."));
    recognition.outcome = Recognition::NotFound;
    const int high = ReadCVBits(Addressing::LongAddressHighCv);
    if (high < 0) {
        recognition.aborted = high == Aborted;
        return recognition;
    }
    const int low = ReadCVBits(Addressing::LongAddressLowCv);
    if (low < 0) {
        recognition.aborted = low == Aborted;
        return recognition;
    }
    // A CV 17 without the long-address mark holds no long address.
    const auto number = Addressing::decodeLongAddress(high, low);
    if (!number)
        return recognition;
    recognition.outcome = Recognition::Recognised;
    recognition.number = *number;
    return recognition;
}
