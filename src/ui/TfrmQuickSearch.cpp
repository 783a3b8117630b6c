#include "TfrmQuickSearch.h"

#include "Dialogs.h"
#include "ImageList.h"
#include "MainState.h"
#include "QuickSearchForm.h"
#include "TfrmMain.h"
#include "TrayIcon.h"

#include <QMenu>
#include <QShowEvent>
#include <QVBoxLayout>

namespace kelvo {

TfrmQuickSearch::TfrmQuickSearch(TfrmMain &mainWindow, MainState &state, SearchWindowServices services, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_main(mainWindow)
    , m_state(state)
    , m_trayIcon(services.trayIcon)
{
    setObjectName(QStringLiteral("frmQuickSearch"));
    setWindowTitle(QStringLiteral("查找窗口"));
    resize(WindowWidth, WindowHeight);

    pm = new QMenu(this);
    pm->setObjectName(QStringLiteral("pm"));
    N2 = pm->addAction(QStringLiteral("显示主窗口"));
    N2->setObjectName(QStringLiteral("N2"));
    pm->addSeparator()->setObjectName(QStringLiteral("N6"));
    N3 = mainWindow.searchCommand();
    pm->addAction(N3);
    pm->addSeparator()->setObjectName(QStringLiteral("N7"));
    N1 = pm->addAction(QStringLiteral("退出系统"));
    N1->setObjectName(QStringLiteral("N1"));
    connect(N2, &QAction::triggered, this, &TfrmQuickSearch::N2Click);
    connect(N1, &QAction::triggered, this, &TfrmQuickSearch::N1Click);

    m_trayIcon.setIcon(ImageList::programIcon());
    m_trayIcon.setToolTip(applicationTitle());
    m_trayIcon.setContextMenu(pm);
    connect(&m_trayIcon, &TrayIcon::doubleClicked, this, &TfrmQuickSearch::N2Click);

    m_form =
        new QuickSearchForm(services.tree, services.dialogs, services.shell, services.spreadsheet, services.pump, this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_form);
}

TfrmQuickSearch::~TfrmQuickSearch()
{
    // The icon outlives this window; its menu does not.
    m_trayIcon.setContextMenu(nullptr);
}

void TfrmQuickSearch::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        QRect placed = frameGeometry();
        placed.moveCenter(m_main.frameGeometry().center());
        move(placed.topLeft());
    }
    QWidget::showEvent(event);
}

bool TfrmQuickSearch::hasNotificationArea() const
{
    return m_trayIcon.isAvailable();
}

void TfrmQuickSearch::addTrayIcon()
{
    if (m_trayIcon.isAvailable() && !m_trayIcon.isAdded())
        m_trayIcon.add();
}

void TfrmQuickSearch::deleteTrayIcon()
{
    if (m_trayIcon.isAdded())
        m_trayIcon.remove();
}

void TfrmQuickSearch::N2Click()
{
    m_state.ShownFromTray = true;
    m_main.showFromTray();
}

void TfrmQuickSearch::N1Click()
{
    m_state.ExitRequested = true;
    m_main.close();
}

} // namespace kelvo
