#include "AtomicFile.h"

#include "BackupHistory.h"
#include "DataFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QtDebug>

#include <atomic>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvo {

namespace {

// Symbolic links are followed to the file they point to; a chain that does
// not end (a loop) stops after this many steps.
constexpr int MaxLinkSteps = 32;
constexpr int MaxNameAttempts = 64;
// The temporary file's name starts with (at most this much of) the target's,
// so that a name near the system's length limit still leaves room.
constexpr int MaxNameStemChars = 64;

std::atomic<TemporaryFileKind> temporaryFileKind{TemporaryFileKind::Automatic};

QString temporaryNameFor(const QString &targetName)
{
    return QStringLiteral(".%1.%2.tmp")
        .arg(targetName.left(MaxNameStemChars))
        .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

// The lock that tells the sweep a temporary file is still being written. A
// file system without locks only loses that protection.
void lockWhileHeld(int fd)
{
#ifdef Q_OS_UNIX
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
#else
    Q_UNUSED(fd);
#endif
}

QString resolveLinks(const QString &path)
{
    QString resolved = QFileInfo(path).absoluteFilePath();
    for (int step = 0; step < MaxLinkSteps; ++step) {
        const QFileInfo info(resolved);
        if (!info.isSymLink())
            break;
        resolved = info.symLinkTarget();
    }
    return resolved;
}

std::filesystem::path toFsPath(const QString &path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// The system's words for an error number.
QString systemText(int error)
{
    return QString::fromLocal8Bit(std::generic_category().message(error).c_str());
}

QString systemText(std::errc error)
{
    return systemText(static_cast<int>(error));
}

// Flushes the data of an open file to the disk.
bool syncFile(QFile &file, QString *text)
{
    if (!file.flush()) {
        *text = file.errorString();
        return false;
    }
#ifdef Q_OS_UNIX
    int result;
    do {
        result = ::fsync(file.handle());
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        *text = systemText(errno);
        return false;
    }
#endif
    return true;
}

// Flushes a folder's entries (a rename just made in it) to the disk. File
// systems that cannot sync a folder say so with EINVAL; there the rename is
// as safe as the file system makes it.
bool syncFolder(const QString &folder, QString *text)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *text = systemText(errno);
        return false;
    }
    int result;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    const int error = errno;
    ::close(fd);
    if (result != 0 && error != EINVAL && error != ENOTSUP) {
        *text = systemText(error);
        return false;
    }
#else
    Q_UNUSED(folder);
    Q_UNUSED(text);
#endif
    return true;
}

} // namespace

AtomicFile::AtomicFile(const QString &targetPath)
    : m_requestedPath(QDir::fromNativeSeparators(targetPath))
{
}

AtomicFile::~AtomicFile()
{
    if (!m_committed)
        discard();
}

Error AtomicFile::failure(ErrorCode code, const QString &text) const
{
    return Error{code, m_requestedPath, text};
}

Result<> AtomicFile::open()
{
    if (m_file)
        return failure(ErrorCode::WriteFailed, systemText(std::errc::device_or_resource_busy));
    if (m_requestedPath.isEmpty())
        return failure(ErrorCode::WriteFailed, systemText(std::errc::no_such_file_or_directory));
    m_targetPath = resolveLinks(m_requestedPath);
    const QFileInfo target(m_targetPath);
    if (target.isDir())
        return failure(ErrorCode::WriteFailed, systemText(std::errc::is_a_directory));
    // As QSaveFile does: a write-protected file is not replaced behind the
    // protection's back (the folder would allow the rename).
    if (target.exists() && !target.isWritable())
        return failure(ErrorCode::WriteFailed, systemText(std::errc::permission_denied));

#if defined(Q_OS_LINUX) && defined(O_TMPFILE)
    const TemporaryFileKind kind = temporaryFileKind.load();
    if (kind != TemporaryFileKind::Named) {
        // An unnamed file in the target's folder. Any refusal (a file system
        // without O_TMPFILE says EOPNOTSUPP, EISDIR or EINVAL) takes the named
        // file, which also words the errors of a folder that cannot hold it.
        const QByteArray folder = QFile::encodeName(target.absolutePath());
        int fd;
        do {
            fd = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0) {
            struct stat existing;
            if (::stat(QFile::encodeName(m_targetPath).constData(), &existing) == 0)
                ::fchmod(fd, existing.st_mode & 0777);
            lockWhileHeld(fd);
            auto file = std::make_unique<QFile>();
            if (file->open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
                m_file = std::move(file);
                m_unnamed = true;
                return {};
            }
            ::close(fd);
        }
    }
#endif
    return openNamed();
}

