#pragma once

#include <QStyledItemDelegate>

class QAbstractItemView;

namespace kelvo {

class CardTreeHost;
class TreeCommands;

// In-place label editing of the card tree. Opening an editor runs the start
// check (which may refuse: then no editor opens); confirming it (Enter or
// leaving the editor) runs the finish step, whose answer becomes the node's
// label through the store, so the view learns of it by the tree's
// announcement. Escape closes the editor with no finish step.
class LabelEditDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    LabelEditDelegate(CardTreeHost &host, TreeCommands &commands, QObject *parent = nullptr);

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;

    // Where `index` draws its icon and its label text, in viewport
    // coordinates (not the indentation, the expand button, nor the empty
    // room to the right of the label).
    QRect iconAndLabelRect(const QAbstractItemView &view, const QModelIndex &index) const;

private:
    CardTreeHost &m_host;
    TreeCommands &m_commands;
    mutable bool m_finishing = false;
};

} // namespace kelvo
