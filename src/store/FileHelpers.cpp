#include "FileHelpers.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace kelvo::fileio {

QString describeFileError(const QString &path, const QString &errorText)
{
    return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), errorText);
}

bool makeFolderFor(const QString &filePath, QString *error)
{
    const QString folder = QFileInfo(filePath).absolutePath();
    if (QDir().mkpath(folder))
        return true;
    if (error)
        *error = describeFileError(folder, QStringLiteral("the folder cannot be created"));
    return false;
}

bool copyFileReplacing(const QString &source, const QString &destination, QString *error)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = describeFileError(source, in.errorString());
        return false;
    }
    if (!makeFolderFor(destination, error))
        return false;
    QSaveFile out(destination);
    if (!out.open(QIODevice::WriteOnly)) {
        *error = describeFileError(destination, out.errorString());
        return false;
    }
    constexpr qint64 ChunkBytes = 1 << 20;
    QByteArray chunk(ChunkBytes, Qt::Uninitialized);
    for (;;) {
        const qint64 got = in.read(chunk.data(), ChunkBytes);
        if (got < 0) {
            *error = describeFileError(source, in.errorString());
            out.cancelWriting();
            return false;
        }
        if (got == 0)
            break;
        if (out.write(chunk.constData(), got) != got) {
            *error = describeFileError(destination, out.errorString());
            out.cancelWriting();
            return false;
        }
    }
    if (!out.commit()) {
        *error = describeFileError(destination, out.errorString());
        return false;
    }
    return true;
}

// Where the system offers it, a large buffer gets huge pages: on virtual
// machines the page faults of ordinary pages otherwise cost more than
// building the file.
void adviseLargeBuffer(char *data, qsizetype size)
{
#ifdef Q_OS_LINUX
    constexpr quintptr HugePage = 2 * 1024 * 1024;
    const quintptr begin = (reinterpret_cast<quintptr>(data) + HugePage - 1) & ~(HugePage - 1);
    const quintptr end = (reinterpret_cast<quintptr>(data) + quintptr(size)) & ~(HugePage - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE); // a hint: failure is harmless
#else
    Q_UNUSED(data);
    Q_UNUSED(size);
#endif
}

void adviseSequentialRead(uchar *data, qint64 size)
{
#ifdef Q_OS_LINUX
    const quintptr page = quintptr(::sysconf(_SC_PAGESIZE));
    const quintptr begin = reinterpret_cast<quintptr>(data) & ~(page - 1);
    const size_t length = size_t(size) + size_t(reinterpret_cast<quintptr>(data) - begin);
    // Hints only: failure is harmless.
    ::madvise(reinterpret_cast<void *>(begin), length, MADV_SEQUENTIAL);
    ::madvise(reinterpret_cast<void *>(begin), length, MADV_WILLNEED);
#else
    Q_UNUSED(data);
    Q_UNUSED(size);
#endif
}

} // namespace kelvo::fileio