Result<> AtomicFile::openNamed()
{
    const QFileInfo target(m_targetPath);
    const QDir folder = target.absoluteDir();
    for (int attempt = 0; attempt < MaxNameAttempts; ++attempt) {
        const QString candidate = folder.filePath(temporaryNameFor(target.fileName()));
        auto file = std::make_unique<QFile>(candidate);
        if (file->open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            lockWhileHeld(file->handle());
            if (target.exists())
                file->setPermissions(target.permissions());
            m_temporaryPath = candidate;
            m_file = std::move(file);
            m_unnamed = false;
            return {};
        }
        // A name that is taken (left by an earlier run) tries another one;
        // anything else is the folder refusing the file.
        if (!QFileInfo(candidate).exists() && !QFileInfo(candidate).isSymLink())
            return failure(ErrorCode::WriteFailed, file->errorString());
    }
    return failure(ErrorCode::WriteFailed, systemText(std::errc::file_exists));
}

// Links the unnamed temporary file to a temporary name in the target's
// folder. linkat with AT_EMPTY_PATH needs CAP_DAC_READ_SEARCH on older
// kernels; the file's /proc link does the same for anyone.
Result<> AtomicFile::giveName()
{
    if (!m_unnamed)
        return {};
#if defined(Q_OS_LINUX) && defined(O_TMPFILE)
    if (temporaryFileKind.load() != TemporaryFileKind::UnnamedUnlinkable) {
        const QFileInfo target(m_targetPath);
        const QDir folder = target.absoluteDir();
        const int fd = m_file->handle();
        const QByteArray procLink = QByteArray("/proc/self/fd/") + QByteArray::number(fd);
        int error = 0;
        for (int attempt = 0; attempt < MaxNameAttempts; ++attempt) {
            const QString candidate = folder.filePath(temporaryNameFor(target.fileName()));
            const QByteArray name = QFile::encodeName(candidate);
            int result = ::linkat(fd, "", AT_FDCWD, name.constData(), AT_EMPTY_PATH);
            error = result == 0 ? 0 : errno;
            if (result != 0 && error != EEXIST) {
                result = ::linkat(AT_FDCWD, procLink.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW);
                error = result == 0 ? 0 : errno;
            }
            if (result == 0) {
                m_temporaryPath = candidate;
                m_unnamed = false;
                return {};
            }
            if (error != EEXIST)
                break;
        }
        if (error == EEXIST)
            return failure(ErrorCode::WriteFailed, systemText(std::errc::file_exists));
    }
#endif
    // The file cannot be linked (no /proc and no capability): its bytes go
    // into a named temporary file instead.
    return copyIntoNamedFile();
}

Result<> AtomicFile::copyIntoNamedFile()
{
    std::unique_ptr<QFile> unnamed = std::move(m_file);
    if (Result<> opened = openNamed(); !opened) {
        m_file = std::move(unnamed);
        return opened;
    }
    constexpr qint64 ChunkBytes = 1 << 20;
    QByteArray chunk(ChunkBytes, Qt::Uninitialized);
    if (!unnamed->seek(0))
        return failure(ErrorCode::WriteFailed, unnamed->errorString());
    for (;;) {
        const qint64 got = unnamed->read(chunk.data(), ChunkBytes);
        if (got < 0)
            return failure(ErrorCode::WriteFailed, unnamed->errorString());
        if (got == 0)
            break;
        if (Result<> written = write(QByteArrayView(chunk.constData(), got)); !written)
            return written;
    }
    return {};
}

