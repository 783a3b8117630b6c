#include "QtShell.h"

#include <QDesktopServices>

namespace kelvo {

void QtShell::openLink(const QString &link)
{
    const QUrl url = linkToUrl(link);
    if (url.isValid())
        QDesktopServices::openUrl(url);
}

void QtShell::openFile(const QString &path)
{
    QDesktopServices::openUrl(fileToUrl(path));
}

} // namespace kelvo
