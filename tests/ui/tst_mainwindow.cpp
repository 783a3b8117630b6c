// The main window's life: first showing and load, close requests, the save
// and exit commands, the tray menu, failed saves, a damaged data file and a
// desktop without a notification area. Everything runs offscreen with the
// platform layer's test doubles.

#include "CardRecords.h"
#include "CardTreeModel.h"
#include "CardTreeView.h"
#include "DataFile.h"
#include "FakeTrayIcon.h"
#include "Gb18030.h"
#include "MainState.h"
#include "RecordingShell.h"
#include "RecordingSpreadsheet.h"
#include "ScriptedDialogs.h"
#include "Session.h"
#include "TGauge.h"
#include "TfrmMain.h"
#include "TfrmProgress.h"
#include "TfrmQuickSearch.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSplitter>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

using namespace kelvo;

namespace {

QByteArray gb(const char *utf8)
{
    return gb18030::encode(QString::fromUtf8(utf8));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

CardNode *addRecordNode(CardTree &tree, CardNode *parent, const char *label, bool card)
{
    auto record = card ? MakeCardRecord() : MakeCardClassRecord();
    record->setField(Field::Name, gb(label));
    CardNode *node = tree.addChild(parent, gb(label), std::move(record));
    const int index = card ? 1 : 0;
    tree.setDisplayIndexes(node, index, index, index, index);
    return node;
}

// A: {B, C}, D: {E: {F}} in absolute order A B C D E F.
QByteArray sampleFileBytes()
{
    CardTree tree;
    CardNode *a = addRecordNode(tree, nullptr, "客户", false);
    addRecordNode(tree, a, "张三", true);
    addRecordNode(tree, a, "李四", true);
    CardNode *d = addRecordNode(tree, nullptr, "朋友", false);
    CardNode *e = addRecordNode(tree, d, "同学", false);
    addRecordNode(tree, e, "王五", true);
    return SerializeTree(tree);
}

QStringList labelsInOrder(const CardTree &tree)
{
    QStringList labels;
    tree.forEach([&](const CardNode *node) { labels.append(gb18030::decode(node->label())); });
    return labels;
}

// The text with every absolute path (a run of non-space characters that
// starts with the folder separator) taken out.
QString withoutPaths(QString text)
{
    static const QRegularExpression path(QStringLiteral("[/\\\\][^\\s：]*"));
    return text.remove(path);
}

bool hasLatinLetters(const QString &text)
{
    static const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
    return text.contains(latin);
}

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

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    DataFiles m_files;
    ScriptedDialogs m_dialogs;
    RecordingShell m_shell;
    RecordingSpreadsheet m_spreadsheet;
    std::unique_ptr<FakeTrayIcon> m_tray;
    std::unique_ptr<Session> m_session;
    std::unique_ptr<QSignalSpy> m_finished;

    TfrmMain *main() const { return m_session->mainWindow(); }

    void startSession(bool trayAvailable = true)
    {
        m_tray = std::make_unique<FakeTrayIcon>(trayAvailable);
        m_session = std::make_unique<Session>(Session::Services{m_dialogs, m_shell, *m_tray, m_spreadsheet, m_files});
        m_finished = std::make_unique<QSignalSpy>(m_session.get(), &Session::finished);
    }

    void startAndShow(bool trayAvailable = true)
    {
        startSession(trayAvailable);
        m_session->showMainWindow();
    }

    // Changes the tree the way a command would; the change raises Modified.
    CardNode *addCardToFirstClass()
    {
        CardTree &tree = main()->cardTree();
        return tree.addChild(tree.firstTopLevel(), NewCardLabel(), MakeCardRecord());
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_files = DataFiles::inFolder(m_dir->path());
        m_dialogs.clear();
        m_shell.clear();
    }

    void cleanup()
    {
        m_finished.reset();
        m_session.reset();
        m_tray.reset();
        m_dir.reset();
    }

    void frameMatchesTheLayout()
    {
        startSession();
        TfrmMain *w = main();
        QCOMPARE(w->objectName(), QStringLiteral("frmMain"));
        QCOMPARE(w->windowTitle(), QStringLiteral("Kelvo"));
        QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(w->windowFlags() & Qt::WindowMinimizeButtonHint);
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QCOMPARE(w->width(), 603);
        QCOMPARE(w->height() - w->menuBar()->sizeHint().height(), 321);
        for (const char *name : {"tvCard", "Panel2", "StatusBar1", "MainMenu1", "ToolBar1", "Splitter1"})
            QVERIFY2(child<QWidget>(w, name), name);
        auto *toolBar = child<QToolBar>(w, "ToolBar1");
        auto *splitter = child<QSplitter>(w, "Splitter1");
        auto *tree = child<CardTreeView>(w, "tvCard");
        QCOMPARE(toolBar->height(), 38);
        QCOMPARE(child<QStatusBar>(w, "StatusBar1")->height(), 19);
        QCOMPARE(splitter->handleWidth(), 3);
        QCOMPARE(splitter->sizes().value(0), 165);
        QCOMPARE(tree->indentation(), 19);
        QCOMPARE(tree->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(tree->palette().color(QPalette::Base), QColor(Qt::white));
        QCOMPARE(child<QFrame>(w, "Panel2")->frameShadow(), QFrame::Sunken);
        QCOMPARE(w->menuBar(), child<QMenuBar>(w, "MainMenu1"));

        QCOMPARE(describe(toolBar->actions()),
                 QStringLiteral("添加类别|添加名片|-|保存|删除|-|查找|重命名|-|发送邮件|打开主页|-|"
                                "帮助主题|联系作者|软件主页|关于|-|退出"));
        for (QAction *action : toolBar->actions()) {
            if (action->isSeparator())
                continue;
            QVERIFY2(action->isEnabled(), qPrintable(action->objectName()));
            QWidget *button = toolBar->widgetForAction(action);
            QVERIFY(button);
            QCOMPARE(button->size(), QSize(27, 26));
            QCOMPARE(action->toolTip(), action->text());
            QVERIFY(!button->accessibleName().isEmpty());
        }

        const QList<QAction *> menus = child<QMenuBar>(w, "MainMenu1")->actions();
        QCOMPARE(menus.size(), 4);
        QCOMPARE(menus.at(0)->text(), QStringLiteral("名片管理"));
        QCOMPARE(describe(menus.at(0)->menu()->actions()), QStringLiteral("添加类别|添加名片|-|保存|-|退出"));
        QCOMPARE(menus.at(1)->text(), QStringLiteral("编辑"));
        QCOMPARE(describe(menus.at(1)->menu()->actions()), QStringLiteral("查找|-|重命名|-|删除|-|发送邮件|打开主页"));
        // The one added menu, before 帮助.
        QCOMPARE(menus.at(2)->text(), QStringLiteral("工具"));
        QCOMPARE(menus.at(2)->menu()->objectName(), QStringLiteral("mnuTools"));
        QCOMPARE(describe(menus.at(2)->menu()->actions()),
                 QStringLiteral("导入名片...|导出名片...|-|名片二维码...|扫描名片...|-|同步..."));
        QCOMPARE(menus.at(3)->text(), QStringLiteral("帮助"));
        QCOMPARE(describe(menus.at(3)->menu()->actions()), QStringLiteral("帮助主题|-|软件主页|联系作者|-|关于"));
    }

    void storedSkinLoadsAtCreation()
    {
        startSession();
        const TSkinData &skin = main()->skinData();
        QVERIFY2(skin.loadCompleted(), qPrintable(skin.errorString()));
        QVERIFY(skin.isActive());
        QVERIFY(!skin.descriptionName().isEmpty());
        QVERIFY(skin.part(SkinPartId::MenuItem) != nullptr);
        QVERIFY(m_dialogs.shown().isEmpty()); // no older-skin notice
    }

    void commandsCarryCaptionsAndIcons_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("icon");
        QTest::newRow("add class") << "actAddCardClass"
                                   << "添加类别" << 0;
        QTest::newRow("add card") << "actAddCard"
                                  << "添加名片" << 1;
        QTest::newRow("open page") << "actOpenMainPage"
                                   << "打开主页" << 2;
        QTest::newRow("delete") << "actDeleteSomething"
                                << "删除" << 3;
        QTest::newRow("search") << "actSearchCard"
                                << "查找" << 4;
        QTest::newRow("help") << "actSoftHelp"
                              << "帮助主题" << 5;
        QTest::newRow("mail") << "actSendMail"
                              << "发送邮件" << 6;
        QTest::newRow("rename") << "actRename"
                                << "重命名" << 8;
        QTest::newRow("save") << "actSaveAll"
                              << "保存" << 9;
        QTest::newRow("mail author") << "actMailToAuthor"
                                     << "联系作者" << 10;
        QTest::newRow("about") << "actAbout"
                               << "关于" << 11;
        QTest::newRow("exit") << "actExit"
                              << "退出" << 12;
        QTest::newRow("author page") << "actAuthorMainPage"
                                     << "软件主页" << 13;
    }

    void commandsCarryCaptionsAndIcons()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(int, icon);
        startSession();
        auto *action = main()->findChild<QAction *>(name);
        QVERIFY(action);
        QCOMPARE(action->text(), caption);
        QCOMPARE(action->toolTip(), caption);
        QCOMPARE(action->property("imageIndex").toInt(), icon);
        QVERIFY(!action->icon().isNull());
        const QImage drawn = action->icon().pixmap(16, 16).toImage();
        const QImage expected = main()->imageList().icon(icon).pixmap(16, 16).toImage();
        QCOMPARE(drawn, expected);
    }

