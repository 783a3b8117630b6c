#include "Shell.h"

#include <QFileInfo>

namespace kelvo {

QUrl fileToUrl(const QString &path)
{
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
}

} // namespace kelvo
