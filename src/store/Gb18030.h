#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Card text is held as GB18030 bytes (identical to GBK for every GBK character)
// and decoded to QString only where it meets the user interface. These helpers
// are the one place that knows how the encoding splits bytes into characters.
namespace kelvo::gb18030 {

// Length in bytes (1, 2 or 4) of the character that starts at `p`, with
// `left` (>= 1) bytes available there. A lead byte 0x81-0xFE starts a
// two-byte character when the next byte is 0x40-0x7E or 0x80-0xFE, a
// four-byte character when the next three are 0x30-0x39, 0x81-0xFE,
// 0x30-0x39. A byte sequence that is not a valid multi-byte character counts
// as one byte, so a walk over damaged text always advances. Inline: the
// search walks every field with it.
inline int charLengthAt(const unsigned char *p, qsizetype left)
{
    const unsigned char lead = p[0];
    if (lead < 0x81 || lead == 0xFF || left < 2)
        return 1;
    const unsigned char second = p[1];
    if ((second >= 0x40 && second <= 0x7E) || (second >= 0x80 && second <= 0xFE))
        return 2;
    if (second >= 0x30 && second <= 0x39 && left >= 4 && p[2] >= 0x81 && p[2] <= 0xFE && p[3] >= 0x30 && p[3] <= 0x39)
        return 4;
    return 1;
}

// The same for the character that starts at `pos` of `text` (1 when `pos`
// lies outside it).
inline int charLength(QByteArrayView text, qsizetype pos)
{
    if (pos < 0 || pos >= text.size())
        return 1;
    return charLengthAt(reinterpret_cast<const unsigned char *>(text.data()) + pos, text.size() - pos);
}

// The longest prefix of `text` of at most `maxBytes` bytes that ends on a
// character boundary: a cut never splits a multi-byte character. Inline for
// the common case of a text that fits.
QByteArrayView cutLongText(QByteArrayView text, qsizetype maxBytes);
inline QByteArrayView cutAtCharBoundary(QByteArrayView text, qsizetype maxBytes)
{
    if (text.size() <= maxBytes && maxBytes > 0)
        return text;
    return cutLongText(text, maxBytes);
}

// `text` without its leading and trailing bytes of value 0x20 or less. Inner
// bytes stay. (Bytes <= 0x20 are never part of a multi-byte character.)
inline QByteArrayView trimmed(QByteArrayView text)
{
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && p[begin] <= 0x20)
        ++begin;
    while (end > begin && p[end - 1] <= 0x20)
        --end;
    return text.sliced(begin, end - begin);
}

// Conversions at the user-interface edge. Characters GB18030 cannot encode do
// not exist (it covers all of Unicode), so encoding is lossless.
QString decode(QByteArrayView text);
QByteArray encode(const QString &text);

// Appends the GB18030 form of UTF-8 text to `out`: the bytes encode() gives
// for the same text, without a QString in between and without a converter
// call per text (a table made once from encode()'s own converter serves the
// Basic Multilingual Plane). Returns false, with `out` unchanged, when
// `utf8` holds a code point of the surrogate range (U+D800 to U+DFFF, which
// a JSON "\udc00" escape produces) or is not UTF-8.
bool appendFromUtf8(QByteArrayView utf8, QByteArray &out);

// Appends the UTF-8 form of GB18030 text to `out`: the bytes
// decode(text).toUtf8() gives, for writing many texts out quickly. Tables
// inverted from the ones above (and checked against decode() once) serve
// every character; a text holding anything else (damaged bytes, codes
// without a character) goes through decode() itself.
void appendAsUtf8(QByteArrayView text, QByteArray &out);
// The same into `out`, which has room for MaxUtf8Bytes(text.size()) bytes:
// returns the end of what was written, or nullptr (nothing usable written)
// for a text that needs decode(). With `upperAsciiLetters`, ASCII letters
// a-z (which in GB18030 text stand as characters of their own wherever the
// tables serve) are written as A-Z.
char *putAsUtf8(QByteArrayView text, char *out, bool upperAsciiLetters = false);
constexpr qsizetype MaxUtf8Bytes(qsizetype gb18030Bytes)
{
    return gb18030Bytes + gb18030Bytes / 2 + 4;
}

} // namespace kelvo::gb18030