    void imageListHasFourteenDistinctPictures()
    {
        ImageList images;
        QCOMPARE(images.count(), 14);
        QList<QImage> seen;
        for (int n = 0; n < images.count(); ++n) {
            for (int size : {16, 24}) {
                const QImage image = images.icon(n).pixmap(size, size).toImage();
                QCOMPARE(image.size(), QSize(size, size));
                bool drawnSomething = false;
                for (int y = 0; y < size && !drawnSomething; ++y)
                    for (int x = 0; x < size && !drawnSomething; ++x)
                        drawnSomething = qAlpha(image.pixel(x, y)) > 0;
                QVERIFY2(drawnSomething, qPrintable(ImageList::resourcePath(n)));
            }
            const QImage image = images.icon(n).pixmap(16, 16).toImage();
            QVERIFY2(!seen.contains(image), qPrintable(ImageList::resourcePath(n)));
            seen.append(image);
        }
        QVERIFY(images.icon(-1).isNull());
        QVERIFY(images.icon(14).isNull());
        QVERIFY(!ImageList::programIcon().isNull());
    }

    void firstStartWithoutDataFile()
    {
        startSession();
        int progressShows = 0;
        struct ShowCounter : QObject
        {
            int *count;
            explicit ShowCounter(int *c)
                : count(c)
            {
            }
            bool eventFilter(QObject *, QEvent *event) override
            {
                if (event->type() == QEvent::Show)
                    ++*count;
                return false;
            }
        } counter(&progressShows);
        m_session->progressWindow()->installEventFilter(&counter);

        QVERIFY(main()->state().DataPath.isEmpty() == false);
        QCOMPARE(main()->state().DataPath, m_files.dataFile);
        QCOMPARE(main()->cardTree().count(), 0); // nothing read before the first showing

        m_session->showMainWindow();
        QVERIFY(main()->isVisible());
        QVERIFY(QFileInfo::exists(m_files.dataFile));
        QCOMPARE(QFileInfo(m_files.dataFile).size(), 0);
        QCOMPARE(labelsInOrder(main()->cardTree()), QStringList{QStringLiteral("未分类的名片")});
        QCOMPARE(main()->selectedNode(), main()->cardTree().firstTopLevel());
        QVERIFY(!main()->isModified());
        QCOMPARE(m_tray->addCount(), 1);
        QVERIFY(m_tray->isAdded());
        QCOMPARE(m_tray->toolTip(), QStringLiteral("Kelvo"));
        QVERIFY(m_tray->iconSet());
        QCOMPARE(progressShows, 0);
        QVERIFY(m_dialogs.shown().isEmpty());

        // Showing again does not load a second time nor add a second icon.
        main()->hide();
        main()->show();
        QCOMPARE(main()->cardTree().count(), 1);
        QCOMPARE(m_tray->addCount(), 1);
    }

