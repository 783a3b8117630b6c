#include "CardQrCode.h"

#include "VCardWriter.h"

#include <qrencode.h>

#include <algorithm>
#include <array>
#include <memory>

namespace kelvo::capture {

namespace {

struct InputDeleter
{
    void operator()(QRinput *input) const { QRinput_free(input); }
};
struct CodeDeleter
{
    void operator()(QRcode *code) const { QRcode_free(code); }
};

// Every version's symbol at level M, smallest first: libqrencode chooses the
// smallest version when asked for version 0, and refuses input that no
// version holds.
std::optional<QrSymbol> encodeAtAnyVersion(QByteArrayView bytes)
{
    std::unique_ptr<QRinput, InputDeleter> input(QRinput_new2(0, QR_ECLEVEL_M));
    if (!input)
        return std::nullopt;
    if (QRinput_appendECIheader(input.get(), Utf8Eci) != 0)
        return std::nullopt;
    if (QRinput_append(input.get(), QR_MODE_8, static_cast<int>(bytes.size()),
                       reinterpret_cast<const unsigned char *>(bytes.data()))
        != 0)
        return std::nullopt;
    std::unique_ptr<QRcode, CodeDeleter> code(QRcode_encodeInput(input.get()));
    if (!code)
        return std::nullopt;
    QrSymbol symbol;
    symbol.version = code->version;
    symbol.size = code->width;
    const size_t count = static_cast<size_t>(code->width) * static_cast<size_t>(code->width);
    symbol.modules.resize(count);
    // libqrencode's modules: bit 0 tells dark; the other bits describe the
    // module's role (finder, timing, data), which a picture does not need.
    for (size_t i = 0; i < count; ++i)
        symbol.modules[i] = code->data[i] & 1;
    return symbol;
}

} // namespace

std::optional<QrSymbol> EncodeQrBytes(QByteArrayView bytes, int maxVersion)
{
    // The largest symbol (version 40, level M) holds 2,331 bytes; anything
    // longer is refused before libqrencode is asked.
    constexpr qsizetype LargestPayload = 2331;
    if (bytes.isEmpty() || bytes.size() > LargestPayload)
        return std::nullopt;
    std::optional<QrSymbol> symbol = encodeAtAnyVersion(bytes);
    if (!symbol || symbol->version > maxVersion)
        return std::nullopt;
    return symbol;
}

QByteArray CardQrText(const TCardData &card, bool compact, QByteArrayView uid)
{
    QByteArray text;
    if (!compact) {
        exchange::AppendVCard(text, card, {}, exchange::VCardVersion::V30, uid);
        return text;
    }
    std::array<QByteArrayView, Field::Count> kept = {};
    for (const int n : {Field::Name, Field::TouXian, Field::DW, Field::DH, Field::CZ, Field::SJ, Field::EMail})
        kept[static_cast<size_t>(n - 1)] = card.field(n);
    TCardData compactCard;
    compactCard.Kind = card.Kind;
    compactCard.setAllFields(kept);
    exchange::AppendVCard(text, compactCard, {}, exchange::VCardVersion::V30, uid);
    return text;
}

CardQrCode EncodeCardQr(const TCardData &card, QByteArrayView uid)
{
    CardQrCode code;
    for (const bool compact : {false, true}) {
        code.compact = compact;
        for (const QByteArrayView withUid : {uid, QByteArrayView()}) {
            code.text = CardQrText(card, compact, withUid);
            if (std::optional<QrSymbol> symbol = EncodeQrBytes(code.text, compact ? 40 : CardQrMaxFullVersion)) {
                code.symbol = std::move(*symbol);
                return code;
            }
            if (withUid.isEmpty())
                break;
        }
    }
    code.error = QStringLiteral("the card's name, title, company, phones and e-mail are together too long for a "
                                "QR code (%1 bytes)")
                     .arg(code.text.size());
    return code;
}

QImage RenderQrSymbol(const QrSymbol &symbol, int moduleSize, int quietZone)
{
    if (symbol.size <= 0 || moduleSize <= 0 || moduleSize > 256 || quietZone < 0 || quietZone > 64)
        return {};
    const int side = (symbol.size + 2 * quietZone) * moduleSize;
    QImage image(side, side, QImage::Format_Grayscale8);
    if (image.isNull())
        return {};
    image.fill(Qt::white);
    for (int y = 0; y < symbol.size; ++y) {
        uchar *rows = image.scanLine((y + quietZone) * moduleSize);
        for (int x = 0; x < symbol.size; ++x) {
            if (!symbol.dark(x, y))
                continue;
            uchar *first = rows + static_cast<qsizetype>(x + quietZone) * moduleSize;
            std::fill(first, first + moduleSize, uchar(0));
        }
        // The other pixel rows of the module row are copies of the first.
        for (int r = 1; r < moduleSize; ++r)
            std::copy(rows, rows + side, image.scanLine((y + quietZone) * moduleSize + r));
    }
    return image;
}

} // namespace kelvo::capture
