#include "Session.h"

#include "TfrmMain.h"
#include "TfrmProgress.h"
#include "TfrmQuickSearch.h"
#include "TrayIcon.h"

namespace kelvo {

Session::Session(Services services, QObject *parent)
    : QObject(parent)
{
    m_main = std::make_unique<TfrmMain>(
        MainWindowServices{services.dialogs, services.shell, m_pump, std::move(services.files)}, m_state);
    m_progress = std::make_unique<TfrmProgress>(m_pump);
    m_quickSearch = std::make_unique<TfrmQuickSearch>(*m_main, m_state, std::move(services.trayIcon));
    m_main->setProgressSink(m_progress.get());
    m_main->setQuickSearch(m_quickSearch.get());
    connect(m_main.get(), &TfrmMain::programEndRequested, this, &Session::finished);
}

Session::~Session()
{
    // The search window refers to the main window: it goes first.
    m_quickSearch.reset();
    m_progress.reset();
    m_main.reset();
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