    void startWithDataFileSelectsTheLastNode()
    {
        QVERIFY(writeFile(m_files.dataFile, sampleFileBytes()));
        startAndShow();
        TfrmMain *w = main();
        auto *tree = child<CardTreeView>(w, "tvCard");
        QCOMPARE(labelsInOrder(w->cardTree()), QStringList({"客户", "张三", "李四", "朋友", "同学", "王五"}));
        CardNode *last = w->cardTree().lastInAbsoluteOrder();
        QCOMPARE(w->selectedNode(), last);
        QVERIFY(tree->selectionModel()->isSelected(w->indexOfNode(last)));
        QVERIFY(!w->isModified());
        QCOMPARE(m_tray->addCount(), 1);
        // The path to the selected node is open; the other branch is not.
        QVERIFY(tree->isExpanded(w->indexOfNode(last->parent())));
        QVERIFY(tree->isExpanded(w->indexOfNode(last->parent()->parent())));
        QVERIFY(!tree->isExpanded(w->indexOfNode(w->cardTree().firstTopLevel())));
        // The progress window showed for the load and is hidden again, bar ready.
        QVERIFY(!m_session->progressWindow()->isVisible());
        QVERIFY(!child<TGauge>(m_session->progressWindow(), "gg1")->isHidden());
        // Closing at once writes nothing.
        const QByteArray before = readFile(m_files.dataFile);
        QVERIFY(!w->close());
        QVERIFY(!w->isVisible());
        QCOMPARE(readFile(m_files.dataFile), before);
        QVERIFY(!QFileInfo::exists(m_files.backupFile));
    }

