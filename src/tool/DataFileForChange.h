#pragma once

#include <QString>

namespace kelvo {
class CardTree;
class InstanceLock;
struct DataFiles;
} // namespace kelvo

namespace kelvo::tool {

// The first steps of a command that adds to a data file: takes Kelvo's
// per-user lock (Kelvo writes its own tree over the file when it closes, so
// it must not run, nor start before the file is written), removes what an
// earlier, killed save left behind (`files`), and reads `dataPath` into `tree` (the
// default tree for a missing or empty file). On failure it prints why, as
// "kelvo-tool COMMAND: ... ; NOTHINGDONE", and returns the exit code; 0 when
// the tree is ready.
int TakeDataFileForChange(const QString &command, const QString &nothingDone, const QString &dataPath,
                          const DataFiles &files, InstanceLock &lock, CardTree &tree);

} // namespace kelvo::tool
