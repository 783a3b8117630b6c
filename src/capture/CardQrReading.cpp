#include "CardQrReading.h"

#include "ContactDraft.h"
#include "TextDecoding.h"
#include "VCardReader.h"

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <QRegularExpression>

namespace kelvo::capture {

namespace {

// Pictures beyond this are not looked at (the capture refuses them before
// they are decoded; this guards callers that did not).
constexpr qint64 MaxPicturePixels = 50'000'000;

bool startsWithWord(QByteArrayView text, QByteArrayView word)
{
    return text.size() >= word.size() && text.first(word.size()).compare(word, Qt::CaseInsensitive) == 0;
}

QByteArrayView withoutLeadingBlanks(QByteArrayView text)
{
    qsizetype begin = 0;
    while (begin < text.size() && static_cast<unsigned char>(text[begin]) <= 0x20)
        ++begin;
    // A UTF-8 byte order mark some generators put first.
    if (text.sliced(begin).startsWith("\xEF\xBB\xBF"))
        begin += 3;
    return text.sliced(begin);
}

std::optional<QrCardFields> readVCard(QByteArrayView text)
{
    exchange::VCardReader reader(text);
    exchange::ContactDraft draft;
    bool readable = false;
    if (!reader.nextCard(draft, &readable) || !readable)
        return std::nullopt;
    QrCardFields fields;
    if (!exchange::AssembleCard(draft, &fields))
        return std::nullopt;
    return fields;
}

// The MECARD escapes: a backslash makes the next character plain.
QString unescapeMeCard(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 1 < text.size())
            ++i;
        out.append(text[i]);
    }
    return out;
}

// Splits at `separator` where it is not escaped; the parts keep their escapes.
QList<QStringView> splitUnescaped(QStringView text, QChar separator)
{
    QList<QStringView> parts;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\') {
            ++i;
            continue;
        }
        if (text[i] == separator) {
            parts.append(text.sliced(start, i - start));
            start = i + 1;
        }
    }
    parts.append(text.sliced(start));
    return parts;
}

qsizetype indexOfUnescaped(QStringView text, QChar c)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\')
            ++i;
        else if (text[i] == c)
            return i;
    }
    return -1;
}

bool isMainlandMobile(const QString &number)
{
    static const QRegularExpression mobile(QStringLiteral("^(\\+?86)?1[3-9]\\d{9}$"));
    QString digits = number;
    digits.remove(QRegularExpression(QStringLiteral("[\\s\\-().]")));
    return mobile.match(digits).hasMatch();
}

} // namespace

