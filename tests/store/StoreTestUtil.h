#pragma once

#include "CardTree.h"
#include "MessagePump.h"
#include "ProgressSink.h"

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

} // namespace kelvo::test
