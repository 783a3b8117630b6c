#include "Folding.h"

#include "Gb18030.h"

namespace kelvo {

qsizetype FoldTextInto(QByteArrayView text, char *out, bool *boundaries)
{
    const QByteArrayView trimmed = gb18030::trimmed(text);
    const auto *in = reinterpret_cast<const unsigned char *>(trimmed.data());
    const qsizetype size = trimmed.size();
    qsizetype pos = 0;
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
