#include "Folding.h"

#include "Gb18030.h"

#include <cstdint>
#include <cstring>

namespace kelvo {

namespace {

// Eight ASCII bytes at once: a-z become A-Z, every other byte stays. Adding
// 0x1F sets a byte's top bit from 'a' up, adding 0x05 from past 'z' on; no
// byte below 0x80 carries into the next.
std::uint64_t upperAscii8(std::uint64_t x)
{
    constexpr std::uint64_t Ones = 0x0101010101010101ULL;
    const std::uint64_t fromA = x + 0x1F * Ones;
    const std::uint64_t pastZ = x + 0x05 * Ones;
    const std::uint64_t letters = fromA & ~pastZ & (0x80 * Ones);
    return x ^ (letters >> 2);
}

} // namespace

qsizetype FoldTextInto(QByteArrayView text, char *out, bool *boundaries)
{
    const QByteArrayView trimmed = gb18030::trimmed(text);
    const auto *in = reinterpret_cast<const unsigned char *>(trimmed.data());
    const qsizetype size = trimmed.size();
    qsizetype pos = 0;
    if (!boundaries) {
        while (pos < size) {
            // A run of ASCII, eight bytes at a time where it can.
            std::uint64_t eight;
            while (size - pos >= 8 && (std::memcpy(&eight, in + pos, 8), (eight & 0x8080808080808080ULL) == 0)) {
                eight = upperAscii8(eight);
                std::memcpy(out + pos, &eight, 8);
                pos += 8;
            }
            while (pos < size && in[pos] < 0x80) {
                const unsigned char byte = in[pos];
                out[pos++] = static_cast<char>(byte >= 'a' && byte <= 'z' ? byte - 0x20 : byte);
            }
            // A run of multi-byte characters (and bytes standing alone):
            // copied as they are.
            while (pos < size && in[pos] >= 0x80) {
                const int length = gb18030::charLengthAt(in + pos, size - pos);
                out[pos] = static_cast<char>(in[pos]);
                for (int i = 1; i < length; ++i)
                    out[pos + i] = static_cast<char>(in[pos + i]);
                pos += length;
            }
        }
        return size;
    }
    while (pos < size) {
        const unsigned char byte = in[pos];
        if (boundaries)
            boundaries[pos] = true;
        if (byte < 0x80) {
            out[pos] = static_cast<char>(byte >= 'a' && byte <= 'z' ? byte - 0x20 : byte);
            ++pos;
            continue;
        }
        const int length = gb18030::charLengthAt(in + pos, size - pos);
        for (int i = 0; i < length; ++i) {
            out[pos + i] = static_cast<char>(in[pos + i]);
            if (boundaries && i > 0)
                boundaries[pos + i] = false;
        }
        pos += length;
    }
    if (boundaries)
        boundaries[size] = true;
    return size;
}

QByteArray FoldText(QByteArrayView text)
{
    QByteArray folded(text.size(), Qt::Uninitialized);
    folded.truncate(FoldTextInto(text, folded.data()));
    return folded;
}

bool EqualIgnoringCase(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    const auto *pa = reinterpret_cast<const unsigned char *>(a.data());
    const auto *pb = reinterpret_cast<const unsigned char *>(b.data());
    const qsizetype size = a.size();
    qsizetype pos = 0;
    while (pos < size) {
        const unsigned char ca = pa[pos];
        const unsigned char cb = pb[pos];
        if (ca < 0x80 && cb < 0x80) {
            const auto upper = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 0x20 : c; };
            if (upper(ca) != upper(cb))
                return false;
            ++pos;
            continue;
        }
        // A multi-byte character: the same bytes in both, and the same length
        // (equal bytes from here on give equal lengths).
        const int length = gb18030::charLengthAt(pa + pos, size - pos);
        for (int i = 0; i < length; ++i) {
            if (pa[pos + i] != pb[pos + i])
                return false;
        }
        pos += length;
    }
    return true;
}

} // namespace kelvo
