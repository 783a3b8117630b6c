#include "DataFile.h"

#include "CardRecords.h"
#include "CardTree.h"
#include "FileHelpers.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace kelvo {

namespace {

LoadResult damaged(qint64 offset, QString reason)
{
    LoadResult result;
    result.status = LoadResult::Status::Damaged;
    result.offset = offset;
    result.reason = std::move(reason);
    return result;
}

} // namespace

// --- the data file

LoadResult LoadTreeViewWithData(const DataFiles &files, CardTree &tree, ProgressSink &progress)
{
    const QFileInfo info(files.dataFile);
    if (!info.exists()) {
        // First start: an empty data file marks the place of the data.
        QString error;
        if (!fileio::makeFolderFor(files.dataFile, &error))
            return damaged(-1, error);
        QFile file(files.dataFile);
        if (!file.open(QIODevice::WriteOnly))
            return damaged(-1, fileio::describeFileError(files.dataFile, file.errorString()));
        file.close();
        CreateDefaultTree(tree);
        LoadResult result;
        result.status = LoadResult::Status::DefaultTreeBuilt;
        return result;
    }

    QFile file(files.dataFile);
    if (!file.open(QIODevice::ReadOnly))
        return damaged(-1, fileio::describeFileError(files.dataFile, file.errorString()));
    const qint64 size = file.size();
    if (size == 0) {
        CreateDefaultTree(tree);
        LoadResult result;
        result.status = LoadResult::Status::DefaultTreeBuilt;
        return result;
    }

    QByteArray readBytes;
    QByteArrayView bytes;
    if (uchar *mapped = file.map(0, size)) {
        fileio::adviseSequentialRead(mapped, size);
        bytes = QByteArrayView(reinterpret_cast<const char *>(mapped), size);
    } else {
        readBytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return damaged(-1, fileio::describeFileError(files.dataFile, file.errorString()));
        bytes = readBytes;
    }

    LoadResult result = ReadTreeFromBytes(bytes, tree, progress);
    if (result.ok())
        progress.CloseProgress();
    return result;
}

SaveResult SaveTreeViewWithData(const DataFiles &files, const CardTree &tree, ProgressSink &progress)
{
    SaveResult result;
    if (QFileInfo::exists(files.dataFile)) {
        QString error;
        if (!fileio::copyFileReplacing(files.dataFile, files.backupFile, &error))
            result.backupError = error;
    }

    QString error;
    const QByteArray bytes = SerializeTree(tree, progress, &error);
    if (bytes.isEmpty()) {
        result.ok = false;
        result.error = fileio::describeFileError(files.dataFile, error);
        progress.CloseProgress();
        return result;
    }

    if (!fileio::makeFolderFor(files.dataFile, &result.error)) {
        result.ok = false;
        progress.CloseProgress();
        return result;
    }
    QSaveFile file(files.dataFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        result.ok = false;
        result.error = fileio::describeFileError(files.dataFile, file.errorString());
    }
    progress.CloseProgress();
    return result;
}

// --- recovery

RecoveryResult RecoverDamagedDataFile(const DataFiles &files)
{
    RecoveryResult result;
    const QFileInfo dataInfo(files.dataFile);
    if (dataInfo.exists() || dataInfo.isSymLink()) {
        const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        QString aside = files.dataFile + QStringLiteral(".damaged-") + stamp;
        for (int n = 2; QFileInfo::exists(aside) && n < 1000; ++n)
            aside = files.dataFile + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(n);
        if (QFileInfo::exists(aside) || !QFile::rename(files.dataFile, aside)) {
            result.error = fileio::describeFileError(files.dataFile,
                                             QStringLiteral("the damaged file cannot be moved aside"));
            return result; // never overwrite a file that could not be kept
        }
        result.keptAsidePath = aside;
    }

    if (!QFileInfo::exists(files.backupFile)) {
        result.error = fileio::describeFileError(files.backupFile, QStringLiteral("there is no backup to restore"));
        return result;
    }
    QString error;
    if (fileio::copyFileReplacing(files.backupFile, files.dataFile, &error))
        result.backupRestored = true;
    else
        result.error = error;
    return result;
}

} // namespace kelvo
