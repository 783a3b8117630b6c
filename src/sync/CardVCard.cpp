#include "CardVCard.h"

#include "CardAssembly.h"
#include "VCardReader.h"
#include "VCardWriter.h"

#include "CardTree.h"
#include "CardRecords.h"
#include "Gb18030.h"

#include <QCryptographicHash>

#include <algorithm>

namespace kelvo::sync {

namespace {

// The places of Kelvo's fields among a vCard's properties.
enum Slot {
    SlotNone = -1,
    SlotFn = 0,
    SlotN,
    SlotTitle,
    SlotOrg,
    SlotAdr,
    SlotVoice,
    SlotFax,
    SlotCell,
    SlotUrl,
    SlotQq,
    SlotMsn,
    SlotEmail,
    SlotNote,
    SlotCount
};

Slot slotOf(const RawLine &line)
{
    const QByteArray &n = line.name;
    if (n == "FN")
        return SlotFn;
    if (n == "N")
        return SlotN;
    if (n == "TITLE")
        return SlotTitle;
    if (n == "ORG")
        return SlotOrg;
    if (n == "ADR")
        return SlotAdr;
    if (n == "TEL") {
        if (line.params.contains("FAX"))
            return SlotFax;
        if (line.params.contains("CELL"))
            return SlotCell;
        return SlotVoice;
    }
    if (n == "URL")
        return SlotUrl;
    if (n == "X-QQ")
        return SlotQq;
    if (n == "X-MSN")
        return SlotMsn;
    if (n == "EMAIL")
        return SlotEmail;
    if (n == "NOTE")
        return SlotNote;
    return SlotNone;
}

// The fields (0-based) each slot carries.
QList<int> fieldsOf(Slot slot)
{
    switch (slot) {
    case SlotFn:
    case SlotN:
        return {Field::Name - 1};
    case SlotTitle:
        return {Field::TouXian - 1};
    case SlotOrg:
        return {Field::DW - 1};
    case SlotAdr:
        return {Field::DZ - 1, Field::YB - 1};
    case SlotVoice:
        return {Field::DH - 1};
    case SlotFax:
        return {Field::CZ - 1};
    case SlotCell:
        return {Field::SJ - 1};
    case SlotUrl:
        return {Field::WZ - 1};
    case SlotQq:
        return {Field::QQ - 1};
    case SlotMsn:
        return {Field::MSN - 1};
    case SlotEmail:
        return {Field::EMail - 1};
    case SlotNote:
        return {Field::Other - 1};
    default:
        return {};
    }
}

// Splits a CATEGORIES value at commas that are not escaped.
QStringList splitCategories(QByteArrayView value)
{
    QStringList out;
    const QString text = QString::fromUtf8(value);
    QString current;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\\' && i + 1 < text.size()) {
            current.append(c);
            current.append(text[++i]);
        } else if (c == u',') {
            out.append(exchange::UnescapeVCardText(current).trimmed());
            current.clear();
        } else {
            current.append(c);
        }
    }
    out.append(exchange::UnescapeVCardText(current).trimmed());
    out.removeAll(QString());
    return out;
}

QByteArray categoriesLine(const QByteArray &group, const QStringList &categories)
{
    QByteArray value;
    for (const QString &category : categories) {
        if (!value.isEmpty())
            value.append(',');
        value.append(exchange::EscapeVCardText(category.toUtf8()));
    }
    QByteArray out;
    exchange::AppendFoldedLine(out, (group.isEmpty() ? QByteArray() : group + '.') + "CATEGORIES:" + value);
    return out;
}

QStringList pathOf(const QString &category)
{
    QStringList path = category.split(u'/', Qt::SkipEmptyParts);
    for (QString &part : path)
        part = part.trimmed();
    path.removeAll(QString());
    return path;
}

// Of several candidates for a field, the one the reader keeps: the lowest
// rank (PREF, then WORK, then the rest), then the first.
void keepWinners(exchange::ContactDraft &draft)
{
    for (auto &values : draft.candidates) {
        if (values.size() < 2)
            continue;
        const auto best = std::min_element(values.begin(), values.end(), [](const auto &a, const auto &b) {
            return a.rank != b.rank ? a.rank < b.rank : a.order < b.order;
        });
        exchange::DraftValue kept = *best;
        values.clear();
        values.push_back(std::move(kept));
    }
    draft.extras.clear();
}

} // namespace

QString ReservedClassName()
{
    return gb18030::decode(ReservedCardClassLabel());
}

QString ConflictClassName()
{
    return QStringLiteral("同步冲突");
}

QByteArray ContentHash(const CardContent &content)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const QString &field : content.fields) {
        hash.addData(field.toUtf8());
        hash.addData(QByteArrayView("\x1f", 1));
    }
    for (const QString &part : content.classPath) {
        hash.addData(part.toUtf8());
        hash.addData(QByteArrayView("\x1e", 1));
    }
    return hash.result();
}

QString CategoryOf(const QStringList &classPath)
{
    if (classPath.isEmpty() || classPath == QStringList{ReservedClassName()})
        return {};
    return classPath.join(u'/');
}

