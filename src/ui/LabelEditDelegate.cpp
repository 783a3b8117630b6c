#include "LabelEditDelegate.h"

#include "CardTree.h"
#include "CardTreeHost.h"
#include "Gb18030.h"
#include "TreeCommands.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QStyle>

namespace kelvo {

LabelEditDelegate::LabelEditDelegate(CardTreeHost &host, TreeCommands &commands, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_host(host)
    , m_commands(commands)
{
}

QWidget *LabelEditDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                                         const QModelIndex &index) const
{
    CardNode *node = m_host.nodeOfIndex(index);
    if (!node || !m_commands.tvCardEditing(node))
        return nullptr;
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QStringLiteral("tvCardLabelEditor"));
    edit->setAccessibleName(QStringLiteral("名称"));
    edit->setFont(option.font);
    edit->setFrame(true);
    return edit;
}

void LabelEditDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    auto *edit = qobject_cast<QLineEdit *>(editor);
    CardNode *node = m_host.nodeOfIndex(index);
    if (!edit || !node)
        return;
    edit->setText(gb18030::decode(node->label()));
    edit->selectAll();
}

void LabelEditDelegate::setModelData(QWidget *editor, QAbstractItemModel *, const QModelIndex &index) const
{
    // A notice shown by the finish step takes the focus from the editor,
    // which would confirm the same edit a second time.
    if (m_finishing)
        return;
    auto *edit = qobject_cast<QLineEdit *>(editor);
    CardNode *node = m_host.nodeOfIndex(index);
    if (!edit || !node)
        return;
    m_finishing = true;
    const QByteArray label = m_commands.tvCardEdited(node, edit->text());
    m_finishing = false;
    m_host.cardTree().setLabel(node, label);
}

QRect LabelEditDelegate::iconAndLabelRect(const QAbstractItemView &view, const QModelIndex &index) const
{
    QStyleOptionViewItem option;
    option.initFrom(view.viewport());
    option.rect = view.visualRect(index);
    option.font = view.font();
    option.fontMetrics = view.fontMetrics();
    const int iconExtent = view.style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, &view);
    option.decorationSize = view.iconSize().isValid() ? view.iconSize() : QSize(iconExtent, iconExtent);
    initStyleOption(&option, index);
    QStyle *style = view.style();
    const QRect icon = (option.features & QStyleOptionViewItem::HasDecoration)
        ? style->subElementRect(QStyle::SE_ItemViewItemDecoration, &option, &view)
        : QRect();
    const QRect textArea = style->subElementRect(QStyle::SE_ItemViewItemText, &option, &view);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1;
    const int textWidth = qMin(textArea.width(), option.fontMetrics.horizontalAdvance(option.text) + 2 * margin);
    const QRect label(textArea.left(), textArea.top(), qMax(0, textWidth), textArea.height());
    return icon.isValid() ? icon.united(label) : label;
}

} // namespace kelvo
