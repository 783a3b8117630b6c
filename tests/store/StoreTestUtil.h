#pragma once

#include "CardTree.h"
#include "MessagePump.h"
#include "ProgressSink.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

#include <functional>

namespace kelvo::test {

// Records the progress calls and the pumps, in one sequence, as short words,
// e.g. "ShowSave(3)", "Pump". Pass it as both the progress and the pump.
class RecordingProgress
    : public ProgressSink
    , public MessagePump
{
public:
    QStringList calls;
    std::function<void()> onPump;

    void ShowSaveProgress(int n) override { calls << QStringLiteral("ShowSave(%1)").arg(n); }
    void RefreshProgress() override { calls << QStringLiteral("Refresh"); }
    void StepProgress() override { calls << QStringLiteral("Step"); }
    void ShowLoadProgress() override { calls << QStringLiteral("ShowLoad"); }
    void CloseProgress() override { calls << QStringLiteral("Close"); }
    void pump() override
    {
        calls << QStringLiteral("Pump");
        if (onPump)
            onPump();
    }
};

// Labels in absolute order, joined by spaces, with depth shown by dots:
// "A .B .C D" for class A holding B and C, followed by D.
inline QString outline(const CardTree &tree)
{
    QStringList parts;
    tree.forEach([&parts](const CardNode *node) {
        parts << QString(node->depth(), QLatin1Char('.')) + QString::fromLatin1(node->label());
    });
    return parts.join(QLatin1Char(' '));
}

// Builds a tree from an outline as produced by outline() (ASCII labels).
// Every node gets a record: Kind 1 when its label starts with a lower-case
// letter, else 0.
void buildFromOutline(CardTree &tree, const QString &text);

// A figure of this process from /proc/self/status, in bytes ("VmRSS:" the
// resident memory, "VmHWM:" its peak), -1 where unknown.
qint64 processStatusBytes(QByteArrayView field);
inline qint64 residentBytes()
{
    return processStatusBytes("VmRSS:");
}

// Depth, label and every field, kind, date and display index of every node,
// a line each, for comparing trees to the bit.
QStringList describeNodes(const CardTree &tree);

// The data file of a random tree of `nodes` nodes: one in `classOneIn` a card
// class, the others cards, each under a class drawn at random (or at the top
// level); with `chainOneIn` > 0, one in so many goes under the last class
// made, which makes long chains. Each field is set one time in three, with up
// to 255 letters.
QByteArray randomDataFile(QRandomGenerator &random, int nodes, int classOneIn, int chainOneIn = 0);

} // namespace kelvo::test
