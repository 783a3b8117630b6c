#pragma once

#include <QString>

namespace kelvo::sync {

// The sync state of a data file lives beside it, under the data file's own
// name with ".sync" appended ("SavedCard/Card.DB" -> "SavedCard/Card.DB.sync").
// The state is a SQLite file; the data file itself never holds any of it.
QString SyncStatePath(const QString &dataFilePath);

} // namespace kelvo::sync
