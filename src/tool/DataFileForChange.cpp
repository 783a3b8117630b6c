#include "DataFileForChange.h"

#include "StoreFiles.h"
#include "ToolCommand.h"

#include "AtomicFile.h"
#include "CardRecords.h"
#include "CardTree.h"
#include "DataFiles.h"
#include "InstanceLock.h"

#include <QFileInfo>

namespace kelvo::tool {

int TakeDataFileForChange(const QString &command, const QString &nothingDone, const QString &dataPath,
                          const DataFiles &files, InstanceLock &lock, CardTree &tree)
{
    const QString lead = QStringLiteral("kelvo-tool %1: ").arg(command);
    if (const Result<> taken = lock.tryLock(); !taken) {
        if (taken.error().code == ErrorCode::InUse)
            printError(lead
                       + QStringLiteral("Kelvo is running for this user (%1); close it first, since it writes its own "
                                        "cards over the data file when it closes; %2")
                             .arg(taken.error().message(), nothingDone));
        else
            printError(lead + QStringLiteral("cannot take the lock of Kelvo (%1); %2")
                                  .arg(taken.error().message(), nothingDone));
        return ExitUsage;
    }
    // With the lock held no save of Kelvo runs: what an earlier, killed save
    // left behind goes (a file that stays is only logged).
    removeStaleTemporaryFiles(files);
    if (QFileInfo::exists(dataPath)) {
        QString error;
        bool wasEmpty = false;
        if (!ReadDataFile(dataPath, tree, &error, {}, &wasEmpty)) {
            printError(lead + error);
            return ExitDataFile;
        }
        if (wasEmpty)
            CreateDefaultTree(tree); // a zero-length data file holds no data
    } else {
        CreateDefaultTree(tree);
    }
    return ExitOk;
}

} // namespace kelvo::tool
