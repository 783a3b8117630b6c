// The tree commands and the detail panel inside the real main window: the
// actions and the context menu, the panel in Panel2 following the delayed
// selection report, and a session of edits that a close writes to the data
// file exactly as it was shown. Also grabs pictures of the filled panel.

#include "CardDetailPanel.h"
#include "CardRecords.h"
#include "CardTreeControls.h"
#include "CardTreeDragDrop.h"
#include "CardTreeView.h"
#include "DataFile.h"
#include "FakeTrayIcon.h"
#include "Gb18030.h"
#include "LabelEditDelegate.h"
#include "RecordingShell.h"
#include "RecordingSpreadsheet.h"
#include "ScriptedDialogs.h"
#include "Session.h"
#include "TfrmMain.h"
#include "TfrmQuickSearch.h"
#include "TreeCommands.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace kelvo;

namespace {

// A named child: a command, a control or a menu of a window.
template<typename T = QAction>
T *child(const QObject *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}

QString describe(const QList<QAction *> &actions)
{
    QStringList parts;
    for (const QAction *action : actions)
        parts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return parts.join(QLatin1Char('|'));
}

void typeText(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->end(false);
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80) {
            QTest::keyClick(edit, ch.toLatin1());
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(QString(ch));
            QCoreApplication::sendEvent(edit, &commit);
        }
    }
}

} // namespace

