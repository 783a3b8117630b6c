#include "SyncStatePath.h"

namespace kelvo::sync {

QString SyncStatePath(const QString &dataFilePath)
{
    return dataFilePath + QStringLiteral(".sync");
}

} // namespace kelvo::sync
