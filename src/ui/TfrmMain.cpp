#include "TfrmMain.h"

#include "CardRecords.h"
#include "CardTreeControls.h"
#include "CardTreeModel.h"
#include "CardTreeView.h"
#include "DataFile.h"
#include "Dialogs.h"
#include "LinkCommands.h"
#include "MainState.h"
#include "MessagePump.h"
#include "ProgressSink.h"
#include "Shell.h"
#include "StoreErrorTexts.h"
#include "TfrmQuickSearch.h"

#include <QAction>
#include <QFile>
#include <QCloseEvent>
#include <QFrame>
#include <QLayout>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace kelvo {

QString damagedFileMessage()
{
    return QStringLiteral(
        "您的数据文件已经损坏!可能无法正常使用。系统将自动退出。\r\n"
        "程序将尝试恢复系统自动备份的数据，如果恢复成功也可能会丢失部分数据\r\n"
        "如果恢复失败，请务必从您的安装目录下的SavedZP目录下拷贝出所有您以前\r\n"
        "保存的图形文件。请在系统退出后重新启动本软件以确定是否恢复成功。");
}

TfrmMain::TfrmMain(MainWindowServices services, MainState &state, QWidget *parent)
    : QMainWindow(parent,
                  Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                      | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , m_dialogs(services.dialogs)
    , m_shell(services.shell)
    , m_pump(services.pump)
    , m_files(std::move(services.files))
    , m_state(state)
    , m_progress(&NoProgress())
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(applicationTitle());
    setWindowIcon(ImageList::programIcon());

    m_model = new CardTreeModel(m_tree, &ImageList1, this);
    createActions();
    createMenus();
    createToolBar();
    LinkCommands::attach(*this);
    createCentralArea();
    // Tree commands, label editing, drag and drop, the context menu and the detail panel.
    CardTreeControls::install(*this);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setAccessibleName(tr("状态栏"));
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setFixedHeight(StatusBarHeight);
    setStatusBar(StatusBar1);

    // The client area below the menu bar is fixed; the window cannot be
    // resized or maximised.
    setFixedSize(ClientWidth, ClientHeight + MainMenu1->sizeHint().height());
    move(270, 223);
    // Lay out now, so the tree pane starts at its width rather than at a
    // share of a not yet sized splitter.
    layout()->activate();
    centralWidget()->layout()->activate();
    Splitter1->setSizes({TreePaneWidth, Splitter1->width() - TreePaneWidth - SplitterWidth});

    connect(m_model, &QAbstractItemModel::rowsInserted, this, &TfrmMain::nodesAdded);
    connect(tvCard, &CardTreeView::selectionSettled, this, &TfrmMain::tvCardChange);

    FormCreate();
}

TfrmMain::~TfrmMain()
{
    // The view goes before the model and the tree it shows.
    delete tvCard;
    tvCard = nullptr;
    delete m_model;
    m_model = nullptr;
}

QAction *TfrmMain::makeAction(const char *name, const QString &caption, int icon, bool enabled)
{
    auto *action = new QAction(ImageList1.icon(icon), caption, this);
    action->setObjectName(QLatin1String(name));
    action->setToolTip(caption);
    action->setIconText(caption);
    action->setEnabled(enabled);
    action->setProperty("imageIndex", icon);
    return action;
}

void TfrmMain::createActions()
{
    // Commands whose behaviour is not wired yet stay disabled until it is.
    actAddCardClass = makeAction("actAddCardClass", QStringLiteral("添加类别"), 0, false);
    actAddCard = makeAction("actAddCard", QStringLiteral("添加名片"), 1, false);
    actOpenMainPage = makeAction("actOpenMainPage", QStringLiteral("打开主页"), 2, false);
    actDeleteSomething = makeAction("actDeleteSomething", QStringLiteral("删除"), 3, false);
    actSearchCard = makeAction("actSearchCard", QStringLiteral("查找"), 4, false);
    actSoftHelp = makeAction("actSoftHelp", QStringLiteral("帮助主题"), 5, false);
    actSendMail = makeAction("actSendMail", QStringLiteral("发送邮件"), 6, false);
    actRename = makeAction("actRename", QStringLiteral("重命名"), 8, false);
    actSaveAll = makeAction("actSaveAll", QStringLiteral("保存"), 9, true);
    actMailToAuthor = makeAction("actMailToAuthor", QStringLiteral("联系作者"), 10, false);
    actAbout = makeAction("actAbout", QStringLiteral("关于"), 11, false);
    actExit = makeAction("actExit", QStringLiteral("退出"), 12, true);
    actAuthorMainPage = makeAction("actAuthorMainPage", QStringLiteral("软件主页"), 13, false);

    connect(actSaveAll, &QAction::triggered, this, &TfrmMain::actSaveAllExecute);
    connect(actExit, &QAction::triggered, this, &TfrmMain::actExitExecute);
}

