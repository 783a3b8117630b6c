#pragma once

#include <QWidget>

class QAction;
class QMenu;
class QShowEvent;

namespace kelvo {

class CardTree;
class Dialogs;
class MessagePump;
class QuickSearchForm;
class Shell;
class Spreadsheet;
class TfrmMain;
class TrayIcon;
struct MainState;

// What the search window is given by the session that builds the program.
struct SearchWindowServices
{
    CardTree &tree;
    Dialogs &dialogs;
    Shell &shell;
    Spreadsheet &spreadsheet;
    MessagePump &pump;
    TrayIcon &trayIcon;
};

// The search window. Created hidden at start-up, it lives for the whole run
// and also owns the program's tray icon with its menu `pm`: `N2` shows the
// main window, `N3` is the main window's search command, `N1` ends the
// program.
class TfrmQuickSearch : public QWidget
{
    Q_OBJECT

public:
    static constexpr int WindowWidth = 416;
    static constexpr int WindowHeight = 360;

    TfrmQuickSearch(TfrmMain &mainWindow, MainState &state, SearchWindowServices services, QWidget *parent = nullptr);
    ~TfrmQuickSearch() override;

    // The search itself: condition, field list, result list, exports.
    QuickSearchForm *searchForm() const { return m_form; }
    // Whether the desktop has a notification area to hold the icon.
    bool hasNotificationArea() const;
    // Added once after the first load; removed when the program really ends.
    void addTrayIcon();
    void deleteTrayIcon();

public Q_SLOTS:
    // Shows the main window again, without reloading anything.
    void N2Click();
    // Asks the main window to close for good (it asks the user first).
    void N1Click();

protected:
    // Each showing places the window centred over the main window.
    void showEvent(QShowEvent *event) override;

private:
    TfrmMain &m_main;
    MainState &m_state;
    TrayIcon &m_trayIcon;
    QMenu *pm = nullptr;
    QAction *N2 = nullptr; // "显示主窗口"
    QAction *N3 = nullptr; // the main window's search command
    QAction *N1 = nullptr; // "退出系统"
    QuickSearchForm *m_form = nullptr;
};

} // namespace kelvo
