#include "CollationKeys.h"

#include "Gb18030.h"

#include <QCollator>
#include <QStringList>

#include <unicode/ucol.h>
#include <unicode/uversion.h>

#include <cstring>
#include <vector>

namespace kelvo {

CollationKeys::CollationKeys(const QLocale &locale)
{
    if (locale.language() == QLocale::C) {
        m_plain = true; // QCollator orders by code points there, not through ICU
        return;
    }
    UErrorCode status = U_ZERO_ERROR;
    m_collator = ucol_open(locale.name().toLatin1().constData(), &status);
    if (U_FAILURE(status)) {
        if (m_collator)
            ucol_close(m_collator);
        m_collator = nullptr;
        return;
    }
    ucol_setAttribute(m_collator, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
    ucol_setAttribute(m_collator, UCOL_STRENGTH, UCOL_DEFAULT_STRENGTH, &status);
    ucol_setAttribute(m_collator, UCOL_NUMERIC_COLLATION, UCOL_OFF, &status);
    ucol_setAttribute(m_collator, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
    if (U_FAILURE(status) || !agreesWith(locale)) {
        ucol_close(m_collator);
        m_collator = nullptr;
    }
}

CollationKeys::~CollationKeys()
{
    if (m_collator)
        ucol_close(m_collator);
}

std::unique_ptr<CollationKeys> CollationKeys::copy() const
{
    if (!usable())
        return nullptr;
    std::unique_ptr<CollationKeys> other(new CollationKeys);
    other->m_plain = m_plain;
    if (m_collator) {
        UErrorCode status = U_ZERO_ERROR;
#if U_ICU_VERSION_MAJOR_NUM >= 71
        other->m_collator = ucol_clone(m_collator, &status);
#else
        other->m_collator = ucol_safeClone(m_collator, nullptr, nullptr, &status);
#endif
        if (U_FAILURE(status) || !other->m_collator)
            return nullptr;
    }
    return other;
}

QString CollationKeys::decoded(QByteArrayView name)
{
    return m_decoder.isValid() ? QString(m_decoder.decode(name)) : gb18030::decode(name);
}

void CollationKeys::append(QByteArrayView name, std::string &keys)
{
    if (m_plain) {
        m_utf8.resize(0);
        gb18030::appendAsUtf8(name, m_utf8);
        const char *utf8 = m_utf8.constData();
        keys.append(utf8, std::strlen(utf8)); // up to a first zero byte
        keys.push_back('\0');
        return;
    }
    appendIcuKey(decoded(name), keys);
}

void CollationKeys::appendIcuKey(const QString &text, std::string &keys) const
{
    const size_t at = keys.size();
    keys.resize(at + 32 + size_t(text.size()) * 4);
    int32_t length = ucol_getSortKey(m_collator, reinterpret_cast<const UChar *>(text.utf16()), int32_t(text.size()),
                                     reinterpret_cast<uint8_t *>(keys.data() + at), int32_t(keys.size() - at));
    if (size_t(length) > keys.size() - at) {
        keys.resize(at + size_t(length));
        length = ucol_getSortKey(m_collator, reinterpret_cast<const UChar *>(text.utf16()), int32_t(text.size()),
                                 reinterpret_cast<uint8_t *>(keys.data() + at), length);
    }
    keys.resize(at + size_t(length)); // the key ends with its zero byte
}

// Texts that tell collators apart: letter case, accents composed and not,
// punctuation, digits, blanks, ignorable characters, Chinese characters of
// several readings.
bool CollationKeys::agreesWith(const QLocale &locale) const
{
    static const QStringList probes = {
        QStringLiteral("a"),       QStringLiteral("A"),       QStringLiteral("b"),      QStringLiteral("B"),
        QStringLiteral("ab"),      QStringLiteral("aB"),      QStringLiteral("Ab"),     QStringLiteral("a b"),
        QStringLiteral("a-b"),     QStringLiteral("a_b"),     QStringLiteral("ab1"),    QStringLiteral("ab10"),
        QStringLiteral("ab9"),     QStringLiteral("1"),       QStringLiteral("10"),     QStringLiteral("9"),
        QStringLiteral("é"),       QStringLiteral("e\u0301"), QStringLiteral("e"),      QStringLiteral("E"),
        QStringLiteral("\u200Ba"), QStringLiteral("a\u200B"), QStringLiteral(" "),      QStringLiteral("-"),
        QStringLiteral("."),       QStringLiteral("@"),       QStringLiteral("张"),     QStringLiteral("章"),
        QStringLiteral("李"),      QStringLiteral("王"),      QStringLiteral("阿"),     QStringLiteral("张伟"),
        QStringLiteral("张三"),    QStringLiteral("长"),      QStringLiteral("重"),     QStringLiteral("Zhang"),
        QStringLiteral("zhang"),   QStringLiteral("ß"),       QStringLiteral("ss"),     QStringLiteral("Å"),
        QStringLiteral("ø"),       QStringLiteral("😀"),       QStringLiteral("\uE000"), QStringLiteral("\uFF21")};
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseSensitive);
    std::vector<std::string> keys;
    for (const QString &probe : probes) {
        std::string key;
        appendIcuKey(probe, key);
        keys.push_back(std::move(key));
    }
    for (qsizetype i = 0; i < probes.size(); ++i) {
        for (qsizetype j = 0; j < probes.size(); ++j) {
            const int expected = collator.compare(probes[i], probes[j]);
            const int got = std::strcmp(keys[size_t(i)].c_str(), keys[size_t(j)].c_str());
            if ((expected < 0) != (got < 0) || (expected == 0) != (got == 0))
                return false;
        }
    }
    return true;
}

} // namespace kelvo