QString AtomicFile::temporaryPath()
{
    if (m_unnamed && m_file && !giveName())
        return QString();
    return m_temporaryPath;
}

Result<> AtomicFile::write(QByteArrayView bytes)
{
    if (!m_file || !m_file->isOpen())
        return failure(ErrorCode::WriteFailed, systemText(std::errc::bad_file_descriptor));
    // A write may take only part of the bytes (a signal, a file size limit,
    // a disk that fills up): the rest is written again until the system
    // reports why it cannot.
    const char *at = bytes.data();
    qint64 left = bytes.size();
    while (left > 0) {
        const qint64 written = m_file->write(at, left);
        if (written <= 0) {
            const QString text =
                m_file->error() != QFileDevice::NoError ? m_file->errorString() : systemText(std::errc::io_error);
            discard();
            return failure(ErrorCode::WriteFailed, text);
        }
        at += written;
        left -= written;
    }
    return {};
}

Result<> AtomicFile::commit()
{
    if (m_committed)
        return {};
    if (!m_file)
        return failure(ErrorCode::WriteFailed, systemText(std::errc::bad_file_descriptor));
    // A writer that wrote the temporary file through its own handle left
    // ours closed: open it again to flush what that writer wrote.
    if (!m_file->isOpen()) {
        m_file = std::make_unique<QFile>(m_temporaryPath);
        if (!m_file->open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
            const QString text = m_file->errorString();
            discard();
            return failure(ErrorCode::WriteFailed, text);
        }
        lockWhileHeld(m_file->handle());
    }
    QString text;
    if (!syncFile(*m_file, &text)) {
        discard();
        return failure(ErrorCode::WriteFailed, text);
    }
    // An unnamed file is named only now, complete and on the disk: a process
    // that ends here leaves a file of the temporary pattern, which the next
    // start removes.
    if (m_unnamed) {
        if (Result<> named = giveName(); !named) {
            discard();
            return named;
        }
        if (!syncFile(*m_file, &text)) { // a copy made because linking failed
            discard();
            return failure(ErrorCode::WriteFailed, text);
        }
    }

    std::error_code renameError;
    std::filesystem::rename(toFsPath(m_temporaryPath), toFsPath(m_targetPath), renameError);
    if (renameError) {
        discard();
        return failure(ErrorCode::ReplaceFailed, QString::fromLocal8Bit(renameError.message().c_str()));
    }
    m_committed = true;
    m_file->close(); // the lock goes with it
    if (!syncFolder(QFileInfo(m_targetPath).absolutePath(), &text))
        return failure(ErrorCode::WriteFailed, text);
    return {};
}

void AtomicFile::discard()
{
    // The name goes first, while the lock still holds it.
    if (!m_temporaryPath.isEmpty() && !m_committed)
        QFile::remove(m_temporaryPath);
    m_temporaryPath.clear();
    if (m_file) {
        m_file->close();
        m_file.reset();
    }
    m_unnamed = false;
}

Result<> writeFileAtomically(const QString &path, QByteArrayView bytes)
{
    AtomicFile file(path);
    Result<> done = file.open();
    if (done)
        done = file.write(bytes);
    if (done)
        done = file.commit();
    return done;
}

Result<> AtomicFile::writeThrough(const std::function<Result<>(const QString &temporaryPath)> &writeTo)
{
    if (!m_file || !m_file->isOpen())
        return failure(ErrorCode::WriteFailed, systemText(std::errc::bad_file_descriptor));
    // The writer needs a path: an unnamed file is named now.
    if (Result<> named = giveName(); !named) {
        discard();
        return named;
    }
    m_file->close(); // the writer opens the file itself; commit() opens it again
    Result<> done = writeTo(m_temporaryPath);
    if (!done)
        discard();
    return done;
}

Result<> writeFileAtomicallyThrough(const QString &path,
                                    const std::function<Result<>(const QString &temporaryPath)> &writeTo)
{
    AtomicFile file(path);
    Result<> done = file.open();
    if (done)
        done = file.writeThrough(writeTo);
    if (done)
        done = file.commit();
    return done;
}

