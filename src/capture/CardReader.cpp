#include "CardReader.h"

#include "CardFields.h"
#include "CardImage.h"
#include "CardQrReading.h"

namespace kelvo::capture {

CaptureResult readCard(CardOcr &ocr, const QImage &picture, const OcrOptions &options)
{
    CaptureResult result;
    // A vCard or MECARD in a QR code on the card gives its fields exactly,
    // without the recogniser.
    if (const std::optional<QrCardFields> qr = decodeCardQr(rotatedPicture(picture, options.rotation))) {
        for (size_t i = 0; i < qr->size(); ++i)
            if (!(*qr)[i].isEmpty())
                result.fields[i] = CapturedField{(*qr)[i], 100, QRect()};
        result.fromQrCode = true;
        result.rotation = options.rotation;
        result.vertical = options.layout == OcrOptions::Layout::Vertical;
        return result;
    }

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
