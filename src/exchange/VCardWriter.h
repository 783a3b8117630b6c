#pragma once

#include "CardData.h"

#include <QByteArray>
#include <QByteArrayView>

namespace kelvo::exchange {

enum class VCardVersion { V30, V40 };

// Appends one card as a vCard: UTF-8, CR LF line ends, lines folded at 75
// octets without splitting a UTF-8 sequence.
//   FN and N (the name), TITLE, ORG, ADR;TYPE=WORK (address and postcode),
//   TEL;TYPE=WORK,VOICE / WORK,FAX / CELL, URL, X-QQ, X-MSN,
//   EMAIL;TYPE=INTERNET, NOTE, and CATEGORIES (the label of its card class).
// Empty fields are left out, FN and N never. Text values are escaped (\, \;
// \\ \n); TEL and URL values are written as they are, but for line breaks
// ("\n") and backslashes (doubled), so that they read back unchanged.
// A `uid` (UTF-8) that is not empty is written as UID, last.
void AppendVCard(QByteArray &out, const TCardData &card, QByteArrayView classLabel, VCardVersion version,
                 QByteArrayView uid = {});

// Appends `line` (without its line end) folded at 75 octets, then CR LF.
void AppendFoldedLine(QByteArray &out, QByteArrayView line);

// A text value escaped for vCard 3.0 and 4.0.
QByteArray EscapeVCardText(QByteArrayView utf8);

} // namespace kelvo::exchange
