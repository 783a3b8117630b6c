#pragma once

#include "SkinArchive.h"

#include <QString>
#include <QStringList>

namespace kelvo {

// Largest single file packed into a skin archive.
inline constexpr qint64 SkinFileMaxSize = qint64(16) * 1024 * 1024;

// Reads `paths` as skin archive entries named by their file names, in the
// given order, and builds the compressed archive.
SkinArchiveBuild packSkinFiles(const QStringList &paths);

// The regular files directly inside `folder`, sorted by name: what
// `packSkinFiles` packs for a skin folder. Empty with `error` set on failure.
QStringList skinFolderFiles(const QString &folder, QString *error);

// Reads a skin archive file in either form: the stored skin property (a
// 32-bit length equal to the rest of the file, then the archive) or the bare
// compressed archive. The stored form is tried first when its length field
// fits; `storedProperty` tells which form was read.
bool readSkinArchiveFile(QByteArrayView bytes, TSkinReader &reader, bool *storedProperty, QString *error);

// Whether an entry name can be written as a file inside a folder without
// leaving it: no folder separators, not empty, not "." or "..", no control
// characters.
bool isSafeEntryFileName(QByteArrayView name);

} // namespace kelvo
