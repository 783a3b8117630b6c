#pragma once

// Reading a card from a QR code in a picture: a phone's "share contact" code
// (vCard or MECARD) or Kelvo's own. The picture is read with ZXing-C++; a
// vCard is read by the exchange library's vCard reader, so its fields map as
// an imported vCard file's do, and a MECARD is read here into the same
// thirteen fields.

#include "CardAssembly.h"

#include <QByteArrayView>
#include <QImage>
#include <QStringView>

#include <optional>

namespace kelvo::capture {

// The thirteen fields read from a code, index 0 is field 1 (the name).
using QrCardFields = exchange::CardTexts;

// The text of the first QR code in `image` that holds a card (vCard or
// MECARD), read into the thirteen fields. Nothing when the picture holds no
// QR code, only codes that hold something else (a web address, a WeChat
// code), or is larger than the capture's limit of pixels.
std::optional<QrCardFields> decodeCardQr(const QImage &image);

// The text of a code as its bytes: a vCard (from "BEGIN:VCARD") or a MECARD
// (from "MECARD:"), any letter case, blanks before it allowed. Text without
// a declared charset is UTF-8 when it is valid UTF-8, else GB18030 (what old
// Chinese phones write), as the vCard reader reads files. Nothing for any
// other text, or a card without any text.
std::optional<QrCardFields> readCardQrText(QByteArrayView bytes);

// A MECARD: "MECARD:N:family,given;TEL:...;EMAIL:...;;". N (with SOUND, the
// reading, as an extra value), TEL (a mainland mobile number goes to the
// mobile field, any other number to the telephone), TEL-AV, EMAIL, ADR
// (seven comma-separated parts as vCard's ADR, else the whole text), URL,
// ORG, TITLE, NOTE, NICKNAME and BDAY; "\;" "\:" "\," "\\" stand for the
// character. Of several values for a field the first is kept, the others
// are appended to field 13 ("TEL: ...") as an imported vCard's are.
std::optional<QrCardFields> parseMeCard(QStringView text);

} // namespace kelvo::capture
