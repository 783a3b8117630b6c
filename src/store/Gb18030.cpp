#include "Gb18030.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace kelvo::gb18030 {

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

// Making a converter looks the codec up by name each time, which costs more
// than converting a short field; one stateless converter per thread serves
// every call.
QString decode(QByteArrayView text)
{
    if (text.isEmpty())
        return QString();
    // Bytes below 0x80 are ASCII in GB18030: phone numbers, e-mail and web
    // addresses need no converter.
    bool ascii = true;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return QString::fromLatin1(text);
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

// The four-byte code of number `number` in the four-byte order (0 is 0x81308130).
void putFourByteCode(std::uint32_t number, char *out)
{
    out[3] = static_cast<char>(0x30 + number % 10);
    number /= 10;
    out[2] = static_cast<char>(0x81 + number % 126);
    number /= 126;
    out[1] = static_cast<char>(0x30 + number % 10);
    number /= 10;
    out[0] = static_cast<char>(0x81 + number);
}

// The four-byte GB18030 sequence of a code point beyond the BMP: they follow
// one another from 0x90308130 (U+10000) in the four-byte order.
char *putSupplementary(char32_t c, char *out)
{
    putFourByteCode(189000 + (c - 0x10000), out);
    return out + 4;
}

char *putUtf8(char32_t c, char *out)
{
    if (c < 0x80) {
        *out++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *out++ = static_cast<char>(0xC0 | (c >> 6));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (c >> 12));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (c >> 18));
        *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

// The way back: the UTF-8 of each two-byte code and the code point of each
// four-byte code of the Basic Multilingual Plane (0: none known, decode()
// decides). Each table is made from every code of its kind decoded in one
// call and the characters that come out encoded back in one call: a code
// gets its character only where the two agree (the character decodes from
// the code and encodes to it), as decode() and encode() themselves have it.
// The four-byte table is made only when a text first holds such a code.
struct TwoByteTable
{
    static constexpr int Codes = 126 * 191; // lead 0x81-0xFE, trail 0x40-0xFE
    // A code's UTF-8: its two or three bytes in memory order, and their
    // count in the top byte (0: none known).
    std::vector<std::uint32_t> utf8 = std::vector<std::uint32_t>(Codes, 0);
};

struct FourByteTable
{
    static constexpr int BmpCodes = 39420;                      // linear numbers of U+0080..U+FFFF
    static constexpr std::uint32_t FirstSupplementary = 189000; // the number of U+10000
    std::vector<char16_t> character = std::vector<char16_t>(BmpCodes, 0);
};

std::uint32_t fourByteNumber(const unsigned char *p)
{
    return ((std::uint32_t(p[0] - 0x81) * 10 + std::uint32_t(p[1] - 0x30)) * 126 + std::uint32_t(p[2] - 0x81)) * 10
        + std::uint32_t(p[3] - 0x30);
}

// Decodes `codes` (codes of `width` bytes back to back) in one call and
// encodes what comes out in another; calls `agreed(i, c)` for each code i
// whose character c (U+0080..U+FFFF, no surrogate) encodes back to it.
// False when the output does not come out one character per code.
template<typename Agreed>
bool roundTrip(const QByteArray &codes, int width, Agreed &&agreed)
{
    const qsizetype count = codes.size() / width;
    const QString characters = decode(codes);
    if (characters.size() != count)
        return false;
    const QByteArray back = encode(characters);
    const auto *p = reinterpret_cast<const unsigned char *>(back.constData());
    const qsizetype size = back.size();
    qsizetype pos = 0;
    for (qsizetype i = 0; i < count; ++i) {
        if (pos >= size)
            return false;
        const int length = charLengthAt(p + pos, size - pos);
        const char16_t c = characters.at(i).unicode();
        if (length == width && c >= 0x80 && !QChar::isSurrogate(c)
            && std::memcmp(p + pos, codes.constData() + i * width, size_t(width)) == 0)
            agreed(i, c);
        pos += length;
    }
    return pos == size;
}

std::unique_ptr<TwoByteTable> makeTwoByteTable()
{
    QByteArray codes;
    codes.reserve(2 * TwoByteTable::Codes);
    std::vector<int> slot; // the table's place of each code
    slot.reserve(TwoByteTable::Codes);
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F)
                continue; // not a trail byte
            codes.append(static_cast<char>(lead));
            codes.append(static_cast<char>(trail));
            slot.push_back((lead - 0x81) * 191 + (trail - 0x40));
        }
    }
    auto table = std::make_unique<TwoByteTable>();
    const bool whole = roundTrip(codes, 2, [&](qsizetype i, char16_t c) {
        char utf8[4] = {};
        const auto n = static_cast<unsigned char>(putUtf8(c, utf8) - utf8);
        unsigned char bytes[4] = {static_cast<unsigned char>(utf8[0]), static_cast<unsigned char>(utf8[1]),
                                  static_cast<unsigned char>(utf8[2]), n};
        std::memcpy(&table->utf8[size_t(slot[size_t(i)])], bytes, 4);
    });
    return whole ? std::move(table) : nullptr;
}

