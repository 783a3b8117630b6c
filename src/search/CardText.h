#pragma once

#include "CardData.h"

#include <QByteArray>

namespace kelvo {

// The card text block: thirteen lines " 姓名:<name>" ... " 其他信息:<other>",
// one per field in field order, each field's stored text taken byte for byte
// (not trimmed, not folded), lines joined by CR LF with none after the last.
// GB18030 bytes.
QByteArray CardToText(const TCardData &card);

} // namespace kelvo
