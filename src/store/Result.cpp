#include "Result.h"

#include <QDir>

namespace kelvo {

QString describeErrorCode(ErrorCode code)
{
    switch (code) {
    case ErrorCode::None:
        return QStringLiteral("no error");
    case ErrorCode::FolderNotCreated:
        return QStringLiteral("the folder cannot be created");
    case ErrorCode::ReadFailed:
        return QStringLiteral("cannot be read");
    case ErrorCode::WriteFailed:
        return QStringLiteral("cannot be written");
    case ErrorCode::ReplaceFailed:
        return QStringLiteral("cannot be replaced");
    case ErrorCode::RemoveFailed:
        return QStringLiteral("cannot be removed");
    case ErrorCode::NotFound:
        return QStringLiteral("no such file");
    case ErrorCode::TreeChanged:
        return QStringLiteral("the card tree changed while it was being saved");
    case ErrorCode::DataDamaged:
        return QStringLiteral("damaged data file");
    case ErrorCode::MoveAsideFailed:
        return QStringLiteral("the damaged file cannot be moved aside");
    case ErrorCode::InUse:
        return QStringLiteral("Kelvo is running for this user");
    }
    return QString();
}

QString Error::message() const
{
    const QString what = text.isEmpty() ? describeErrorCode(code) : text;
    if (path.isEmpty())
        return what;
    return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), what);
}

} // namespace kelvo
