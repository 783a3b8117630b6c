#include "IniText.h"

#include "SkinArchive.h"

#include <limits>

namespace kelvo {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

QByteArrayView trimBlanks(QByteArrayView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

QByteArrayView unquote(QByteArrayView value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.sliced(1, value.size() - 2);
    return value;
}

} // namespace

IniText IniText::parse(QByteArrayView text)
{
    IniText ini;
    QHash<QByteArray, QByteArray> *current = nullptr;
    qsizetype start = text.startsWith("\xEF\xBB\xBF") ? 3 : 0; // a UTF-8 byte order mark
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        const QByteArrayView line = trimBlanks(text.sliced(start, end - start));
        start = end;
        if (start < text.size() && text[start] == '\r')
            ++start;
        if (start < text.size() && text[start] == '\n')
            ++start;

        if (line.isEmpty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            const qsizetype close = line.indexOf(']');
            const QByteArrayView name = trimBlanks(line.sliced(1, (close < 0 ? line.size() : close) - 1));
            const QByteArray key = skinLowerCase(name);
            if (ini.m_sections.contains(key)) {
                current = nullptr; // a repeated section: the first one counts
            } else {
                ini.m_sectionNames.append(name.toByteArray());
                current = &ini.m_sections[key];
            }
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!current || equals < 0)
            continue;
        const QByteArray key = skinLowerCase(trimBlanks(line.first(equals)));
        if (!current->contains(key))
            current->insert(key, unquote(trimBlanks(line.sliced(equals + 1))).toByteArray());
    }
    return ini;
}

bool IniText::hasSection(QByteArrayView section) const
{
    return m_sections.contains(skinLowerCase(section));
}

bool IniText::hasKey(QByteArrayView section, QByteArrayView key) const
{
    return value(section, key).has_value();
}

std::optional<QByteArray> IniText::value(QByteArrayView section, QByteArrayView key) const
{
    const auto s = m_sections.constFind(skinLowerCase(section));
    if (s == m_sections.cend())
        return std::nullopt;
    const auto k = s->constFind(skinLowerCase(key));
    if (k == s->cend())
        return std::nullopt;
    return *k;
}

QByteArray IniText::readString(QByteArrayView section, QByteArrayView key, const QByteArray &fallback) const
{
    return value(section, key).value_or(fallback);
}

qint32 IniText::readInteger(QByteArrayView section, QByteArrayView key, qint32 fallback) const
{
    const std::optional<QByteArray> text = value(section, key);
    if (!text)
        return fallback;
    return parseIniInteger(*text).value_or(fallback);
}

std::optional<qint32> parseIniInteger(QByteArrayView text)
{
    text = trimBlanks(text);
    bool negative = false;
    if (!text.isEmpty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text = text.sliced(1);
    }
    int base = 10;
    if (text.startsWith('$')) {
        base = 16;
        text = text.sliced(1);
    } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text = text.sliced(2);
    }
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * base + digit;
        // Hexadecimal covers the full 32 bits (as "$FFFFFFFF" = -1);
        // decimal must fit a signed 32-bit value.
        if (value > (base == 16 ? qint64(0xFFFFFFFF) : qint64(0x80000000)))
            return std::nullopt;
    }
    if (base == 16)
        value = qint32(quint32(value));
    if (negative)
        value = -value;
    if (value > std::numeric_limits<qint32>::max() || value < std::numeric_limits<qint32>::min())
        return std::nullopt;
    return qint32(value);
}

} // namespace kelvo