    void selectionChangesExpandCollapseAndReportOnce()
    {
        QVERIFY(writeFile(m_files.dataFile, sampleFileBytes()));
        startAndShow();
        TfrmMain *w = main();
        CardTree &cards = w->cardTree();
        auto *tree = child<CardTreeView>(w, "tvCard");
        QSignalSpy changes(w, &TfrmMain::tvCardChange);
        QVERIFY(changes.wait()); // the load's selection, reported once
        changes.clear();

        CardNode *clients = cards.firstTopLevel();
        CardNode *friends = cards.topLevel(1);
        w->selectNode(clients->child(0));
        w->selectNode(clients);
        w->selectNode(clients->child(1));
        QVERIFY(tree->isExpanded(w->indexOfNode(clients)));
        // The branch that lost the selection closed; the new one is open.
        QVERIFY(!tree->isExpanded(w->indexOfNode(friends)));
        QVERIFY(!tree->isExpanded(w->indexOfNode(friends->child(0))));

        QVERIFY(changes.wait());
        QCOMPARE(changes.size(), 1);
        QCOMPARE(changes.at(0).at(0).value<CardNode *>(), clients->child(1));

        w->selectNode(friends->child(0));
        QVERIFY(!tree->isExpanded(w->indexOfNode(clients)));
        QVERIFY(tree->isExpanded(w->indexOfNode(friends->child(0))));
    }

    void addedNodeBecomesSelectedAndRaisesModified()
    {
        startAndShow();
        QVERIFY(!main()->isModified());
        CardTree &tree = main()->cardTree();
        CardNode *added = tree.addChild(tree.firstTopLevel(), NewCardLabel(), MakeCardRecord());
        QCOMPARE(main()->selectedNode(), added);
        QVERIFY(main()->isModified());
        // A move is not an addition: the moved node does not become the
        // selected node (the move is a change all the same).
        CardNode *cls = tree.addTopLevel(NewCardClassLabel(), MakeCardClassRecord());
        main()->selectNode(tree.firstTopLevel());
        QVERIFY(tree.moveNode(added, cls, CardTree::MoveMode::AsLastChild));
        QCOMPARE(main()->selectedNode(), tree.firstTopLevel());
        QCOMPARE(main()->nodeOfIndex(main()->indexOfNode(added)), added);
    }

