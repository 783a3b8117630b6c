#pragma once

#include "BackupHistory.h"
#include "DataFileFormat.h"
#include "DataFiles.h"
#include "ProgressSink.h"

#include <QString>

// The data file on disk: first start, save with backup, recovery. The bytes
// themselves are read and written by DataFileFormat.h.
namespace kelvo {

class CardTree;

struct SaveResult
{
    Result<> saved;   // the data file itself
    Result<> backup;  // the copy to "BackUP/db.kelvo"; a failure does not stop the save
    Result<> history; // the dated copy in the backup history; a failure does not stop the save

    bool ok() const { return saved.ok(); }
};

// Fills the tree from the data file, appending after any nodes it already
// holds; with no data file (or an empty one) creates an empty file (and its
// folders) and builds the default tree, without showing progress. The data
// file is only read, so a write-protected one loads too. Never ends the
// process: a damaged file, or one that can be neither read nor created, is
// reported as Damaged, with the nodes read completely so far left in the tree
// and the progress left open (CloseProgress ends only a successful read).
// `pump` runs before each child node.
LoadResult LoadTreeViewWithData(const DataFiles &files, CardTree &tree, ProgressSink &progress = NoProgress(),
                                MessagePump &pump = NoMessagePump());

// Writes the whole tree: the previous data file is copied to the backup
// first and, at most once an hour, into the backup history (BackupHistory,
// whose clock `clock` is); then the new file replaces the data file
// atomically (AtomicFile), so a failure never leaves a truncated data file.
// Missing folders are created; `pump` runs before each node is written. A failed backup or history copy is reported
// but does not stop the save.
SaveResult SaveTreeViewWithData(const DataFiles &files, const CardTree &tree, ProgressSink &progress = NoProgress(),
                                MessagePump &pump = NoMessagePump(), const Clock &clock = {});

struct RecoveryResult
{
    QString keptAsidePath; // where the damaged file was moved; empty if none
    Result<> outcome;      // why keeping aside or restoring failed

    bool backupRestored() const { return outcome.ok(); }
};

// After a damaged load: moves the damaged data file aside under a time-stamped
// name, then copies the backup over the data file.
RecoveryResult RecoverDamagedDataFile(const DataFiles &files);

} // namespace kelvo