std::unique_ptr<FourByteTable> makeFourByteTable()
{
    QByteArray codes(4 * FourByteTable::BmpCodes, Qt::Uninitialized);
    for (std::uint32_t number = 0; number < std::uint32_t(FourByteTable::BmpCodes); ++number)
        putFourByteCode(number, codes.data() + 4 * number);
    auto table = std::make_unique<FourByteTable>();
    const bool whole = roundTrip(codes, 4, [&](qsizetype i, char16_t c) { table->character[size_t(i)] = c; });
    return whole ? std::move(table) : nullptr;
}

const TwoByteTable *twoByteTable()
{
    static const std::unique_ptr<TwoByteTable> table = makeTwoByteTable();
    return table.get();
}

const FourByteTable *fourByteTable()
{
    static const std::unique_ptr<FourByteTable> table = makeFourByteTable();
    return table.get();
}

} // namespace

namespace {

// Eight ASCII bytes at once: a-z become A-Z. Adding 0x1F sets a byte's top
// bit from 'a' up, adding 0x05 from past 'z' on; no byte below 0x80 carries.
std::uint64_t upperAscii8(std::uint64_t x)
{
    constexpr std::uint64_t Ones = 0x0101010101010101ULL;
    const std::uint64_t letters = (x + 0x1F * Ones) & ~(x + 0x05 * Ones) & (0x80 * Ones);
    return x ^ (letters >> 2);
}

} // namespace

char *putAsUtf8(QByteArrayView text, char *to, bool upperAsciiLetters)
{
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const qsizetype size = text.size();
    const TwoByteTable *tables = nullptr;
    qsizetype i = 0;
    while (i < size) {
        // A run of ASCII, eight bytes at a time where it can.
        while (i < size && p[i] < 0x80) {
            std::uint64_t eight;
            if (size - i >= 8 && (std::memcpy(&eight, p + i, 8), (eight & 0x8080808080808080ULL) == 0)) {
                if (upperAsciiLetters)
                    eight = upperAscii8(eight);
                std::memcpy(to, &eight, 8);
                to += 8;
                i += 8;
                continue;
            }
            const unsigned char c = p[i++];
            *to++ = static_cast<char>(upperAsciiLetters && c >= 'a' && c <= 'z' ? c - 0x20 : c);
        }
        // A run of multi-byte characters.
        if (i < size && !tables && !(tables = twoByteTable()))
            return nullptr;
        while (i < size && p[i] >= 0x80) {
            const int length = charLengthAt(p + i, size - i);
            char32_t c = 0;
            if (length == 2) {
                // The UTF-8 is in the table: four bytes stored, its count kept
                // (`to` has room to spare at the end).
                const std::uint32_t entry = tables->utf8[size_t((p[i] - 0x81) * 191 + (p[i + 1] - 0x40))];
                unsigned char bytes[4];
                std::memcpy(bytes, &entry, 4);
                if (bytes[3] == 0)
                    return nullptr;
                std::memcpy(to, bytes, 4);
                to += bytes[3];
                i += 2;
                continue;
            }
            if (length == 4) {
                const std::uint32_t number = fourByteNumber(p + i);
                if (number < std::uint32_t(FourByteTable::BmpCodes)) {
                    if (const FourByteTable *four = fourByteTable())
                        c = four->character[number];
                } else if (number >= FourByteTable::FirstSupplementary
                           && number - FourByteTable::FirstSupplementary < 0x100000) {
                    c = 0x10000 + (number - FourByteTable::FirstSupplementary);
                }
            }
            if (c == 0)
                return nullptr; // not a character the tables know: decode() reads the whole text
            to = putUtf8(c, to);
            i += length;
        }
    }
    return to;
}

void appendAsUtf8(QByteArrayView text, QByteArray &out)
{
    const qsizetype start = out.size();
    out.resize(start + MaxUtf8Bytes(text.size()));
    if (const char *end = putAsUtf8(text, out.data() + start)) {
        out.truncate(end - out.constData());
        return;
    }
    out.truncate(start);
    out.append(decode(text).toUtf8());
}

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
    // GB18030 takes at most four bytes for two of UTF-8 (U+0080..U+07FF).
    out.resize(start + 2 * size);
    char *to = out.data() + start;
    std::memcpy(to, p, static_cast<size_t>(ascii));
    to += ascii;
    for (qsizetype i = ascii; i < size;) {
        const unsigned char lead = p[i];
        if (lead < 0x80) {
            *to++ = static_cast<char>(lead);
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
        bool valid = length > 0 && i + length <= size;
        for (int k = 1; valid && k < length; ++k) {
            const unsigned char next = p[i + k];
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        static constexpr char32_t Smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!valid || c < Smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out.truncate(start);
            return false; // not UTF-8: cut, overlong, out of range, or a surrogate
        }
        i += length;
        if (c >= 0x10000) {
            to = putSupplementary(c, to);
        } else if (table) {
            const std::uint32_t packed = (*table)[c];
            const int n = packedLength(packed);
            std::memcpy(to, &packed, static_cast<size_t>(n));
            to += n;
        } else {
            const QByteArray one = encode(QString(QChar(static_cast<char16_t>(c))));
            std::memcpy(to, one.constData(), static_cast<size_t>(one.size()));
            to += one.size();
        }
    }
    out.truncate(to - out.constData());
    return true;
}

} // namespace kelvo::gb18030