void setTemporaryFileKindForTests(TemporaryFileKind kind)
{
    temporaryFileKind.store(kind);
}

bool isTemporaryFileNameFor(const QString &fileName, const QString &targetName)
{
    // ".<stem>.<8 lowercase hex digits>.tmp"
    const QString stem = targetName.left(MaxNameStemChars);
    if (stem.isEmpty() || fileName.size() != 1 + stem.size() + 13 || !fileName.startsWith(QLatin1Char('.'))
        || QStringView(fileName).sliced(1, stem.size()) != stem)
        return false;
    const QStringView rest = QStringView(fileName).sliced(1 + stem.size());
    if (rest.front() != QLatin1Char('.') || rest.sliced(9) != QLatin1String(".tmp"))
        return false;
    for (const QChar c : rest.sliced(1, 8)) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    }
    return true;
}

namespace {

// Removes one stale temporary file: a plain file (never a link or a folder)
// that no writer holds locked. False with `*why` when it stays.
bool removeStaleFile(const QString &path, QString *why)
{
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = systemText(errno); // ENOENT: gone meanwhile, which the caller sees
        return false;
    }
    struct stat opened;
    struct stat named;
    bool removed = false;
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        *why = QStringLiteral("not a plain file");
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        *why = QStringLiteral("still being written");
    } else if (::lstat(name.constData(), &named) != 0 || named.st_ino != opened.st_ino
               || named.st_dev != opened.st_dev) {
        *why = QStringLiteral("replaced meanwhile");
    } else if (::unlink(name.constData()) != 0) {
        *why = systemText(errno);
    } else {
        removed = true;
    }
    ::close(fd);
    return removed;
#else
    QFile file(path);
    if (file.remove())
        return true;
    *why = file.errorString();
    return false;
#endif
}

struct SweptName
{
    QString folder;
    std::function<bool(const QString &stem)> isTarget; // whose temporary files these are
};

} // namespace

TemporaryFileSweep removeStaleTemporaryFiles(const DataFiles &files)
{
    TemporaryFileSweep sweep;
    const auto sameName = [](const QString &fileName) {
        return [fileName](const QString &entry) { return isTemporaryFileNameFor(entry, fileName); };
    };
    std::vector<SweptName> places;
    for (const QString &file : {files.dataFile, files.backupFile}) {
        if (file.isEmpty())
            continue;
        const QFileInfo requested(file);
        places.push_back({requested.absolutePath(), sameName(requested.fileName())});
        // A file that is a symbolic link is written beside the file it points to.
        const QFileInfo resolved(resolveLinks(file));
        if (resolved.absoluteFilePath() != requested.absoluteFilePath())
            places.push_back({resolved.absolutePath(), sameName(resolved.fileName())});
    }
    if (!files.historyFolder.isEmpty()) {
        places.push_back({QFileInfo(files.historyFolder).absoluteFilePath(), [](const QString &entry) {
                              // ".db-YYYYMMDD-HHMMSS.kelvo.<8 hex digits>.tmp"
                              if (entry.size() < 14 || !entry.startsWith(QLatin1Char('.')))
                                  return false;
                              const QString copyName = entry.sliced(1, entry.size() - 14);
                              return BackupHistory::timeFromFileName(copyName).has_value()
                                  && isTemporaryFileNameFor(entry, copyName);
                          }});
    }

    QStringList seen;
    for (const SweptName &place : places) {
        const QDir folder(place.folder);
        const QStringList entries = folder.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
        for (const QString &entry : entries) {
            const QString path = folder.filePath(entry);
            if (!place.isTarget(entry) || seen.contains(path))
                continue;
            seen.append(path);
            QString why;
            if (removeStaleFile(path, &why)) {
                sweep.removed.append(path);
            } else if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
                sweep.kept.append(QDir::toNativeSeparators(path) + QStringLiteral(": ") + why);
                qWarning("Kelvo: a temporary file left by an earlier save stays: %s",
                         qUtf8Printable(sweep.kept.constLast()));
            }
        }
    }
    return sweep;
}

} // namespace kelvo
