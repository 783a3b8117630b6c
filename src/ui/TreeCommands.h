#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace kelvo {

class CardDetailPanel;
class CardNode;
class CardTreeHost;

// The commands that shape the card tree (add a card class or a card, delete,
// rename, open the search window) and the tree events behind label editing
// and drag and drop. Every command acts on the host's selected node; changes
// go through the store's CardTree, whose announcements keep the view in step
// and raise `Modified`. Where a rule raises `Modified` without a change, the
// command asks the host to, next to the rule.
class TreeCommands : public QObject
{
    Q_OBJECT

public:
    // `panel` receives a card's new name after a label edit; it may be nullptr.
    TreeCommands(CardTreeHost &host, CardDetailPanel *panel, QObject *parent = nullptr);

    void setPanel(CardDetailPanel *panel) { m_panel = panel; }

    // Start check of a label edit: false refuses it (no editor opens).
    bool tvCardEditing(CardNode *node);
    // Finish step of a confirmed label edit: the label bytes the node gets
    // (the typed text, or the old label when a card class may not take it).
    QByteArray tvCardEdited(CardNode *node, const QString &text);
    // Drop step: moves the selected node relative to `target`.
    void tvCardDragDrop(CardNode *target);

public Q_SLOTS:
    void actAddCardClass();
    void actAddCard();
    void actDeleteSomething();
    void actRename();
    void actSearchCard();
    // A double-click on the tree: rename the selected node.
    void tvCardDblClick();

Q_SIGNALS:
    // The view should open the label editor of `node` (the start check runs
    // when it does).
    void labelEditRequested(kelvo::CardNode *node);
    // A label edit was confirmed; an armed drag ends without a drop.
    void labelEditFinished();

private:
    void addedNode(CardNode *node);
    void beginLabelEdit(CardNode *node);
    void expand(CardNode *node);
    int countTopLevelLabels(QByteArrayView trimmedLabel) const;

    CardTreeHost &m_host;
    CardDetailPanel *m_panel;
};

// The fixed texts of the commands' notices and questions.
namespace TreeTexts {
QString cardsHoldNoClasses();        // "名片下不能有类别哦"
QString reservedClassNotDeletable(); // "本类别为系统保留类别，不能删除！"
QString classNameTaken();            // "该类别已经存在了，请选择其他类别名称吧。"
QString deleteQuestionCaption();     // "重要提示"
QString deleteCardQuestion(const QString &label);
QString deleteEmptyClassQuestion();
QString deleteClassWithChildrenQuestion();
} // namespace TreeTexts

} // namespace kelvo