    void closeWithChangesWritesAndHides()
    {
        startAndShow();
        addCardToFirstClass();
        QVERIFY(!main()->close());
        QVERIFY(!main()->isVisible());
        QVERIFY(!main()->isModified());
        QCOMPARE(readFile(m_files.dataFile), SerializeTree(main()->cardTree()));
        QVERIFY(m_dialogs.shown().isEmpty()); // no question without the tray's exit entry
        QVERIFY(m_tray->isAdded());
        QCOMPARE(m_finished->size(), 0);
    }

    void saveCommandWritesEvenWithoutChanges()
    {
        QVERIFY(writeFile(m_files.dataFile, sampleFileBytes()));
        startAndShow();
        QVERIFY(!main()->isModified());
        QVERIFY(child(main(), "actSaveAll")->isEnabled());
        child(main(), "actSaveAll")->trigger();
        // The previous file went to the backup; the new one holds the tree.
        QCOMPARE(readFile(m_files.backupFile), sampleFileBytes());
        QCOMPARE(readFile(m_files.dataFile), SerializeTree(main()->cardTree()));
        addCardToFirstClass();
        child(main(), "actSaveAll")->trigger();
        QVERIFY(!main()->isModified());
        QCOMPARE(readFile(m_files.dataFile), SerializeTree(main()->cardTree()));
        QVERIFY(main()->isVisible());
    }

    void exitCommandOnlyHides()
    {
        startAndShow();
        addCardToFirstClass();
        child(main(), "actExit")->trigger();
        QVERIFY(!main()->isVisible());
        QVERIFY(!main()->isModified());
        QCOMPARE(readFile(m_files.dataFile), SerializeTree(main()->cardTree()));
        QVERIFY(m_dialogs.shown().isEmpty());
        QCOMPARE(m_finished->size(), 0);
        QVERIFY(!main()->state().ExitRequested);
    }

    void trayExitAnsweredNoKeepsRunning()
    {
        startAndShow();
        addCardToFirstClass();
        m_dialogs.answerQuestion(false);
        child(m_session->quickSearch(), "N1")->trigger();
        QCOMPARE(m_dialogs.shown().size(), 1);
        QCOMPARE(m_dialogs.shown().at(0).kind, ScriptedDialogs::Kind::Question);
        QCOMPARE(m_dialogs.shown().at(0).text, QStringLiteral("确实要退出本系统吗？"));
        QCOMPARE(m_dialogs.shown().at(0).caption, QStringLiteral("提示"));
        QVERIFY(!main()->state().ExitRequested);
        QVERIFY(!main()->isVisible());
        QVERIFY(!main()->isModified());
        QCOMPARE(readFile(m_files.dataFile), SerializeTree(main()->cardTree()));
        QCOMPARE(m_finished->size(), 0);
        QVERIFY(m_tray->isAdded());
        QVERIFY(main()->cardTree().firstTopLevel()->data()); // records kept

        // Asked again the next time, also while the window is hidden.
        m_dialogs.answerQuestion(true);
        m_session->quickSearch()->N1Click();
        QCOMPARE(m_dialogs.texts(ScriptedDialogs::Kind::Question).size(), 2);
        QCOMPARE(m_finished->size(), 1);
        QCOMPARE(m_finished->at(0).at(0).toInt(), 0);
    }

    void trayExitAnsweredYesReleasesAndEnds()
    {
        QVERIFY(writeFile(m_files.dataFile, sampleFileBytes()));
        startAndShow();
        m_dialogs.answerQuestion(true);
        m_session->quickSearch()->N1Click();
        QCOMPARE(m_finished->size(), 1);
        QCOMPARE(m_finished->at(0).at(0).toInt(), 0);
        bool anyRecord = false;
        main()->cardTree().forEach([&](const CardNode *node) { anyRecord |= node->data() != nullptr; });
        QVERIFY(!anyRecord);
        QVERIFY(!m_tray->isAdded());
        QCOMPARE(m_tray->removeCount(), 1);
        // Nothing had changed: the data file was not touched.
        QCOMPARE(readFile(m_files.dataFile), sampleFileBytes());
        QVERIFY(!QFileInfo::exists(m_files.backupFile));
        QCOMPARE(m_dialogs.unscriptedCount(), 0);
    }

