#include "DataFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace kelvo {

namespace {

QString withSlash(const QString &folder)
{
    if (folder.isEmpty() || folder.endsWith(QLatin1Char('/')))
        return folder;
    return folder + QLatin1Char('/');
}

bool isWritableFolder(const QString &folder)
{
    if (folder.isEmpty())
        return false;
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

} // namespace

DataFiles DataFiles::inFolder(const QString &baseFolder)
{
    const QString base = withSlash(QDir::fromNativeSeparators(baseFolder));
    DataFiles files;
    files.dataFile = base + QStringLiteral("SavedCard/Card.DB");
    files.backupFile = base + QStringLiteral("BackUP/db.kelvo");
    files.historyFolder = base + QStringLiteral("BackUP/history");
    return files;
}

DataFiles DataFiles::forDataFile(const QString &dataFile)
{
    const QFileInfo info(QDir::fromNativeSeparators(dataFile));
    DataFiles files = inFolder(QFileInfo(info.absolutePath()).absolutePath());
    files.dataFile = info.absoluteFilePath();
    return files;
}

DataFiles DataFiles::forProgram(const QString &programFolder, const QString &perUserFolder)
{
    if (isWritableFolder(programFolder) || perUserFolder.isEmpty())
        return inFolder(programFolder);
    return inFolder(perUserFolder);
}

DataFiles DataFiles::forThisProgram()
{
    return forProgram(QCoreApplication::applicationDirPath(),
                      QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

} // namespace kelvo
