#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstdint>
#include <memory>

namespace kelvo {

// Field numbers of the thirteen text fields of a card. The same numbering is
// the editors' tags, the order in the data file, the search's field list and
// the lines of the card text block.
namespace Field {
enum : int {
    Name = 1,
    TouXian = 2, // title
    DW = 3,      // company or work unit
    DZ = 4,      // address
    DH = 5,      // telephone
    CZ = 6,      // fax
    SJ = 7,      // mobile phone
    YB = 8,      // postcode
    WZ = 9,      // web address
    QQ = 10,
    MSN = 11,
    EMail = 12,
    Other = 13,
};
inline constexpr int First = 1;
inline constexpr int Last = 13;
inline constexpr int Count = 13;
} // namespace Field

namespace Kind {
enum : std::int32_t { CardClass = 0, Card = 1 };
}

// The record each node owns: the node kind, thirteen text fields of at most
// 255 bytes of GB18030 each, and a time stamp (days since 1899-12-30, local
// time). All non-empty field texts share one buffer: a record made on its own
// owns it; a record that a load made in bulk has it in its tree's storage
// until the first change of a field gives it a buffer of its own.
class TCardData
{
public:
    static constexpr qsizetype MaxFieldBytes = 255;

    TCardData() = default;
    TCardData(const TCardData &other);
    TCardData &operator=(const TCardData &other);
    TCardData(TCardData &&other) noexcept;
    TCardData &operator=(TCardData &&other) noexcept;
    ~TCardData();

    std::int32_t Kind = Kind::CardClass;
    double Created = 0.0;

    bool isCard() const { return Kind == Kind::Card; }
    bool isCardClass() const { return Kind == Kind::CardClass; }

    // Field n (1..13) as stored; an empty view for a number out of range.
    QByteArrayView field(int n) const
    {
        if (n < Field::First || n > Field::Last || m_length[n - 1] == 0)
            return {};
        return QByteArrayView(m_text + fieldOffset(n), m_length[n - 1]);
    }
    // Stores `text` into field n (1..13), cut after the last whole character
    // that fits in 255 bytes. Numbers out of range are ignored. The text is
    // stored as given: trimming is the caller's business.
    void setField(int n, QByteArrayView text);
    // Stores all thirteen fields at once (texts[0] is field 1), each cut as
    // setField cuts it, with a single allocation.
    void setAllFields(const std::array<QByteArrayView, Field::Count> &texts);

    QByteArrayView name() const { return field(Field::Name); }

    // All thirteen texts back to back, field by field in the order of
    // TextOrder: for a search that scans a card's texts in one go.
    QByteArrayView allText() const { return QByteArrayView(m_text, textBytes()); }
    static constexpr std::array<int, Field::Count> TextOrder = {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 1};
    // Field n's length (1..13; no range check).
    int fieldLength(int n) const { return m_length[n - 1]; }
    // All thirteen fields at once (fields[0] is field 1), in one pass.
    std::array<QByteArrayView, Field::Count> fields() const
    {
        std::array<QByteArrayView, Field::Count> all;
        const char *at = m_text;
        for (const int n : TextOrder) {
            all[static_cast<size_t>(n - 1)] = QByteArrayView(at, m_length[n - 1]);
            at += m_length[n - 1];
        }
        return all;
    }

    // Bytes held for the texts (for memory accounting).
    qsizetype textBytes() const
    {
        qsizetype total = 0;
        for (const std::uint8_t length : m_length)
            total += length;
        return total;
    }

private:
    friend class CardTreeBuilder;

    // The buffer holds fields 2..13 and then field 1, the name: the search
    // reads the texts in one go, and in bulk storage the name's bytes serve
    // as the node's label too.
    qsizetype fieldOffset(int n) const
    {
        qsizetype offset = 0;
        if (n == Field::Name) {
            for (int i = 1; i < Field::Count; ++i)
                offset += m_length[i];
        } else {
            for (int i = 1; i < n - 1; ++i)
                offset += m_length[i];
        }
        return offset;
    }
    void releaseText()
    {
        if (m_ownsText)
            delete[] m_text;
        m_text = nullptr;
        m_ownsText = false;
    }
    // Lays the (already cut) texts out at `buffer` (textBytes() of them) in
    // the order above, and makes them this record's texts without owning
    // them. Returns where the name starts.
    char *useBulkText(char *buffer, const std::array<QByteArrayView, Field::Count> &cutTexts);

    char *m_text = nullptr;                   // fields 2..13, then 1, back to back
    std::uint8_t m_length[Field::Count] = {}; // length of each field, by number - 1
    bool m_ownsText = false;                  // false: no text, or bulk storage
};

} // namespace kelvo
