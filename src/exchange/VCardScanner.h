#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace kelvo::exchange {

// The vCard properties the import reads; every other one is skipped without
// keeping its value.
enum class VCardProperty {
    Other,
    Begin,
    End,
    Version,
    Agent,
    FN,
    N,
    Title,
    Role,
    Org,
    Adr,
    Label,
    Tel,
    Url,
    XQQ,
    XMsn,
    XMsImAddress,
    Impp,
    EMail,
    Note,
    Nickname,
    Bday,
    Anniversary,
    Uid,
};

// The parameters of a content line, as far as the import looks at them.
// TYPE values and vCard 2.1's bare parameters count alike; a bare
// QUOTED-PRINTABLE or BASE64 is the encoding.
struct VCardParameters
{
    enum class Encoding { None, QuotedPrintable, Base64 };

    QByteArrayView charset; // as written; empty when absent
    Encoding encoding = Encoding::None;
    bool pref = false; // TYPE=PREF, a bare PREF, or PREF=1
    bool work = false;
    bool cell = false; // CELL, MOBILE, IPHONE
    bool fax = false;
    QByteArrayView serviceType; // X-SERVICE-TYPE of IMPP
};

// One content line: a property with its parameters and its value bytes
// (folds and quoted-printable soft line breaks joined, nothing decoded).
struct VCardContentLine
{
    int line = 0; // the line it starts on, counted from 1
    VCardProperty property = VCardProperty::Other;
    QByteArrayView name; // without its group, as written
    VCardParameters parameters;
    QByteArrayView value;
    bool valueSkipped = false; // base64 data or a property the import does not read
    bool tooLong = false;      // longer than MaxLineBytes after unfolding
};

// Splits vCard text into content lines. Lines end at LF, CR LF, CR CR LF or
// a lone CR; a line that starts with a blank or a tab continues the one
// before (vCard 2.1 keeps that blank, later versions drop it); a
// quoted-printable value continues after a line ending in "=" whatever the
// next line starts with; the lines of base64 data that follow a BASE64 value
// are passed over without being kept, up to the blank line that may end
// them. Lines without a colon are skipped.
class VCardScanner
{
public:
    explicit VCardScanner(QByteArrayView text);

    // Reads the next content line; false at the end of the text. Views in
    // `line` stay valid until the next call. `legacyFolding`: the card is
    // vCard 2.1, whose folded lines keep their leading blank.
    bool next(VCardContentLine &line, bool legacyFolding);

    qsizetype position() const { return m_pos; }

private:
    struct PhysicalLine
    {
        QByteArrayView text;
        qsizetype next = 0; // where the following line starts
    };
    PhysicalLine physicalAt(qsizetype pos) const;
    bool atContinuation() const;
    QByteArrayView takeLine();
    void readValue(VCardContentLine &line, QByteArrayView first, bool legacyFolding);

    QByteArrayView m_text;
    qsizetype m_pos = 0;
    int m_line = 1;
    QByteArray m_header; // a folded header, joined
    QByteArray m_value;  // a folded value, joined
};

// Decides the properties' identity and the parameters of a header (the text
// before the value's colon). Exposed for tests.
void ParseVCardHeader(QByteArrayView header, VCardContentLine &line);

} // namespace kelvo::exchange
