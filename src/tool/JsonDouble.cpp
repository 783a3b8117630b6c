#include "JsonDouble.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace kelvo::tool {

namespace {

constexpr std::uint64_t QuietNanBits = 0x7ff8000000000000ULL;
constexpr std::uint64_t ExponentMask = 0x7ff0000000000000ULL;
constexpr std::uint64_t MantissaMask = 0x000fffffffffffffULL;

bool isNanBits(std::uint64_t bits)
{
    return (bits & ExponentMask) == ExponentMask && (bits & MantissaMask) != 0;
}

} // namespace

QByteArray ExactDoubleJson(double value)
{
    const auto bits = std::bit_cast<std::uint64_t>(value);
    if (std::isnan(value)) {
        if (bits == QuietNanBits)
            return QByteArrayLiteral("\"NaN\"");
        return "\"NaN(0x" + QByteArray::number(static_cast<qulonglong>(bits), 16).rightJustified(16, '0') + ")\"";
    }
    if (std::isinf(value))
        return value > 0 ? QByteArrayLiteral("\"Infinity\"") : QByteArrayLiteral("\"-Infinity\"");
    if (value == 0 && std::signbit(value))
        return QByteArrayLiteral("\"-0\"");
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QByteArray(buffer, result.ptr - buffer);
}

bool DoubleFromJson(const QJsonValue &value, double *result, QString *error)
{
    if (value.isDouble()) {
        *result = value.toDouble();
        return true;
    }
    if (!value.isString()) {
        *error = NotANumberReason();
        return false;
    }
    return DoubleFromJsonString(value.toString(), result, error);
}

QString NotANumberReason()
{
    return QStringLiteral("expected a number");
}

bool DoubleFromJsonString(const QString &text, double *result, QString *error)
{
    if (text == QLatin1String("-0")) {
        *result = -0.0;
        return true;
    }
    if (text == QLatin1String("Infinity") || text == QLatin1String("-Infinity")) {
        *result = text.startsWith(QLatin1Char('-')) ? -HUGE_VAL : HUGE_VAL;
        return true;
    }
    if (text == QLatin1String("NaN")) {
        *result = std::bit_cast<double>(QuietNanBits);
        return true;
    }
    if (text.startsWith(QLatin1String("NaN(0x")) && text.endsWith(QLatin1Char(')')) && text.size() <= 6 + 16 + 1) {
        bool ok = false;
        const std::uint64_t bits = text.mid(6, text.size() - 7).toULongLong(&ok, 16);
        if (ok && isNanBits(bits)) {
            *result = std::bit_cast<double>(bits);
            return true;
        }
    }
    *error = QStringLiteral(
                 "expected a number (or \"-0\", \"Infinity\", \"-Infinity\", \"NaN\", \"NaN(0x...)\"), not \"%1\"")
                 .arg(text.left(40));
    return false;
}

} // namespace kelvo::tool