QList<RawLine> SplitRawLines(QByteArrayView vcard)
{
    QList<RawLine> lines;
    qsizetype pos = 0;
    bool quotedPrintableOpen = false;
    while (pos < vcard.size()) {
        qsizetype end = pos;
        while (end < vcard.size() && vcard[end] != '\n' && vcard[end] != '\r')
            ++end;
        qsizetype next = end;
        if (next < vcard.size() && vcard[next] == '\r')
            ++next;
        if (next < vcard.size() && vcard[next] == '\n')
            ++next;
        const QByteArrayView text = vcard.sliced(pos, end - pos);
        const QByteArrayView bytes = vcard.sliced(pos, next - pos);
        const bool continuation = !lines.isEmpty() && !text.isEmpty() && (text[0] == ' ' || text[0] == '\t');
        if ((continuation || quotedPrintableOpen) && !lines.isEmpty()) {
            RawLine &last = lines.last();
            last.bytes.append(bytes);
            last.value.append(quotedPrintableOpen && !continuation ? text : text.sliced(1));
        } else if (!text.trimmed().isEmpty()) {
            RawLine line;
            line.bytes = bytes.toByteArray();
            // The header ends at the first colon outside double quotes.
            qsizetype colon = -1;
            bool quoted = false;
            for (qsizetype i = 0; i < text.size(); ++i) {
                if (text[i] == '"')
                    quoted = !quoted;
                else if (text[i] == ':' && !quoted) {
                    colon = i;
                    break;
                }
            }
            const QByteArrayView header = colon < 0 ? text : text.first(colon);
            line.value = colon < 0 ? QByteArray() : text.sliced(colon + 1).toByteArray();
            qsizetype semicolon = header.indexOf(';');
            QByteArrayView name = semicolon < 0 ? header : header.first(semicolon);
            line.params = semicolon < 0 ? QByteArray() : header.sliced(semicolon).toByteArray().toUpper();
            const qsizetype dot = name.lastIndexOf('.');
            if (dot >= 0) {
                line.group = name.first(dot).toByteArray();
                name = name.sliced(dot + 1);
            }
            line.name = name.trimmed().toByteArray().toUpper();
            lines.append(std::move(line));
        } else if (!lines.isEmpty()) {
            lines.last().bytes.append(bytes); // a blank line stays with the line before it
        } else {
            RawLine blank;
            blank.bytes = bytes.toByteArray();
            lines.append(std::move(blank));
        }
        if (!lines.isEmpty()) {
            const RawLine &last = lines.last();
            quotedPrintableOpen = last.params.contains("QUOTED-PRINTABLE") && last.value.endsWith('=');
        }
        pos = next;
    }
    return lines;
}

ServerCard ReadServerCard(QByteArrayView vcard, const QSet<QString> &knownClasses)
{
    ServerCard card;
    for (const RawLine &line : SplitRawLines(vcard)) {
        if (line.name == "END")
            break;
        if (line.name == "UID" && card.uid.isEmpty())
            card.uid = exchange::UnescapeVCardText(QString::fromUtf8(line.value)).trimmed();
        else if ((line.name == "KIND" || line.name == "X-ADDRESSBOOKSERVER-KIND")
                 && line.value.trimmed().toLower() == "group")
            card.group = true;
        else if (line.name == "CATEGORIES")
            card.categories += splitCategories(line.value);
    }
    if (card.group) {
        card.problem = QStringLiteral("a group card");
        return card;
    }

    exchange::VCardReader reader(vcard);
    exchange::ContactDraft draft;
    bool readable = false;
    if (!reader.nextCard(draft, &readable) || !readable) {
        card.problem = QStringLiteral("not a readable vCard");
        return card;
    }
    keepWinners(draft);
    exchange::CardTexts texts;
    if (!exchange::AssembleCard(draft, &texts)) {
        card.problem = QStringLiteral("holds no text Kelvo keeps");
        return card;
    }
    exchange::ImportMessages messages;
    const NewCardNode node = exchange::MakeImportedCardNode(texts, 0, messages);
    for (int n = Field::First; n <= Field::Last; ++n)
        card.content.fields[size_t(n - 1)] = gb18030::decode(node.data->field(n));

    QStringList path;
    for (const QString &category : card.categories) {
        const QStringList candidate = pathOf(category);
        if (!candidate.isEmpty() && knownClasses.contains(candidate.join(u'/'))
            && candidate.first() != ConflictClassName()) {
            path = candidate;
            break;
        }
    }
    if (path.isEmpty()) {
        for (const QString &category : card.categories) {
            const QStringList candidate = pathOf(category);
            if (!candidate.isEmpty() && candidate.first() != ConflictClassName()) {
                path = candidate;
                break;
            }
        }
    }
    card.content.classPath = path.isEmpty() ? QStringList{ReservedClassName()} : path;
    card.readable = true;
    return card;
}

