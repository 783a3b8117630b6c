#pragma once

#include "MessagePump.h"
#include "ProgressSink.h"
#include "Result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QString>

#include <functional>

#include <limits>

// The byte format of the data file, over memory: a little-endian top-level
// count, then each node's record (twenty items) followed by its children's,
// depth first. Nothing here touches a file; DataFile.h puts these to use.
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
    qint64 offset = -1; // byte offset where reading failed (Damaged, DataDamaged)
    // Why the data could not be read (Damaged): DataDamaged with what was
    // wrong as its text, or the file operation that failed.
    Error error;

    bool ok() const { return status != Status::Damaged; }
};

// The file's bytes for the tree, as the save writes them. Calls
// ShowSaveProgress, then pumps and calls RefreshProgress and StepProgress
// around each node; CloseProgress is left to the caller. Returns an empty
// array, and sets `*error` when given, if the tree changed shape while events
// ran.
QByteArray SerializeTree(const CardTree &tree, ProgressSink &progress = NoProgress(), QString *error = nullptr,
                         MessagePump &pump = NoMessagePump());

// The same bytes, handed to `write` in pieces of about a megabyte as the
// tree is walked, for writers that need not hold the whole file (kelvo-tool
// build). No progress, no pumping: the tree must not change meanwhile. The
// first error `write` returns ends the walk and is returned.
Result<> WriteTreeInPieces(const CardTree &tree, const std::function<Result<>(QByteArrayView piece)> &write);

struct ReadOptions
{
    // Keep the four display indexes as stored instead of setting all four to
    // the record's Kind (for tools that must round-trip a file exactly).
    bool keepStoredDisplayIndexes = false;
};

// Appends the tree stored in `bytes` to `tree` (the load without any file).
// An empty `bytes` reads as no nodes (the caller decides about defaults).
// Calls ShowLoadProgress after the top-level count and pumps before each
// child node; CloseProgress is left to the caller. On a damaged input the
// nodes read completely so far stay in the tree.
LoadResult ReadTreeFromBytes(QByteArrayView bytes, CardTree &tree, ProgressSink &progress = NoProgress(),
                             ReadOptions options = {}, MessagePump &pump = NoMessagePump());

// How ReadTreeFromDevice read its device.
struct DeviceRead
{
    qint64 maxBytes = std::numeric_limits<qint64>::max(); // more stops the reading
    qint64 bytesRead = 0;
    QString error; // the device's error text, or "larger than N bytes; refused"
};

// The same, reading `device` from its current position in pieces of a
// megabyte as the nodes are made, so that memory follows the tree and not
// the file. A device that fails (or gives more than `info->maxBytes`) ends
// the read as Damaged at offset -1 with a ReadFailed error holding the
// device's text (also in `info->error`).
LoadResult ReadTreeFromDevice(QIODevice &device, CardTree &tree, ProgressSink &progress = NoProgress(),
                              ReadOptions options = {}, DeviceRead *info = nullptr,
                              MessagePump &pump = NoMessagePump());

// Appends one node record (twenty items) to `buffer`.
void WriteNodeData(QByteArray &buffer, const CardNode &node);

} // namespace kelvo
