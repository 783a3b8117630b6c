#include "TfrmMain.h"

#include "CardDetailPanel.h"
#include "CardFileCommands.h"
#include "CardFileImport.h"
#include "CardQrCode.h"
#include "CardRecords.h"
#include "CardTreeControls.h"
#include "CardTreeModel.h"
#include "CardTreeView.h"
#include "DataFile.h"
#include "Dialogs.h"
#include "LinkCommands.h"
#include "MainState.h"
#include "MessagePump.h"
#include "ModifiedFlag.h"
#include "ProgressSink.h"
#include "Shell.h"
#include "StoreErrorTexts.h"
#include "TfrmCapture.h"
#include "TfrmCardQrCode.h"
#include "TfrmQuickSearch.h"
#include "TfrmSync.h"
#include "TreeCommands.h"
#include "CardTreeDragDrop.h"
#include "Gb18030.h"
#include "WindowSync.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFrame>
#include <QLayout>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <functional>
#include <iterator>

namespace kelvo {

QString damagedFileMessage()
{
    return QStringLiteral("您的数据文件已经损坏!可能无法正常使用。系统将自动退出。\r\n"
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
    , m_tree(services.tree)
    , m_state(state)
    , m_modified(std::make_unique<ModifiedFlag>(m_tree, m_state.Modified))
    , m_capturers(std::move(services.capturers))
    , m_progress(&NoProgress())
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(applicationTitle());
    setWindowIcon(ImageList::programIcon());

    m_model = new CardTreeModel(m_tree, &ImageList1, this);
    // The help text is looked for in the program's folder.
    m_links = std::make_unique<LinkCommands>(m_dialogs, m_shell, this, QCoreApplication::applicationDirPath());
    createCommands();
    createMenus();
    createToolBar();
    createCentralArea();
    createTreeControls();

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setAccessibleName(tr("状态栏"));
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setFixedHeight(StatusBarHeight);
    setStatusBar(StatusBar1);

    // The sync with an address book (when set up): the last run's time and
    // outcome stay in the status bar.
    m_sync = std::make_unique<WindowSync>(
        WindowSync::Host{m_tree, m_dialogs, this, [this] { return m_busy; }, [this] { return saveTree(false); }},
        m_files.dataFile);
    connect(m_sync.get(), &WindowSync::statusChanged, StatusBar1, [this](const QString &text) {
        StatusBar1->showMessage(text);
    });

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
    // Capture windows act on this window as the tree's host: they go first.
    qDeleteAll(findChildren<TfrmCapture *>(Qt::FindDirectChildrenOnly));
    // The view goes before the model and the tree it shows.
    delete tvCard;
    tvCard = nullptr;
    delete m_model;
    m_model = nullptr;
}

void TfrmMain::createCommands()
{
    // Each command runs where its behaviour lives: the tree commands, the
    // mail, web, help and about commands, or this window's save and exit.
    // The behaviours are reached when a command runs, so the table can be
    // made before the tree controls exist.
    const auto onTree = [this](void (TreeCommands::*run)()) {
        return [this, run] { (m_treeControls->commands().*run)(); };
    };
    const auto onLinks = [this](void (LinkCommands::*run)()) { return [this, run] { ((*m_links).*run)(); }; };
    const auto onSelectedNode = [this](void (LinkCommands::*run)(const CardNode *)) {
        return [this, run] { ((*m_links).*run)(selectedNode()); };
    };
    struct Row
    {
        Command which;
        const char *name;
        QString caption; // also the text and the tooltip
        int icon;        // in ImageList1
        std::function<void()> run;
    };
    const Row rows[] = {
        {Command::AddCardClass, "actAddCardClass", QStringLiteral("添加类别"), 0,
         onTree(&TreeCommands::actAddCardClass)},
        {Command::AddCard, "actAddCard", QStringLiteral("添加名片"), 1, onTree(&TreeCommands::actAddCard)},
        {Command::OpenMainPage, "actOpenMainPage", QStringLiteral("打开主页"), 2,
         onSelectedNode(&LinkCommands::actOpenMainPageExecute)},
        {Command::DeleteSomething, "actDeleteSomething", QStringLiteral("删除"), 3,
         onTree(&TreeCommands::actDeleteSomething)},
        {Command::SearchCard, "actSearchCard", QStringLiteral("查找"), 4, onTree(&TreeCommands::actSearchCard)},
        {Command::SoftHelp, "actSoftHelp", QStringLiteral("帮助主题"), 5, onLinks(&LinkCommands::actSoftHelpExecute)},
        {Command::SendMail, "actSendMail", QStringLiteral("发送邮件"), 6,
         onSelectedNode(&LinkCommands::actSendMailExecute)},
        {Command::Rename, "actRename", QStringLiteral("重命名"), 8, onTree(&TreeCommands::actRename)},
        {Command::SaveAll, "actSaveAll", QStringLiteral("保存"), 9, [this] { actSaveAllExecute(); }},
        {Command::MailToAuthor, "actMailToAuthor", QStringLiteral("联系作者"), 10,
         onLinks(&LinkCommands::actMailToAuthorExecute)},
        {Command::About, "actAbout", QStringLiteral("关于"), 11, onLinks(&LinkCommands::actAboutExecute)},
        {Command::Exit, "actExit", QStringLiteral("退出"), 12, [this] { actExitExecute(); }},
        {Command::AuthorMainPage, "actAuthorMainPage", QStringLiteral("软件主页"), 13,
         onLinks(&LinkCommands::actAuthorMainPageExecute)},
    };
    static_assert(std::size(rows) == CommandCount);
    for (const Row &row : rows) {
        auto *action = new QAction(ImageList1.icon(row.icon), row.caption, this);
        action->setObjectName(QLatin1String(row.name));
        action->setToolTip(row.caption);
        action->setIconText(row.caption);
        action->setProperty("imageIndex", row.icon);
        connect(action, &QAction::triggered, this, row.run);
        m_commands[static_cast<size_t>(row.which)] = action;
    }
}

void TfrmMain::createMenus()
{
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    MainMenu1->setAccessibleName(tr("菜单栏"));
    setMenuBar(MainMenu1);

    QMenu *card = MainMenu1->addMenu(QStringLiteral("名片管理"));
    card->setObjectName(QStringLiteral("mnuCard"));
    card->addAction(command(Command::AddCardClass));
    card->addAction(command(Command::AddCard));
    card->addSeparator();
    card->addAction(command(Command::SaveAll));
    card->addSeparator();
    card->addAction(command(Command::Exit));

    QMenu *edit = MainMenu1->addMenu(QStringLiteral("编辑"));
    edit->setObjectName(QStringLiteral("mnuEdit"));
    edit->addAction(command(Command::SearchCard));
    edit->addSeparator();
    edit->addAction(command(Command::Rename));
    edit->addSeparator();
    edit->addAction(command(Command::DeleteSomething));
    edit->addSeparator();
    edit->addAction(command(Command::SendMail));
    edit->addAction(command(Command::OpenMainPage));

    createToolsMenu();

    QMenu *help = MainMenu1->addMenu(QStringLiteral("帮助"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    help->addAction(command(Command::SoftHelp));
    help->addSeparator();
    help->addAction(command(Command::AuthorMainPage));
    help->addAction(command(Command::MailToAuthor));
    help->addSeparator();
    help->addAction(command(Command::About));
}

void TfrmMain::createToolsMenu()
{
    mnuTools = MainMenu1->addMenu(QStringLiteral("工具"));
    mnuTools->setObjectName(QStringLiteral("mnuTools"));
    mnuTools->setAccessibleName(QStringLiteral("工具"));
    m_fileCommands = std::make_unique<CardFileCommands>(*this);
    const struct
    {
        const char *name;
        QString caption;
        void (CardFileCommands::*run)();
    } rows[] = {
        {"actImportCards", QStringLiteral("导入名片..."), &CardFileCommands::actImportCardsExecute},
        {"actExportCards", QStringLiteral("导出名片..."), &CardFileCommands::actExportCardsExecute},
    };
    for (const auto &row : rows) {
        QAction *action = mnuTools->addAction(row.caption);
        action->setObjectName(QString::fromLatin1(row.name));
        connect(action, &QAction::triggered, this, [this, run = row.run] { ((*m_fileCommands).*run)(); });
    }
    mnuTools->addSeparator();
    actCardQrCode = mnuTools->addAction(QStringLiteral("名片二维码..."));
    actCardQrCode->setObjectName(QStringLiteral("actCardQrCode"));
    connect(actCardQrCode, &QAction::triggered, this, &TfrmMain::actCardQrCodeExecute);
    actScanCards = mnuTools->addAction(QStringLiteral("扫描名片..."));
    actScanCards->setObjectName(QStringLiteral("actScanCards"));
    actScanCards->setEnabled(static_cast<bool>(m_capturers));
    connect(actScanCards, &QAction::triggered, this, &TfrmMain::actScanCardsExecute);
    mnuTools->addSeparator();
    actSync = mnuTools->addAction(QStringLiteral("同步..."));
    actSync->setObjectName(QStringLiteral("actSync"));
    connect(actSync, &QAction::triggered, this, &TfrmMain::actSyncExecute);
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
        {command(Command::AddCardClass), command(Command::AddCard)},
        {command(Command::SaveAll), command(Command::DeleteSomething)},
        {command(Command::SearchCard), command(Command::Rename)},
        {command(Command::SendMail), command(Command::OpenMainPage)},
        {command(Command::SoftHelp), command(Command::MailToAuthor), command(Command::AuthorMainPage),
         command(Command::About)},
        {command(Command::Exit)},
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

void TfrmMain::createTreeControls()
{
    // Tree commands, label editing, drag and drop, the context menu and the detail panel.
    m_treeControls = new CardTreeControls(*this, tvCard, Panel2, this);
    m_treeControls->buildContextMenu(
        {command(Command::AddCardClass), command(Command::AddCard), nullptr, command(Command::SaveAll), nullptr,
         command(Command::DeleteSomething), nullptr, command(Command::Rename), nullptr, command(Command::SearchCard),
         nullptr, command(Command::SendMail), command(Command::OpenMainPage), nullptr, command(Command::AuthorMainPage),
         command(Command::MailToAuthor), command(Command::About)});
    connect(this, &TfrmMain::tvCardChange, m_treeControls->panel(), &CardDetailPanel::tvCardChange);
    if (m_capturers) {
        m_treeControls->dragDrop()->setPictureDropHandler(
            [this](CardNode *targetClass, const QStringList &files) { openCaptureWindow(targetClass, files); });
    }
}

void TfrmMain::actCardQrCodeExecute()
{
    const CardNode *node = selectedNode();
    if (!node || !node->isCard() || !node->data()) {
        m_dialogs.notice(this, QStringLiteral("请先在左边选中一张名片。"));
        return;
    }
    capture::CardQrCode code = capture::EncodeCardQr(*node->data(), cardUid(node).toLatin1());
    keepCardUids();
    if (!code.ok()) {
        m_dialogs.notice(this, TfrmCardQrCode::tooLongText());
        return;
    }
    auto *window = new TfrmCardQrCode(m_dialogs, gb18030::decode(node->label()), std::move(code), this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
}

void TfrmMain::actScanCardsExecute()
{
    if (!m_capturers)
        return;
    const QStringList files = m_dialogs.openFileNames(this, QStringLiteral("扫描名片"), cardPictureFilter());
    if (files.isEmpty())
        return;
    openCaptureWindow(CardFileImport::targetClassFor(selectedNode()), files);
}

void TfrmMain::openCaptureWindow(CardNode *targetClass, const QStringList &files)
{
    if (!m_capturers || files.isEmpty())
        return;
    auto *window = new TfrmCapture(*this, m_capturers(), targetClass, files, this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    window->start();
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

void TfrmMain::raiseModifiedWithoutChange()
{
    m_modified->raiseWithoutChange();
}

bool TfrmMain::isModified() const
{
    return m_modified->isRaised();
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
    SkinData1.loadStoredProperty(stored.readAll(), [this](const QString &text) { m_dialogs.notice(this, text); });
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
    const LoadResult result = LoadTreeViewWithData(m_files, m_tree, *m_progress, m_pump);
    m_model->endBulkChange();
    m_busy = false;

    if (!result.ok()) {
        recoverFromDamagedFile();
        return false;
    }
    m_loaded = true;
    // Every node the load added became the selected node in turn: the last
    // one stays selected.
    if (CardNode *last = m_tree.lastInAbsoluteOrder())
        selectNode(last);
    // The tree as loaded counts as saved.
    m_modified->lower();
    if (m_quickSearch)
        m_quickSearch->addTrayIcon();
    m_sync->afterLoad();
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
    const quint64 changesBefore = m_tree.changeCount();
    const SaveResult result = SaveTreeViewWithData(m_files, m_tree, *m_progress, m_pump);
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
    // Events run while the file is written (without user input); a change
    // they made may have missed the file, so only a save that saw no change
    // lowers the flag.
    if (m_tree.changeCount() == changesBefore)
        m_modified->lower();
    m_sync->afterSave();
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

void TfrmMain::setSyncServices(PasswordStore *passwords, PasswordPrompt *prompt)
{
    m_sync->setPasswordServices(passwords, prompt);
}

QString TfrmMain::cardUid(const CardNode *card)
{
    return m_sync->cardUid(card);
}

void TfrmMain::keepCardUids()
{
    m_sync->keepIdentities(!isModified());
}

void TfrmMain::actSyncExecute()
{
    if (!m_loaded)
        return;
    TfrmSync dialog(*m_sync, m_dialogs, this);
    dialog.exec();
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
    // After the records were released on the way out there is nothing left
    // to write (releasing them counts as a change of the tree).
    if (!m_state.Modified || m_damaged || !m_loaded || m_released)
        return true;
    // The process is about to end: this save waits for no sync and starts
    // none (a run in flight is left; the next start finds again what it did
    // not bring in). A log-off that is cancelled syncs again afterwards.
    m_sync->shutdown(0);
    const bool saved = saveTree(false);
    m_sync->resume();
    return saved;
}

bool TfrmMain::FormCloseQuery()
{
    if (m_released)
        return true; // the program is already ending
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

    // Before the program ends, a sync in flight gets a moment to end; the
    // program does not wait longer (the server's side stays consistent, and
    // what the run did not bring in comes again with the next run). The last
    // save starts no new run.
    if (mayClose)
        m_sync->shutdown(2000);
    if (m_state.Modified && !saveTree(true)) {
        // The changes are not on disk: the window stays as it is, and the
        // program does not end without them.
        m_state.ExitRequested = false;
        m_sync->resume();
        return false;
    }

    if (!mayClose) {
        hide();
        return false;
    }
    FreeAllCardData(m_tree);
    m_released = true;
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
