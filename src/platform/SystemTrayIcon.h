#pragma once

#include "TrayIcon.h"

class QSystemTrayIcon;

namespace kelvo {

// The tray icon through QSystemTrayIcon.
class SystemTrayIcon final : public TrayIcon
{
    Q_OBJECT

public:
    explicit SystemTrayIcon(QObject *parent = nullptr);

    bool isAvailable() const override;
    void setIcon(const QIcon &icon) override;
    void setToolTip(const QString &text) override;
    void setContextMenu(QMenu *menu) override;
    void add() override;
    void remove() override;
    bool isAdded() const override;

private:
    // Made when first needed: without a notification area it is never made.
    QSystemTrayIcon *icon();

    QSystemTrayIcon *m_icon = nullptr;
    QIcon m_picture;
    QString m_toolTip;
    QMenu *m_menu = nullptr;
};

} // namespace kelvo
