#include "CardData.h"

#include "Gb18030.h"

#include <cstring>
#include <numeric>

namespace kelvo {

TCardData::TCardData(const TCardData &other)
    : Kind(other.Kind)
    , Created(other.Created)
{
    std::memcpy(m_length, other.m_length, sizeof m_length);
    const qsizetype total = other.textBytes();
    if (total > 0) {
        m_text = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(total));
        std::memcpy(m_text.get(), other.m_text.get(), static_cast<size_t>(total));
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

qsizetype TCardData::textBytes() const
{
    return std::accumulate(std::begin(m_length), std::end(m_length), qsizetype(0));
}

qsizetype TCardData::fieldOffset(int n) const
{
    qsizetype offset = 0;
    for (int i = 0; i < n - 1; ++i)
        offset += m_length[i];
    return offset;
}

QByteArrayView TCardData::field(int n) const
{
    if (n < Field::First || n > Field::Last)
        return {};
    const std::uint8_t length = m_length[n - 1];
    if (length == 0)
        return {};
    return QByteArrayView(m_text.get() + fieldOffset(n), length);
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

    if (newLength == oldLength) {
        if (newLength > 0) // `text` may lie in this very buffer
            std::memmove(m_text.get() + offset, cut.data(), static_cast<size_t>(newLength));
        return;
    }

    const qsizetype newTotal = total - oldLength + newLength;
    std::unique_ptr<char[]> buffer;
    if (newTotal > 0) {
        buffer = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(newTotal));
        char *out = buffer.get();
        if (offset > 0)
            std::memcpy(out, m_text.get(), static_cast<size_t>(offset));
        if (newLength > 0)
            std::memcpy(out + offset, cut.data(), static_cast<size_t>(newLength));
        const qsizetype tail = total - offset - oldLength;
        if (tail > 0)
            std::memcpy(out + offset + newLength, m_text.get() + offset + oldLength, static_cast<size_t>(tail));
    }
    m_text = std::move(buffer); // the old buffer goes only after the copy from `text`
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
    std::unique_ptr<char[]> buffer;
    if (total > 0) {
        buffer = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(total));
        char *out = buffer.get();
        for (const QByteArrayView &text : cut) {
            if (!text.isEmpty())
                std::memcpy(out, text.data(), static_cast<size_t>(text.size()));
            out += text.size();
        }
    }
    m_text = std::move(buffer);
    for (int i = 0; i < Field::Count; ++i)
        m_length[i] = static_cast<std::uint8_t>(cut[i].size());
}

} // namespace kelvo
