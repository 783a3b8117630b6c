#pragma once

// One read picture as one JSON object, as `kelvo-tool scan --json` prints it
// and CaptureProcess reads it back:
//   {"file": PATH, "fields": [13 texts], "confidence": [13 numbers or null]}
// with "error": TEXT for a picture that was not read, and with `details` also
//   "boxes": [13 of [x, y, w, h] or null], "lines": [{"text", "confidence",
//   "box"}], "rotation": DEGREES, "vertical": BOOL, "qr": BOOL.

#include "CaptureResult.h"

#include <QJsonObject>

namespace kelvo::capture {

QJsonObject captureToJson(const QString &file, const CaptureResult &result, bool details);
// The result a JSON object holds; fields beyond 255 characters, boxes out of
// range and malformed parts are dropped, a malformed object gives a result
// with `error` set. `file` receives its "file".
CaptureResult captureFromJson(const QJsonObject &object, QString *file = nullptr);

} // namespace kelvo::capture
