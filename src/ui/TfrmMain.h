#pragma once

#include "CardTree.h"
#include "CardTreeHost.h"
#include "DataFiles.h"
#include "ImageList.h"
#include "SkinData.h"

#include <QFrame>
#include <QMainWindow>

class QAction;
class QMenu;
class QSplitter;
class QToolBar;

namespace kelvo {

class CardTreeModel;
class CardTreeView;
class Dialogs;
class MessagePump;
class ProgressSink;
class Shell;
class TfrmQuickSearch;
struct MainState;

// What the main window is given by the program's entry (or by a test).
struct MainWindowServices
{
    Dialogs &dialogs;
    Shell &shell;
    MessagePump &pump;
    DataFiles files;
};

// The main window: the card tree `tvCard` on the left, the detail panel area
// `Panel2` on the right, the toolbar, the menu bar and the status bar. It owns
// the card tree and every record in it. Closing it saves unsaved changes and
// hides it; only a confirmed exit from the tray menu (or, without a
// notification area, any close) ends the program.
//
// For the commands, the detail panel and the search window:
// - cardTree(), cardModel(), tvCard: the tree, its item model and its view;
//   indexOfNode()/nodeOfIndex() map between nodes and model indexes.
// - selectedNode(): the node holding the selection focus (the one every
//   command acts on); selectNode() makes a node that node.
// - setModified()/isModified(): the unsaved-changes flag `Modified`.
// - dialogs(), shell(): message boxes and the desktop, through the platform
//   layer; messagePump(): lets windows repaint inside long loops.
// - Panel2: the frame the detail panel fills; quickSearch(): the search window.
// - tvCardChange(node): the selected node, reported 50 ms after the last of
//   several quick selection changes.
// - Every node added to the tree becomes the selected node and raises
//   `Modified` (for a load: the last node in absolute order, once).
class TfrmMain : public QMainWindow, public CardTreeHost
{
    Q_OBJECT

public:
    static constexpr int ClientWidth = 603;
    static constexpr int ClientHeight = 321;
    static constexpr int ToolBarHeight = 38;
    static constexpr int StatusBarHeight = 19;
    static constexpr int TreePaneWidth = 165;
    static constexpr int SplitterWidth = 3;

    TfrmMain(MainWindowServices services, MainState &state, QWidget *parent = nullptr);
    ~TfrmMain() override;

    // Wiring done at start-up, once the other two windows exist.
    void setProgressSink(ProgressSink *progress);
    void setQuickSearch(TfrmQuickSearch *quickSearch);

    // --- the thirteen commands (caption = text = tooltip, icon from ImageList1)
    QAction *actAddCardClass = nullptr;
    QAction *actAddCard = nullptr;
    QAction *actOpenMainPage = nullptr;
    QAction *actDeleteSomething = nullptr;
    QAction *actSearchCard = nullptr;
    QAction *actSoftHelp = nullptr;
    QAction *actSendMail = nullptr;
    QAction *actRename = nullptr;
    QAction *actSaveAll = nullptr;
    QAction *actMailToAuthor = nullptr;
    QAction *actAbout = nullptr;
    QAction *actExit = nullptr;
    QAction *actAuthorMainPage = nullptr;

    // --- controls
    QToolBar *ToolBar1 = nullptr;
    QMenuBar *MainMenu1 = nullptr;
    QSplitter *Splitter1 = nullptr;
    CardTreeView *tvCard = nullptr;
    QFrame *Panel2 = nullptr;
    QStatusBar *StatusBar1 = nullptr;

    const ImageList &imageList() const { return ImageList1; }

    // --- for the helpers that plug in
    CardTree &cardTree() override { return m_tree; }
    CardTreeModel *cardModel() const { return m_model; }
    QTreeView *treeView() override;
    QModelIndex indexOfNode(CardNode *node) override;
    CardNode *nodeOfIndex(const QModelIndex &index) override;
    CardNode *selectedNode() const override;
    void selectNode(CardNode *node) override;
    void setModified(bool modified) override;
    bool isModified() const override;
    Dialogs &dialogs() override { return m_dialogs; }
    QWidget *dialogOwner() override { return this; }
    void showSearchWindow() override;
    Shell &shell() { return m_shell; }
    TfrmQuickSearch *quickSearch() const { return m_quickSearch; }
    MessagePump &messagePump() { return m_pump; }
    const DataFiles &dataFiles() const { return m_files; }
    MainState &state() { return m_state; }

    // --- life cycle
    // Fixes DataPath; runs while the window is created.
    void FormCreate();
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
    // The windows keep the platform's ordinary look (painting from the skin
    // is not done), so it only tells whether the stored skin is usable.
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
    void createActions();
    void loadStoredSkin();
    void createMenus();
    void createToolBar();
    void createCentralArea();
    QAction *makeAction(const char *name, const QString &caption, int icon, bool enabled);
    void nodesAdded(const QModelIndex &parent, int first, int last);
    // Writes the tree; on failure tells the user and keeps `Modified`.
    bool saveTree(bool reportFailure);
    void recoverFromDamagedFile();

    Dialogs &m_dialogs;
    Shell &m_shell;
    MessagePump &m_pump;
    DataFiles m_files;
    MainState &m_state;
    ImageList ImageList1;
    CardTree m_tree;
    TSkinData SkinData1;
    CardTreeModel *m_model = nullptr;
    ProgressSink *m_progress;
    TfrmQuickSearch *m_quickSearch = nullptr;
    bool m_loaded = false;
    bool m_damaged = false;
    bool m_busy = false; // a load or a save is running (events are pumped)
};

// The four-line message shown when the data file cannot be read.
QString damagedFileMessage();

} // namespace kelvo
