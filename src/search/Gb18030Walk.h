#pragma once

#include <QByteArrayView>

// Inline character walk over GB18030 bytes for the search's hot loops. It
// follows the same rule as kelvo::gb18030::charLength (which the tests check
// it against): a lead byte 0x81-0xFE starts a two-byte character when the
// next byte is 0x40-0x7E or 0x80-0xFE, a four-byte character when the next
// three bytes are 0x30-0x39, 0x81-0xFE, 0x30-0x39; every other byte is a
// character of one byte.
namespace kelvo::search_detail {

inline int charLengthAt(const unsigned char *p, qsizetype left)
{
    const unsigned char lead = p[0];
    if (lead < 0x81 || lead == 0xFF || left < 2)
        return 1;
    const unsigned char second = p[1];
    if ((second >= 0x40 && second <= 0x7E) || (second >= 0x80 && second <= 0xFE))
        return 2;
    if (second >= 0x30 && second <= 0x39 && left >= 4 && p[2] >= 0x81 && p[2] <= 0xFE && p[3] >= 0x30
        && p[3] <= 0x39)
        return 4;
    return 1;
}

} // namespace kelvo::search_detail
