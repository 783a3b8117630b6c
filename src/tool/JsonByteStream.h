#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace kelvo::tool {

// JSON text read in pieces, as a rapidjson input stream (Peek, Take, Tell),
// so that a text of any size is parsed with a buffer of fixed size.
//
// A UTF-8 byte-order mark at the start is skipped. With
// `EscapeControlCharacters`, what strict JSON parsers refuse but this tool
// has always read (as Qt's JSON parser does) is handed on in a form the
// parser takes: a control character (below 0x20) inside a string becomes its
// "\u00XX" escape, a backslash before a byte that names no escape is
// dropped (the byte stands for the character of its value, U+0000 to
// U+00FF), a number's point without a digit before or after it gets a 0
// there ("1." is read as 1.0, ".5" as 0.5), and the escape of a
// high surrogate without its low half becomes that of a lone low half
// ("\udc00", which the reader refuses as a text, naming the node).
// That costs a look at every byte, so a reader tries `AsGiven` first and
// reads again this way only when the parser stopped at such a place. Tell() counts the bytes
// handed on; place() turns such a count back into the line and column of the
// text as given.
class JsonByteStream
{
public:
    using Ch = char;
    // Reads up to `room` bytes into `into`; returns the count (0 at the end)
    // or -1 on an error (with a message in `*error`).
    using Source = std::function<qint64(char *into, qint64 room, QString *error)>;

    enum Mode { AsGiven, EscapeControlCharacters };

    // `maxBytes`: larger input stops the reading with an error.
    JsonByteStream(Source source, qint64 maxBytes, Mode mode);
    JsonByteStream(const JsonByteStream &) = delete;
    JsonByteStream &operator=(const JsonByteStream &) = delete;

    Ch Peek() const { return *m_pos; }
    Ch Take()
    {
        const Ch c = *m_pos;
        if (++m_pos >= m_end)
            refill();
        return c;
    }
    size_t Tell() const { return static_cast<size_t>(m_chunkStart + (m_pos - m_chunk)); }

    // Not an output stream (rapidjson asks for these names only).
    Ch *PutBegin() { return nullptr; }
    void Put(Ch) {}
    void Flush() {}
    size_t PutEnd(Ch *) { return 0; }

    // Why the reading stopped early (read error, input too large); empty
    // when the whole input was read.
    const QString &readError() const { return m_readError; }
    // "line L, column C" of the byte at `offset` (as Tell() counts) in the
    // text as given: lines counted from 1 at each line feed, columns in bytes
    // from 1.
    QString place(size_t offset) const;
    // True when the byte at `offset` (as Tell() counts) is a control
    // character that was read as it was given: the parser stopped at a
    // control character inside a string.
    bool rawControlCharacterAt(size_t offset) const;
    Mode mode() const { return m_mode; }
    // With EscapeControlCharacters, for each string the parser hands on, in
    // their order: whether its first three bytes are a byte-order mark to be
    // dropped, as Qt's parser drops it from a string without escapes (the
    // mark of a string with escapes, or an escaped U+FEFF, stays).
    bool takeMarkToDrop();
    // True when every byte has been taken. The parser takes a zero byte for
    // the end of the text: after it has finished, bytes still here (a zero
    // byte and whatever follows) are bytes after the document.
    bool exhausted() const { return m_pos >= m_end && m_atEnd && m_held.empty(); }

private:
    struct Chunk
    {
        std::vector<char> bytes; // the bytes handed on, then a zero byte
        qint64 start = 0;        // Tell() of its first byte
        qint64 lineFeedsBefore = 0;
        qint64 lineStartBefore = 0; // raw offset where the line holding its first byte starts
        qint64 size() const { return static_cast<qint64>(bytes.size()) - 1; }
    };
    // Bytes handed on in place of others: `length` bytes from Tell() `at`
    // stand for `rawLength` bytes of the text as given (a control character
    // written as its six-byte escape, a 0 put into a number).
    struct Expansion
    {
        qint64 at;
        int length;
        int rawLength;
        unsigned char byte; // the control character written as an escape, or 0
        qint64 extraBefore; // bytes added by all expansions before this one
    };
    void addExpansion(qint64 at, int length, int rawLength, unsigned char byte);

    void refill();
    // Reads the next piece of raw input into `m_raw`; false at the end.
    bool readRaw();
    // Appends raw bytes to `out`, escaping control characters inside strings.
    void escapeInto(const char *raw, qint64 size, std::vector<char> &out);
    // The chunk holding `offset`, or the earliest one kept.
    const Chunk &chunkAt(qint64 offset) const;
    // Offset in the text as given of the byte handed on at `offset`.
    qint64 rawOffset(qint64 offset) const;

    Source m_source;
    qint64 m_maxBytes = 0;
    Mode m_mode = AsGiven;
    qint64 m_rawRead = 0;
    qint64 m_rawPiece = 0;       // bytes of the last read in m_raw
    qint64 m_skippedAtStart = 0; // the byte-order mark
    bool m_atEnd = false;
    QString m_readError;
    std::vector<char> m_raw;

    // Where the bytes handed on so far stand. Escapes are held back until it
    // is clear whether a high surrogate has its low half.
    enum State { Outside, StringStart, InString, Backslash, Hex, WantBackslash, WantU, PairHex };
    // Numbers as Qt's parser reads them: a point may stand without a digit
    // before or after it ("1.", ".5", "1.e5"); a 0 is put there.
    enum Number { NoNumber, Sign, Digits, PointAlone, PointAfterDigits, AfterPoint };
    static constexpr int EndOfNumbers = -1;
    void numberByte(int c, std::vector<char> &out);
    Number m_number = NoNumber;
    int m_markBytes = 0;          // bytes of a byte-order mark opening the string (-1: none)
    bool m_stringEscaped = false; // the string has a backslash
    std::deque<bool> m_marksToDrop;
    void escapeByte(unsigned char c, std::vector<char> &out);
    void flushHeld(std::vector<char> &out, bool loneHigh);
    State m_state = Outside;
    int m_hexDigits = 0;
    std::string m_held;
    std::vector<Expansion> m_expansions;

    // The current chunk and the one before it (errors may point a little back).
    Chunk m_current;
    Chunk m_previous;
    const char *m_chunk = nullptr;
    const char *m_pos = nullptr;
    const char *m_end = nullptr;
    qint64 m_chunkStart = 0;
};

} // namespace kelvo::tool
