#pragma once

#include "CardCapturer.h"
#include "CardTree.h"
#include "DataFiles.h"
#include "EventLoopPump.h"
#include "MainState.h"

#include <QObject>

#include <memory>

namespace kelvo {

class Dialogs;
class Shell;
class SkinStyle;
class Spreadsheet;
class TfrmMain;
class TfrmProgress;
class TfrmQuickSearch;
class TrayIcon;

// The one place that builds the program: the card tree, the shared values,
// the message pump and the desktop services, then the three windows in
// start-up order (the main window, the progress window, hidden, and the
// search window, hidden, holding the tray icon), each handed what it needs.
// No window makes a service itself. The program's entry runs one; tests run
// one with test doubles.
class Session : public QObject
{
    Q_OBJECT

public:
    // The desktop services the windows use. They must outlive the session.
    struct Services
    {
        Dialogs &dialogs;
        Shell &shell;
        TrayIcon &trayIcon;
        Spreadsheet &spreadsheet;
        DataFiles files;
        // Reads pictures of cards for the capture window; none: the capture
        // is not offered.
        CardCapturerFactory capturers = {};
    };

    // The program's own session: Qt's message boxes and file dialog, the
    // desktop's shell, the notification area, and .xlsx workbooks that the
    // shell opens once saved, and the recogniser in a helper process.
    explicit Session(DataFiles files, QObject *parent = nullptr);
    // A session over the given services.
    explicit Session(Services services, QObject *parent = nullptr);
    ~Session() override;

    TfrmMain *mainWindow() const { return m_main.get(); }
    TfrmProgress *progressWindow() const { return m_progress.get(); }
    TfrmQuickSearch *quickSearch() const { return m_quickSearch.get(); }
    CardTree &cardTree() { return m_tree; }
    MainState &state() { return m_state; }
    EventLoopPump &messagePump() { return m_pump; }

    // Paints the program from the main window's skin: installs the skin's
    // style for the whole program and gives the three windows the skin's
    // frame and caption. Does nothing when the stored skin did not load.
    // Returns whether the skin is in use.
    bool applySkin();
    // The skin's style while the program uses it.
    SkinStyle *skinStyle() const { return m_skinStyle; }

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
    struct DesktopServices;

    void buildWindows(Services services);

    std::unique_ptr<DesktopServices> m_desktop; // only in the program's own session
    CardTree m_tree;
    MainState m_state;
    EventLoopPump m_pump;
    std::unique_ptr<TfrmMain> m_main;
    std::unique_ptr<TfrmProgress> m_progress;
    std::unique_ptr<TfrmQuickSearch> m_quickSearch;
    SkinStyle *m_skinStyle = nullptr; // owned by the application once installed
};

} // namespace kelvo
