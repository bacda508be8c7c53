#pragma once

#include "link/commands.h"
#include "link/frame.h"
#include "locolist/clsloco.h"

#include <QList>
#include <QString>

#include <functional>

// The controller's loco list as plain code: the list walk, the writes and the
// restart, and the nodes the window's tree shows. Every exchange here is a
// window exchange: two attempts, the failure box, a 2-second time-out.
namespace LocoConfig {

using Limits::isLocoNumber;

// Puts loco before the first entry with a greater number, or at the end.
void insertInNumberOrder(QList<clsLoco> &list, const clsLoco &loco);

struct ReadResult
{
    QList<clsLoco> locos;
    // False when an exchange got no valid reply before the list ended; the
    // entries read until then are kept.
    bool complete = true;
};

// Walks the controller's list: the first entry, then next entries until a
// reply P1 of 255, handing each entry's number and flags to entry in the
// controller's order. The walk ends at the first exchange without a valid
// reply and then answers false; entries handed on until then stay valid.
bool walkLocoList(quint8 controller, const std::function<void(int number, quint8 flags)> &entry);

// The walk's entries sorted by loco number.
ReadResult readLocoList(quint8 controller);

// Writes one entry (flags 0 delete it). Numbers that are no loco number are refused
// without sending anything. True when the controller answered.
bool writeLocoEntry(quint8 controller, int number, quint8 flags);

// Restarts the controller so that it takes the written list into use. True
// when the controller answered.
bool restartController(quint8 controller);

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
