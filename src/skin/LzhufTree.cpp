#include "LzhufTree.h"

namespace kelvo::lzhuf {

void LzhufTree::reset()
{
    for (int i = 0; i < SymbolCount; ++i) {
        m_freq[i] = 1;
        m_son[i] = i + NodeCount;
        m_parent[i + NodeCount] = i;
    }
    int i = 0;
    for (int j = SymbolCount; j <= Root; ++j, i += 2) {
        m_freq[j] = m_freq[i] + m_freq[i + 1];
        m_son[j] = i;
        m_parent[i] = m_parent[i + 1] = j;
    }
    m_freq[NodeCount] = 0xffff;
    m_parent[Root] = 0; // ends the walk to the root in update()
    m_rebuilds = 0;
}

void LzhufTree::rebuild()
{
    ++m_rebuilds;
    // Gather the leaves, in slot order, at the front with halved frequencies
    // (rounded up).
    int j = 0;
    for (int i = 0; i < NodeCount; ++i) {
        if (m_son[i] >= NodeCount) {
            m_freq[j] = (m_freq[i] + 1) / 2;
            m_son[j] = m_son[i];
            ++j;
        }
    }
    // Pair the nodes two by two, inserting each new parent after the last
    // node whose frequency does not exceed its own.
    int i = 0;
    for (j = SymbolCount; j < NodeCount; i += 2, ++j) {
        const std::uint32_t f = m_freq[i] + m_freq[i + 1];
        int k = j - 1;
        while (f < m_freq[k])
            --k;
        ++k;
        for (int m = j; m > k; --m) {
            m_freq[m] = m_freq[m - 1];
            m_son[m] = m_son[m - 1];
        }
        m_freq[k] = f;
        m_son[k] = i;
    }
    for (i = 0; i < NodeCount; ++i) {
        const int k = m_son[i];
        if (k >= NodeCount)
            m_parent[k] = i;
        else
            m_parent[k] = m_parent[k + 1] = i;
    }
}

void LzhufTree::update(int symbol)
{
    if (m_freq[Root] == RebuildFrequency)
        rebuild();
    int c = m_parent[symbol + NodeCount];
    do {
        const std::uint32_t k = ++m_freq[c];
        // Keep the slots in frequency order: swap with the last slot of
        // smaller frequency.
        int l = c + 1;
        if (k > m_freq[l]) {
            while (k > m_freq[++l]) {
            }
            --l;
            m_freq[c] = m_freq[l];
            m_freq[l] = k;

            const int i = m_son[c];
            m_parent[i] = l;
            if (i < NodeCount)
                m_parent[i + 1] = l;

            const int jj = m_son[l];
            m_son[l] = i;
            m_parent[jj] = c;
            if (jj < NodeCount)
                m_parent[jj + 1] = c;
            m_son[c] = jj;

            c = l;
        }
        c = m_parent[c];
    } while (c != 0);
}

LzhufTree::Code LzhufTree::codeOf(int symbol) const
{
    Code code;
    int k = m_parent[symbol + NodeCount];
    // Sibling slots are (even, odd) pairs: an odd slot is a second child.
    do {
        code.bits |= static_cast<std::uint64_t>(k & 1) << code.length;
        ++code.length;
        k = m_parent[k];
    } while (k != Root);
    return code;
}

} // namespace kelvo::lzhuf
