#include "Gb18030.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

namespace kelvo::gb18030 {

namespace {

unsigned char byteAt(QByteArrayView text, qsizetype pos)
{
    return static_cast<unsigned char>(text[pos]);
}

} // namespace

QByteArrayView cutLongText(QByteArrayView text, qsizetype maxBytes)
{
    if (maxBytes <= 0)
        return text.first(0);
    if (text.size() <= maxBytes)
        return text;
    // The encoding does not synchronise backwards: walk from the start.
    qsizetype pos = 0;
    while (pos < maxBytes) {
        const int length = charLength(text, pos);
        if (pos + length > maxBytes)
            break;
        pos += length;
    }
    return text.first(pos);
}

QByteArrayView trimmed(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && byteAt(text, begin) <= 0x20)
        ++begin;
    while (end > begin && byteAt(text, end - 1) <= 0x20)
        --end;
    return text.sliced(begin, end - begin);
}

// Making a converter looks the codec up by name each time, which costs more
// than converting a short field; one stateless converter per thread serves
// every call.
QString decode(QByteArrayView text)
{
    if (text.isEmpty())
        return QString();
    thread_local QStringDecoder decoder("GB18030", QStringConverter::Flag::Stateless);
    return decoder.decode(text);
}

QByteArray encode(const QString &text)
{
    if (text.isEmpty())
        return QByteArray();
    thread_local QStringEncoder encoder("GB18030", QStringConverter::Flag::Stateless);
    return encoder.encode(text);
}

namespace {

// The GB18030 bytes of every code point of the Basic Multilingual Plane from
// U+0080 (surrogates excluded), packed in memory order into the low bytes of
// a 32-bit value; how many of them count follows from the bytes themselves
// (charLengthAt). Made by encoding all of them in one call of encode() and
// splitting the result into characters; nullptr if that split does not come
// out one character per code point.
using BmpTable = std::array<std::uint32_t, 0x10000>;

std::unique_ptr<BmpTable> makeBmpTable()
{
    QString all;
    all.reserve(0x10000);
    for (char32_t c = 0x80; c < 0x10000; ++c) {
        if (c < 0xD800 || c > 0xDFFF)
            all.append(QChar(static_cast<char16_t>(c)));
    }
    const QByteArray bytes = encode(all);
    auto table = std::make_unique<BmpTable>();
    table->fill(0);
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype size = bytes.size();
    qsizetype pos = 0;
    for (char32_t c = 0x80; c < 0x10000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        if (pos >= size)
            return nullptr;
        const int length = charLengthAt(p + pos, size - pos);
        if (length == 1 && p[pos] >= 0x80)
            return nullptr; // not a whole character: do not trust the split
        std::uint32_t packed = 0;
        std::memcpy(&packed, p + pos, static_cast<size_t>(length));
        (*table)[c] = packed;
        pos += length;
    }
    return pos == size ? std::move(table) : nullptr;
}

const BmpTable *bmpTable()
{
    static const std::unique_ptr<BmpTable> table = makeBmpTable();
    return table.get();
}

int packedLength(std::uint32_t packed)
{
    unsigned char bytes[4];
    std::memcpy(bytes, &packed, 4);
    return charLengthAt(bytes, 4);
}

// The four-byte GB18030 sequence of a code point beyond the BMP: they follow
// one another from 0x90308130 (U+10000) in the four-byte order.
void appendSupplementary(char32_t c, QByteArray &out)
{
    std::uint32_t linear = 189000 + (c - 0x10000);
    char bytes[4];
    bytes[3] = static_cast<char>(0x30 + linear % 10);
    linear /= 10;
    bytes[2] = static_cast<char>(0x81 + linear % 126);
    linear /= 126;
    bytes[1] = static_cast<char>(0x30 + linear % 10);
    linear /= 10;
    bytes[0] = static_cast<char>(0x81 + linear);
    out.append(bytes, 4);
}

} // namespace

bool appendFromUtf8(QByteArrayView utf8, QByteArray &out)
{
    const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
    const qsizetype size = utf8.size();
    qsizetype ascii = 0;
    while (ascii < size && p[ascii] < 0x80)
        ++ascii;
    if (ascii == size) {
        out.append(utf8.data(), size);
        return true;
    }
    const BmpTable *table = bmpTable();
    const qsizetype start = out.size();
    out.reserve(start + size + 4);
    out.append(utf8.data(), ascii);
    for (qsizetype i = ascii; i < size;) {
        const unsigned char lead = p[i];
        if (lead < 0x80) {
            out.append(static_cast<char>(lead));
            ++i;
            continue;
        }
        char32_t c = 0;
        int length = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            c = lead & 0x1F;
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            c = lead & 0x0F;
            length = 3;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            c = lead & 0x07;
            length = 4;
        }
        if (length == 0 || i + length > size) {
            out.truncate(start);
            return false;
        }
        for (int k = 1; k < length; ++k) {
            const unsigned char next = p[i + k];
            if ((next & 0xC0) != 0x80) {
                out.truncate(start);
                return false;
            }
            c = (c << 6) | (next & 0x3F);
        }
        static constexpr char32_t Smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < Smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out.truncate(start);
            return false; // overlong, out of range, or a surrogate
        }
        i += length;
        if (c >= 0x10000) {
            appendSupplementary(c, out);
        } else if (table) {
            const std::uint32_t packed = (*table)[c];
            out.append(reinterpret_cast<const char *>(&packed), packedLength(packed));
        } else {
            out.append(encode(QString(QChar(static_cast<char16_t>(c)))));
        }
    }
    return true;
}

} // namespace kelvo::gb18030
