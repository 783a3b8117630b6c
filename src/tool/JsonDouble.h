#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>

namespace kelvo::tool {

// Time stamps travel through JSON without any loss. A finite value is
// written as the shortest number text that reads back to the same bits.
// Values JSON numbers cannot carry are written as strings: "-0" (negative
// zero), "Infinity", "-Infinity", "NaN" and, for any other NaN bit pattern,
// "NaN(0x7ff...)" with all 64 bits in hexadecimal.
QByteArray ExactDoubleJson(double value);

// Reads a value written by ExactDoubleJson (or any JSON number). Returns
// false with a reason in `error` for anything else.
bool DoubleFromJson(const QJsonValue &value, double *result, QString *error);
// The same for a JSON string's text ("-0", "Infinity", "NaN(0x...)", ...).
bool DoubleFromJsonString(const QString &text, double *result, QString *error);
// The reason DoubleFromJson gives for a value that is neither a number nor a string.
QString NotANumberReason();

} // namespace kelvo::tool
