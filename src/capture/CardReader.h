#pragma once

// Reading one card from a picture: its QR code when it has one, else the
// recogniser and the field rules.

#include "CaptureResult.h"
#include "CardOcr.h"

namespace kelvo::capture {

CaptureResult readCard(CardOcr &ocr, const QImage &picture, const OcrOptions &options = {});
// The picture in `path` (see loadCardImage); a picture that cannot be read
// gives a result with `error` set.
CaptureResult readCardFile(CardOcr &ocr, const QString &path, const OcrOptions &options = {});

} // namespace kelvo::capture