std::optional<QrCardFields> parseMeCard(QStringView text)
{
    const QStringView prefix = u"MECARD:";
    QStringView body = text.trimmed();
    if (!body.startsWith(prefix, Qt::CaseInsensitive))
        return std::nullopt;
    body = body.sliced(prefix.size());

    exchange::ContactDraft draft;
    const auto add = [&draft](int field, const QString &value, const QString &label) {
        exchange::DraftValue made;
        made.text = exchange::OneLine(value);
        made.label = label;
        made.order = draft.nextOrder();
        if (field == 0)
            draft.addExtra(std::move(made));
        else
            draft.add(field, std::move(made));
    };
    for (const QStringView item : splitUnescaped(body, u';')) {
        const qsizetype colon = indexOfUnescaped(item, u':');
        if (colon <= 0)
            continue; // the closing ";;", or an item without a name
        const QString name = item.first(colon).trimmed().toString().toUpper();
        const QStringView raw = item.sliced(colon + 1);
        const QString value = unescapeMeCard(raw);
        if (name == u"N") {
            // "family,given" (the comma may be left out: one part is the
            // whole name).
            const QList<QStringView> parts = splitUnescaped(raw, u',');
            exchange::NameParts person;
            person.family = exchange::OneLine(unescapeMeCard(parts.value(0)));
            if (parts.size() > 1) {
                QStringList rest;
                for (qsizetype i = 1; i < parts.size(); ++i)
                    rest.append(unescapeMeCard(parts.at(i)));
                person.given = exchange::OneLine(rest.join(u' '));
            }
            if (draft.structuredName.isEmpty())
                draft.structuredName = person.joined();
            else
                add(0, person.joined(), QStringLiteral("N"));
        } else if (name == u"TEL" || name == u"TEL-AV") {
            add(isMainlandMobile(value) ? 7 : 5, value, QStringLiteral("TEL"));
        } else if (name == u"EMAIL") {
            add(12, value, QStringLiteral("EMAIL"));
        } else if (name == u"URL") {
            add(9, value, QStringLiteral("URL"));
        } else if (name == u"ORG") {
            add(3, value, QStringLiteral("ORG"));
        } else if (name == u"TITLE") {
            add(2, value, QStringLiteral("TITLE"));
        } else if (name == u"NOTE" || name == u"MEMO") {
            add(13, value, QStringLiteral("NOTE"));
        } else if (name == u"ADR") {
            const QList<QStringView> parts = splitUnescaped(raw, u',');
            exchange::DraftValue made;
            made.label = QStringLiteral("ADR");
            made.order = draft.nextOrder();
            if (parts.size() == 7) {
                exchange::AddressParts address;
                address.poBox = exchange::OneLine(unescapeMeCard(parts[0]));
                address.extended = exchange::OneLine(unescapeMeCard(parts[1]));
                address.street = exchange::OneLine(unescapeMeCard(parts[2]));
                address.locality = exchange::OneLine(unescapeMeCard(parts[3]));
                address.region = exchange::OneLine(unescapeMeCard(parts[4]));
                address.postcode = exchange::OneLine(unescapeMeCard(parts[5]));
                address.country = exchange::OneLine(unescapeMeCard(parts[6]));
                made.text = address.joined();
                made.postcode = address.postcode;
            } else {
                made.text = exchange::OneLine(value);
            }
            draft.add(4, std::move(made));
        } else if (name == u"SOUND" || name == u"NICKNAME" || name == u"BDAY") {
            add(0, value, name);
        }
    }
    QrCardFields fields;
    if (!exchange::AssembleCard(draft, &fields))
        return std::nullopt;
    return fields;
}

std::optional<QrCardFields> readCardQrText(QByteArrayView bytes)
{
    const QByteArrayView text = withoutLeadingBlanks(bytes);
    if (startsWithWord(text, "BEGIN:VCARD"))
        return readVCard(text);
    if (startsWithWord(text, "MECARD:"))
        return parseMeCard(exchange::DecodeUtf8OrGb18030(text, true));
    return std::nullopt;
}

std::optional<QrCardFields> decodeCardQr(const QImage &image)
{
    if (image.isNull() || qint64(image.width()) * image.height() > MaxPicturePixels)
        return std::nullopt;
    const QImage gray = image.format() == QImage::Format_Grayscale8 ? image
                                                                     : image.convertToFormat(QImage::Format_Grayscale8);
    if (gray.isNull())
        return std::nullopt;
    const ZXing::ImageView view(gray.constBits(), gray.width(), gray.height(), ZXing::ImageFormat::Lum,
                                static_cast<int>(gray.bytesPerLine()));
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    for (const ZXing::Result &result : ZXing::ReadBarcodes(view, hints)) {
        if (!result.isValid())
            continue;
        QByteArray bytes;
        if (result.hasECI()) {
            // ZXing has turned every ECI segment into UTF-8.
            const std::string utf8 = result.text();
            bytes = QByteArray(utf8.data(), static_cast<qsizetype>(utf8.size()));
        } else {
            // Without a declared charset the bytes are read as vCard files
            // are: UTF-8, else GB18030 (what Chinese phones write), rather
            // than by ZXing's guess among the charsets of the whole world.
            const ZXing::ByteArray &raw = result.bytes();
            bytes = QByteArray(reinterpret_cast<const char *>(raw.data()), static_cast<qsizetype>(raw.size()));
        }
        if (std::optional<QrCardFields> fields = readCardQrText(bytes))
            return fields;
    }
    return std::nullopt;
}

} // namespace kelvo::capture
