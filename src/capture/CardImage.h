#pragma once

// Pictures of cards as the capture reads them: decoded by Qt's image readers
// (JPEG, PNG, BMP, and TIFF where its plugin is installed), never larger than
// MaxCardImagePixels, turned upright as their EXIF orientation says.

#include "Result.h"

#include <QImage>

class QIODevice;

namespace kelvo::capture {

// 50 megapixels: more than any camera or scanner gives for a card, and what
// the readers may allocate (four bytes a pixel) stays near 200 MB.
inline constexpr qint64 MaxCardImagePixels = 50'000'000;

// Reads the picture in `path`. The size the file's header claims is checked
// before anything is decoded; a picture beyond MaxCardImagePixels, a file
// that is no picture Qt reads, and a damaged or cut picture give an Error
// (DataDamaged, ReadFailed for a file that cannot be opened) with a message.
Result<QImage> loadCardImage(const QString &path);
// The same from an open device; `name` is the path the messages name.
Result<QImage> readCardImage(QIODevice *device, const QString &name);

} // namespace kelvo::capture
