#include "MailLinkText.h"

namespace kelvo {

namespace {

bool isLinkSyntax(char16_t c)
{
    switch (c) {
    case u'%':
    case u'&':
    case u'#':
    case u'?':
    case u'=':
    case u'+':
        return true;
    default:
        return false;
    }
}

constexpr char HexDigits[] = "0123456789ABCDEF";

} // namespace

QString EscapeCardTextForMailLink(QStringView text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (!isLinkSyntax(unit)) {
            escaped += c;
            continue;
        }
        escaped += u'%';
        escaped += QLatin1Char(HexDigits[(unit >> 4) & 0xF]);
        escaped += QLatin1Char(HexDigits[unit & 0xF]);
    }
    return escaped;
}

QByteArray EscapeCardTextForMailLink(QByteArrayView text)
{
    QByteArray escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 || !isLinkSyntax(byte)) {
            escaped += c;
            continue;
        }
        escaped += '%';
        escaped += HexDigits[byte >> 4];
        escaped += HexDigits[byte & 0xF];
    }
    return escaped;
}

} // namespace kelvo
