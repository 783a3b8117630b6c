#include "CardTreeView.h"

#include "CardTreeModel.h"

#include <QHeaderView>

namespace kelvo {

CardTreeView::CardTreeView(QWidget *parent)
    : QTreeView(parent)
{
    setObjectName(QStringLiteral("tvCard"));
    setAccessibleName(tr("名片树"));
    setHeaderHidden(true);
    setIndentation(IndentationPx);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(16, 16));
    setExpandsOnDoubleClick(false);

    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::white);
    setPalette(pal);

    m_changeTimer.setSingleShot(true);
    m_changeTimer.setInterval(ChangeDelayMs);
    connect(&m_changeTimer, &QTimer::timeout, this, [this] { Q_EMIT selectionSettled(selectedNode()); });
}

void CardTreeView::setCardModel(CardTreeModel *model)
{
    m_model = model;
    setModel(model);
}

CardNode *CardTreeView::selectedNode() const
{
    return CardTreeModel::nodeOfIndex(currentIndex());
}

void CardTreeView::selectNode(CardNode *node)
{
    if (!m_model || !selectionModel())
        return;
    const QModelIndex index = m_model->indexOfNode(node);
    if (!index.isValid()) {
        selectionModel()->clear();
        return;
    }
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
}

void CardTreeView::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QTreeView::currentChanged(current, previous);
    if (previous.isValid())
        collapseBranchOf(previous, current);
    if (current.isValid()) {
        // Opening the node's ancestors happens in scrollTo.
        expand(current);
        scrollTo(current);
    }
    m_changeTimer.start();
}

void CardTreeView::collapseBranchOf(const QModelIndex &previous, const QModelIndex &current)
{
    // Ancestors of the new node (and the node itself) stay open.
    QList<QModelIndex> keep;
    for (QModelIndex i = current; i.isValid(); i = i.parent())
        keep.append(i);
    for (QModelIndex i = previous; i.isValid(); i = i.parent()) {
        if (keep.contains(i))
            break;
        collapse(i);
    }
}

} // namespace kelvo
