#include "StoreFiles.h"

#include "DataFileFormat.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kelvo::tool {

namespace {

bool readAll(QFile &file, const QString &name, QByteArray *bytes, QString *error)
{
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

} // namespace

bool ReadWholeFile(const QString &path, QByteArray *bytes, QString *error)
{
    bytes->clear();
    QFile file;
    QString name = path;
    if (path == QLatin1String("-")) {
        name = QStringLiteral("standard input");
        if (!file.open(stdin, QIODevice::ReadOnly)) {
            *error = QStringLiteral("%1: %2").arg(name, file.errorString());
            return false;
        }
    } else {
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
        if (file.size() > 0)
            bytes->reserve(file.size() + (qint64(1) << 20));
    }
    return readAll(file, name, bytes, error);
}

bool FlushStandardOutput(QString *error)
{
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        *error = QStringLiteral("standard output: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno ? errno : EIO)));
        return false;
    }
    return true;
}

bool ReadDataFile(const QString &path, CardTree &tree, QString *error, ReadOptions options, bool *wasEmpty)
{
    QByteArray bytes;
    if (!ReadWholeFile(path, &bytes, error))
        return false;
    if (wasEmpty)
        *wasEmpty = bytes.isEmpty();
    const LoadResult result = ReadTreeFromBytes(bytes, tree, NoProgress(), options);
    if (!result.ok()) {
        const QString name = path == QLatin1String("-") ? QStringLiteral("standard input") : path;
        *error = QStringLiteral("%1: damaged data file at byte %2: %3").arg(name).arg(result.offset).arg(result.error.text);
        return false;
    }
    return true;
}

} // namespace kelvo::tool
