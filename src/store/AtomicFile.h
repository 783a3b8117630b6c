#pragma once

#include "Result.h"

#include <QByteArrayView>
#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace kelvo {

// Replaces a file in one step, so that it is either the old file or the
// complete new one, even after a crash or a power loss: the new content goes
// into a temporary file in the target's folder, is written whole (short
// writes are caught), flushed to disk, renamed over the target, and the
// folder itself is flushed so that the rename survives a power loss.
//
// Where the file system offers it (Linux: O_TMPFILE), the temporary file has
// no name while it is written: a process killed in the middle of a save
// leaves nothing behind. It gets its hidden name ".<target>.<8 hex digits>.tmp"
// only just before the rename (or when a writer asks for its path). Elsewhere
// the temporary file bears that name from the start. Either way the file is
// locked (flock) while this object holds it, so that
// removeStaleTemporaryFiles() only ever removes files whose writer is gone.
//
//     AtomicFile file(path);
//     Result<> done = file.open();
//     if (done) done = file.write(bytes);
//     if (done) done = file.commit();
//
// A target that is a symbolic link is resolved: the file it points to is
// replaced and the link stays. An existing target keeps its permissions, and
// one that is not writable is refused. Missing folders are not created (see
// fileio::makeFolderFor). A temporary file that is not committed is removed
// when the object goes.
class AtomicFile
{
public:
    explicit AtomicFile(const QString &targetPath);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // Creates the temporary file (empty) beside the target.
    Result<> open();
    // The temporary file's path, for writers that open it themselves; empty
    // before open(). An unnamed temporary file is given its name first (and
    // keeps it until commit() or discard()); empty when it cannot be named.
    QString temporaryPath();
    // Whether the temporary file is still without a name.
    bool isUnnamed() const { return m_unnamed; }
    // The file that commit() replaces (the target with symbolic links resolved).
    QString targetPath() const { return m_targetPath; }

    // Appends all of `bytes` to the temporary file.
    Result<> write(QByteArrayView bytes);
    // Hands the temporary file's path to a writer that opens and writes the
    // file itself (a library that takes only a path); its error, if any, is
    // returned and the temporary file removed.
    Result<> writeThrough(const std::function<Result<>(const QString &temporaryPath)> &writeTo);
    // Flushes the temporary file to disk and puts it in place of the target.
    // Should flushing the folder fail afterwards, the new file is in place
    // but the failure is still reported (the rename may not survive a power
    // loss).
    Result<> commit();
    // Removes the temporary file; the target stays as it was.
    void discard();

private:
    Error failure(ErrorCode code, const QString &text) const;
    Result<> openNamed();
    Result<> giveName();
    Result<> copyIntoNamedFile();

    QString m_requestedPath;
    QString m_targetPath;
    QString m_temporaryPath;
    std::unique_ptr<QFile> m_file;
    bool m_committed = false;
    bool m_unnamed = false;
};

// Which temporary files AtomicFile makes; for tests, which must reach the
// named file where the system offers unnamed ones.
enum class TemporaryFileKind {
    Automatic,        // unnamed where the file system allows it, else named
    Named,            // always named from the start
    UnnamedUnlinkable // unnamed, as if it could not be linked to a name (it is copied into a named one)
};
void setTemporaryFileKindForTests(TemporaryFileKind kind);

// Whether `fileName` is a temporary file name AtomicFile gives for a target
// named `targetName`: ".<targetName (its first 64 characters)>.<8 hex digits>.tmp".
bool isTemporaryFileNameFor(const QString &fileName, const QString &targetName);

struct DataFiles;

struct TemporaryFileSweep
{
    QStringList removed; // the stale temporary files removed
    QStringList kept;    // those that could not be removed: "PATH: reason"
};

// Removes the temporary files that AtomicFile left behind for the data file,
// its backup and the backup history's copies, in the folders of the three
// (a process killed in the short moment between naming a temporary file and
// renaming it, or while writing a named one). Only names of that exact
// pattern, for those files, that are plain files no living writer holds;
// nothing else. A file that cannot be removed is logged (qWarning) and left.
// Call it while holding the per-user InstanceLock, so that no save of Kelvo
// runs meanwhile.
TemporaryFileSweep removeStaleTemporaryFiles(const DataFiles &files);

// Replaces the file at `path` by `bytes`, atomically as AtomicFile does.
Result<> writeFileAtomically(const QString &path, QByteArrayView bytes);

// The same for writers that need a path to write to themselves (a library
// that opens the file on its own): `writeTo` gets the path of the new, empty
// temporary file in the target's folder and writes the complete content
// there; when it succeeds the file is flushed and renamed over `path`. When
// it fails, its error is returned and the target stays as it was.
Result<> writeFileAtomicallyThrough(const QString &path,
                                    const std::function<Result<>(const QString &temporaryPath)> &writeTo);

} // namespace kelvo
