#pragma once

#include "ContactDraft.h"
#include "TextDecoding.h"
#include "VCardScanner.h"

#include <QByteArrayView>
#include <QString>

#include <vector>

namespace kelvo::exchange {

// Reads vCard 2.1, 3.0 and 4.0 cards, one at a time, into drafts:
//   FN (else N, ORG, EMAIL, TEL) -> 1; TITLE (else ROLE) -> 2; ORG -> 3;
//   ADR (else LABEL) -> 4 and 8; TEL -> 5, 6 (FAX) or 7 (CELL); URL -> 9;
//   X-QQ, IMPP x-qq:/qq: -> 10; X-MSN, X-MS-IMADDRESS, IMPP msnim:/msn: -> 11;
//   EMAIL -> 12; NOTE -> 13; NICKNAME, BDAY, ANNIVERSARY and other IMPP are
//   extra values. Everything else, CATEGORIES among it, is passed over.
// Values are decoded quoted-printable first, then from their CHARSET; values
// without one are UTF-8, unless the file's text outside declared charsets
// is not valid UTF-8, which makes them GB18030 (old Chinese phones).
class VCardReader
{
public:
    // `text`: the file without its byte order mark. `transcoded`: it was
    // converted from UTF-16, so plain values are UTF-8 whatever their CHARSET.
    // `gb18030`: the file's mark says GB18030, so values without a CHARSET
    // are GB18030.
    explicit VCardReader(QByteArrayView text, bool transcoded = false, bool gb18030 = false);

    // Reads the next card; false when no card is left. A card that cannot be
    // read comes back with `*readable` false and its report line in the
    // draft. A missing END:VCARD ends the card at the next BEGIN:VCARD or at
    // the end of the text.
    bool nextCard(ContactDraft &draft, bool *readable);

    qsizetype position() const { return m_scanner.position(); }

private:
    bool nextLine(VCardContentLine &line);
    void take(const VCardContentLine &line, ContactDraft &draft);
    QString decodedValue(const VCardContentLine &line, ContactDraft &draft);
    void finishCard(ContactDraft &draft);

    VCardScanner m_scanner;
    CharsetDecoders m_decoders;
    bool m_transcoded = false;
    bool m_undeclaredUtf8 = true;
    bool m_legacyFolding = false;
    bool m_hasPending = false; // m_pending is a BEGIN:VCARD still to be read
    VCardContentLine m_pending;
    std::vector<DraftValue> m_labels; // LABEL values, used when a card has no ADR
};

// True when every line without a CHARSET parameter (and its folded
// continuation) is valid UTF-8.
bool UndeclaredVCardTextIsUtf8(QByteArrayView text);

// vCard text escapes: "\n" and "\N" a line break, "\," "\;" "\\" the
// character; any other escaped character stands for itself ("\:" is ":").
QString UnescapeVCardText(QStringView text);
// Only the escapes above, other backslashes kept (TEL and URL values are
// written unescaped but read either way).
QString UnescapeVCardUri(QStringView text);
// Splits a structured value (N, ADR, ORG) at semicolons not escaped.
QList<QStringView> SplitVCardComponents(QStringView text);

} // namespace kelvo::exchange