QByteArray MakeVCard(const CardContent &content, const QString &uid, int version)
{
    TCardData data;
    data.Kind = Kind::Card;
    for (int n = Field::First; n <= Field::Last; ++n)
        data.setField(n, gb18030::encode(content.fields[size_t(n - 1)]));
    QByteArray body;
    exchange::AppendVCard(body, data, {}, version == 4 ? exchange::VCardVersion::V40 : exchange::VCardVersion::V30);
    // The export's card, with the category and the UID before its end.
    const qsizetype end = body.lastIndexOf("END:VCARD");
    QByteArray extra;
    const QString category = CategoryOf(content.classPath);
    if (!category.isEmpty())
        extra += categoriesLine({}, {category});
    exchange::AppendFoldedLine(extra, "UID:" + exchange::EscapeVCardText(uid.toUtf8()));
    body.insert(end, extra);
    return body;
}

QByteArray PatchVCard(QByteArrayView base, const CardContent &baseContent, const CardContent &content,
                      const QString &uid)
{
    QList<RawLine> lines = SplitRawLines(base);
    const auto findName = [&lines](QByteArrayView name) {
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (lines[i].name == name)
                return i;
        }
        return qsizetype(-1);
    };
    qsizetype endAt = findName("END");
    if (findName("BEGIN") < 0 || endAt < 0)
        return MakeVCard(content, uid, 3);
    const qsizetype versionAt = findName("VERSION");
    const int version = versionAt >= 0 && lines[versionAt].value.trimmed().startsWith("4") ? 4 : 3;
    QList<RawLine> fresh = SplitRawLines(MakeVCard(content, uid, version));

    // Lines to put in place of others, lines to drop, lines to add.
    QHash<qsizetype, QByteArray> replaced;
    QSet<qsizetype> dropped;
    QByteArray added;

    for (int s = SlotFn; s < SlotCount; ++s) {
        const Slot slot = Slot(s);
        bool changed = false;
        for (const int f : fieldsOf(slot))
            changed = changed || content.fields[size_t(f)] != baseContent.fields[size_t(f)];
        if (!changed)
            continue;
        // The base line the reader took for this field: the one holding the
        // old value, else the preferred, else a work one, else the first.
        qsizetype chosen = -1;
        int chosenScore = 99;
        const QString oldValue = baseContent.fields[size_t(fieldsOf(slot).first())];
        for (qsizetype i = 0; i < endAt; ++i) {
            if (slotOf(lines[i]) != slot)
                continue;
            const QString value = exchange::UnescapeVCardText(QString::fromUtf8(lines[i].value)).trimmed();
            int score = 3;
            if (slot != SlotAdr && slot != SlotN && value == oldValue)
                score = 0;
            else if (lines[i].params.contains("PREF"))
                score = 1;
            else if (lines[i].params.contains("WORK"))
                score = 2;
            if (score < chosenScore) {
                chosen = i;
                chosenScore = score;
            }
        }
        QByteArray freshBytes;
        for (const RawLine &line : fresh) {
            if (slotOf(line) == slot) {
                freshBytes = line.bytes;
                break;
            }
        }
        if (chosen >= 0) {
            if (freshBytes.isEmpty())
                dropped.insert(chosen);
            else
                replaced.insert(chosen, lines[chosen].group.isEmpty() ? freshBytes
                                                                      : lines[chosen].group + '.' + freshBytes);
        } else {
            added += freshBytes;
        }
    }

    const QString oldCategory = CategoryOf(baseContent.classPath);
    const QString newCategory = CategoryOf(content.classPath);
    if (oldCategory != newCategory) {
        const qsizetype at = findName("CATEGORIES");
        QStringList categories = at >= 0 ? splitCategories(lines[at].value) : QStringList();
        if (!oldCategory.isEmpty()) {
            for (qsizetype i = 0; i < categories.size(); ++i) {
                if (pathOf(categories[i]).join(u'/') == oldCategory) {
                    categories.removeAt(i);
                    break;
                }
            }
        }
        if (!newCategory.isEmpty())
            categories.prepend(newCategory);
        if (at >= 0) {
            if (categories.isEmpty())
                dropped.insert(at);
            else
                replaced.insert(at, categoriesLine(lines[at].group, categories));
        } else if (!categories.isEmpty()) {
            added += categoriesLine({}, categories);
        }
    }
    if (findName("UID") < 0)
        exchange::AppendFoldedLine(added, "UID:" + exchange::EscapeVCardText(uid.toUtf8()));

    QByteArray out;
    out.reserve(base.size() + added.size() + 256);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i == endAt) {
            // A base whose last line before END has no line end (a bare
            // "...END:VCARD" never; a line cut short) still gets one.
            if (!out.isEmpty() && !out.endsWith('\n') && !out.endsWith('\r') && !added.isEmpty())
                out += "\r\n";
            out += added;
        }
        if (dropped.contains(i))
            continue;
        const auto it = replaced.constFind(i);
        out += it != replaced.cend() ? it.value() : lines[i].bytes;
    }
    return out;
}

} // namespace kelvo::sync
