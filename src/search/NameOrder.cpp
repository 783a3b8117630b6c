#include "NameOrder.h"

#include "Gb18030.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QHash>
#include <QStringDecoder>

#include <unicode/ucol.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace kelvo {

namespace {

// ICU's collator, set as QCollator sets itself for a case-sensitive order
// (normalisation on, the locale's own strength, numbers as text,
// punctuation counted), for sort keys as bytes: they sort with strcmp,
// without a call per comparison. Used only where it orders a set of probe
// texts exactly as QCollator::compare does; otherwise QCollatorSortKey
// serves.
class IcuKeys
{
public:
    explicit IcuKeys(const QLocale &locale)
    {
        if (locale.language() == QLocale::C)
            return; // QCollator orders by code points there, not through ICU
        UErrorCode status = U_ZERO_ERROR;
        m_collator = ucol_open(locale.name().toLatin1().constData(), &status);
        if (U_FAILURE(status)) {
            close();
            return;
        }
        ucol_setAttribute(m_collator, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
        ucol_setAttribute(m_collator, UCOL_STRENGTH, UCOL_DEFAULT_STRENGTH, &status);
        ucol_setAttribute(m_collator, UCOL_NUMERIC_COLLATION, UCOL_OFF, &status);
        ucol_setAttribute(m_collator, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
        if (U_FAILURE(status) || !agreesWith(locale))
            close();
    }
    ~IcuKeys() { close(); }
    IcuKeys(const IcuKeys &) = delete;
    IcuKeys &operator=(const IcuKeys &) = delete;

    bool usable() const { return m_collator != nullptr; }

    // Appends the sort key of `text` with its closing zero byte.
    void append(const QString &text, std::string &keys) const
    {
        const size_t at = keys.size();
        keys.resize(at + 32 + size_t(text.size()) * 4);
        int32_t length =
            ucol_getSortKey(m_collator, reinterpret_cast<const UChar *>(text.utf16()), int32_t(text.size()),
                            reinterpret_cast<uint8_t *>(keys.data() + at), int32_t(keys.size() - at));
        if (size_t(length) > keys.size() - at) {
            keys.resize(at + size_t(length));
            length = ucol_getSortKey(m_collator, reinterpret_cast<const UChar *>(text.utf16()), int32_t(text.size()),
                                     reinterpret_cast<uint8_t *>(keys.data() + at), length);
        }
        keys.resize(at + size_t(length)); // the key ends with its zero byte
    }

private:
    void close()
    {
        if (m_collator)
            ucol_close(m_collator);
        m_collator = nullptr;
    }

    // Texts that tell collators apart: letter case, accents composed and
    // not, punctuation, digits, blanks, ignorable characters, Chinese
    // characters of several readings.
    bool agreesWith(const QLocale &locale) const
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
            append(probe, key);
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

    UCollator *m_collator = nullptr;
};

} // namespace

std::vector<std::uint32_t> OrderByName(const std::vector<QByteArrayView> &names, const QLocale &locale)
{
    const size_t count = names.size();
    std::vector<std::uint32_t> order(count);
    std::iota(order.begin(), order.end(), std::uint32_t(0));
    if (count < 2)
        return order;

    // Distinct names, each with the rows that carry it. Slot 0 stands for the
    // empty name, which comes first.
    std::unordered_map<std::string_view, std::uint32_t> slotOf;
    slotOf.reserve(count);
    std::vector<QByteArrayView> distinct{QByteArrayView()};
    std::vector<std::uint32_t> slotOfRow(count);
    for (size_t row = 0; row < count; ++row) {
        const QByteArrayView name = names[row];
        if (name.isEmpty()) {
            slotOfRow[row] = 0;
            continue;
        }
        const auto [it, made] =
            slotOf.try_emplace(std::string_view(name.data(), size_t(name.size())), std::uint32_t(distinct.size()));
        if (made)
            distinct.push_back(name);
        slotOfRow[row] = it->second;
    }

    // A sort key per distinct name, and the names ordered by them. One
    // decoder for all names (making one per name costs more than the
    // decoding); stateless, so no name's bytes run into the next one.
    QStringDecoder decoder("GB18030", QStringDecoder::Flag::Stateless);
    const auto decoded = [&decoder](QByteArrayView name) {
        return decoder.isValid() ? QString(decoder.decode(name)) : gb18030::decode(name);
    };
    std::vector<std::uint32_t> byKey(distinct.size() - 1);
    std::iota(byKey.begin(), byKey.end(), std::uint32_t(1));
    std::vector<std::uint32_t> rankOfSlot(distinct.size(), 0);
    std::uint32_t rank = 0;
    const bool plainOrder = locale.language() == QLocale::C;
    const IcuKeys icu(locale);
    if (plainOrder || icu.usable()) {
        // Keys as bytes, one after the other, each ending with a zero byte;
        // sorted by their first eight bytes as a number, then by the rest.
        // In the C locale QCollator's key is the name's UTF-8, compared as a
        // C string (up to a first zero byte); elsewhere ICU's sort key.
        std::string keys;
        std::vector<size_t> keyAt(distinct.size(), 0);
        QByteArray utf8;
        for (size_t slot = 1; slot < distinct.size(); ++slot) {
            keyAt[slot] = keys.size();
            if (plainOrder) {
                utf8.resize(0);
                gb18030::appendAsUtf8(distinct[slot], utf8);
                keys.append(utf8.constData(), size_t(utf8.size()));
                keys.push_back('\0');
            } else {
                icu.append(decoded(distinct[slot]), keys);
            }
        }
        std::vector<std::uint64_t> prefix(distinct.size(), 0);
        for (size_t slot = 1; slot < distinct.size(); ++slot) {
            const char *key = keys.data() + keyAt[slot];
            std::uint64_t value = 0;
            for (int k = 0; k < 8; ++k) { // big-endian: byte order is number order
                const auto byte = static_cast<unsigned char>(key[k]);
                value = (value << 8) | byte;
                if (byte == 0) {
                    value <<= 8 * (7 - k);
                    break;
                }
            }
            prefix[slot] = value;
        }
        const auto keyOf = [&](std::uint32_t slot) { return keys.data() + keyAt[slot]; };
        const auto before = [&](std::uint32_t a, std::uint32_t b) {
            if (prefix[a] != prefix[b])
                return prefix[a] < prefix[b];
            return std::strcmp(keyOf(a), keyOf(b)) < 0;
        };
        std::sort(byKey.begin(), byKey.end(), before);
        for (size_t i = 0; i < byKey.size(); ++i) {
            if (i == 0 || before(byKey[i - 1], byKey[i]))
                ++rank;
            rankOfSlot[byKey[i]] = rank;
        }
    } else {
        QCollator collator(locale);
        collator.setCaseSensitivity(Qt::CaseSensitive);
        std::vector<std::optional<QCollatorSortKey>> keys(distinct.size());
        for (size_t slot = 1; slot < distinct.size(); ++slot)
            keys[slot].emplace(collator.sortKey(decoded(distinct[slot])));
        std::sort(byKey.begin(), byKey.end(),
                  [&keys](std::uint32_t a, std::uint32_t b) { return keys[a]->compare(*keys[b]) < 0; });
        // Ranks: the empty name 0, then one more for each key that differs
        // from the one before it.
        for (size_t i = 0; i < byKey.size(); ++i) {
            if (i == 0 || keys[byKey[i - 1]]->compare(*keys[byKey[i]]) != 0)
                ++rank;
            rankOfSlot[byKey[i]] = rank;
        }
    }

    // Counting sort by rank: stable, so equal names keep the order given.
    std::vector<std::uint32_t> start(size_t(rank) + 2, 0);
    for (size_t row = 0; row < count; ++row)
        ++start[rankOfSlot[slotOfRow[row]] + 1];
    std::partial_sum(start.begin(), start.end(), start.begin());
    for (size_t row = 0; row < count; ++row)
        order[start[rankOfSlot[slotOfRow[row]]]++] = std::uint32_t(row);
    return order;
}

} // namespace kelvo
