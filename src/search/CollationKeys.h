#pragma once

#include <QByteArrayView>
#include <QLocale>
#include <QStringDecoder>

#include <memory>
#include <string>

struct UCollator;

namespace kelvo {

// Sort keys as bytes for the result order: keys that sort with strcmp as
// QCollator (case-sensitive) sorts the names, without a call per
// comparison. In the C locale a key is the name's UTF-8 (QCollator's own key
// there, compared as a C string up to a first zero byte); elsewhere ICU's
// sort key from a collator set as QCollator sets itself (normalisation on,
// the locale's own strength, numbers as text, punctuation counted), used only
// where it orders a set of probe texts exactly as QCollator::compare does.
//
// One object serves one thread (it holds a decoder and a collator); copy()
// gives another for another thread, without the probes.
class CollationKeys
{
public:
    explicit CollationKeys(const QLocale &locale);
    ~CollationKeys();
    CollationKeys(const CollationKeys &) = delete;
    CollationKeys &operator=(const CollationKeys &) = delete;

    // False when ICU cannot give keys that agree with QCollator (the caller
    // falls back to QCollatorSortKey).
    bool usable() const { return m_plain || m_collator != nullptr; }
    // Keys of the same order for another thread; nullptr when none can be made.
    std::unique_ptr<CollationKeys> copy() const;

    // Appends the sort key of `name` (GB18030) with its closing zero byte;
    // the key holds no other zero byte (in the C locale, a name's U+0000 ends
    // its key there, as it ends QCollator's comparison). Only when usable().
    void append(QByteArrayView name, std::string &keys);

    // The name decoded, as the keys and QCollatorSortKey see it.
    QString decoded(QByteArrayView name);

private:
    CollationKeys() = default;
    void appendIcuKey(const QString &text, std::string &keys) const;
    bool agreesWith(const QLocale &locale) const;

    bool m_plain = false;
    UCollator *m_collator = nullptr;
    QStringDecoder m_decoder{"GB18030", QStringDecoder::Flag::Stateless};
    QByteArray m_utf8;
};

} // namespace kelvo
