#pragma once

#include "Shell.h"

#include <QList>

namespace kelvo {

// Test double: records what would have been opened, as handed over and as
// converted.
class RecordingShell final : public Shell
{
public:
    struct Opened
    {
        bool isFile = false;
        QString text; // as handed over
        QUrl url;     // as it would reach the desktop
    };

    void openLink(const QString &link) override { m_opened.append({false, link, linkToUrl(link)}); }
    void openFile(const QString &path) override { m_opened.append({true, path, fileToUrl(path)}); }

    const QList<Opened> &opened() const { return m_opened; }
    void clear() { m_opened.clear(); }

private:
    QList<Opened> m_opened;
};

} // namespace kelvo
