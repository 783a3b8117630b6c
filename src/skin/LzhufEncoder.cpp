#include "Lzhuf.h"
#include "LzhufPositionCode.h"
#include "LzhufTree.h"

#include <QtEndian>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace kelvo::lzhuf {

namespace {

class BitWriter
{
public:
    explicit BitWriter(QByteArray &out)
        : m_out(out)
    {
    }

    // Appends the `length` low bits of `bits`, the most significant first.
    void put(std::uint64_t bits, int length)
    {
        while (length > 0) {
            const int take = std::min(length, 8 - m_count);
            length -= take;
            const unsigned chunk = static_cast<unsigned>(bits >> length) & ((1u << take) - 1);
            m_pending = (m_pending << take) | chunk;
            m_count += take;
            if (m_count == 8) {
                m_out.append(static_cast<char>(m_pending));
                m_pending = 0;
                m_count = 0;
            }
        }
    }

    // Pads the last byte with 0 bits.
    void flush()
    {
        if (m_count > 0)
            put(0, 8 - m_count);
    }

private:
    QByteArray &m_out;
    unsigned m_pending = 0;
    int m_count = 0;
};

// Longest-match search over the text seen so far, by hash chains of 3-byte
// prefixes. The text starts with the RingStart spaces the decoder's ring
// holds, so runs of spaces at the start of the input compress too.
class MatchFinder
{
public:
    static constexpr int HashBits = 15;
    static constexpr int MaxChain = 256;

    explicit MatchFinder(const std::vector<std::uint8_t> &text)
        : m_text(text)
        , m_head(1u << HashBits, -1)
        , m_previous(text.size(), -1)
    {
    }

    void insert(qsizetype pos)
    {
        if (pos + MinMatch > qsizetype(m_text.size()))
            return;
        const unsigned h = hash(pos);
        m_previous[size_t(pos)] = m_head[h];
        m_head[h] = pos;
    }

    struct Match
    {
        int length = 0;
        int distance = 0;
    };

    // The longest match for the text at `pos`, at a distance of 1 to
    // RingSize (and never before the start of the text).
    Match find(qsizetype pos) const
    {
        Match best;
        const qsizetype available = qsizetype(m_text.size()) - pos;
        const int limit = int(std::min<qsizetype>(available, MaxMatch));
        if (limit < MinMatch)
            return best;
        const std::uint8_t *here = m_text.data() + pos;
        qsizetype candidate = m_head[hash(pos)];
        for (int chain = 0; candidate >= 0 && chain < MaxChain; ++chain) {
            const qsizetype distance = pos - candidate;
            if (distance > RingSize)
                break;
            const std::uint8_t *there = m_text.data() + candidate;
            if (there[best.length] == here[best.length]) {
                int length = 0;
                while (length < limit && there[length] == here[length])
                    ++length;
                if (length > best.length) {
                    best.length = length;
                    best.distance = int(distance);
                    if (length == limit)
                        break;
                }
            }
            candidate = m_previous[size_t(candidate)];
        }
        if (best.length < MinMatch)
            best = {};
        return best;
    }

private:
    unsigned hash(qsizetype pos) const
    {
        const std::uint8_t *p = m_text.data() + pos;
        const std::uint32_t v = std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
        return (v * 2654435761u) >> (32 - HashBits);
    }

    const std::vector<std::uint8_t> &m_text;
    std::vector<qsizetype> m_head;
    std::vector<qsizetype> m_previous;
};

void putSymbol(LzhufTree &tree, BitWriter &bits, int symbol)
{
    const LzhufTree::Code code = tree.codeOf(symbol);
    bits.put(code.bits, code.length);
    tree.update(symbol);
}

void putPosition(BitWriter &bits, unsigned position)
{
    const PositionCode &table = positionCode();
    const unsigned upper = position >> 6;
    const int length = table.length[upper];
    bits.put(table.code[upper] >> (8 - length), length);
    bits.put(position & 0x3f, 6);
}

} // namespace

QByteArray encode(QByteArrayView data)
{
    QByteArray out;
    out.reserve(HeaderSize + data.size() + data.size() / 8 + 16);
    out.resize(HeaderSize);
    qToLittleEndian<quint32>(quint32(data.size()), out.data());
    if (data.isEmpty())
        return out;

    std::vector<std::uint8_t> text(size_t(RingStart) + size_t(data.size()));
    std::fill_n(text.begin(), RingStart, std::uint8_t(' '));
    std::copy_n(reinterpret_cast<const std::uint8_t *>(data.data()), data.size(), text.begin() + RingStart);

    MatchFinder finder(text);
    for (qsizetype pos = 0; pos < RingStart; ++pos)
        finder.insert(pos);

    LzhufTree tree;
    BitWriter bits(out);
    const qsizetype end = qsizetype(text.size());
    qsizetype pos = RingStart;
    while (pos < end) {
        const MatchFinder::Match match = finder.find(pos);
        if (match.length >= MinMatch) {
            putSymbol(tree, bits, match.length + MatchLengthOffset);
            putPosition(bits, unsigned(match.distance - 1));
            for (int n = 0; n < match.length; ++n)
                finder.insert(pos++);
        } else {
            putSymbol(tree, bits, text[size_t(pos)]);
            finder.insert(pos++);
        }
    }
    bits.flush();
    return out;
}

} // namespace kelvo::lzhuf
