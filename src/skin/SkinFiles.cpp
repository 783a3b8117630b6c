#include "SkinFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kelvo {

SkinArchiveBuild packSkinFiles(const QStringList &paths)
{
    QList<SkinArchiveEntry> entries;
    entries.reserve(paths.size());
    for (const QString &path : paths) {
        SkinArchiveBuild failed;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            failed.error = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
            return failed;
        }
        if (file.size() > SkinFileMaxSize) {
            failed.error = QStringLiteral("%1 is larger than %2 bytes.").arg(path).arg(SkinFileMaxSize);
            return failed;
        }
        entries.append({QFileInfo(path).fileName().toUtf8(), file.readAll()});
    }
    return buildSkinArchive(entries);
}

QStringList skinFolderFiles(const QString &folder, QString *error)
{
    const QDir dir(folder);
    if (!dir.exists()) {
        if (error)
            *error = QStringLiteral("No such folder: %1").arg(folder);
        return {};
    }
    QStringList paths;
    for (const QFileInfo &info : dir.entryInfoList(QDir::Files | QDir::Hidden, QDir::Name))
        paths.append(info.filePath());
    return paths;
}

bool readSkinArchiveFile(QByteArrayView bytes, TSkinReader &reader, bool *storedProperty, QString *error)
{
    const StoredSkinProperty stored = parseStoredSkinProperty(bytes);
    if (stored.ok && stored.hasSkin && stored.archive.size() == bytes.size() - 4
        && reader.readArchive(stored.archive)) {
        if (storedProperty)
            *storedProperty = true;
        return true;
    }
    if (reader.readArchive(bytes)) {
        if (storedProperty)
            *storedProperty = false;
        return true;
    }
    if (error)
        *error = reader.errorString();
    return false;
}

bool isSafeEntryFileName(QByteArrayView name)
{
    if (name.isEmpty() || name == QByteArrayView(".") || name == QByteArrayView(".."))
        return false;
    for (char c : name) {
        if (c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    }
    return true;
}

} // namespace kelvo
