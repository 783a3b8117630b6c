#include "CardReader.h"

#include "CardFields.h"
#include "CardImage.h"

namespace kelvo::capture {

CaptureResult readCard(CardOcr &ocr, const QImage &picture, const OcrOptions &options)
{
    CaptureResult result;
    // QR-CODE: a vCard or MECARD in a QR code on the card gives its fields
    // exactly, without the recogniser. The QR reading (decodeCardQr) is not
    // part of this library yet; when it is, it is asked here first and its
    // fields fill `result` with fromQrCode set.

    const OcrOutput read = ocr.read(picture, options);
    result.rotation = read.rotation;
    result.vertical = read.vertical;
    if (!read.error.isEmpty()) {
        result.error = read.error;
        return result;
    }
    AssignedFields assigned = assignCardFields(read.fragments, read.vertical);
    result.fields = assigned.fields;
    result.lines = assigned.lines;
    return result;
}

CaptureResult readCardFile(CardOcr &ocr, const QString &path, const OcrOptions &options)
{
    const Result<QImage> picture = loadCardImage(path);
    if (!picture) {
        CaptureResult result;
        result.error = picture.error().message();
        return result;
    }
    return readCard(ocr, picture.value(), options);
}

} // namespace kelvo::capture