    void trayExitAnsweredYesWritesChangesFirst()
    {
        startAndShow();
        addCardToFirstClass();
        const QByteArray expected = SerializeTree(main()->cardTree());
        m_dialogs.answerQuestion(true);
        m_session->quickSearch()->N1Click();
        QCOMPARE(m_finished->size(), 1);
        QCOMPARE(readFile(m_files.dataFile), expected);
    }

    void showingFromTrayDoesNotReload()
    {
        QVERIFY(writeFile(m_files.dataFile, sampleFileBytes()));
        startAndShow();
        main()->close();
        QVERIFY(!main()->isVisible());
        // Edits made while hidden (a command could not, but the tree is the
        // one the window shows), and a changed file on disk that must not
        // be read again.
        CardNode *added =
            main()->cardTree().addChild(main()->cardTree().firstTopLevel(), NewCardLabel(), MakeCardRecord());
        QVERIFY(main()->isModified());
        QVERIFY(writeFile(m_files.dataFile, QByteArray(4, '\0')));

        m_tray->simulateDoubleClick();
        QVERIFY(main()->isVisible());
        QVERIFY(main()->state().ShownFromTray);
        QCOMPARE(main()->cardTree().count(), 7);
        QVERIFY(main()->isModified());
        QCOMPARE(main()->selectedNode(), added);
        QCOMPARE(m_tray->addCount(), 1);

        main()->close();
        child(m_session->quickSearch(), "N2")->trigger();
        QVERIFY(main()->isVisible());
        QCOMPARE(m_tray->addCount(), 1);
    }

    void trayMenuEntries()
    {
        startSession();
        TfrmQuickSearch *q = m_session->quickSearch();
        QCOMPARE(q->objectName(), QStringLiteral("frmQuickSearch"));
        QCOMPARE(q->windowTitle(), QStringLiteral("查找窗口"));
        QCOMPARE(q->size(), QSize(416, 360));
        QVERIFY(!q->isVisible());
        auto *pm = child<QMenu>(q, "pm");
        QVERIFY(pm);
        QCOMPARE(describe(pm->actions()), QStringLiteral("显示主窗口|-|查找|-|退出系统"));
        QCOMPARE(pm->actions().at(0), child(q, "N2"));
        QCOMPARE(pm->actions().at(2), child(main(), "actSearchCard")); // the main window's command itself
        QCOMPARE(pm->actions().at(4), child(q, "N1"));
        QCOMPARE(m_tray->contextMenu(), pm);
        QCOMPARE(m_tray->addCount(), 0); // no icon before the first showing
    }

    void failedSaveIsReportedAndKeepsModified()
    {
        startAndShow();
        addCardToFirstClass();
        // The data folder turns into a file: nothing can be written there.
        const QString folder = QFileInfo(m_files.dataFile).absolutePath();
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(writeFile(folder, "not a folder"));

        child(main(), "actSaveAll")->trigger();
        QCOMPARE(m_dialogs.texts(ScriptedDialogs::Kind::Error).size(), 1);
        const QString text = m_dialogs.texts(ScriptedDialogs::Kind::Error).at(0);
        QVERIFY2(text.contains(QStringLiteral("SavedCard")), qPrintable(text));
        // In Chinese, naming what failed and where.
        QVERIFY2(text.startsWith(QStringLiteral("数据没有保存成功，修改仍未写入数据文件：\n无法创建文件夹 ")
                                 + QDir::toNativeSeparators(folder)),
                 qPrintable(text));
        QVERIFY2(!hasLatinLetters(withoutPaths(text)), qPrintable(text));
        QCOMPARE(m_dialogs.shown().at(0).caption, applicationTitle());
        QVERIFY(main()->isModified());

        // A close request keeps the window and the changes.
        QVERIFY(!main()->close());
        QVERIFY(main()->isVisible());
        QVERIFY(main()->isModified());
        QCOMPARE(m_dialogs.texts(ScriptedDialogs::Kind::Error).size(), 2);

        // A confirmed exit whose save failed does not end the program.
        m_dialogs.answerQuestion(true);
        m_session->quickSearch()->N1Click();
        QCOMPARE(m_finished->size(), 0);
        QVERIFY(main()->isModified());
        QVERIFY(!main()->state().ExitRequested);
        QVERIFY(m_tray->isAdded());
        QVERIFY(main()->cardTree().firstTopLevel()->data());
        QCOMPARE(m_dialogs.texts(ScriptedDialogs::Kind::Error).size(), 3);

        // Once the folder is back, the next close writes the changes.
        QVERIFY(QFile::remove(folder));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(!main()->close());
        QVERIFY(!main()->isModified());
        QCOMPARE(readFile(m_files.dataFile), SerializeTree(main()->cardTree()));
    }

