#include "DataFile.h"

#include "AtomicFile.h"
#include "CardRecords.h"
#include "CardTree.h"
#include "FileHelpers.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kelvo {

namespace {

LoadResult failedLoad(Error error)
{
    LoadResult result;
    result.status = LoadResult::Status::Damaged;
    result.error = std::move(error);
    return result;
}

} // namespace

// --- the data file

LoadResult LoadTreeViewWithData(const DataFiles &files, CardTree &tree, ProgressSink &progress, MessagePump &pump)
{
    const QFileInfo info(files.dataFile);
    if (!info.exists()) {
        // First start: an empty data file marks the place of the data.
        if (Result<> folder = fileio::makeFolderFor(files.dataFile); !folder)
            return failedLoad(folder.error());
        if (Result<> created = writeFileAtomically(files.dataFile, {}); !created)
            return failedLoad(created.error());
        CreateDefaultTree(tree);
        LoadResult result;
        result.status = LoadResult::Status::DefaultTreeBuilt;
        return result;
    }

    QFile file(files.dataFile);
    if (!file.open(QIODevice::ReadOnly))
        return failedLoad(Error{ErrorCode::ReadFailed, files.dataFile, file.errorString()});
    const qint64 size = file.size();
    if (size == 0) {
        CreateDefaultTree(tree);
        LoadResult result;
        result.status = LoadResult::Status::DefaultTreeBuilt;
        return result;
    }

    // Read in pieces as the nodes are made: memory holds the tree, never the
    // whole file besides it. A failing read ends as Damaged with ReadFailed.
    LoadResult result = ReadTreeFromDevice(file, tree, progress, {}, nullptr, pump);
    if (result.ok())
        progress.CloseProgress();
    else
        result.error.path = files.dataFile;
    return result;
}

SaveResult SaveTreeViewWithData(const DataFiles &files, const CardTree &tree, ProgressSink &progress, MessagePump &pump,
                                const Clock &clock)
{
    SaveResult result;
    if (QFileInfo::exists(files.dataFile)) {
        result.backup = fileio::copyFileReplacing(files.dataFile, files.backupFile);
        if (const Result<QString> kept = BackupHistory(files.historyFolder, clock).keep(files.dataFile); !kept)
            result.history = kept.error();
    }

    QString error;
    const QByteArray bytes = SerializeTree(tree, progress, &error, pump);
    if (bytes.isEmpty()) {
        result.saved = Error{ErrorCode::TreeChanged, files.dataFile, error};
    } else {
        result.saved = fileio::makeFolderFor(files.dataFile);
        if (result.saved)
            result.saved = writeFileAtomically(files.dataFile, bytes);
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
        QFile damagedFile(files.dataFile);
        if (QFileInfo::exists(aside) || !damagedFile.rename(aside)) {
            const QString text = QFileInfo::exists(aside) ? QString() : damagedFile.errorString();
            result.outcome = Error{ErrorCode::MoveAsideFailed, files.dataFile, text};
            return result; // never overwrite a file that could not be kept
        }
        result.keptAsidePath = aside;
    }

    if (!QFileInfo::exists(files.backupFile)) {
        result.outcome = Error{ErrorCode::NotFound, files.backupFile, QString()};
        return result;
    }
    result.outcome = fileio::copyFileReplacing(files.backupFile, files.dataFile);
    return result;
}

} // namespace kelvo
