#include "LinkUrl.h"

namespace kelvo {

QUrl linkToUrl(const QString &link)
{
    // Tolerant parsing keeps valid escapes and encodes what may not stand
    // raw in a URI; control characters are escaped here first because the
    // parser would otherwise drop them or refuse the whole link.
    QString text;
    text.reserve(link.size());
    for (const QChar c : link) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            text += QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        else
            text += c;
    }
    return QUrl(text, QUrl::TolerantMode);
}

} // namespace kelvo
