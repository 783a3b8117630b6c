#include "FieldCheckList.h"

#include <QResizeEvent>

namespace kelvo {

FieldCheckList::FieldCheckList(int columns, QWidget *parent)
    : QListWidget(parent)
    , m_columns(qMax(1, columns))
{
    setFlow(QListView::TopToBottom);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void FieldCheckList::addCheckItem(const QString &label)
{
    auto *item = new QListWidgetItem(label, this);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    updateGrid();
    updateGeometry();
}

bool FieldCheckList::isChecked(int row) const
{
    const QListWidgetItem *it = item(row);
    return it && it->checkState() == Qt::Checked;
}

void FieldCheckList::setChecked(int row, bool checked)
{
    if (QListWidgetItem *it = item(row))
        it->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

void FieldCheckList::setAllChecked(bool checked)
{
    for (int row = 0; row < count(); ++row)
        setChecked(row, checked);
}

int FieldCheckList::rowsPerColumn() const
{
    return qMax(1, (count() + m_columns - 1) / m_columns);
}

int FieldCheckList::itemHeight() const
{
    const int fromItems = count() > 0 ? sizeHintForRow(0) : 0;
    return qMax(fromItems, fontMetrics().height() + 4);
}

QSize FieldCheckList::sizeHint() const
{
    const int frame = 2 * frameWidth();
    // The view wraps to the next column unless a whole further row would
    // fit below the last one: one spare pixel keeps the last row in place.
    return {m_columns * 90 + frame, rowsPerColumn() * itemHeight() + frame + 1};
}

QSize FieldCheckList::minimumSizeHint() const
{
    return sizeHint();
}

void FieldCheckList::resizeEvent(QResizeEvent *event)
{
    QListWidget::resizeEvent(event);
    updateGrid();
}

void FieldCheckList::updateGrid()
{
    const int width = qMax(1, viewport()->width() / m_columns);
    setGridSize(QSize(width, itemHeight()));
}

} // namespace kelvo
