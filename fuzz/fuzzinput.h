#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Every fuzz target is a libFuzzer entry point. Built with clang and
// VELANTOR_FUZZ it links as a fuzzer; otherwise replay.cpp runs the files of a
// corpus through it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);

// Ends the run with a message when a property that must hold for every input
// does not: libFuzzer then keeps the input as a crash.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: property violated: %s\n", __FILE__, __LINE__,          \
                         #condition);                                                          \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

// Takes a fuzz input apart from the front. Past the end every read gives 0 or
// an empty piece, so any input is a valid one.
class FuzzInput
{
public:
    FuzzInput(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    bool atEnd() const { return m_pos >= m_size; }
    size_t remaining() const { return m_size - m_pos; }

    quint8 byte() { return atEnd() ? 0 : m_data[m_pos++]; }

    QByteArray bytes(size_t count)
    {
        const size_t n = count < remaining() ? count : remaining();
        QByteArray piece(reinterpret_cast<const char *>(m_data + m_pos), qsizetype(n));
        m_pos += n;
        return piece;
    }

    QByteArray rest() { return bytes(remaining()); }

    // Bytes up to (not including) the next zero byte, which is skipped.
    QByteArray untilZero()
    {
        size_t end = m_pos;
        while (end < m_size && m_data[end] != 0)
            ++end;
        QByteArray piece = bytes(end - m_pos);
        if (!atEnd())
            ++m_pos;
        return piece;
    }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_pos = 0;
};
