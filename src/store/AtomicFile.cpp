#include "AtomicFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <filesystem>
#include <system_error>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
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

    const QDir folder = target.absoluteDir();
    for (int attempt = 0; attempt < MaxNameAttempts; ++attempt) {
        const QString candidate =
            folder.filePath(QStringLiteral(".%1.%2.tmp")
                                .arg(target.fileName().left(MaxNameStemChars))
                                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        auto file = std::make_unique<QFile>(candidate);
        if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            if (target.exists())
                file->setPermissions(target.permissions());
            m_temporaryPath = candidate;
            m_file = std::move(file);
            return {};
        }
        // A name that is taken (left by an earlier run) tries another one;
        // anything else is the folder refusing the file.
        if (!QFileInfo(candidate).exists() && !QFileInfo(candidate).isSymLink())
            return failure(ErrorCode::WriteFailed, file->errorString());
    }
    return failure(ErrorCode::WriteFailed, systemText(std::errc::file_exists));
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
    if (m_temporaryPath.isEmpty())
        return failure(ErrorCode::WriteFailed, systemText(std::errc::bad_file_descriptor));
    // A writer that wrote the temporary file through its own handle left
    // ours closed: open it again to flush what that writer wrote.
    if (!m_file->isOpen() && !m_file->open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        const QString text = m_file->errorString();
        discard();
        return failure(ErrorCode::WriteFailed, text);
    }
    QString text;
    if (!syncFile(*m_file, &text)) {
        discard();
        return failure(ErrorCode::WriteFailed, text);
    }
    m_file->close();

    std::error_code renameError;
    std::filesystem::rename(toFsPath(m_temporaryPath), toFsPath(m_targetPath), renameError);
    if (renameError) {
        discard();
        return failure(ErrorCode::ReplaceFailed, QString::fromLocal8Bit(renameError.message().c_str()));
    }
    m_committed = true;
    if (!syncFolder(QFileInfo(m_targetPath).absolutePath(), &text))
        return failure(ErrorCode::WriteFailed, text);
    return {};
}

void AtomicFile::discard()
{
    if (m_file) {
        m_file->close();
        m_file.reset();
    }
    if (!m_temporaryPath.isEmpty() && !m_committed)
        QFile::remove(m_temporaryPath);
    m_temporaryPath.clear();
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

} // namespace kelvo
