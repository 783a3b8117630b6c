#include "JsonByteStream.h"

#include <algorithm>
#include <cstring>

namespace kelvo::tool {

namespace {

constexpr qint64 ChunkBytes = qint64(1) << 18;

} // namespace

JsonByteStream::JsonByteStream(Source source, qint64 maxBytes, Mode mode)
    : m_source(std::move(source))
    , m_maxBytes(maxBytes)
    , m_mode(mode)
{
    m_current.bytes.assign(1, '\0');
    m_previous.bytes.assign(1, '\0');
    m_raw.resize(static_cast<size_t>(ChunkBytes));
    m_chunk = m_pos = m_end = m_current.bytes.data();

    // A byte-order mark: the first three bytes, however the source splits them.
    qint64 got = 0;
    while (got < 3 && !m_atEnd) {
        const qint64 n = m_source(m_raw.data() + got, 3 - got, &m_readError);
        if (n <= 0) {
            m_atEnd = true;
            if (n < 0 && m_readError.isEmpty())
                m_readError = QStringLiteral("read error");
            break;
        }
        got += n;
    }
    m_rawRead = got;
    const bool mark = got == 3 && std::memcmp(m_raw.data(), "\xEF\xBB\xBF", 3) == 0;
    m_skippedAtStart = mark ? 3 : 0;
    // The first chunk starts with what was read beyond the mark.
    std::vector<char> &out = m_current.bytes;
    out.clear();
    if (m_mode == EscapeControlCharacters)
        escapeInto(m_raw.data() + m_skippedAtStart, got - m_skippedAtStart, out);
    else
        out.insert(out.end(), m_raw.data() + m_skippedAtStart, m_raw.data() + got);
    out.push_back('\0');
    m_chunk = m_pos = out.data();
    m_end = m_chunk + m_current.size();
    if (m_pos >= m_end)
        refill();
}

bool JsonByteStream::readRaw()
{
    if (m_atEnd)
        return false;
    const qint64 n = m_source(m_raw.data(), ChunkBytes, &m_readError);
    if (n < 0) {
        if (m_readError.isEmpty())
            m_readError = QStringLiteral("read error");
        m_atEnd = true;
        return false;
    }
    if (n == 0) {
        m_atEnd = true;
        return false;
    }
    m_rawRead += n;
    if (m_rawRead > m_maxBytes) {
        m_readError = QStringLiteral("larger than %1 bytes; refused").arg(m_maxBytes);
        m_atEnd = true;
        return false;
    }
    m_raw.resize(static_cast<size_t>(ChunkBytes)); // room stays; `n` bytes count
    m_rawPiece = n;
    return true;
}

void JsonByteStream::refill()
{
    if (m_pos < m_end)
        return;
    m_pos = m_end; // never beyond the closing zero
    if (m_atEnd && m_held.empty())
        return;

    // The finished chunk becomes the previous one; its line feeds count.
    const qint64 finishedStart = m_current.start;
    const qint64 finishedSize = m_current.size();
    qint64 lineFeeds = m_current.lineFeedsBefore;
    qint64 lineStart = m_current.lineStartBefore;
    const char *bytes = m_current.bytes.data();
    for (const char *p = bytes;
         (p = static_cast<const char *>(std::memchr(p, '\n', static_cast<size_t>(bytes + finishedSize - p))));) {
        ++lineFeeds;
        lineStart = rawOffset(finishedStart + (p - bytes)) + 1;
        ++p;
        if (p >= bytes + finishedSize)
            break;
    }
    // Line feeds that stood raw inside strings were handed on escaped.
    for (auto it = std::lower_bound(m_expansions.begin(), m_expansions.end(), finishedStart,
                                    [](const Expansion &e, qint64 at) { return e.at < at; });
         it != m_expansions.end() && it->at < finishedStart + finishedSize; ++it) {
        if (it->byte == '\n') {
            ++lineFeeds;
            lineStart = std::max(lineStart, rawOffset(it->at) + 1);
        }
    }
    std::swap(m_previous, m_current);
    m_current.start = finishedStart + finishedSize;
    m_current.lineFeedsBefore = lineFeeds;
    m_current.lineStartBefore = lineStart;
    std::vector<char> &out = m_current.bytes;
    out.clear();

    // Read on until the chunk is of some size, or the input ends: a source
    // that gives a few bytes at a time (a pipe) still makes chunks large
    // enough that an error's place lies in the current or the previous one;
    // and bytes held back for a look ahead may leave a piece with nothing to
    // hand on yet.
    while (static_cast<qint64>(out.size()) < ChunkBytes / 4) {
        const bool more = readRaw();
        if (m_mode == EscapeControlCharacters) {
            if (more)
                escapeInto(m_raw.data(), m_rawPiece, out);
            else {
                flushHeld(out, m_state == WantBackslash || m_state == WantU || m_state == PairHex);
                if (m_state == Outside)
                    numberByte(EndOfNumbers, out);
            }
        } else if (more) {
            out.insert(out.end(), m_raw.data(), m_raw.data() + m_rawPiece);
        }
        if (!more)
            break;
    }
    out.push_back('\0');
    m_chunkStart = m_current.start;
    m_chunk = m_pos = out.data();
    m_end = m_chunk + m_current.size();
}

void JsonByteStream::escapeInto(const char *raw, qint64 size, std::vector<char> &out)
{
    out.reserve(static_cast<size_t>(size) + 1);
    for (qint64 i = 0; i < size; ++i)
        escapeByte(static_cast<unsigned char>(raw[i]), out);
}

namespace {

int hexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

void JsonByteStream::flushHeld(std::vector<char> &out, bool loneHigh)
{
    // A high surrogate without its low half is handed on as a lone low one
    // ("\udc00", as long): the reader then refuses the text as Qt's would,
    // naming the node, instead of the parser stopping at it.
    if (loneHigh && m_held.size() >= 6) {
        m_held[2] = 'd';
        m_held[3] = 'c';
        m_held[4] = '0';
        m_held[5] = '0';
    }
    out.insert(out.end(), m_held.begin(), m_held.end());
    m_held.clear();
}

void JsonByteStream::escapeByte(unsigned char c, std::vector<char> &out)
{
    static const char hex[] = "0123456789abcdef";
    switch (m_state) {
    case Outside:
        if (c == '"') {
            numberByte(EndOfNumbers, out); // a number ends here
            m_state = StringStart;
            out.push_back('"');
            return;
        }
        numberByte(c, out);
        return;
    case StringStart:
        // Whether the string opens with a byte-order mark, and whether it has
        // any escape, are told to the reader when the string ends (see
        // takeMarkToDrop).
        m_markBytes =
            (m_markBytes == 0 && c == 0xEF) || (m_markBytes == 1 && c == 0xBB) || (m_markBytes == 2 && c == 0xBF)
            ? m_markBytes + 1
            : (m_markBytes == 3 ? 3 : -1);
        if (m_markBytes > 0 && m_markBytes < 3) {
            out.push_back(static_cast<char>(c));
            return;
        }
        m_state = InString;
        escapeByte(c, out);
        return;
    case InString:
        if (c == '\\') {
            m_held.push_back('\\');
            m_state = Backslash;
            m_stringEscaped = true;
        } else if (c == '"') {
            m_state = Outside;
            m_marksToDrop.push_back(m_markBytes == 3 && !m_stringEscaped);
            m_markBytes = 0;
            m_stringEscaped = false;
            out.push_back('"');
        } else if (c < 0x20) {
            addExpansion(m_current.start + static_cast<qint64>(out.size()), 6, 1, c);
            const char escape[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xF]};
            out.insert(out.end(), std::begin(escape), std::end(escape));
        } else {
            out.push_back(static_cast<char>(c));
        }
        return;
    case Backslash:
        if (c == 'u') {
            m_held.push_back('u');
            m_hexDigits = 0;
            m_state = Hex;
        } else if (c != 0 && std::strchr("\"\\/bfnrt", c)) {
            m_held.push_back(static_cast<char>(c));
            flushHeld(out, false);
            m_state = InString;
        } else if (c >= 0x80) {
            // A byte after a backslash stands for the character of its
            // value, U+0080 to U+00FF: its UTF-8 goes on.
            m_held.clear();
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            m_state = InString;
        } else {
            // Any other ASCII character after a backslash stands for itself.
            m_held.clear();
            m_state = InString;
            escapeByte(c, out);
        }
        return;
    case Hex:
    case PairHex: {
        const int value = hexValue(c);
        if (value < 0) { // not an escape the parser takes: let it say so, here
            flushHeld(out, m_state == PairHex);
            out.push_back(static_cast<char>(c));
            m_state = InString;
            return;
        }
        m_held.push_back(static_cast<char>(c));
        if (++m_hexDigits < 4)
            return;
        const size_t at = m_held.size() - 4;
        int code = 0;
        for (size_t k = at; k < m_held.size(); ++k)
            code = code * 16 + hexValue(static_cast<unsigned char>(m_held[k]));
        if (m_state == Hex) {
            if (code >= 0xD800 && code <= 0xDBFF) {
                m_state = WantBackslash; // a high half: its low half must follow
                return;
            }
            flushHeld(out, false);
            m_state = InString;
            return;
        }
        // The escape after a high half.
        if (code >= 0xDC00 && code <= 0xDFFF) {
            flushHeld(out, false);
            m_state = InString;
            return;
        }
        // The high half stands alone; the second escape may itself be a high half.
        std::string second(m_held.begin() + 6, m_held.end());
        m_held.resize(6);
        flushHeld(out, true);
        m_held = std::move(second);
        if (code >= 0xD800 && code <= 0xDBFF) {
            m_state = WantBackslash;
        } else {
            flushHeld(out, false);
            m_state = InString;
        }
        return;
    }
    case WantBackslash:
        if (c == '\\') {
            m_held.push_back('\\');
            m_state = WantU;
            return;
        }
        flushHeld(out, true);
        m_state = InString;
        escapeByte(c, out);
        return;
    case WantU:
        if (c == 'u') {
            m_held.push_back('u');
            m_hexDigits = 0;
            m_state = PairHex;
            return;
        }
        // A lone high half, then another escape: "\\" + c.
        m_held.pop_back();
        flushHeld(out, true);
        m_held.push_back('\\');
        m_state = Backslash;
        escapeByte(c, out);
        return;
    }
}

bool JsonByteStream::takeMarkToDrop()
{
    if (m_marksToDrop.empty())
        return false;
    const bool drop = m_marksToDrop.front();
    m_marksToDrop.pop_front();
    return drop;
}

void JsonByteStream::numberByte(int c, std::vector<char> &out)
{
    // `c` is a byte outside strings, or EndOfNumbers where a string or the
    // text begins or ends.
    const bool digit = c >= '0' && c <= '9';
    const bool exponent = c == 'e' || c == 'E';
    const auto put = [&out](int byte) { out.push_back(static_cast<char>(byte)); };
    const auto putZero = [&] {
        addExpansion(m_current.start + static_cast<qint64>(out.size()), 1, 0, 0);
        put('0');
    };
    switch (m_number) {
    case PointAlone: // "." or "-." so far, the point held back: a digit makes it "0."
        if (digit) {
            putZero();
            put('.');
            put(c);
            m_number = AfterPoint;
            return;
        }
        put('.');
        break;
    case PointAfterDigits: // "1." so far: a digit goes on, anything else gets a 0 first
        if (digit) {
            put(c);
            m_number = AfterPoint;
            return;
        }
        putZero();
        if (exponent) {
            put(c);
            m_number = AfterPoint;
            return;
        }
        break;
    case AfterPoint:
        if (digit || exponent || c == '+' || c == '-') {
            put(c);
            return;
        }
        break;
    case Sign:
        if (digit) {
            put(c);
            m_number = Digits;
            return;
        }
        if (c == '.') {
            m_number = PointAlone;
            return;
        }
        break;
    case Digits:
        if (digit) {
            put(c);
            return;
        }
        if (c == '.') {
            put(c);
            m_number = PointAfterDigits;
            return;
        }
        if (exponent) {
            put(c);
            m_number = AfterPoint;
            return;
        }
        break;
    case NoNumber:
        break;
    }
    m_number = NoNumber;
    if (c == EndOfNumbers)
        return;
    if (c == '-')
        m_number = Sign;
    else if (digit)
        m_number = Digits;
    else if (c == '.') {
        m_number = PointAlone; // held back until the next byte tells
        return;
    }
    put(c);
}

void JsonByteStream::addExpansion(qint64 at, int length, int rawLength, unsigned char byte)
{
    const qint64 before = m_expansions.empty()
        ? 0
        : m_expansions.back().extraBefore + m_expansions.back().length - m_expansions.back().rawLength;
    m_expansions.push_back({at, length, rawLength, byte, before});
}

qint64 JsonByteStream::rawOffset(qint64 offset) const
{
    // The last expansion that starts at or before `offset`.
    auto it = std::upper_bound(m_expansions.begin(), m_expansions.end(), offset,
                               [](qint64 at, const Expansion &e) { return at < e.at; });
    if (it == m_expansions.begin())
        return offset + m_skippedAtStart;
    --it;
    const qint64 rawStart = it->at - it->extraBefore; // where its bytes stand in the text as given
    if (offset < it->at + it->length)                 // inside it: the character it stands for
        return rawStart + m_skippedAtStart;
    return offset - it->extraBefore - (it->length - it->rawLength) + m_skippedAtStart;
}

const JsonByteStream::Chunk &JsonByteStream::chunkAt(qint64 offset) const
{
    if (offset >= m_current.start || m_previous.size() <= 0)
        return m_current;
    return m_previous;
}

QString JsonByteStream::place(size_t at) const
{
    qint64 offset = static_cast<qint64>(at);
    const Chunk &chunk = chunkAt(offset);
    offset = std::clamp(offset, chunk.start, chunk.start + std::max<qint64>(chunk.size(), 0));
    qint64 line = chunk.lineFeedsBefore + 1;
    qint64 lineStart = chunk.lineStartBefore;
    const char *bytes = chunk.bytes.data();
    for (qint64 i = 0; i < offset - chunk.start; ++i) {
        if (bytes[i] == '\n') {
            ++line;
            lineStart = rawOffset(chunk.start + i) + 1;
        }
    }
    for (const Expansion &e : m_expansions) {
        if (e.at >= chunk.start && e.at < offset && e.byte == '\n') {
            ++line;
            lineStart = std::max(lineStart, rawOffset(e.at) + 1);
        }
    }
    return QStringLiteral("line %1, column %2").arg(line).arg(rawOffset(offset) - lineStart + 1);
}

bool JsonByteStream::rawControlCharacterAt(size_t at) const
{
    if (m_mode != AsGiven)
        return false;
    const auto offset = static_cast<qint64>(at);
    const Chunk &chunk = chunkAt(offset);
    const qint64 i = offset - chunk.start;
    if (i < 0 || i >= chunk.size())
        return false;
    return static_cast<unsigned char>(chunk.bytes[static_cast<size_t>(i)]) < 0x20;
}

} // namespace kelvo::tool
