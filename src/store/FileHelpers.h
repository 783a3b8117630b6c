#pragma once

#include <QString>
#include <QtGlobal>

// File chores of the data file's load, save and recovery.
namespace kelvo::fileio {

// "path: error text", with the path as the platform writes it.
QString describeFileError(const QString &path, const QString &errorText);

// Creates the folder that is to hold `filePath`, with any missing parents.
bool makeFolderFor(const QString &filePath, QString *error);

// Copies `source` over `destination` atomically: the copy is written beside
// the destination and renamed over it, so the old destination stays whole
// until the copy is complete. Missing folders are created.
bool copyFileReplacing(const QString &source, const QString &destination, QString *error);

// Hints for the memory system; failures are harmless and ignored.
// A large buffer about to be written once from start to end.
void adviseLargeBuffer(char *data, qsizetype size);
// A mapped file about to be read once from start to end.
void adviseSequentialRead(uchar *data, qint64 size);

} // namespace kelvo::fileio
