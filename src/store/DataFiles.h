#pragma once

#include <QString>

namespace kelvo {

// Where the data file and its backups live: "SavedCard/Card.DB",
// "BackUP/db.kelvo" and the dated copies in "BackUP/history" below one base
// folder. The base is the program folder, or the per-user data folder when
// the program folder is not writable (a system-wide install). One backup
// folder serves both the save and the recovery.
struct DataFiles
{
    QString dataFile;
    QString backupFile;
    QString historyFolder; // the backup history (BackupHistory)

    // The paths below `baseFolder` (with or without a trailing '/').
    static DataFiles inFolder(const QString &baseFolder);
    // The paths that belong to a data file at `dataFile`: its backups lie in
    // "BackUP" beside the data file's folder, as inFolder lays them out.
    static DataFiles forDataFile(const QString &dataFile);
    // The program folder when it is writable, else the per-user data folder.
    static DataFiles forProgram(const QString &programFolder, const QString &perUserFolder);
    // forProgram with QCoreApplication::applicationDirPath() and
    // QStandardPaths::AppDataLocation.
    static DataFiles forThisProgram();
};

} // namespace kelvo
