#pragma once

#include "DataFiles.h"
#include "ProgressSink.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace kelvo {

class CardNode;
class CardTree;

struct LoadResult
{
    enum class Status {
        Read,             // the file was read; its nodes were appended to the tree
        DefaultTreeBuilt, // no data (no file, or an empty one): the default tree was built
        Damaged,          // unreadable: see offset and reason
    };
    Status status = Status::Read;
    qint64 offset = -1; // byte offset where reading failed (Damaged)
    QString reason;     // what was wrong, for messages and logs (Damaged)

    bool ok() const { return status != Status::Damaged; }
};

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

// The file's bytes for the tree, as the save writes them. Calls
// ShowSaveProgress, then PumpMessages, RefreshProgress and StepProgress around
// each node; CloseProgress is left to the caller. Returns an empty array, and
// sets `*error` when given, if the tree changed shape while events ran.
QByteArray SerializeTree(const CardTree &tree, ProgressSink &progress = NoProgress(), QString *error = nullptr);

struct ReadOptions
{
    // Keep the four display indexes as stored instead of setting all four to
    // the record's Kind (for tools that must round-trip a file exactly).
    bool keepStoredDisplayIndexes = false;
};

// Appends the tree stored in `bytes` to `tree` (the load without any file).
// An empty `bytes` reads as no nodes (the caller decides about defaults).
// Calls ShowLoadProgress after the top-level count and PumpMessages before
// each child node; CloseProgress is left to the caller. On a damaged input
// the nodes read completely so far stay in the tree.
LoadResult ReadTreeFromBytes(QByteArrayView bytes, CardTree &tree, ProgressSink &progress = NoProgress(),
                             ReadOptions options = {});

// Appends one node record (twenty items) to `buffer`.
void WriteNodeData(QByteArray &buffer, const CardNode &node);

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
