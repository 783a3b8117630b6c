#include "Lzhuf.h"
#include "LzhufPositionCode.h"
#include "LzhufTree.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstdint>

namespace kelvo::lzhuf {

namespace {

// Reads the coded bits most significant first; past the end every byte is 0.
class BitReader
{
public:
    explicit BitReader(QByteArrayView bytes)
        : m_data(reinterpret_cast<const std::uint8_t *>(bytes.data()))
        , m_size(bytes.size())
    {
    }

    int bit()
    {
        refill();
        const int b = static_cast<int>(m_buffer >> 31);
        m_buffer <<= 1;
        --m_count;
        ++m_consumed;
        return b;
    }

    unsigned byte()
    {
        refill();
        const unsigned b = m_buffer >> 24;
        m_buffer <<= 8;
        m_count -= 8;
        m_consumed += 8;
        return b;
    }

    // How many of the bits taken lay beyond the end of the input.
    qint64 bitsPastEnd() const { return std::max<qint64>(0, m_consumed - qint64(m_size) * 8); }

private:
    void refill()
    {
        while (m_count <= 24) {
            const std::uint32_t next = m_pos < m_size ? m_data[m_pos] : 0;
            ++m_pos;
            m_buffer |= next << (24 - m_count);
            m_count += 8;
        }
    }

    const std::uint8_t *m_data;
    qsizetype m_size;
    qsizetype m_pos = 0;
    std::uint32_t m_buffer = 0; // pending bits, left-aligned
    int m_count = 0;            // how many bits of m_buffer are pending
    qint64 m_consumed = 0;      // bits taken so far
};

int decodeSymbol(LzhufTree &tree, BitReader &bits)
{
    int node = tree.firstChildOfRoot();
    while (node < LzhufTree::NodeCount)
        node = tree.step(node, bits.bit());
    const int symbol = node - LzhufTree::NodeCount;
    tree.update(symbol);
    return symbol;
}

unsigned decodePosition(BitReader &bits)
{
    const PositionCode &table = positionCode();
    unsigned window = bits.byte();
    const unsigned upper = table.upperBits[window];
    // The code took `length` of the 8 bits; the lower 6 bits are the last six
    // of these 8 plus length - 2 further bits.
    for (int extra = table.codeLength[window] - 2; extra > 0; --extra)
        window = (window << 1) | static_cast<unsigned>(bits.bit());
    return (upper << 6) | (window & 0x3f);
}

} // namespace

qsizetype maxDecodedSize(qsizetype streamSize)
{
    const qsizetype coded = streamSize > HeaderSize ? streamSize - HeaderSize : 0;
    return coded * 48 + MaxMatch;
}

DecodeResult decode(QByteArrayView stream, qsizetype hardLimit)
{
    DecodeResult result;
    if (stream.size() < HeaderSize) {
        result.error =
            QStringLiteral("compressed stream too short (%1 bytes, its length field needs 4)").arg(stream.size());
        return result;
    }
    const quint32 declared = qFromLittleEndian<quint32>(stream.data());
    const qsizetype plausible = maxDecodedSize(stream.size());
    if (qsizetype(declared) > plausible) {
        result.error =
            QStringLiteral("compressed stream declares %1 bytes, more than its %2 coded bytes can hold (at most %3)")
                .arg(declared)
                .arg(stream.size() - HeaderSize)
                .arg(plausible);
        return result;
    }
    if (qsizetype(declared) > hardLimit) {
        result.error = QStringLiteral("compressed stream declares %1 bytes, more than the limit of %2")
                           .arg(declared)
                           .arg(hardLimit);
        return result;
    }

    const qsizetype total = qsizetype(declared);
    result.data.resize(total);
    char *out = result.data.data();

    std::array<std::uint8_t, RingSize> ring{};
    ring.fill(0);
    for (int i = 0; i < RingStart; ++i)
        ring[i] = ' ';
    unsigned r = RingStart;

    LzhufTree tree;
    BitReader bits(stream.sliced(HeaderSize));
    qsizetype produced = 0;
    while (produced < total) {
        const int symbol = decodeSymbol(tree, bits);
        if (symbol < FirstMatchSymbol) {
            const auto byte = static_cast<std::uint8_t>(symbol);
            out[produced++] = static_cast<char>(byte);
            ring[r] = byte;
            r = (r + 1) & (RingSize - 1);
            continue;
        }
        // The match begins position + 1 bytes behind the write position;
        // copied byte by byte, so it may overlap what it writes.
        unsigned from = (r - decodePosition(bits) - 1) & (RingSize - 1);
        for (int n = symbol - MatchLengthOffset; n > 0 && produced < total; --n) {
            const std::uint8_t byte = ring[from];
            from = (from + 1) & (RingSize - 1);
            out[produced++] = static_cast<char>(byte);
            ring[r] = byte;
            r = (r + 1) & (RingSize - 1);
        }
    }
    result.bitsPastEnd = bits.bitsPastEnd();
    result.ok = true;
    return result;
}

} // namespace kelvo::lzhuf
