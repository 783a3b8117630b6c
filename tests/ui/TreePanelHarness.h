#pragma once

// A window with the card tree view, its model and the detail panel, wired by
// CardTreeControls exactly as the main window is, with scripted dialogs.
// `modified` follows the tree as the main window's `Modified` does: every
// change the tree announces raises it (also while a test builds its tree, so
// tests lower it once their tree stands).

#include "CardDetailPanel.h"
#include "CardRecords.h"
#include "CardTree.h"
#include "CardTreeControls.h"
#include "CardTreeDragDrop.h"
#include "CardTreeHost.h"
#include "CardTreeModel.h"
#include "CardTreeView.h"
#include "Gb18030.h"
#include "ImageList.h"
#include "LabelEditDelegate.h"
#include "ModifiedFlag.h"
#include "ScriptedDialogs.h"
#include "TreeCommands.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <initializer_list>
#include <utility>

namespace kelvo::testing {

inline QByteArray gb(const QString &text)
{
    return gb18030::encode(text);
}
inline QString text(QByteArrayView bytes)
{
    return gb18030::decode(bytes);
}

class TreePanelHarness : public CardTreeHost
{
public:
    TreePanelHarness()
        : model(tree, &images)
    {
        window.setObjectName(QStringLiteral("harnessWindow"));
        window.resize(620, 320);
        auto *layout = new QHBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        view = new CardTreeView(&window);
        view->setCardModel(&model);
        view->setFixedWidth(165);
        panelArea = new QFrame(&window);
        panelArea->setObjectName(QStringLiteral("Panel2"));
        layout->addWidget(view);
        layout->addWidget(panelArea, 1);
        controls = new CardTreeControls(*this, view, panelArea, &window);
        QObject::connect(view, &CardTreeView::selectionSettled, controls->panel(), &CardDetailPanel::tvCardChange);
        controls->buildContextMenu({nullptr});
    }

    void show()
    {
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }

    // --- building trees directly through the store
    CardNode *addClass(CardNode *parent, const QString &label)
    {
        auto record = MakeCardClassRecord();
        record->setField(Field::Name, gb(label));
        return tree.addChild(parent, gb(label), std::move(record));
    }
    CardNode *addCard(CardNode *parent, const QString &name, std::initializer_list<std::pair<int, QString>> fields = {})
    {
        auto record = MakeCardRecord();
        record->setField(Field::Name, gb(name));
        for (const auto &[field, value] : fields)
            record->setField(field, gb(value));
        CardNode *node = tree.addChild(parent, gb(name), std::move(record));
        tree.setDisplayIndexes(node, 1, 1, 1, 1);
        return node;
    }
    CardNode *addReserved() { return tree.addChild(nullptr, ReservedCardClassLabel(), MakeCardClassRecord()); }

    // --- driving
    TreeCommands &commands() { return controls->commands(); }
    CardDetailPanel *panel() { return controls->panel(); }
    CardTreeDragDrop *dragDrop() { return controls->dragDrop(); }
    QLineEdit *editor(int tag) { return panel()->editor(tag); }

    // Selects `node` and waits for the delayed refill of the panel.
    void selectAndSettle(CardNode *node)
    {
        QSignalSpy settled(view, &CardTreeView::selectionSettled);
        selectNode(node);
        if (settled.isEmpty())
            settled.wait(2000);
    }
    // The open label editor, if any.
    QLineEdit *labelEditor() { return qobject_cast<QLineEdit *>(view->indexWidget(view->currentIndex())); }
    // Types `newText` into the open label editor and confirms with Enter.
    bool confirmLabel(const QString &newText)
    {
        QLineEdit *edit = labelEditor();
        if (!edit)
            return false;
        edit->setText(newText);
        QTest::keyClick(edit, Qt::Key_Return);
        // The delegate confirms the edit once the key press has been handled.
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return true;
    }
    QString labelOf(const CardNode *node) const { return text(node->label()); }
    QString fieldOf(const CardNode *node, int field) const { return text(node->data()->field(field)); }
    QStringList noticeTexts() const { return scripted.texts(ScriptedDialogs::Kind::Notice); }

    // --- CardTreeHost
    CardTree &cardTree() override { return tree; }
    QTreeView *treeView() override { return view; }
    QModelIndex indexOfNode(CardNode *node) override { return model.indexOfNode(node); }
    CardNode *nodeOfIndex(const QModelIndex &index) override { return CardTreeModel::nodeOfIndex(index); }
    CardNode *selectedNode() const override { return view->selectedNode(); }
    void selectNode(CardNode *node) override { view->selectNode(node); }
    void raiseModifiedWithoutChange() override { modifiedFlag.raiseWithoutChange(); }
    Dialogs &dialogs() override { return scripted; }
    QWidget *dialogOwner() override { return &window; }
    void showSearchWindow() override { ++searchWindowShown; }

    CardTree tree;
    ImageList images;
    CardTreeModel model;
    ScriptedDialogs scripted;
    bool modified = false;
    ModifiedFlag modifiedFlag{tree, modified};
    int searchWindowShown = 0;
    QWidget window;
    CardTreeView *view = nullptr;
    QFrame *panelArea = nullptr;
    CardTreeControls *controls = nullptr;
};

} // namespace kelvo::testing
