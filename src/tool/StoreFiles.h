#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace kelvo {
struct LoadResult;
}

namespace kelvo::tool {

// Largest data file and JSON text the tool reads (far above any real card
// collection; a larger file is refused rather than read into memory).
inline constexpr qint64 MaxInputBytes = qint64(2) << 30;

// Reads the whole file (never creates it). "-" reads standard input.
bool ReadWholeFile(const QString &path, QByteArray *bytes, QString *error);

// Writes `bytes` to `path` atomically: a temporary file beside it is written,
// flushed and renamed over it, so a failure never leaves a truncated file.
bool WriteFileAtomically(const QString &path, QByteArrayView bytes, QString *error);

// Flushes standard output; false when anything written to it was lost (a
// full disk, a closed pipe), so that a command never reports success then.
bool FlushStandardOutput(QString *error);

// "PATH: damaged data file at byte OFFSET: REASON".
QString DamagedFileMessage(const QString &path, const LoadResult &result);

} // namespace kelvo::tool
