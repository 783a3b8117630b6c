#pragma once

#include "DataFileFormat.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class QFile;

namespace kelvo {
class CardTree;
}

namespace kelvo::tool {

// Largest data file and JSON text the tool reads (far above any real card
// collection; a larger file is refused rather than read into memory).
inline constexpr qint64 MaxInputBytes = qint64(2) << 30;

// Opens a file to read ("-": standard input; never creates it), refusing
// one larger than MaxInputBytes: false with "PATH: no such file", "PATH:
// <system text>" or "PATH: larger than N bytes; refused" in `*error`.
bool OpenForReading(const QString &path, QFile &file, QString *error);

// Reads the whole file (never creates it). "-" reads standard input.
bool ReadWholeFile(const QString &path, QByteArray *bytes, QString *error);

// Flushes standard output; false when anything written to it was lost (a
// full disk, a closed pipe), so that a command never reports success then.
bool FlushStandardOutput(QString *error);

// How every command reads a data file: the file at `path` ("-" reads
// standard input, a missing file is never created), read in pieces as the
// nodes are made and appended to `tree` as Kelvo loads it, but without making
// a default tree for a file without data.
// False when the file cannot be read ("PATH: no such file", "PATH: <system
// text>") or is damaged ("PATH: damaged data file at byte OFFSET: REASON";
// "standard input" for "-"),
// with that text in `*error`. `*wasEmpty`, when given, tells whether the
// file held no bytes at all.
bool ReadDataFile(const QString &path, CardTree &tree, QString *error, ReadOptions options = {},
                  bool *wasEmpty = nullptr);

} // namespace kelvo::tool
