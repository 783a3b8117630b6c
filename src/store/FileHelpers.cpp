#include "FileHelpers.h"

#include "AtomicFile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace kelvo::fileio {

Result<> makeFolderFor(const QString &filePath)
{
    const QString folder = QFileInfo(filePath).absolutePath();
    if (QDir().mkpath(folder))
        return {};
    return Error{ErrorCode::FolderNotCreated, folder, QString()};
}

Result<> copyFileReplacing(const QString &source, const QString &destination)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return Error{in.exists() ? ErrorCode::ReadFailed : ErrorCode::NotFound, source, in.errorString()};
    if (Result<> folder = makeFolderFor(destination); !folder)
        return folder;
    AtomicFile out(destination);
    if (Result<> opened = out.open(); !opened)
        return opened;
    constexpr qint64 ChunkBytes = 1 << 20;
    QByteArray chunk(ChunkBytes, Qt::Uninitialized);
    for (;;) {
        const qint64 got = in.read(chunk.data(), ChunkBytes);
        if (got < 0)
            return Error{ErrorCode::ReadFailed, source, in.errorString()};
        if (got == 0)
            break;
        if (Result<> written = out.write(QByteArrayView(chunk.constData(), got)); !written)
            return written;
    }
    return out.commit();
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

} // namespace kelvo::fileio
