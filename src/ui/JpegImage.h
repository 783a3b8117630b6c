#pragma once

#include <QByteArrayView>
#include <QImage>
#include <QString>

namespace kelvo {

// Decodes a JPEG picture held in memory with libjpeg's decompression
// interface. Damaged or unsupported data gives a null image and, when `error`
// is given, the decoder's reason; the process is never ended. Pictures larger
// than MaxJpegPixels, or with more than MaxJpegScans progressive scans, are
// refused before any pixel memory is taken.
QImage DecodeJpeg(QByteArrayView data, QString *error = nullptr);

inline constexpr qint64 MaxJpegPixels = 16 * 1024 * 1024;
inline constexpr int MaxJpegScans = 500;

} // namespace kelvo
