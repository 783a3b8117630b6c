#include "SystemTrayIcon.h"

#include <QSystemTrayIcon>

namespace kelvo {

SystemTrayIcon::SystemTrayIcon(QObject *parent)
    : TrayIcon(parent)
    , m_icon(new QSystemTrayIcon(this))
{
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            Q_EMIT doubleClicked();
    });
}

bool SystemTrayIcon::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void SystemTrayIcon::setIcon(const QIcon &icon)
{
    m_icon->setIcon(icon);
}

void SystemTrayIcon::setToolTip(const QString &text)
{
    m_icon->setToolTip(text);
}

void SystemTrayIcon::setContextMenu(QMenu *menu)
{
    m_icon->setContextMenu(menu);
}

void SystemTrayIcon::add()
{
    m_icon->show();
}

void SystemTrayIcon::remove()
{
    m_icon->hide();
}

bool SystemTrayIcon::isAdded() const
{
    return m_icon->isVisible();
}

} // namespace kelvo
