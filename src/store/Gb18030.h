#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Card text is held as GB18030 bytes (identical to GBK for every GBK character)
// and decoded to QString only where it meets the user interface. These helpers
// are the one place that knows how the encoding splits bytes into characters.
namespace kelvo::gb18030 {

// Length in bytes (1, 2 or 4) of the character that starts at `pos`. A byte
// sequence that is not a valid multi-byte character counts as one byte, so a
// walk over damaged text always advances.
int charLength(QByteArrayView text, qsizetype pos);

// The longest prefix of `text` of at most `maxBytes` bytes that ends on a
// character boundary: a cut never splits a multi-byte character.
QByteArrayView cutAtCharBoundary(QByteArrayView text, qsizetype maxBytes);

// `text` without its leading and trailing bytes of value 0x20 or less. Inner
// bytes stay. (Bytes <= 0x20 are never part of a multi-byte character.)
QByteArrayView trimmed(QByteArrayView text);

// Conversions at the user-interface edge. Characters GB18030 cannot encode do
// not exist (it covers all of Unicode), so encoding is lossless.
QString decode(QByteArrayView text);
QByteArray encode(const QString &text);

} // namespace kelvo::gb18030
