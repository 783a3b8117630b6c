#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <memory>
#include <vector>

class QStringDecoder;

// Text chores shared by the vCard and CSV readers: byte order marks,
// charsets, quoted-printable, and the shape a value takes before it is
// stored into a one-line field.
namespace kelvo::exchange {

enum class ByteOrderMark { None, Utf8, Utf16LE, Utf16BE, Gb18030 };

// The byte order mark `bytes` starts with. Without one, text whose first
// characters are ASCII with zero bytes between them counts as UTF-16 too.
ByteOrderMark DetectByteOrderMark(QByteArrayView bytes);
// Length of the mark DetectByteOrderMark found (0 for a guessed UTF-16).
qsizetype ByteOrderMarkLength(QByteArrayView bytes, ByteOrderMark mark);

// UTF-8 bytes for UTF-16 text (with or without its mark); other input comes
// back without its UTF-8 mark, unchanged. Invalid UTF-16 becomes U+FFFD.
QByteArray ToUtf8WithoutMark(QByteArrayView bytes);

bool IsValidUtf8(QByteArrayView bytes);
bool IsAscii(QByteArrayView bytes);

// UTF-8 to text. Unlike QString::fromUtf8, a U+FEFF at the start is kept:
// inside a file it is a character of the value, not a byte order mark.
QString DecodeUtf8(QByteArrayView bytes);
// GB18030 (a superset of GBK and GB2312) to text, a leading U+FEFF kept.
QString DecodeGb18030(QByteArrayView bytes);
// Bytes of unknown charset: UTF-8 when they are valid UTF-8 and `preferUtf8`
// is set (or they are ASCII), else GB18030.
QString DecodeUtf8OrGb18030(QByteArrayView bytes, bool preferUtf8);

// Decoders by charset name (a vCard CHARSET value, any letter case), made
// once per name. GBK, GB2312 and their aliases read as GB18030; UTF-8, Big5,
// Shift_JIS and whatever else Qt knows are used as named.
class CharsetDecoders
{
public:
    CharsetDecoders();
    ~CharsetDecoders();
    CharsetDecoders(const CharsetDecoders &) = delete;
    CharsetDecoders &operator=(const CharsetDecoders &) = delete;

    // False, and `bytes` read as UTF-8, for a charset Qt does not know.
    bool decode(QByteArrayView bytes, QByteArrayView charset, QString *text);

private:
    struct Entry
    {
        QByteArray name;                         // upper-cased as given
        std::unique_ptr<QStringDecoder> decoder; // null: unknown, or UTF-8/GB18030 fast paths
        enum class Kind { Utf8, Gb18030, Other, Unknown } kind;
    };
    const Entry &entryFor(QByteArrayView charset);

    std::vector<Entry> m_entries;
};

// Decodes quoted-printable bytes ("=E4=BD=A0"; soft line breaks have been
// joined already). An "=" not followed by two hex digits stays as it is.
QByteArray DecodeQuotedPrintable(QByteArrayView bytes);

// The value as a field holds it: every run of line breaks becomes one blank,
// other control characters become blanks, and blanks and control characters
// at both ends are removed (as the editors trim typed text).
QString OneLine(QStringView text);
// The same, sharing `text` when it is in shape already.
QString OneLine(const QString &text);

// True when `text` holds a Chinese, Japanese or Korean character.
bool ContainsCjk(QStringView text);

} // namespace kelvo::exchange
