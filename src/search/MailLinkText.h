#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace kelvo {

// Mail links are built from the program's own pieces ("MailTo:",
// "?Subject=", "&Body=", the separator's "%0d") and texts taken from a card
// (e-mail, name, card text blocks). A card's text is passed through these
// first, so that nothing in it is read as link syntax: "%", "&", "#", "?",
// "=" and "+" become percent escapes (%25, %26, %23, %3F, %3D, %2B).
// Everything else (blanks, line breaks, Chinese) stays as it is; the shell
// layer encodes that when it makes the link a URI.
QString EscapeCardTextForMailLink(QStringView text);
// The same for GB18030 bytes: none of the six characters can occur inside a
// multi-byte character there, so the bytes are escaped one by one.
QByteArray EscapeCardTextForMailLink(QByteArrayView text);

} // namespace kelvo
