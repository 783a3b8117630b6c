#include "CardTreeControls.h"

#include "CardDetailPanel.h"
#include "CardTreeDragDrop.h"
#include "CardTreeHost.h"
#include "LabelEditDelegate.h"
#include "TreeCommands.h"

#include <QAction>
#include <QBoxLayout>
#include <QMenu>
#include <QTreeView>

namespace kelvo {

CardTreeControls::CardTreeControls(CardTreeHost &host, QTreeView *view, QWidget *panelArea, QObject *parent)
    : QObject(parent)
    , m_view(view)
    , m_commands(new TreeCommands(host, nullptr, this))
    , m_panel(new CardDetailPanel(host, panelArea))
    , m_delegate(new LabelEditDelegate(host, *m_commands, view))
    , m_dragDrop(new CardTreeDragDrop(view, host, *m_commands, m_delegate, this))
{
    m_commands->setPanel(m_panel);
    view->setItemDelegate(m_delegate);
    // Labels are edited only through the commands and a double-click.
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);

    if (panelArea) {
        auto *layout = qobject_cast<QBoxLayout *>(panelArea->layout());
        if (!panelArea->layout()) {
            layout = new QVBoxLayout(panelArea);
            layout->setContentsMargins(0, 0, 0, 0);
            layout->setSpacing(0);
        }
        if (layout)
            layout->addWidget(m_panel);
        else
            panelArea->layout()->addWidget(m_panel);
    }
}

QMenu *CardTreeControls::buildContextMenu(const QList<QAction *> &entries)
{
    delete m_contextMenu;
    m_contextMenu = new QMenu(m_view);
    m_contextMenu->setObjectName(QStringLiteral("pm"));
    m_contextMenu->setAccessibleName(QStringLiteral("名片树菜单"));
    for (QAction *action : entries) {
        if (action)
            m_contextMenu->addAction(action);
        else
            m_contextMenu->addSeparator();
    }
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_view, &QWidget::customContextMenuRequested, m_contextMenu,
            [this](const QPoint &pos) { m_contextMenu->popup(m_view->viewport()->mapToGlobal(pos)); });
    return m_contextMenu;
}

} // namespace kelvo
