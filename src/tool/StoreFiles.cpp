#include "StoreFiles.h"

#include "DataFileFormat.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kelvo::tool {

bool OpenForReading(const QString &path, QFile &file, QString *error)
{
    if (path == QLatin1String("-")) {
        if (!file.open(stdin, QIODevice::ReadOnly)) {
            *error = QStringLiteral("standard input: %1").arg(file.errorString());
            return false;
        }
        return true;
    }
    file.setFileName(path);
    if (!file.exists()) {
        *error = QStringLiteral("%1: no such file").arg(path);
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.size() > MaxInputBytes) {
        *error = QStringLiteral("%1: larger than %2 bytes; refused").arg(path).arg(MaxInputBytes);
        return false;
    }
    return true;
}

bool ReadWholeFile(const QString &path, QByteArray *bytes, QString *error)
{
    bytes->clear();
    QFile file;
    if (!OpenForReading(path, file, error))
        return false;
    const QString name = path == QLatin1String("-") ? QStringLiteral("standard input") : path;
    // Read in pieces: standard input and special files have no size.
    constexpr qint64 Piece = qint64(1) << 20;
    while (true) {
        if (bytes->size() > MaxInputBytes - Piece) {
            *error = QStringLiteral("%1: larger than %2 bytes; refused").arg(name).arg(MaxInputBytes);
            return false;
        }
        const qsizetype before = bytes->size();
        bytes->resize(before + Piece);
        const qint64 got = file.read(bytes->data() + before, Piece);
        if (got < 0) {
            *error = QStringLiteral("%1: %2").arg(name, file.errorString());
            return false;
        }
        bytes->resize(before + got);
        if (got == 0)
            return true;
    }
}

bool FlushStandardOutput(QString *error)
{
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        *error = QStringLiteral("standard output: %1").arg(QString::fromLocal8Bit(std::strerror(errno ? errno : EIO)));
        return false;
    }
    return true;
}

bool ReadDataFile(const QString &path, CardTree &tree, QString *error, ReadOptions options, bool *wasEmpty)
{
    // Read in pieces as the nodes are made: memory holds the tree, never the
    // whole file besides it.
    QFile file;
    const QString name = path == QLatin1String("-") ? QStringLiteral("standard input") : path;
    if (!OpenForReading(path, file, error))
        return false;
    DeviceRead read;
    read.maxBytes = MaxInputBytes;
    const LoadResult result = ReadTreeFromDevice(file, tree, NoProgress(), options, &read);
    if (!read.error.isEmpty()) {
        *error = QStringLiteral("%1: %2").arg(name, read.error);
        return false;
    }
    if (wasEmpty)
        *wasEmpty = read.bytesRead == 0;
    if (!result.ok()) {
        *error =
            QStringLiteral("%1: damaged data file at byte %2: %3").arg(name).arg(result.offset).arg(result.error.text);
        return false;
    }
    return true;
}

} // namespace kelvo::tool
