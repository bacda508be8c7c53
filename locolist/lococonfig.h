#pragma once

#include "link/frame.h"
#include "locolist/clsloco.h"

#include <QList>
#include <QString>

// The controller's loco list as plain code: the list walk, the writes and the
// restart, and the nodes the window's tree shows. Every exchange here uses two
// attempts, the failure box and a 2-second time-out.
namespace LocoConfig {

constexpr int MinLocoNumber = 1;
constexpr int MaxLocoNumber = 10239;
constexpr bool isLocoNumber(int number)
{
    return number >= MinLocoNumber && number <= MaxLocoNumber;
}

// Puts loco before the first entry with a greater number, or at the end.
void insertInNumberOrder(QList<clsLoco> &list, const clsLoco &loco);

struct ReadResult
{
    QList<clsLoco> locos;
    // False when an exchange got no valid reply before the list ended; the
    // entries read until then are kept.
    bool complete = true;
};

// Walks the controller's list (first entry, then next entries until a reply
// P1 of 255) and returns it sorted by loco number. The walk ends at the first
// exchange without a valid reply: the request still in the buffer describes
// no entry.
ReadResult readLocoList(CommandBuffer &buffer, quint8 controller);

// Writes one entry (flags 0 delete it). Numbers outside 1 to 10239 are refused
// without sending anything. True when the controller answered.
bool writeLocoEntry(CommandBuffer &buffer, quint8 controller, int number, quint8 flags);

// Restarts the controller so that it takes the written list into use. True
// when the controller answered.
bool restartController(CommandBuffer &buffer, quint8 controller);

// "14 Fahrstufen", "28 Fahrstufen", "126 Fahrstufen" or "undef. Fahrstufen".
QString speedStepText(int speedStepMode);
// "Fahrtrichtung: vorwärts" / "rückwärts"; other values add nothing.
QString directionText(int direction);

// One loco of the tree: the loco node and its two children.
struct TreeNode
{
    QString key;
    QString text;
};
struct LocoNodes
{
    TreeNode loco;        // "3#", "3"
    TreeNode speedSteps;  // "3#fs", "28 Fahrstufen"
    TreeNode direction;   // "3#fr", "Fahrtrichtung: vorwärts"
};
LocoNodes treeNodes(const clsLoco &loco);

// The loco number of any node key ("3#", "3#fs"); 0 when it names none.
int locoNumberOfNodeKey(const QString &key);

// The speed-step code a toolbar key asks for: 2 for "btn28", 3 for "btn126",
// 1 otherwise; and the speed steps the key names ("14", "28", "126").
quint8 speedStepCodeOfKey(const QString &key);
QString speedStepsOfKey(const QString &key);

} // namespace LocoConfig
