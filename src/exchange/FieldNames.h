#pragma once

#include <QString>

#include <array>

namespace kelvo::exchange {

// Kelvo's captions of the thirteen fields, as the result list's headers and
// the CSV export show them ("姓名" ... "其他信息"). Index 0 is field 1.
const std::array<QString, 13> &KelvoFieldCaptions();

// Names of field n (1..13) in report lines: "address", and "地址".
QString EnglishFieldName(int n);
QString ChineseFieldName(int n);

} // namespace kelvo::exchange
