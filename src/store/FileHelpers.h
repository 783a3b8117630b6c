#pragma once

#include "Result.h"

#include <QString>
#include <QtGlobal>

// File chores of the data file's load, save and recovery.
namespace kelvo::fileio {

// Creates the folder that is to hold `filePath`, with any missing parents.
Result<> makeFolderFor(const QString &filePath);

// Copies `source` over `destination` atomically (see AtomicFile): the old
// destination stays whole until the copy is complete. Missing folders are
// created.
Result<> copyFileReplacing(const QString &source, const QString &destination);

// Hints for the memory system; failures are harmless and ignored.
// A large buffer about to be written once from start to end.
void adviseLargeBuffer(char *data, qsizetype size);

} // namespace kelvo::fileio
