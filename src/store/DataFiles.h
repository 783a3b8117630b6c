#pragma once

#include <QString>

namespace kelvo {

// Where the data file and its backup live: "SavedCard/Card.DB" and
// "BackUP/db.kelvo" below one base folder. The base is the program folder,
// or the per-user data folder when the program folder is not writable (a
// system-wide install). One backup folder serves both the save and the
// recovery.
struct DataFiles
{
    QString dataFile;
    QString backupFile;

    // The two paths below `baseFolder` (with or without a trailing '/').
    static DataFiles inFolder(const QString &baseFolder);
    // The program folder when it is writable, else the per-user data folder.
    static DataFiles forProgram(const QString &programFolder, const QString &perUserFolder);
    // forProgram with QCoreApplication::applicationDirPath() and
    // QStandardPaths::AppDataLocation.
    static DataFiles forThisProgram();
};

} // namespace kelvo
