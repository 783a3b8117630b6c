#include "TreeCommands.h"

#include "CardDetailPanel.h"
#include "CardRecords.h"
#include "CardTree.h"
#include "CardTreeHost.h"
#include "Dialogs.h"
#include "DropPlacement.h"
#include "Gb18030.h"
#include "TypedField.h"

#include <QTreeView>

namespace kelvo {

namespace TreeTexts {
QString cardsHoldNoClasses()
{
    return QStringLiteral("名片下不能有类别哦");
}
QString reservedClassNotDeletable()
{
    return QStringLiteral("本类别为系统保留类别，不能删除！");
}
QString classNameTaken()
{
    return QStringLiteral("该类别已经存在了，请选择其他类别名称吧。");
}
QString deleteQuestionCaption()
{
    return QStringLiteral("重要提示");
}
QString deleteCardQuestion(const QString &label)
{
    return QStringLiteral("确实要删除名片[") + label + QStringLiteral("]吗，删除后将无法恢复。");
}
QString deleteEmptyClassQuestion()
{
    return QStringLiteral("确定要删除该类别吗？");
}
QString deleteClassWithChildrenQuestion()
{
    return QStringLiteral("本操作将删除该类别下的所有名片，并无法恢复。\r\n确定要删除吗？");
}
} // namespace TreeTexts

TreeCommands::TreeCommands(CardTreeHost &host, CardDetailPanel *panel, QObject *parent)
    : QObject(parent)
    , m_host(host)
    , m_panel(panel)
{
}

void TreeCommands::actAddCardClass()
{
    CardNode *selected = m_host.selectedNode();
    if (selected && selected->isCard()) {
        m_host.dialogs().notice(m_host.dialogOwner(), TreeTexts::cardsHoldNoClasses());
        return;
    }
    // A class added while the reserved class is selected goes to the top level.
    CardNode *parent = IsReservedCardClass(selected) ? nullptr : selected;
    CardTree &tree = m_host.cardTree();
    CardNode *node = tree.addChild(parent, NewCardClassLabel(), MakeCardClassRecord());
    tree.setDisplayIndexes(node, 0, 0, 0, 0);
    addedNode(node);
    beginLabelEdit(node);
}

void TreeCommands::actAddCard()
{
    CardNode *target = m_host.selectedNode();
    CardTree &tree = m_host.cardTree();
    if (!target) {
        // The last node, in absolute order, that bears the reserved label.
        tree.forEach([&target](CardNode *node) {
            if (IsReservedCardClass(node))
                target = node;
        });
        if (!target)
            return;
    } else if (target->isCard()) {
        target = target->parent(); // nullptr for a top-level card: the card goes to the top level
    }

    QTreeView *view = m_host.treeView();
    const bool repaint = view && view->updatesEnabled();
    if (repaint)
        view->setUpdatesEnabled(false);
    CardNode *node = tree.addChild(target, NewCardLabel(), MakeCardRecord());
    tree.setDisplayIndexes(node, 1, 1, 1, 1);
    if (repaint)
        view->setUpdatesEnabled(true);
    addedNode(node);
    if (target)
        expand(target);
    beginLabelEdit(node);
}

void TreeCommands::actDeleteSomething()
{
    CardNode *selected = m_host.selectedNode();
    if (!selected)
        return;
    CardTree &tree = m_host.cardTree();
    Dialogs &dialogs = m_host.dialogs();
    QWidget *owner = m_host.dialogOwner();
    const QString caption = TreeTexts::deleteQuestionCaption();

    if (selected->isCard()) {
        if (!dialogs.question(owner, TreeTexts::deleteCardQuestion(gb18030::decode(selected->label())), caption))
            return;
        tree.deleteNode(selected);
        return;
    }
    if (selected->isCardClass()) {
        if (IsReservedCardClass(selected)) {
            dialogs.notice(owner, TreeTexts::reservedClassNotDeletable());
            return;
        }
        if (selected->childCount() == 0) {
            if (!dialogs.question(owner, TreeTexts::deleteEmptyClassQuestion(), caption))
                return;
            // Counts as a change like every other deletion, so that the
            // removal is not lost when the window is closed before any
            // further change.
            tree.deleteNode(selected);
            return;
        }
        if (!dialogs.question(owner, TreeTexts::deleteClassWithChildrenQuestion(), caption))
            return;
        tree.deleteChildren(selected); // the class stays, empty and selected
        return;
    }
    // Rule of the delete command: a node of an unknown kind (only a data file
    // holds one) is not deleted, but Modified is raised.
    m_host.raiseModifiedWithoutChange();
}

void TreeCommands::actRename()
{
    if (CardNode *selected = m_host.selectedNode())
        beginLabelEdit(selected);
}

void TreeCommands::tvCardDblClick()
{
    actRename();
}

void TreeCommands::actSearchCard()
{
    m_host.showSearchWindow();
}

bool TreeCommands::tvCardEditing(CardNode *node)
{
    if (!node || IsReservedCardClass(node))
        return false;
    // Rule of the start check: Modified is raised as soon as the edit may
    // begin, whether it is later confirmed or cancelled.
    m_host.raiseModifiedWithoutChange();
    return true;
}

QByteArray TreeCommands::tvCardEdited(CardNode *node, const QString &text)
{
    Q_EMIT labelEditFinished();
    // Rule of the finish step: Modified is raised whether or not the label
    // changes (a refused class name, a label confirmed unchanged).
    m_host.raiseModifiedWithoutChange();
    if (!node)
        return gb18030::encode(text);

    // Text confirmed unchanged keeps the stored bytes exactly (a label read
    // from a file need not be valid GB18030).
    const bool unchanged = text == gb18030::decode(node->label());
    QByteArray label = unchanged ? node->label().toByteArray() : gb18030::encode(text);
    QString accepted = text;

    if (node->isCardClass()) {
        // A card class, at any depth, may not take the label of a top-level
        // node (the class itself included when it is top-level).
        if (countTopLevelLabels(gb18030::trimmed(label)) > 0) {
            m_host.dialogs().notice(m_host.dialogOwner(), TreeTexts::classNameTaken());
            label = node->label().toByteArray();
            accepted = gb18030::decode(label);
        }
    } else if (node->isCard()) {
        if (m_panel && node == m_host.selectedNode()) {
            // The panel stores the name, trimmed, into the record and the label.
            m_panel->setNameEditorText(accepted);
        } else {
            // The edit was confirmed because another node became selected
            // (the view confirms an open editor when the selection moves):
            // the panel would write into that node, so the name goes
            // straight into the edited card, as the panel would store it.
            StoreTypedField(m_host.cardTree(), node, Field::Name, accepted);
        }
    }
    return label;
}

int TreeCommands::countTopLevelLabels(QByteArrayView trimmedLabel) const
{
    const CardTree &tree = m_host.cardTree();
    int count = 0;
    for (int row = 0; row < tree.topLevelCount(); ++row) {
        if (gb18030::trimmed(tree.topLevel(row)->label()) == trimmedLabel)
            ++count;
    }
    return count;
}

void TreeCommands::tvCardDragDrop(CardNode *target)
{
    CardNode *moved = m_host.selectedNode();
    if (!moved)
        return;
    if (IsReservedCardClass(moved)) {
        // Rule of the drop step: the reserved card class moves nowhere, but
        // Modified is raised.
        m_host.raiseModifiedWithoutChange();
        return;
    }
    if (target) {
        const auto mode = DropPlacement(moved->kind(), target->kind(), IsReservedCardClass(target));
        CardTree &tree = m_host.cardTree();
        CardNode *newParent = nullptr;
        int row = 0;
        // moveNode refuses a target inside the moved subtree and a move to
        // where the node already stands.
        if (mode && tree.movePlacement(moved, target, *mode, &newParent, &row) && tree.moveNode(moved, target, *mode)) {
            if (newParent)
                expand(newParent);
        }
    }
    // Rule of the drop step: Modified is raised after every drop, also when
    // nothing moved (onto itself, into its own subtree, where it stands).
    m_host.raiseModifiedWithoutChange();
}

void TreeCommands::addedNode(CardNode *node)
{
    // Every added node becomes the selected node (the addition itself
    // raised Modified).
    m_host.selectNode(node);
}

void TreeCommands::beginLabelEdit(CardNode *node)
{
    if (QTreeView *view = m_host.treeView()) {
        const QModelIndex index = m_host.indexOfNode(node);
        for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
            view->expand(up);
        view->scrollTo(index);
        view->edit(index);
    }
    Q_EMIT labelEditRequested(node);
}

void TreeCommands::expand(CardNode *node)
{
    if (QTreeView *view = m_host.treeView())
        view->expand(m_host.indexOfNode(node));
}

} // namespace kelvo
