#pragma once

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
    bool ok = true;
    QString error;       // path and system error text when !ok
    QString backupError; // the backup copy failed (the save went on)
};

// Fills the tree from the data file, appending after any nodes it already
// holds; with no data file (or an empty one) creates an empty file (and its
// folders) and builds the default tree, without showing progress. The data
// file is only read, so a write-protected one loads too. Never ends the
// process: a damaged file, or one that can be neither read nor created, is
// reported as Damaged, with the nodes read completely so far left in the tree
// and the progress left open (CloseProgress ends only a successful read).
LoadResult LoadTreeViewWithData(const DataFiles &files, CardTree &tree, ProgressSink &progress = NoProgress());

// Writes the whole tree: the previous data file is copied to the backup
// first, then the new file is written beside the data file and renamed over
// it, so a failure never leaves a truncated data file. Missing folders are
// created.
SaveResult SaveTreeViewWithData(const DataFiles &files, const CardTree &tree, ProgressSink &progress = NoProgress());

struct RecoveryResult
{
    QString keptAsidePath;   // where the damaged file was moved; empty if none
    bool backupRestored = false;
    QString error;           // why keeping aside or restoring failed
};

// After a damaged load: moves the damaged data file aside under a time-stamped
// name, then copies the backup over the data file.
RecoveryResult RecoverDamagedDataFile(const DataFiles &files);

} // namespace kelvo
