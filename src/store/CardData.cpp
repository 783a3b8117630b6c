#include "CardData.h"

#include "Gb18030.h"

#include <cstring>

namespace kelvo {

namespace {

// Most fields are a few dozen bytes long at most: two overlapping loads and
// stores of 16, 8 or 4 bytes copy them exactly, without a call; longer ones
// go to memcpy.
template<size_t Bytes>
inline void copyHeadAndTail(char *to, const char *from, qsizetype n)
{
    char head[Bytes];
    char tail[Bytes];
    std::memcpy(head, from, Bytes);
    std::memcpy(tail, from + n - Bytes, Bytes);
    std::memcpy(to, head, Bytes);
    std::memcpy(to + n - Bytes, tail, Bytes);
}

inline void copyShort(char *to, const char *from, qsizetype n)
{
    if (n > 16) {
        if (n <= 32)
            copyHeadAndTail<16>(to, from, n);
        else
            std::memcpy(to, from, static_cast<size_t>(n));
    } else if (n >= 8) {
        copyHeadAndTail<8>(to, from, n);
    } else if (n >= 4) {
        copyHeadAndTail<4>(to, from, n);
    } else {
        for (qsizetype k = 0; k < n; ++k)
            to[k] = from[k];
    }
}

} // namespace

TCardData::TCardData(const TCardData &other)
    : Kind(other.Kind)
    , Created(other.Created)
{
    std::memcpy(m_length, other.m_length, sizeof m_length);
    const qsizetype total = other.textBytes();
    if (total > 0) {
        m_text = new char[static_cast<size_t>(total)];
        m_ownsText = true;
        std::memcpy(m_text, other.m_text, static_cast<size_t>(total));
    }
}

TCardData &TCardData::operator=(const TCardData &other)
{
    if (this != &other) {
        TCardData copy(other);
        *this = std::move(copy);
    }
    return *this;
}

TCardData::TCardData(TCardData &&other) noexcept
    : Kind(other.Kind)
    , Created(other.Created)
    , m_text(other.m_text)
    , m_ownsText(other.m_ownsText)
{
    // Bulk text stays where it is (it belongs to the tree's storage, which
    // outlives every record in it); only an owned buffer changes hands.
    std::memcpy(m_length, other.m_length, sizeof m_length);
    other.m_text = nullptr;
    other.m_ownsText = false;
    std::memset(other.m_length, 0, sizeof other.m_length);
}

TCardData &TCardData::operator=(TCardData &&other) noexcept
{
    if (this != &other) {
        releaseText();
        Kind = other.Kind;
        Created = other.Created;
        m_text = other.m_text;
        m_ownsText = other.m_ownsText;
        std::memcpy(m_length, other.m_length, sizeof m_length);
        other.m_text = nullptr;
        other.m_ownsText = false;
        std::memset(other.m_length, 0, sizeof other.m_length);
    }
    return *this;
}

TCardData::~TCardData()
{
    releaseText();
}

void TCardData::setField(int n, QByteArrayView text)
{
    if (n < Field::First || n > Field::Last)
        return;
    const QByteArrayView cut = gb18030::cutAtCharBoundary(text, MaxFieldBytes);
    const qsizetype offset = fieldOffset(n);
    const qsizetype oldLength = m_length[n - 1];
    const qsizetype newLength = cut.size();
    const qsizetype total = textBytes();

    // Bulk text is never written in place: the node's label may share it.
    if (newLength == oldLength && m_ownsText) {
        if (newLength > 0) // `text` may lie in this very buffer
            std::memmove(m_text + offset, cut.data(), static_cast<size_t>(newLength));
        return;
    }

    const qsizetype newTotal = total - oldLength + newLength;
    char *buffer = nullptr;
    if (newTotal > 0) {
        buffer = new char[static_cast<size_t>(newTotal)];
        if (offset > 0)
            std::memcpy(buffer, m_text, static_cast<size_t>(offset));
        if (newLength > 0)
            std::memcpy(buffer + offset, cut.data(), static_cast<size_t>(newLength));
        const qsizetype tail = total - offset - oldLength;
        if (tail > 0)
            std::memcpy(buffer + offset + newLength, m_text + offset + oldLength, static_cast<size_t>(tail));
    }
    releaseText(); // the old buffer goes only after the copy from `text`
    m_text = buffer;
    m_ownsText = buffer != nullptr;
    m_length[n - 1] = static_cast<std::uint8_t>(newLength);
}

void TCardData::setAllFields(const std::array<QByteArrayView, Field::Count> &texts)
{
    std::array<QByteArrayView, Field::Count> cut;
    qsizetype total = 0;
    for (int i = 0; i < Field::Count; ++i) {
        cut[i] = gb18030::cutAtCharBoundary(texts[i], MaxFieldBytes);
        total += cut[i].size();
    }
    char *buffer = nullptr;
    if (total > 0) {
        buffer = new char[static_cast<size_t>(total)];
        char *out = buffer;
        for (int i = 1; i <= Field::Count; ++i) { // fields 2..13, then the name
            const QByteArrayView text = cut[static_cast<size_t>(i % Field::Count)];
            if (!text.isEmpty())
                std::memcpy(out, text.data(), static_cast<size_t>(text.size()));
            out += text.size();
        }
    }
    releaseText(); // `texts` may lie in the old buffer
    m_text = buffer;
    m_ownsText = buffer != nullptr;
    for (int i = 0; i < Field::Count; ++i)
        m_length[i] = static_cast<std::uint8_t>(cut[i].size());
}

char *TCardData::useBulkText(char *buffer, const std::array<QByteArrayView, Field::Count> &cutTexts)
{
    releaseText();
    char *out = buffer;
    const auto put = [&out](QByteArrayView text) {
        copyShort(out, text.data(), text.size());
        out += text.size();
    };
    for (int i = 1; i < Field::Count; ++i) { // fields 2..13, then the name
        put(cutTexts[static_cast<size_t>(i)]);
        m_length[i] = static_cast<std::uint8_t>(cutTexts[static_cast<size_t>(i)].size());
    }
    char *name = out;
    put(cutTexts[0]);
    m_length[0] = static_cast<std::uint8_t>(cutTexts[0].size());
    m_text = buffer;
    m_ownsText = false;
    return name;
}

} // namespace kelvo
