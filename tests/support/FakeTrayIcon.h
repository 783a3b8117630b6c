#pragma once

#include "TrayIcon.h"

namespace kelvo {

// Test double: a notification area that exists or not, as told, and counts
// how often the icon was added and removed.
class FakeTrayIcon final : public TrayIcon
{
    Q_OBJECT

public:
    explicit FakeTrayIcon(bool available, QObject *parent = nullptr)
        : TrayIcon(parent)
        , m_available(available)
    {
    }

    bool isAvailable() const override { return m_available; }
    void setIcon(const QIcon &icon) override { m_iconSet = !icon.isNull(); }
    void setToolTip(const QString &text) override { m_toolTip = text; }
    void setContextMenu(QMenu *menu) override { m_menu = menu; }
    void add() override
    {
        ++m_addCount;
        m_added = true;
    }
    void remove() override
    {
        ++m_removeCount;
        m_added = false;
    }
    bool isAdded() const override { return m_added; }

    bool iconSet() const { return m_iconSet; }
    QString toolTip() const { return m_toolTip; }
    QMenu *contextMenu() const { return m_menu; }
    int addCount() const { return m_addCount; }
    int removeCount() const { return m_removeCount; }
    void simulateDoubleClick() { Q_EMIT doubleClicked(); }

private:
    bool m_available;
    bool m_added = false;
    bool m_iconSet = false;
    QString m_toolTip;
    QMenu *m_menu = nullptr;
    int m_addCount = 0;
    int m_removeCount = 0;
};

} // namespace kelvo
