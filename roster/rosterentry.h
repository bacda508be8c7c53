#pragma once

#include <QString>

#include <array>
#include <optional>

// One function's label as the roster keeps it. A function without a label
// has an empty text; lockable false means it is on only while its key is
// held (the horn), true that a press switches it on and the next one off.
struct FunctionLabel
{
    QString text;
    bool lockable = true;

    bool isEmpty() const { return text.trimmed().isEmpty(); }
    friend bool operator==(const FunctionLabel &, const FunctionLabel &) = default;
};

// One loco of the roster: what the window, the phones and the browser show
// of it. The file it comes from holds much more (decoder, CV values,
// attribute pairs, groups); that stays in the file.
struct RosterEntry
{
    // The functions the controller switches and the roster labels here: the
    // light (F0) and F1 to F12.
    static constexpr int MaxLabelledFunction = 12;
    // Addresses up to this one are short unless the roster says otherwise.
    static constexpr int MaxShortAddress = 127;

    QString id;           // the name, unique in the roster
    int address = 0;      // the DCC address, 1-10239
    // The roster's long/short flag; none when the file gives no locoaddress.
    std::optional<bool> longAddress;
    QString roadName;
    QString roadNumber;
    QString comment;      // line breaks as "\n"
    QString mfg;
    QString model;
    QString owner;
    QString maxSpeed;     // as the file has it
    QString iconFilePath;
    QString imageFilePath;
    // The loco's own file in the roster's "roster" folder; empty for a loco
    // not saved yet.
    QString fileName;
    std::array<FunctionLabel, MaxLabelledFunction + 1> labels{};

    bool isLong() const { return longAddress.value_or(address > MaxShortAddress); }
    const FunctionLabel &label(int function) const { return labels.at(std::size_t(function)); }
    bool hasLabel(int function) const
    {
        return function >= 0 && function <= MaxLabelledFunction && !label(function).isEmpty();
    }
    // A labelled function the roster marks as held only while pressed.
    bool isMomentary(int function) const { return hasLabel(function) && !label(function).lockable; }

    friend bool operator==(const RosterEntry &, const RosterEntry &) = default;
};
