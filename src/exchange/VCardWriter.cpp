#include "VCardWriter.h"

#include "Gb18030.h"
#include "TextDecoding.h"

namespace kelvo::exchange {

namespace {

constexpr qsizetype FoldAt = 75;

QByteArray utf8Of(QByteArrayView gb18030)
{
    if (IsAscii(gb18030))
        return gb18030.toByteArray(); // the same bytes in both
    return gb18030::decode(gb18030).toUtf8();
}

// A TEL or URL value as it is, but for line breaks, written "\n" so that a
// value never ends its content line, and backslashes, doubled so that the
// reader (which takes "\," "\;" "\\" "\n" either way) gives them back.
QByteArray withEscapedBreaks(QByteArrayView utf8)
{
    QByteArray out;
    out.reserve(utf8.size());
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n')
                ++i;
            out.append("\\n");
        } else if (c == '\\') {
            out.append("\\\\");
        } else {
            out.append(c);
        }
    }
    return out;
}

class CardLines
{
public:
    CardLines(QByteArray &out, const TCardData &card)
        : m_out(out)
        , m_card(card)
    {
    }

    QByteArray text(int field) const { return EscapeVCardText(utf8Of(m_card.field(field))); }
    QByteArray raw(int field) const { return withEscapedBreaks(utf8Of(m_card.field(field))); }
    bool has(int field) const { return !m_card.field(field).isEmpty(); }

    void line(QByteArrayView nameAndParameters, QByteArrayView value)
    {
        m_line.clear();
        m_line.append(nameAndParameters);
        m_line.append(':');
        m_line.append(value);
        AppendFoldedLine(m_out, m_line);
    }
    void textLine(QByteArrayView name, int field)
    {
        if (has(field))
            line(name, text(field));
    }
    void rawLine(QByteArrayView name, int field)
    {
        if (has(field))
            line(name, raw(field));
    }

private:
    QByteArray &m_out;
    const TCardData &m_card;
    QByteArray m_line;
};

} // namespace

QByteArray EscapeVCardText(QByteArrayView utf8)
{
    QByteArray out;
    out.reserve(utf8.size() + 8);
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        switch (c) {
        case '\\':
            out.append("\\\\");
            break;
        case ',':
            out.append("\\,");
            break;
        case ';':
            out.append("\\;");
            break;
        case '\r':
            if (i + 1 < utf8.size() && utf8[i + 1] == '\n')
                ++i;
            out.append("\\n");
            break;
        case '\n':
            out.append("\\n");
            break;
        default:
            out.append(c);
        }
    }
    return out;
}

void AppendFoldedLine(QByteArray &out, QByteArrayView line)
{
    qsizetype pos = 0;
    qsizetype room = FoldAt;
    while (line.size() - pos > room) {
        qsizetype cut = pos + room;
        // Never inside a UTF-8 sequence: back up over continuation bytes.
        while (cut > pos + 1 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut;
        out.append(line.sliced(pos, cut - pos));
        out.append("\r\n ");
        pos = cut;
        room = FoldAt - 1; // the leading blank takes one octet
    }
    out.append(line.sliced(pos));
    out.append("\r\n");
}

void AppendVCard(QByteArray &out, const TCardData &card, QByteArrayView classLabel, VCardVersion version,
                 QByteArrayView uid)
{
    const bool v4 = version == VCardVersion::V40;
    CardLines lines(out, card);
    out.append("BEGIN:VCARD\r\n");
    out.append(v4 ? "VERSION:4.0\r\n" : "VERSION:3.0\r\n");
    const QByteArray name = lines.text(Field::Name);
    lines.line("FN", name);
    lines.line("N", name + ";;;;");
    lines.textLine("TITLE", Field::TouXian);
    lines.textLine("ORG", Field::DW);
    if (lines.has(Field::DZ) || lines.has(Field::YB))
        lines.line(v4 ? "ADR;TYPE=work" : "ADR;TYPE=WORK",
                   ";;" + lines.text(Field::DZ) + ";;;" + lines.text(Field::YB) + ";");
    lines.rawLine(v4 ? "TEL;VALUE=text;TYPE=work,voice" : "TEL;TYPE=WORK,VOICE", Field::DH);
    lines.rawLine(v4 ? "TEL;VALUE=text;TYPE=work,fax" : "TEL;TYPE=WORK,FAX", Field::CZ);
    lines.rawLine(v4 ? "TEL;VALUE=text;TYPE=cell" : "TEL;TYPE=CELL", Field::SJ);
    lines.rawLine("URL", Field::WZ);
    lines.textLine("X-QQ", Field::QQ);
    lines.textLine("X-MSN", Field::MSN);
    lines.textLine(v4 ? "EMAIL" : "EMAIL;TYPE=INTERNET", Field::EMail);
    lines.textLine("NOTE", Field::Other);
    if (!classLabel.isEmpty())
        lines.line("CATEGORIES", EscapeVCardText(utf8Of(classLabel)));
    if (!uid.isEmpty())
        lines.line("UID", EscapeVCardText(uid));
    out.append("END:VCARD\r\n");
}

} // namespace kelvo::exchange
