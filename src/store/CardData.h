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
// time). All non-empty field texts share one allocation.
class TCardData
{
public:
    static constexpr qsizetype MaxFieldBytes = 255;

    TCardData() = default;
    TCardData(const TCardData &other);
    TCardData &operator=(const TCardData &other);
    TCardData(TCardData &&) noexcept = default;
    TCardData &operator=(TCardData &&) noexcept = default;
    ~TCardData() = default;

    std::int32_t Kind = Kind::CardClass;
    double Created = 0.0;

    bool isCard() const { return Kind == Kind::Card; }
    bool isCardClass() const { return Kind == Kind::CardClass; }

    // Field n (1..13) as stored; an empty view for a number out of range.
    QByteArrayView field(int n) const;
    // Stores `text` into field n (1..13), cut after the last whole character
    // that fits in 255 bytes. Numbers out of range are ignored. The text is
    // stored as given: trimming is the caller's business.
    void setField(int n, QByteArrayView text);
    // Stores all thirteen fields at once (texts[0] is field 1), each cut as
    // setField cuts it, with a single allocation: the data file reader's path.
    void setAllFields(const std::array<QByteArrayView, Field::Count> &texts);

    QByteArrayView name() const { return field(Field::Name); }

    // Bytes held for the texts (for memory accounting).
    qsizetype textBytes() const;

private:
    qsizetype fieldOffset(int n) const;

    std::unique_ptr<char[]> m_text;               // fields 1..13 back to back
    std::uint8_t m_length[Field::Count] = {};     // length of each field
};

} // namespace kelvo
