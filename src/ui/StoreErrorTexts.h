#pragma once

#include <QString>

namespace kelvo {

struct Error;
struct SaveResult;

// The window's Chinese wording of the store's failures. The store words its
// errors in English for logs and kelvo-tool; here the text is chosen by the
// error's code, with the path and the system's own words kept.

// What failed on which file: "无法写入 /home/u/Kelvo/SavedCard/Card.DB：No space left on device".
QString describeForUser(const Error &error);

// The notice of a save whose data file was not written (the changes stay unsaved).
QString saveFailureText(const Error &error);

// The notice of a save whose backup copies failed while the data file was
// written, or would have been; empty when both backups were made.
QString backupFailureText(const SaveResult &result);

} // namespace kelvo
