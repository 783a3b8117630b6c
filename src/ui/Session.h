#pragma once

#include "DataFiles.h"
#include "MainState.h"
#include "MessagePump.h"

#include <QObject>

#include <memory>

namespace kelvo {

class Dialogs;
class Shell;
class TfrmMain;
class TfrmProgress;
class TfrmQuickSearch;
class TrayIcon;

// The program's three windows and their shared values, created in start-up
// order: the main window, the progress window (hidden), the search window
// (hidden, holding the tray icon). The program's entry runs one; tests run
// one with test doubles.
class Session : public QObject
{
    Q_OBJECT

public:
    struct Services
    {
        Dialogs &dialogs;
        Shell &shell;
        std::unique_ptr<TrayIcon> trayIcon;
        DataFiles files;
    };

    explicit Session(Services services, QObject *parent = nullptr);
    ~Session() override;

    TfrmMain *mainWindow() const { return m_main.get(); }
    TfrmProgress *progressWindow() const { return m_progress.get(); }
    TfrmQuickSearch *quickSearch() const { return m_quickSearch.get(); }
    MainState &state() { return m_state; }
    MessagePump &messagePump() { return m_pump; }

public Q_SLOTS:
    // The message loop's first showing of the main window.
    void showMainWindow();
    // Another start of the program asked this one to show itself.
    void showRequestedByAnotherStart();
    // The session is ending (log-off) or the process was told to terminate:
    // writes unsaved changes without asking.
    bool saveBeforeProcessEnd();

Q_SIGNALS:
    // The program must end with this exit code.
    void finished(int exitCode);

private:
    MainState m_state;
    MessagePump m_pump;
    std::unique_ptr<TfrmMain> m_main;
    std::unique_ptr<TfrmProgress> m_progress;
    std::unique_ptr<TfrmQuickSearch> m_quickSearch;
};

} // namespace kelvo
