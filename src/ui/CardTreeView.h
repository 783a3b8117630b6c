#pragma once

#include <QTimer>
#include <QTreeView>

namespace kelvo {

class CardNode;
class CardTreeModel;

// The card tree control: several nodes may be selected, but the node holding
// the focus (the current index) is "the selected node" every command acts
// on. Selecting a node expands it and collapses the branch of the node that
// lost the selection. A change of the selected node is reported once, a
// short delay after the last of several quick changes.
class CardTreeView : public QTreeView
{
    Q_OBJECT

public:
    static constexpr int ChangeDelayMs = 50;
    static constexpr int IndentationPx = 19;

    explicit CardTreeView(QWidget *parent = nullptr);

    void setCardModel(CardTreeModel *model);
    CardTreeModel *cardModel() const { return m_model; }

    CardNode *selectedNode() const;
    // Makes `node` the selected node (the only selected one) and scrolls to
    // it; nullptr clears the selection.
    void selectNode(CardNode *node);

Q_SIGNALS:
    // The selected node after the change delay (nullptr: none).
    void selectionSettled(kelvo::CardNode *node);

protected:
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;

private:
    void collapseBranchOf(const QModelIndex &previous, const QModelIndex &current);

    CardTreeModel *m_model = nullptr;
    QTimer m_changeTimer;
};

} // namespace kelvo
