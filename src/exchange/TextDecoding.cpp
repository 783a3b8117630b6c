#include "TextDecoding.h"

#include <QStringDecoder>

namespace kelvo::exchange {

namespace {

bool looksLikeUtf16(QByteArrayView bytes, bool littleEndian)
{
    // "BE" of BEGIN or the first letters of a CSV header, with zero bytes in
    // between: no text file in any 8-bit charset starts that way.
    if (bytes.size() < 4)
        return false;
    const auto at = [&](int i) { return static_cast<unsigned char>(bytes[i]); };
    if (littleEndian)
        return at(0) != 0 && at(0) < 0x80 && at(1) == 0 && at(2) != 0 && at(2) < 0x80 && at(3) == 0;
    return at(0) == 0 && at(1) != 0 && at(1) < 0x80 && at(2) == 0 && at(3) != 0 && at(3) < 0x80;
}

QByteArray upperAscii(QByteArrayView text)
{
    QByteArray upper(text.data(), text.size());
    for (char &c : upper) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    }
    return upper;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool isLineBreak(char16_t c)
{
    return c == u'\r' || c == u'\n' || c == u'\x0B' || c == u'\x0C' || c == u'\x85' || c == u'\u2028' || c == u'\u2029';
}

} // namespace

ByteOrderMark DetectByteOrderMark(QByteArrayView bytes)
{
    const auto starts = [&](const char *mark, int length) {
        return bytes.size() >= length && std::equal(mark, mark + length, bytes.data());
    };
    if (starts("\xEF\xBB\xBF", 3))
        return ByteOrderMark::Utf8;
    if (starts("\xFF\xFE", 2))
        return ByteOrderMark::Utf16LE;
    if (starts("\xFE\xFF", 2))
        return ByteOrderMark::Utf16BE;
    if (starts("\x84\x31\x95\x33", 4))
        return ByteOrderMark::Gb18030;
    if (looksLikeUtf16(bytes, true))
        return ByteOrderMark::Utf16LE;
    if (looksLikeUtf16(bytes, false))
        return ByteOrderMark::Utf16BE;
    return ByteOrderMark::None;
}

qsizetype ByteOrderMarkLength(QByteArrayView bytes, ByteOrderMark mark)
{
    switch (mark) {
    case ByteOrderMark::Utf8:
        return 3;
    case ByteOrderMark::Utf16LE:
        return bytes.startsWith("\xFF\xFE") ? 2 : 0;
    case ByteOrderMark::Utf16BE:
        return bytes.startsWith("\xFE\xFF") ? 2 : 0;
    case ByteOrderMark::Gb18030:
        return 4;
    case ByteOrderMark::None:
        break;
    }
    return 0;
}

QByteArray ToUtf8WithoutMark(QByteArrayView bytes)
{
    const ByteOrderMark mark = DetectByteOrderMark(bytes);
    const QByteArrayView body = bytes.sliced(ByteOrderMarkLength(bytes, mark));
    if (mark == ByteOrderMark::Utf16LE || mark == ByteOrderMark::Utf16BE) {
        QStringDecoder decoder(mark == ByteOrderMark::Utf16LE ? QStringConverter::Utf16LE : QStringConverter::Utf16BE,
                               QStringConverter::Flag::Stateless);
        const QString text = decoder.decode(body);
        return text.toUtf8();
    }
    return body.toByteArray();
}

bool IsValidUtf8(QByteArrayView bytes)
{
    return bytes.isValidUtf8();
}

bool IsAscii(QByteArrayView bytes)
{
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

namespace {

constexpr QStringConverter::Flags ValueFlags =
    QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom;

} // namespace

QString DecodeUtf8(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return QString();
    thread_local QStringDecoder decoder(QStringConverter::Utf8, ValueFlags);
    return decoder.decode(bytes);
}

QString DecodeGb18030(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return QString();
    // One stateless converter per thread: looking the codec up costs more
    // than converting a short value.
    thread_local QStringDecoder decoder("GB18030", ValueFlags);
    return decoder.decode(bytes);
}

QString DecodeUtf8OrGb18030(QByteArrayView bytes, bool preferUtf8)
{
    if (preferUtf8 ? IsValidUtf8(bytes) : IsAscii(bytes))
        return DecodeUtf8(bytes);
    return DecodeGb18030(bytes);
}

CharsetDecoders::CharsetDecoders() = default;
CharsetDecoders::~CharsetDecoders() = default;

const CharsetDecoders::Entry &CharsetDecoders::entryFor(QByteArrayView charset)
{
    const QByteArray name = upperAscii(charset.trimmed());
    for (const Entry &entry : m_entries) {
        if (entry.name == name)
            return entry;
    }
    Entry entry{name, nullptr, Entry::Kind::Unknown};
    static const char *const utf8Names[] = {"UTF-8", "UTF8", "US-ASCII", "ASCII", "ANSI_X3.4-1968"};
    static const char *const gbNames[] = {"GB18030", "GBK",    "GB2312",   "CP936",      "MS936",    "WINDOWS-936",
                                          "X-GBK",   "EUC-CN", "X-EUC-CN", "GB_2312-80", "CSGB2312", "CHINESE"};
    for (const char *known : utf8Names) {
        if (name == known)
            entry.kind = Entry::Kind::Utf8;
    }
    for (const char *known : gbNames) {
        if (name == known)
            entry.kind = Entry::Kind::Gb18030;
    }
    if (entry.kind == Entry::Kind::Unknown && !name.isEmpty()) {
        QByteArray qtName = name;
        if (name == "SJIS" || name == "SHIFT-JIS" || name == "MS_KANJI" || name == "CP932" || name == "WINDOWS-31J")
            qtName = "Shift_JIS";
        else if (name == "BIG-5" || name == "CP950" || name == "BIG5")
            qtName = "Big5";
        auto decoder = std::make_unique<QStringDecoder>(qtName.constData(), ValueFlags);
        if (decoder->isValid()) {
            entry.kind = Entry::Kind::Other;
            entry.decoder = std::move(decoder);
        }
    }
    m_entries.push_back(std::move(entry));
    return m_entries.back();
}

bool CharsetDecoders::decode(QByteArrayView bytes, QByteArrayView charset, QString *text)
{
    const Entry &entry = entryFor(charset);
    switch (entry.kind) {
    case Entry::Kind::Utf8:
        *text = DecodeUtf8(bytes);
        return true;
    case Entry::Kind::Gb18030:
        *text = DecodeGb18030(bytes);
        return true;
    case Entry::Kind::Other:
        *text = entry.decoder->decode(bytes);
        return true;
    case Entry::Kind::Unknown:
        break;
    }
    *text = DecodeUtf8(bytes);
    return false;
}

QByteArray DecodeQuotedPrintable(QByteArrayView bytes)
{
    QByteArray out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '=' && i + 2 < bytes.size()) {
            const int high = hexValue(bytes[i + 1]);
            const int low = hexValue(bytes[i + 2]);
            if (high >= 0 && low >= 0) {
                out.append(char(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.append(c);
    }
    return out;
}

QString OneLine(const QString &text)
{
    if (text.isEmpty())
        return QString();
    if (text.front().unicode() > 0x20 && text.back().unicode() > 0x20) {
        bool inShape = true;
        for (QChar ch : text) {
            const char16_t c = ch.unicode();
            if (c < 0x20 || c == 0x7F || c == 0x85 || c == 0x2028 || c == 0x2029) {
                inShape = false;
                break;
            }
        }
        if (inShape)
            return text;
    }
    return OneLine(QStringView(text));
}

QString OneLine(QStringView text)
{
    QString out;
    out.reserve(text.size());
    bool inBreak = false;
    for (QChar ch : text) {
        const char16_t c = ch.unicode();
        if (isLineBreak(c)) {
            if (!inBreak)
                out.append(u' ');
            inBreak = true;
            continue;
        }
        inBreak = false;
        out.append(c < 0x20 || c == 0x7F ? QChar(u' ') : ch);
    }
    qsizetype begin = 0;
    qsizetype end = out.size();
    while (begin < end && out.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && out.at(end - 1).unicode() <= 0x20)
        --end;
    if (begin == 0 && end == out.size())
        return out;
    return out.sliced(begin, end - begin);
}

bool ContainsCjk(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            ++i;
        }
        if ((c >= 0x2E80 && c <= 0x9FFF)       // radicals, kana, CJK symbols and unified ideographs
            || (c >= 0xAC00 && c <= 0xD7AF)    // Hangul syllables
            || (c >= 0xF900 && c <= 0xFAFF)    // compatibility ideographs
            || (c >= 0x20000 && c <= 0x3FFFF)) // supplementary ideographs
            return true;
    }
    return false;
}

} // namespace kelvo::exchange
