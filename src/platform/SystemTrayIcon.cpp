#include "SystemTrayIcon.h"

#include <QSystemTrayIcon>

namespace kelvo {

SystemTrayIcon::SystemTrayIcon(QObject *parent)
    : TrayIcon(parent)
{
}

QSystemTrayIcon *SystemTrayIcon::icon()
{
    if (!m_icon) {
        m_icon = new QSystemTrayIcon(m_picture, this);
        m_icon->setToolTip(m_toolTip);
        m_icon->setContextMenu(m_menu);
        connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick)
                Q_EMIT doubleClicked();
        });
    }
    return m_icon;
}

bool SystemTrayIcon::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void SystemTrayIcon::setIcon(const QIcon &icon)
{
    m_picture = icon;
    if (m_icon)
        m_icon->setIcon(icon);
}

void SystemTrayIcon::setToolTip(const QString &text)
{
    m_toolTip = text;
    if (m_icon)
        m_icon->setToolTip(text);
}

void SystemTrayIcon::setContextMenu(QMenu *menu)
{
    m_menu = menu;
    if (m_icon)
        m_icon->setContextMenu(menu);
}

void SystemTrayIcon::add()
{
    if (isAvailable())
        icon()->show();
}

void SystemTrayIcon::remove()
{
    if (m_icon)
        m_icon->hide();
}

bool SystemTrayIcon::isAdded() const
{
    return m_icon && m_icon->isVisible();
}

} // namespace kelvo
