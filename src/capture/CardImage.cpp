#include "CardImage.h"

#include <QFile>
#include <QImageReader>

namespace kelvo::capture {

namespace {

// What a picture of MaxCardImagePixels takes at four bytes a pixel, in MB,
// with room for the reader's own buffers: the readers refuse to allocate more
// whatever a header claims.
constexpr int AllocationLimitMb = 256;

Error damaged(const QString &name, const QString &text)
{
    return Error{ErrorCode::DataDamaged, name, text};
}

} // namespace

Result<QImage> readCardImage(QIODevice *device, const QString &name)
{
    if (QImageReader::allocationLimit() == 0 || QImageReader::allocationLimit() > AllocationLimitMb)
        QImageReader::setAllocationLimit(AllocationLimitMb);
    QImageReader reader(device);
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return damaged(name, QStringLiteral("not a picture that can be read (JPEG, PNG, BMP, TIFF)"));
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        return damaged(name, QStringLiteral("the picture does not tell its size"));
    const qint64 pixels = qint64(size.width()) * size.height();
    if (pixels > MaxCardImagePixels)
        return damaged(name, QStringLiteral("the picture has %1 x %2 pixels; at most 50 megapixels are read")
                                 .arg(size.width())
                                 .arg(size.height()));
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return damaged(name, QStringLiteral("the picture is damaged or cut short (%1)").arg(reader.errorString()));
    // The header may have claimed a smaller size than the data decoded to.
    if (qint64(image.width()) * image.height() > MaxCardImagePixels)
        return damaged(name, QStringLiteral("the picture is larger than 50 megapixels"));
    return image;
}

Result<QImage> loadCardImage(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Error{ErrorCode::ReadFailed, path, file.errorString()};
    return readCardImage(&file, path);
}

} // namespace kelvo::capture