class TestTreePanelMain : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    DataFiles m_files;
    ScriptedDialogs m_dialogs;
    RecordingShell m_shell;
    RecordingSpreadsheet m_spreadsheet;
    FakeTrayIcon m_tray{true};
    std::unique_ptr<Session> m_session;

    TfrmMain *main() const { return m_session->mainWindow(); }
    CardTreeView *tvCard() const { return child<CardTreeView>(main(), "tvCard"); }
    QAction *command(const char *name) const { return child(main(), name); }
    CardTreeControls *controls() const { return main()->findChild<CardTreeControls *>(); }
    CardDetailPanel *panel() const { return controls()->panel(); }
    QLineEdit *editor(int tag) const { return panel()->editor(tag); }

    void selectAndSettle(CardNode *node)
    {
        QSignalSpy changed(main(), &TfrmMain::tvCardChange);
        main()->selectNode(node);
        QVERIFY(changed.wait(2000));
    }
    QLineEdit *labelEditor() const
    {
        return qobject_cast<QLineEdit *>(tvCard()->indexWidget(tvCard()->currentIndex()));
    }
    void confirmLabel(const QString &text)
    {
        QLineEdit *edit = labelEditor();
        QVERIFY(edit);
        edit->setText(text);
        QTest::keyClick(edit, Qt::Key_Return);
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_files = DataFiles::inFolder(m_dir->path());
        m_dialogs.clear();
        m_shell.clear();
        m_session = std::make_unique<Session>(Session::Services{m_dialogs, m_shell, m_tray, m_spreadsheet, m_files});
        m_session->showMainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(main()));
    }
    void cleanup()
    {
        m_session.reset();
        m_dir.reset();
    }

    void commandsAndContextMenuAreInPlace()
    {
        for (QAction *action : {command("actAddCardClass"), command("actAddCard"), command("actDeleteSomething"),
                                command("actRename"), command("actSearchCard")})
            QVERIFY2(action->isEnabled(), qPrintable(action->objectName()));
        QMenu *pm = child<QMenu>(main(), "pm");
        QVERIFY(pm);
        QCOMPARE(describe(pm->actions()),
                 QStringLiteral("添加类别|添加名片|-|保存|-|删除|-|重命名|-|查找|-|发送邮件|打开主页|-|"
                                "软件主页|联系作者|关于"));
        QVERIFY(pm->actions().contains(command("actAddCard"))); // entries run the commands themselves
        QVERIFY(child<QWidget>(main(), "Panel2")->isAncestorOf(panel()));
        QVERIFY(editor(Field::Name)->isVisible());
        QCOMPARE(editor(Field::Name)->objectName(), QStringLiteral("edtName"));
    }

    void searchCommandShowsSearchWindow()
    {
        command("actSearchCard")->trigger();
        QVERIFY(m_session->quickSearch()->isVisible());
    }

    void sessionOfEditsIsSavedAsShown()
    {
        CardTree &tree = main()->cardTree();
        CardNode *reserved = tree.firstTopLevel();
        QVERIFY(IsReservedCardClass(reserved));

        // A card in the reserved class, named in the tree and filled in the panel.
        tvCard()->selectionModel()->clear();
        command("actAddCard")->trigger();
        confirmLabel(QStringLiteral("张三"));
        CardNode *card = main()->selectedNode();
        QCOMPARE(card->parent(), reserved);
        selectAndSettle(card);
        QCOMPARE(editor(Field::Name)->text(), QStringLiteral("张三"));
        typeText(editor(Field::TouXian), QStringLiteral("总经理"));
        typeText(editor(Field::DH), QStringLiteral("010-88886666"));
        typeText(editor(Field::EMail), QStringLiteral("zhang@example.com"));

        // A class at the top level, a card in it, then the first card dragged in.
        main()->selectNode(reserved);
        command("actAddCardClass")->trigger();
        confirmLabel(QStringLiteral("客户"));
        CardNode *clients = main()->selectedNode();
        QVERIFY(!clients->parent());
        command("actAddCard")->trigger();
        confirmLabel(QStringLiteral("李四"));
        CardNode *second = main()->selectedNode();
        QCOMPARE(second->parent(), clients);

        main()->selectNode(card);
        CardTreeDragDrop *drag = controls()->dragDrop();
        const QModelIndex target = main()->indexOfNode(clients);
        const QPoint at = controls()->delegate()->iconAndLabelRect(*tvCard(), target).center();
        std::unique_ptr<QMimeData> mime(drag->makeMimeData());
        // A drop reaches the widget that took the drag in.
        QDragEnterEvent enter(at, Qt::MoveAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(tvCard()->viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::MoveAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(tvCard()->viewport(), &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(card->parent(), clients);
        QCOMPARE(main()->selectedNode(), card);

        // An empty class deleted again.
        main()->selectNode(clients);
        command("actAddCardClass")->trigger();
        confirmLabel(QStringLiteral("作废"));
        m_dialogs.answerQuestion(true);
        command("actDeleteSomething")->trigger();
        QCOMPARE(clients->childCount(), 2);

        // What the tree shows now, then a close writes it.
        QStringList shown;
        tree.forEach([&](const CardNode *node) {
            QString line = gb18030::decode(node->label());
            if (node->isCard()) {
                for (int field = Field::First; field <= Field::Last; ++field)
                    line += QLatin1Char('|') + gb18030::decode(node->data()->field(field));
            }
            shown << QString::number(node->depth()) + QLatin1Char(' ') + line;
        });
        QVERIFY(main()->isModified());
        main()->close();
        QVERIFY(!main()->isModified());

        QFile file(m_files.dataFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        CardTree reloaded;
        QVERIFY(ReadTreeFromBytes(file.readAll(), reloaded).ok());
        QStringList read;
        reloaded.forEach([&](const CardNode *node) {
            QString line = gb18030::decode(node->label());
            if (node->isCard()) {
                for (int field = Field::First; field <= Field::Last; ++field)
                    line += QLatin1Char('|') + gb18030::decode(node->data()->field(field));
            }
            read << QString::number(node->depth()) + QLatin1Char(' ') + line;
        });
        QCOMPARE(read, shown);
        QVERIFY(read.contains(QStringLiteral("1 张三|张三|总经理|||010-88886666|||||||zhang@example.com|")));
    }

    void grabFilledPanel()
    {
        CardTree &tree = main()->cardTree();
        main()->selectNode(tree.firstTopLevel());
        command("actAddCard")->trigger();
        confirmLabel(QStringLiteral("王小明"));
        CardNode *card = main()->selectedNode();
        selectAndSettle(card);
        const std::pair<int, const char *> fields[] = {
            {Field::TouXian, "市场部经理"},
            {Field::DW, "北京星海科技有限公司"},
            {Field::DZ, "北京市海淀区中关村大街 27 号"},
            {Field::DH, "010-62345678"},
            {Field::CZ, "010-62345679"},
            {Field::SJ, "13901234567"},
            {Field::YB, "100080"},
            {Field::WZ, "www.xinghai.example.cn"},
            {Field::QQ, "123456789"},
            {Field::MSN, "wang@xinghai.example"},
            {Field::EMail, "wang.xm@xinghai.example.cn"},
            {Field::Other, "每周三下午在公司"},
        };
        for (const auto &[field, value] : fields)
            editor(field)->setText(QString::fromUtf8(value));
        QCOMPARE(gb18030::decode(card->data()->field(Field::DW)), QStringLiteral("北京星海科技有限公司"));
        tvCard()->setFocus();

        const QString folder = QStringLiteral(KELVO_TEST_OUTPUT_DIR);
        QVERIFY(panel()->grab().save(folder + QStringLiteral("/panel-filled.png")));
        QVERIFY(main()->grab().save(folder + QStringLiteral("/mainwindow-panel-filled.png")));
    }
};

QTEST_MAIN(TestTreePanelMain)
#include "tst_treepanelmain.moc"
