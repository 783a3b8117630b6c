#include "Gb18030.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace kelvo::gb18030 {

namespace {

unsigned char byteAt(QByteArrayView text, qsizetype pos)
{
    return static_cast<unsigned char>(text[pos]);
}

} // namespace

QByteArrayView cutAtCharBoundary(QByteArrayView text, qsizetype maxBytes)
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

} // namespace kelvo::gb18030
