#include "Session.h"

#include "PasswordPrompt.h"
#include "QtDialogs.h"
#include "QtKeychainPasswordStore.h"
#include "QtShell.h"
#include "SkinStyle.h"
#include "SkinWindowFrame.h"
#include "SystemTrayIcon.h"
#include "TfrmMain.h"
#include "TfrmProgress.h"
#include "TfrmQuickSearch.h"
#include "TrayIcon.h"
#include "XlsxSpreadsheet.h"

#include <QApplication>

namespace kelvo {

struct Session::DesktopServices
{
    QtDialogs dialogs;
    QtShell shell;
    SystemTrayIcon trayIcon;
    // The workbook export writes .xlsx files and shows them in the desktop's
    // spreadsheet program.
    XlsxSpreadsheet spreadsheet{[this](const QString &path) { shell.openFile(path); }};
    // The sync's password: the desktop's keyring, else asked for.
    QtKeychainPasswordStore passwords;
    QtPasswordPrompt passwordPrompt;
};

Session::Session(DataFiles files, QObject *parent)
    : QObject(parent)
    , m_desktop(std::make_unique<DesktopServices>())
{
    buildWindows({m_desktop->dialogs, m_desktop->shell, m_desktop->trayIcon, m_desktop->spreadsheet, std::move(files),
                  &makeProcessCardCapturer});
    m_main->setSyncServices(&m_desktop->passwords, &m_desktop->passwordPrompt);
}

Session::Session(Services services, QObject *parent)
    : QObject(parent)
{
    buildWindows(std::move(services));
}

void Session::buildWindows(Services services)
{
    m_main = std::make_unique<TfrmMain>(
        MainWindowServices{m_tree, services.dialogs, services.shell, m_pump, std::move(services.files),
                           std::move(services.capturers)},
        m_state);
    m_progress = std::make_unique<TfrmProgress>();
    m_quickSearch =
        std::make_unique<TfrmQuickSearch>(*m_main, m_state,
                                          SearchWindowServices{m_tree, services.dialogs, services.shell,
                                                               services.spreadsheet, m_pump, services.trayIcon});
    m_main->setProgressSink(m_progress.get());
    m_main->setQuickSearch(m_quickSearch.get());
    connect(m_main.get(), &TfrmMain::programEndRequested, this, &Session::finished);
}

Session::~Session()
{
    // The search window refers to the main window: it goes first. The tree
    // and the services outlive all three.
    m_quickSearch.reset();
    m_progress.reset();
    m_main.reset();
}

bool Session::applySkin()
{
    if (m_skinStyle)
        return true;
    auto style = std::make_unique<SkinStyle>(m_main->skinData());
    if (!style->isSkinned())
        return false; // skinning is off: the platform's look stays
    m_skinStyle = style.release();
    QApplication::setStyle(m_skinStyle); // the application owns it from here
    QApplication::setPalette(m_skinStyle->standardPalette());
    // The main window: minimize and close, no maximize; the progress window
    // no buttons; the search window close.
    SkinWindowFrame::decorate(m_main.get(), *m_skinStyle, CaptionButton::Minimize | CaptionButton::Close);
    SkinWindowFrame::decorate(m_progress.get(), *m_skinStyle, CaptionButton::None);
    SkinWindowFrame::decorate(m_quickSearch.get(), *m_skinStyle, CaptionButton::Close);
    return true;
}

void Session::showMainWindow()
{
    m_main->show();
}

void Session::showRequestedByAnotherStart()
{
    if (!m_main->isLoaded())
        return; // still starting: the window is about to show anyway
    if (m_quickSearch->hasNotificationArea())
        m_quickSearch->N2Click();
    else
        m_main->showFromTray();
}

bool Session::saveBeforeProcessEnd()
{
    return m_main->saveBeforeProcessEnd();
}

} // namespace kelvo
