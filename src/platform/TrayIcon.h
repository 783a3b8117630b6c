#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

class QMenu;

namespace kelvo {

// The program's icon in the notification area. It is added once, after the
// first load, and removed when the program really ends.
class TrayIcon : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Whether the desktop has a notification area at all.
    virtual bool isAvailable() const = 0;
    virtual void setIcon(const QIcon &icon) = 0;
    virtual void setToolTip(const QString &text) = 0;
    // The menu opened by the right button; the caller keeps ownership.
    virtual void setContextMenu(QMenu *menu) = 0;
    // Adds the icon to the notification area, or removes it.
    virtual void add() = 0;
    virtual void remove() = 0;
    virtual bool isAdded() const = 0;

Q_SIGNALS:
    // A double-click with the left button.
    void doubleClicked();
};

} // namespace kelvo