    void backupFailureIsToldAfterTheSave()
    {
        QVERIFY(writeFile(m_files.dataFile, sampleFileBytes()));
        // "BackUP" is a plain file: neither the backup nor the history can be written.
        const QString backupFolder = QFileInfo(m_files.backupFile).absolutePath();
        QVERIFY(writeFile(backupFolder, "not a folder"));
        startAndShow();
        addCardToFirstClass();

        child(main(), "actSaveAll")->trigger();
        // The save itself went on.
        QCOMPARE(readFile(m_files.dataFile), SerializeTree(main()->cardTree()));
        QVERIFY(!main()->isModified());
        // One box after it, captioned like every notice, in Chinese.
        QCOMPARE(m_dialogs.shown().size(), 1);
        QCOMPARE(m_dialogs.shown().at(0).kind, ScriptedDialogs::Kind::Error);
        QCOMPARE(m_dialogs.shown().at(0).caption, applicationTitle());
        const QString text = m_dialogs.shown().at(0).text;
        QVERIFY2(text.contains(QStringLiteral("备份文件没有保存成功：\n无法创建文件夹 ")
                               + QDir::toNativeSeparators(backupFolder)),
                 qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("备份历史没有保存成功：\n无法创建文件夹 ")
                               + QDir::toNativeSeparators(m_files.historyFolder)),
                 qPrintable(text));
        QVERIFY2(text.endsWith(QStringLiteral("数据文件已经保存。")), qPrintable(text));
        QVERIFY2(!hasLatinLetters(withoutPaths(text)), qPrintable(text));

        // Closing with changes tells it again; a save at the end of the
        // process, where no box can be answered, only logs it.
        addCardToFirstClass();
        QVERIFY(!main()->close());
        QCOMPARE(m_dialogs.texts(ScriptedDialogs::Kind::Error).size(), 2);
        addCardToFirstClass();
        QVERIFY(m_session->saveBeforeProcessEnd());
        QCOMPARE(readFile(m_files.dataFile), SerializeTree(main()->cardTree()));
        QCOMPARE(m_dialogs.shown().size(), 2);