void TfrmMain::createMenus()
{
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    MainMenu1->setAccessibleName(tr("菜单栏"));
    setMenuBar(MainMenu1);

    QMenu *card = MainMenu1->addMenu(QStringLiteral("名片管理"));
    card->setObjectName(QStringLiteral("mnuCard"));
    card->addAction(actAddCardClass);
    card->addAction(actAddCard);
    card->addSeparator();
    card->addAction(actSaveAll);
    card->addSeparator();
    card->addAction(actExit);

    QMenu *edit = MainMenu1->addMenu(QStringLiteral("编辑"));
    edit->setObjectName(QStringLiteral("mnuEdit"));
    edit->addAction(actSearchCard);
    edit->addSeparator();
    edit->addAction(actRename);
    edit->addSeparator();
    edit->addAction(actDeleteSomething);
    edit->addSeparator();
    edit->addAction(actSendMail);
    edit->addAction(actOpenMainPage);

    QMenu *help = MainMenu1->addMenu(QStringLiteral("帮助"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    help->addAction(actSoftHelp);
    help->addSeparator();
    help->addAction(actAuthorMainPage);
    help->addAction(actMailToAuthor);
    help->addSeparator();
    help->addAction(actAbout);
}

void TfrmMain::createToolBar()
{
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setAccessibleName(tr("工具栏"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);

    const QList<QList<QAction *>> groups = {
        {actAddCardClass, actAddCard},
        {actSaveAll, actDeleteSomething},
        {actSearchCard, actRename},
        {actSendMail, actOpenMainPage},
        {actSoftHelp, actMailToAuthor, actAuthorMainPage, actAbout},
        {actExit},
    };
    for (qsizetype g = 0; g < groups.size(); ++g) {
        if (g > 0)
            ToolBar1->addSeparator();
        for (QAction *action : groups.at(g)) {
            ToolBar1->addAction(action);
            if (QWidget *button = ToolBar1->widgetForAction(action)) {
                button->setFixedSize(27, 26);
                button->setObjectName(QLatin1String("btn") + action->objectName().mid(3));
                button->setAccessibleName(action->text());
            }
        }
    }
    ToolBar1->setMinimumHeight(ToolBarHeight);
    ToolBar1->setMaximumHeight(ToolBarHeight);
}

void TfrmMain::createCentralArea()
{
    Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(SplitterWidth);
    Splitter1->setChildrenCollapsible(false);

    tvCard = new CardTreeView(Splitter1);
    tvCard->setCardModel(m_model);

    Panel2 = new QFrame(Splitter1);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setAccessibleName(tr("名片详细信息"));
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel2->setLineWidth(1);
    Panel2->setAutoFillBackground(true);
    QPalette pal = Panel2->palette();
    pal.setColor(QPalette::Window, Qt::white);
    Panel2->setPalette(pal);

    Splitter1->addWidget(tvCard);
    Splitter1->addWidget(Panel2);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({TreePaneWidth, ClientWidth - TreePaneWidth - SplitterWidth});

    // The toolbar band sits in the client area above the panes at its own
    // fixed height (a main window's toolbar area sizes it by its own rules).
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    auto *column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(ToolBar1);
    column->addWidget(Splitter1, 1);
    setCentralWidget(client);
}

void TfrmMain::setProgressSink(ProgressSink *progress)
{
    m_progress = progress ? progress : &NoProgress();
}

void TfrmMain::setQuickSearch(TfrmQuickSearch *quickSearch)
{
    m_quickSearch = quickSearch;
}

QTreeView *TfrmMain::treeView()
{
    return tvCard;
}

QModelIndex TfrmMain::indexOfNode(CardNode *node)
{
    return m_model->indexOfNode(node);
}

CardNode *TfrmMain::nodeOfIndex(const QModelIndex &index)
{
    return CardTreeModel::nodeOfIndex(index);
}

CardNode *TfrmMain::selectedNode() const
{
    return tvCard->selectedNode();
}

void TfrmMain::selectNode(CardNode *node)
{
    tvCard->selectNode(node);
}

void TfrmMain::setModified(bool modified)
{
    m_state.Modified = modified;
}

bool TfrmMain::isModified() const
{
    return m_state.Modified;
}

void TfrmMain::showSearchWindow()
{
    if (!m_quickSearch)
        return;
    m_quickSearch->show();
    m_quickSearch->raise();
    m_quickSearch->activateWindow();
}

void TfrmMain::nodesAdded(const QModelIndex &parent, int, int last)
{
    // The last node added, in absolute order, ends up as the selected node.
    CardNode *node = m_tree.child(nodeOfIndex(parent), last);
    if (!node)
        return;
    while (node->childCount() > 0)
        node = node->lastChild();
    selectNode(node);
    setModified(true);
}

void TfrmMain::FormCreate()
{
    m_state.DataPath = m_files.dataFile;
    loadStoredSkin();
}

void TfrmMain::loadStoredSkin()
{
    QFile stored(QStringLiteral(":/skin/kelvo.skin"));
    if (!stored.open(QIODevice::ReadOnly))
        return; // a build without the skin resource: skinning stays off
    SkinData1.loadStoredProperty(stored.readAll(),
                                 [this](const QString &text) { m_dialogs.notice(this, text); });
}

void TfrmMain::setVisible(bool visible)
{
    if (visible && !isVisible() && !FormShow())
        return; // damaged data file: the window is never shown
    QMainWindow::setVisible(visible);
}

bool TfrmMain::FormShow()
{
    if (m_state.ShownFromTray || m_loaded)
        return !m_damaged;
    if (m_damaged)
        return false;

    m_busy = true;
    m_model->beginBulkChange();
    const LoadResult result = LoadTreeViewWithData(m_files, m_tree, *m_progress);
    m_model->endBulkChange();
    m_busy = false;

    if (!result.ok()) {
        recoverFromDamagedFile();
        return false;
    }
    m_loaded = true;
    // Every node the load added became the selected node in turn.
    if (CardNode *last = m_tree.lastInAbsoluteOrder()) {
        selectNode(last);
        setModified(true);
    }
    // The tree as loaded counts as saved.
    setModified(false);
    if (m_quickSearch)
        m_quickSearch->addTrayIcon();
    return true;
}

void TfrmMain::recoverFromDamagedFile()
{
    m_damaged = true;
    const RecoveryResult recovery = RecoverDamagedDataFile(m_files);
    if (!recovery.outcome)
        qWarning("Kelvo: recovering the data file: %s", qPrintable(recovery.outcome.error().message()));
    m_dialogs.message(this, damagedFileMessage(), QStringLiteral("提示"));
    Q_EMIT programEndRequested(0);
}

bool TfrmMain::saveTree(bool reportFailure)
{
    if (m_busy)
        return false; // a load or a save is already running
    m_busy = true;
    const SaveResult result = SaveTreeViewWithData(m_files, m_tree, *m_progress);
    m_busy = false;
    // A failed backup does not stop the save, but the user learns of it
    // after the save, with the save's own failure when there is one.
    const QString backupFailure = backupFailureText(result);
    if (!result.ok()) {
        if (reportFailure) {
            QString text = saveFailureText(result.saved.error());
            if (!backupFailure.isEmpty())
                text += QStringLiteral("\n\n") + backupFailure;
            m_dialogs.error(this, text);
        } else {
            qWarning("Kelvo: the data file was not saved: %s", qPrintable(result.saved.error().message()));
        }
        return false;
    }
    setModified(false);
    if (!backupFailure.isEmpty()) {
        if (reportFailure)
            m_dialogs.error(this, backupFailure);
        else
            qWarning("Kelvo: a backup of the data file failed: %s",
                     qPrintable((result.backup ? result.history : result.backup).error().message()));
    }
    return true;
}

void TfrmMain::actSaveAllExecute()
{
    saveTree(true);
}

void TfrmMain::actExitExecute()
{
    close();
}

void TfrmMain::showFromTray()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

bool TfrmMain::saveBeforeProcessEnd()
{
    if (!m_state.Modified || m_damaged || !m_loaded)
        return true;
    return saveTree(false);
}

bool TfrmMain::FormCloseQuery()
{
    if (m_busy || m_damaged)
        return false; // a load or a save is under way (events are being pumped)

    bool mayClose = false;
    // Without a notification area a hidden window could never come back:
    // closing there ends the program.
    const bool noTray = m_quickSearch && !m_quickSearch->hasNotificationArea();
    if (m_state.ExitRequested) {
        if (m_dialogs.question(this, QStringLiteral("确实要退出本系统吗？"), QStringLiteral("提示")))
            mayClose = true;
        else
            m_state.ExitRequested = false;
    } else if (noTray) {
        mayClose = true;
    }

    if (m_state.Modified && !saveTree(true)) {
        // The changes are not on disk: the window stays as it is, and the
        // program does not end without them.
        m_state.ExitRequested = false;
        return false;
    }

    if (!mayClose) {
        hide();
        return false;
    }
    FreeAllCardData(m_tree);
    if (m_quickSearch)
        m_quickSearch->deleteTrayIcon();
    return true;
}

void TfrmMain::closeEvent(QCloseEvent *event)
{
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    event->accept();
    Q_EMIT programEndRequested(0);
}

} // namespace kelvo
