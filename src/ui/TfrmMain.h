#pragma once

#include "CardCapturer.h"
#include "CardTree.h"
#include "CardTreeHost.h"
#include "DataFiles.h"
#include "ImageList.h"
#include "SkinData.h"

#include <QFrame>
#include <QMainWindow>

#include <array>
#include <memory>

class QAction;
class QMenu;
class QSplitter;
class QToolBar;

namespace kelvo {

class CardFileCommands;
class CardTreeControls;
class CardTreeModel;
class CardTreeView;
class Dialogs;
class LinkCommands;
class MessagePump;
class PasswordPrompt;
class PasswordStore;
class ModifiedFlag;
class ProgressSink;
class Shell;
class TfrmQuickSearch;
class WindowSync;
struct MainState;

// What the main window is given by the session that builds the program.
struct MainWindowServices
{
    CardTree &tree;
    Dialogs &dialogs;
    Shell &shell;
    MessagePump &pump;
    DataFiles files;
    // Reads pictures of cards for the capture window; without it "扫描名片..."
    // and picture drops are not offered.
    CardCapturerFactory capturers = {};
};

// The main window: the card tree `tvCard` on the left, the detail panel area
// `Panel2` on the right, the toolbar `ToolBar1`, the menu bar `MainMenu1` and
// the status bar `StatusBar1`. It shows the session's card tree and is the
// only window that changes it. Closing it saves unsaved changes and hides it;
// only a confirmed exit from the tray menu (or, without a notification area,
// any close) ends the program.
//
// For the commands, the detail panel and the search window:
// - cardTree(), indexOfNode()/nodeOfIndex(): the tree and the mapping
//   between its nodes and the view's model indexes.
// - selectedNode(): the node holding the selection focus (the one every
//   command acts on); selectNode() makes a node that node.
// - isModified(): the unsaved-changes flag `Modified`. It follows the tree:
//   every change the tree announces raises it; raiseModifiedWithoutChange()
//   serves the rules that raise it without a change.
// - dialogs(): message boxes through the platform layer.
// - tvCardChange(node): the selected node, reported 50 ms after the last of
//   several quick selection changes.
// - Every node added to the tree becomes the selected node (for a load: the
//   last node in absolute order, once).
class TfrmMain
    : public QMainWindow
    , public CardTreeHost
{
    Q_OBJECT

public:
    static constexpr int ClientWidth = 603;
    static constexpr int ClientHeight = 321;
    static constexpr int ToolBarHeight = 38;
    static constexpr int StatusBarHeight = 19;
    static constexpr int TreePaneWidth = 165;
    static constexpr int SplitterWidth = 3;

    // The thirteen commands (caption = text = tooltip, icon from ImageList1).
    enum class Command {
        AddCardClass,
        AddCard,
        OpenMainPage,
        DeleteSomething,
        SearchCard,
        SoftHelp,
        SendMail,
        Rename,
        SaveAll,
        MailToAuthor,
        About,
        Exit,
        AuthorMainPage,
    };
    static constexpr int CommandCount = 13;

    TfrmMain(MainWindowServices services, MainState &state, QWidget *parent = nullptr);
    ~TfrmMain() override;

    // Wiring done at start-up, once the other two windows exist.
    void setProgressSink(ProgressSink *progress);
    void setQuickSearch(TfrmQuickSearch *quickSearch);

    // The commands of the menu "工具" (`mnuTools`): "名片二维码..." and "扫描名片...".
    QAction *cardQrCodeCommand() const { return actCardQrCode; }
    QAction *scanCardsCommand() const { return actScanCards; }
    // "名片二维码...": the selected card as a QR code (a notice when no card is selected).
    void actCardQrCodeExecute();
    // "扫描名片...": pictures chosen in the open dialog, read into the selected node's class.
    void actScanCardsExecute();
    // The capture window over `files`, adding to `targetClass` (nullptr: the reserved class).
    void openCaptureWindow(CardNode *targetClass, const QStringList &files);
    // The keyring and the password prompt of the sync.
    void setSyncServices(PasswordStore *passwords, PasswordPrompt *prompt);
    // The window's side of the sync with an address book.
    WindowSync &windowSync() const { return *m_sync; }
    // "工具 → 同步...": the sync dialog (modal).
    void actSyncExecute();

    // The search command `actSearchCard`, which the tray menu offers too.
    QAction *searchCommand() const { return command(Command::SearchCard); }
    // The one menu of the program's extensions, "工具" (`mnuTools`), before
    // "帮助": the commands that are not among the specified ones go here.
    QMenu *toolsMenu() const { return mnuTools; }

    const ImageList &imageList() const { return ImageList1; }

    // --- CardTreeHost
    CardTree &cardTree() override { return m_tree; }
    QTreeView *treeView() override;
    QModelIndex indexOfNode(CardNode *node) override;
    CardNode *nodeOfIndex(const QModelIndex &index) override;
    CardNode *selectedNode() const override;
    void selectNode(CardNode *node) override;
    void raiseModifiedWithoutChange() override;
    Dialogs &dialogs() override { return m_dialogs; }
    QWidget *dialogOwner() override { return this; }
    void showSearchWindow() override;
    QString cardUid(const CardNode *card) override;
    void keepCardUids() override;

    // `Modified`: the tree holds changes not yet in the data file.
    bool isModified() const;
    MainState &state() { return m_state; }

    // --- life cycle
    // Runs whenever the window is about to become visible. The first time it
    // loads the data file and adds the tray icon. Returns false when the
    // data file was damaged: the program must end without showing anything.
    bool FormShow();
    // The close request: returns whether the window may close.
    bool FormCloseQuery();
    // The save command: writes the tree whatever `Modified` says.
    void actSaveAllExecute();
    // The exit command: a close request, as the close box makes it.
    void actExitExecute();
    // The tray's show command (ShownFromTray is already set).
    void showFromTray();
    // Writes unsaved changes when the session ends or the process is told to
    // terminate; no window is shown. Returns false when the save failed.
    bool saveBeforeProcessEnd();

    // Whether the first showing has loaded the tree.
    bool isLoaded() const { return m_loaded; }
    // True after a damaged data file ended the program.
    bool endedByDamagedFile() const { return m_damaged; }

    // The skin component: loads the skin stored with the window at creation.
    // The session paints the program from it (Session::applySkin) when it
    // loaded and the user chose no Qt style of their own.
    const TSkinData &skinData() const { return SkinData1; }

    void setVisible(bool visible) override;

Q_SIGNALS:
    // The selected node after the tree's change delay.
    void tvCardChange(kelvo::CardNode *node);
    // The program must end now with this exit code (confirmed exit, or a
    // damaged data file).
    void programEndRequested(int exitCode);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Fixes DataPath and loads the stored skin; runs while the window is created.
    void FormCreate();
    void createCommands();
    QAction *command(Command which) const { return m_commands[static_cast<size_t>(which)]; }
    void loadStoredSkin();
    void createMenus();
    void createToolsMenu();
    void createToolBar();
    void createCentralArea();
    void createTreeControls();
    void nodesAdded(const QModelIndex &parent, int first, int last);
    // Writes the tree; on failure tells the user and keeps `Modified`.
    bool saveTree(bool reportFailure);
    void recoverFromDamagedFile();

    Dialogs &m_dialogs;
    Shell &m_shell;
    MessagePump &m_pump;
    DataFiles m_files;
    CardTree &m_tree;
    MainState &m_state;
    std::unique_ptr<ModifiedFlag> m_modified;
    ImageList ImageList1;
    TSkinData SkinData1;
    CardTreeModel *m_model = nullptr;
    std::array<QAction *, CommandCount> m_commands = {};
    std::unique_ptr<LinkCommands> m_links;
    std::unique_ptr<CardFileCommands> m_fileCommands;
    CardTreeControls *m_treeControls = nullptr;
    CardCapturerFactory m_capturers;
    QAction *actCardQrCode = nullptr;
    QAction *actScanCards = nullptr;
    std::unique_ptr<WindowSync> m_sync;
    QAction *actSync = nullptr;

    // --- controls
    QToolBar *ToolBar1 = nullptr;
    QMenuBar *MainMenu1 = nullptr;
    QMenu *mnuTools = nullptr;
    QSplitter *Splitter1 = nullptr;
    CardTreeView *tvCard = nullptr;
    QFrame *Panel2 = nullptr;
    QStatusBar *StatusBar1 = nullptr;

    ProgressSink *m_progress;
    TfrmQuickSearch *m_quickSearch = nullptr;
    bool m_loaded = false;
    bool m_damaged = false;
    bool m_released = false; // the records were released on the way out
    bool m_busy = false;     // a load or a save is running (events are pumped)
};

// The four-line message shown when the data file cannot be read.
QString damagedFileMessage();

} // namespace kelvo
