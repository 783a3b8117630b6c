#pragma once

#include <QModelIndex>
#include <QString>

class QTreeView;
class QWidget;

namespace kelvo {

class CardNode;
class CardTree;
class Dialogs;

// What the tree commands, the drag handling and the detail panel need from
// the window that shows the card tree: the tree itself, its view, the
// selected node, the `Modified` flag and the message boxes. The main window
// provides it; tests provide a small stand-in.
//
// Every change of the tree goes through CardTree, whose announcements raise
// `Modified` by themselves; the host is asked to raise it only where a rule
// raises it although nothing changed.
class CardTreeHost
{
public:
    virtual ~CardTreeHost() = default;

    virtual CardTree &cardTree() = 0;
    // The view showing the tree; may be nullptr where there is none.
    virtual QTreeView *treeView() = 0;
    virtual QModelIndex indexOfNode(CardNode *node) = 0;
    virtual CardNode *nodeOfIndex(const QModelIndex &index) = 0;

    // The node holding the selection focus, or nullptr.
    virtual CardNode *selectedNode() const = 0;
    virtual void selectNode(CardNode *node) = 0;

    // Raises `Modified` for a rule that raises it without a change.
    virtual void raiseModifiedWithoutChange() = 0;

    virtual Dialogs &dialogs() = 0;
    // The window that owns notices and questions.
    virtual QWidget *dialogOwner() = 0;

    // Shows the search window, modeless.
    virtual void showSearchWindow() = 0;

    // The UID a vCard written from the tree gives `card` (its permanent
    // identity); empty where the host keeps none.
    virtual QString cardUid(const CardNode *card)
    {
        (void)card;
        return QString();
    }
    // Identities given out by cardUid() are kept for the next start.
    virtual void keepCardUids() {}
};

} // namespace kelvo
