#pragma once

// Sets a flag for the length of a scope and gives it back its earlier value
// at the end, also on an early return: "the speed command is suppressed
// while I set the slider", "the window is busy while this operation runs".
class FlagScope
{
public:
    explicit FlagScope(bool &flag)
        : m_flag(flag)
        , m_before(flag)
    {
        m_flag = true;
    }
    ~FlagScope() { m_flag = m_before; }
    FlagScope(const FlagScope &) = delete;
    FlagScope &operator=(const FlagScope &) = delete;

private:
    bool &m_flag;
    bool m_before;
};
