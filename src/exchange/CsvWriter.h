#pragma once

#include "CardData.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace kelvo::exchange {

// Kelvo's CSV: UTF-8 with a byte order mark (so that Excel on a Chinese
// system opens it as such), CR LF line ends, the thirteen captions as the
// header, then one record per card. RFC 4180 quoting: a cell holding a
// comma, a double quote, a line break or blanks at its ends is quoted.
void AppendCsvHeader(QByteArray &out);
void AppendCsvRecord(QByteArray &out, const TCardData &card);

// Appends `cell` (UTF-8) quoted as needed.
void AppendCsvCell(QByteArray &out, QByteArrayView cell);

} // namespace kelvo::exchange