        // With the folder back, saves are quiet again and the history fills.
        QVERIFY(QFile::remove(backupFolder));
        addCardToFirstClass();
        child(main(), "actSaveAll")->trigger();
        QCOMPARE(m_dialogs.shown().size(), 2);
        QVERIFY(QFileInfo::exists(m_files.backupFile));
        QCOMPARE(QDir(m_files.historyFolder).entryList(QDir::Files).size(), 1);
    }

    void damagedDataFileRestoresBackupAndEnds()
    {
        CardTree backupTree;
        CreateDefaultTree(backupTree);
        const QByteArray backup = SerializeTree(backupTree);
        QVERIFY(writeFile(m_files.backupFile, backup));
        // One top-level node announced, then the file ends inside its label.
        const QByteArray damaged = QByteArray::fromHex("01000000"
                                                       "0a000000"
                                                       "08");
        QVERIFY(writeFile(m_files.dataFile, damaged));

        startAndShow();
        QVERIFY(!main()->isVisible());
        QVERIFY(main()->endedByDamagedFile());
        QCOMPARE(m_finished->size(), 1);
        QCOMPARE(m_finished->at(0).at(0).toInt(), 0);
        QCOMPARE(m_dialogs.shown().size(), 1);
        const ScriptedDialogs::Shown box = m_dialogs.shown().at(0);
        QCOMPARE(box.kind, ScriptedDialogs::Kind::Message);
        QCOMPARE(box.caption, QStringLiteral("提示"));
        QCOMPARE(box.text,
                 QStringLiteral("您的数据文件已经损坏!可能无法正常使用。系统将自动退出。\r\n"
                                "程序将尝试恢复系统自动备份的数据，如果恢复成功也可能会丢失部分数据\r\n"
                                "如果恢复失败，请务必从您的安装目录下的SavedZP目录下拷贝出所有您以前\r\n"
                                "保存的图形文件。请在系统退出后重新启动本软件以确定是否恢复成功。"));
        // The backup is back in place, the damaged file kept aside.
        QCOMPARE(readFile(m_files.dataFile), backup);
        const QDir folder = QFileInfo(m_files.dataFile).absoluteDir();
        bool keptAside = false;
        for (const QString &name : folder.entryList(QDir::Files)) {
            if (name != QLatin1String("Card.DB") && readFile(folder.filePath(name)) == damaged)
                keptAside = true;
        }
        QVERIFY(keptAside);
        QCOMPARE(m_tray->addCount(), 0);
        // The progress window stays up with the load's text until the end.
        QVERIFY(m_session->progressWindow()->isVisible());

        // Nothing is saved afterwards, whatever is asked.
        main()->cardTree().addTopLevel(NewCardClassLabel(), MakeCardClassRecord());
        QVERIFY(main()->isModified());
        QVERIFY(main()->saveBeforeProcessEnd());
        main()->show();
        QVERIFY(!main()->isVisible());
        QCOMPARE(readFile(m_files.dataFile), backup);
        QCOMPARE(readFile(m_files.backupFile), backup);
    }

    void withoutNotificationAreaClosingSavesAndEnds()
    {
        startAndShow(false);
        QCOMPARE(m_tray->addCount(), 0);
        addCardToFirstClass();
        const QByteArray expected = SerializeTree(main()->cardTree());
        QVERIFY(main()->close());
        QCOMPARE(readFile(m_files.dataFile), expected);
        QCOMPARE(m_finished->size(), 1);
        QCOMPARE(m_finished->at(0).at(0).toInt(), 0);
        QVERIFY(m_dialogs.shown().isEmpty());
    }

    void terminationWritesUnsavedChanges()
    {
        startAndShow();
        QVERIFY(m_session->saveBeforeProcessEnd());
        QCOMPARE(QFileInfo(m_files.dataFile).size(), 0); // nothing to write
        addCardToFirstClass();
        QVERIFY(m_session->saveBeforeProcessEnd());
        QCOMPARE(readFile(m_files.dataFile), SerializeTree(main()->cardTree()));
        QVERIFY(!main()->isModified());
        QVERIFY(m_dialogs.shown().isEmpty());
    }

    void anotherStartShowsTheHiddenWindow()
    {
        startAndShow();
        main()->close();
        QVERIFY(!main()->isVisible());
        m_session->showRequestedByAnotherStart();
        QVERIFY(main()->isVisible());
        QCOMPARE(m_tray->addCount(), 1);
        QCOMPARE(main()->cardTree().count(), 1);
    }

    void grabsOfTheWindows()
    {
        QVERIFY(writeFile(m_files.dataFile, sampleFileBytes()));
        startAndShow();
        QVERIFY(QTest::qWaitForWindowExposed(main()));
        const QString folder = QStringLiteral(KELVO_TEST_OUTPUT_DIR);
        const QPixmap shot = main()->grab();
        QCOMPARE(shot.size(), main()->size());
        QVERIFY(shot.save(folder + QStringLiteral("/frmMain.png")));

        TfrmProgress *progress = m_session->progressWindow();
        progress->ShowSaveProgress(3);
        progress->StepProgress();
        progress->RefreshProgress();
        const QPixmap bar = progress->grab();
        QCOMPARE(bar.size(), QSize(379, 68));
        QVERIFY(bar.save(folder + QStringLiteral("/frmProgress.png")));
        // The done share is black, the rest the tooltip colour.
        const QImage image = bar.toImage();
        QCOMPARE(QColor(image.pixel(14, 30)), QColor(Qt::black));
        QCOMPARE(QColor(image.pixel(360, 30)), progress->palette().color(QPalette::ToolTipBase));
        progress->CloseProgress();
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
