#pragma once

#include <QList>
#include <QObject>

class QAction;
class QMenu;
class QTreeView;
class QWidget;

namespace kelvo {

class CardDetailPanel;
class CardTreeDragDrop;
class CardTreeHost;
class LabelEditDelegate;
class TreeCommands;

// Puts the tree commands, the in-place label editor, the drag handling, the
// tree's context menu and the card detail panel into place on a window that
// shows the card tree. The window's commands run the tree commands through
// commands().
class CardTreeControls : public QObject
{
    Q_OBJECT

public:
    // `panelArea` receives the detail panel, filling it.
    CardTreeControls(CardTreeHost &host, QTreeView *view, QWidget *panelArea, QObject *parent = nullptr);

    // Builds the context menu `pm` of the tree from `entries`, top to bottom;
    // nullptr stands for a separator. Entries run their own actions.
    QMenu *buildContextMenu(const QList<QAction *> &entries);

    TreeCommands &commands() const { return *m_commands; }
    CardDetailPanel *panel() const { return m_panel; }
    LabelEditDelegate *delegate() const { return m_delegate; }
    CardTreeDragDrop *dragDrop() const { return m_dragDrop; }
    QMenu *contextMenu() const { return m_contextMenu; }

private:
    QTreeView *m_view;
    TreeCommands *m_commands;
    CardDetailPanel *m_panel;
    LabelEditDelegate *m_delegate;
    CardTreeDragDrop *m_dragDrop;
    QMenu *m_contextMenu = nullptr;
};

} // namespace kelvo
