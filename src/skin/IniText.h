#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>

#include <optional>

namespace kelvo {

// An INI text read from memory the way Windows reads INI files: section and
// key names compare without regard to ASCII case, names and values are
// trimmed of blanks, a value wrapped in a matching pair of quotes loses them,
// backslashes are ordinary characters, lines starting with ';' are comments,
// a UTF-8 byte order mark at the start is skipped.
// When a section or a key appears twice, the first one counts.
class IniText
{
public:
    static IniText parse(QByteArrayView text);

    bool hasSection(QByteArrayView section) const;
    bool hasKey(QByteArrayView section, QByteArrayView key) const;
    std::optional<QByteArray> value(QByteArrayView section, QByteArrayView key) const;

    QByteArray readString(QByteArrayView section, QByteArrayView key, const QByteArray &fallback = {}) const;
    // The value as a 32-bit integer: decimal with an optional sign, or
    // hexadecimal after "$" or "0x"; anything else (or an absent key) gives
    // `fallback`.
    qint32 readInteger(QByteArrayView section, QByteArrayView key, qint32 fallback) const;

    // Section names in the order they first appear, as written.
    const QList<QByteArray> &sectionNames() const { return m_sectionNames; }

private:
    QList<QByteArray> m_sectionNames;
    // lower-cased section name -> (lower-cased key -> value)
    QHash<QByteArray, QHash<QByteArray, QByteArray>> m_sections;
};

// The integer rule of IniText::readInteger() for one text.
std::optional<qint32> parseIniInteger(QByteArrayView text);

} // namespace kelvo
