#include "VCardReader.h"

#include <QList>

namespace kelvo::exchange {

namespace {

constexpr int NoRank = Rank::LastResort + 1; // ROLE, below any TITLE

int rankOf(const VCardParameters &parameters)
{
    if (parameters.pref)
        return Rank::Preferred;
    return parameters.work ? Rank::Work : Rank::Other;
}

QByteArrayView trimmedBytes(QByteArrayView text)
{
    return text.trimmed();
}

bool isCardMarker(const VCardContentLine &line, VCardProperty property)
{
    return line.property == property && trimmedBytes(line.value).compare("VCARD", Qt::CaseInsensitive) == 0;
}

bool mapsToText(VCardProperty property)
{
    switch (property) {
    case VCardProperty::Other:
    case VCardProperty::Begin:
    case VCardProperty::End:
    case VCardProperty::Version:
    case VCardProperty::Agent:
    case VCardProperty::Uid:
        return false;
    default:
        return true;
    }
}

// `text` without the first of `prefixes` it starts with (any letter case).
QString withoutPrefix(const QString &text, std::initializer_list<const char *> prefixes, bool *found = nullptr)
{
    for (const char *prefix : prefixes) {
        const QLatin1StringView view(prefix);
        if (text.startsWith(view, Qt::CaseInsensitive)) {
            if (found)
                *found = true;
            return text.sliced(view.size()).trimmed();
        }
    }
    if (found)
        *found = false;
    return text;
}

// "scheme:rest" without its scheme, for IM addresses whose service is named
// by a parameter (iOS writes "x-apple:").
QString withoutAnyScheme(const QString &text)
{
    const qsizetype colon = text.indexOf(u':');
    if (colon <= 0 || colon + 1 >= text.size())
        return text;
    for (qsizetype i = 0; i < colon; ++i) {
        const QChar c = text.at(i);
        if (!(c.isLetterOrNumber() || c == u'-' || c == u'+' || c == u'.') || c.unicode() >= 0x80)
            return text;
    }
    return text.sliced(colon + 1).trimmed();
}

QString component(const QList<QStringView> &parts, qsizetype index)
{
    return index < parts.size() ? OneLine(UnescapeVCardText(parts.at(index))) : QString();
}

QString unescapeVCard(QStringView text, bool allEscapes, const QString *whole = nullptr)
{
    const qsizetype backslash = text.indexOf(u'\\');
    if (backslash < 0)
        return whole ? *whole : text.toString();
    QString out;
    out.reserve(text.size());
    out.append(text.first(backslash));
    for (qsizetype i = backslash; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'\\' || i + 1 >= text.size()) {
            out.append(c);
            continue;
        }
        const QChar next = text.at(i + 1);
        if (next == u'n' || next == u'N') {
            out.append(u'\n');
        } else if (next == u',' || next == u';' || next == u'\\' || allEscapes) {
            out.append(next);
        } else {
            out.append(c);
            continue;
        }
        ++i;
    }
    return out;
}

bool declaresCharset(QByteArrayView header)
{
    static const char word[] = "CHARSET";
    constexpr qsizetype length = sizeof word - 1;
    for (qsizetype i = 0; i + length <= header.size(); ++i) {
        if (header.sliced(i, length).compare(QByteArrayView(word, length), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QByteArrayView headerPart(QByteArrayView line)
{
    const qsizetype colon = line.indexOf(':');
    return colon < 0 ? line : line.first(colon);
}

} // namespace

QString UnescapeVCardText(QStringView text)
{
    return unescapeVCard(text, true);
}

QString UnescapeVCardUri(QStringView text)
{
    return unescapeVCard(text, false);
}

QList<QStringView> SplitVCardComponents(QStringView text)
{
    QList<QStringView> parts;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\\') {
            ++i;
        } else if (c == u';') {
            parts.append(text.sliced(start, i - start));
            start = i + 1;
        }
    }
    parts.append(text.sliced(qMin(start, text.size())));
    return parts;
}

bool UndeclaredVCardTextIsUtf8(QByteArrayView text)
{
    if (IsValidUtf8(text))
        return true;
    bool declared = false;
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = pos;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r')
            ++end;
        const QByteArrayView line = text.sliced(pos, end - pos);
        const bool continuation = !line.isEmpty() && (line.front() == ' ' || line.front() == '\t');
        if (!continuation)
            declared = declaresCharset(headerPart(line));
        if (!declared && !IsValidUtf8(line))
            return false;
        pos = end;
        while (pos < text.size() && (text[pos] == '\n' || text[pos] == '\r'))
            ++pos;
    }
    return true;
}

VCardReader::VCardReader(QByteArrayView text, bool transcoded, bool gb18030)
    : m_scanner(text)
    , m_transcoded(transcoded)
    , m_undeclaredUtf8(!gb18030 && (transcoded || UndeclaredVCardTextIsUtf8(text)))
{
}

bool VCardReader::nextLine(VCardContentLine &line)
{
    if (m_hasPending) {
        line = m_pending;
        m_hasPending = false;
        return true;
    }
    return m_scanner.next(line, m_legacyFolding);
}

bool VCardReader::nextCard(ContactDraft &draft, bool *readable)
{
    draft.reset();
    *readable = true;
    m_labels.clear();
    m_legacyFolding = false;

    VCardContentLine line;
    do {
        if (!nextLine(line))
            return false;
    } while (!isCardMarker(line, VCardProperty::Begin));
    draft.line = line.line;

    bool agentFollows = false;
    int tooLongAt = 0;
    while (nextLine(line)) {
        if (isCardMarker(line, VCardProperty::Begin)) {
            if (!agentFollows) {
                // The card before had no END:VCARD.
                m_pending = line;
                m_hasPending = true;
                break;
            }
            // vCard 2.1 AGENT: a whole card inside this one, passed over.
            int depth = 1;
            while (depth > 0 && nextLine(line)) {
                if (isCardMarker(line, VCardProperty::Begin))
                    ++depth;
                else if (isCardMarker(line, VCardProperty::End))
                    --depth;
            }
            agentFollows = false;
            continue;
        }
        if (isCardMarker(line, VCardProperty::End))
            break;
        agentFollows = line.property == VCardProperty::Agent && trimmedBytes(line.value).isEmpty();
        if (line.tooLong) {
            if (tooLongAt == 0)
                tooLongAt = line.line;
            continue;
        }
        if (line.property == VCardProperty::Version) {
            m_legacyFolding = trimmedBytes(line.value) == "2.1";
            continue;
        }
        take(line, draft);
    }

    if (tooLongAt != 0) {
        *readable = false;
        draft.messages.clear();
        ImportMessage message;
        message.kind = ImportMessage::Kind::LineTooLong;
        message.detailLine = tooLongAt;
        draft.addMessage(message);
        return true;
    }
    finishCard(draft);
    return true;
}

QString VCardReader::decodedValue(const VCardContentLine &line, ContactDraft &draft)
{
    QByteArrayView raw = line.value;
    QByteArray decoded;
    const bool quotedPrintable = line.parameters.encoding == VCardParameters::Encoding::QuotedPrintable;
    if (quotedPrintable) {
        decoded = DecodeQuotedPrintable(raw);
        raw = decoded;
    }
    const QByteArrayView charset = line.parameters.charset;
    if (!charset.isEmpty() && (quotedPrintable || !m_transcoded)) {
        QString text;
        if (!m_decoders.decode(raw, charset, &text)) {
            ImportMessage message;
            message.kind = ImportMessage::Kind::UnknownCharset;
            message.label = QString::fromLatin1(charset);
            message.detailLine = line.line;
            draft.addMessage(message);
        }
        return text;
    }
    if (m_transcoded && !quotedPrintable)
        return DecodeUtf8(raw);
    return DecodeUtf8OrGb18030(raw, m_undeclaredUtf8);
}

void VCardReader::take(const VCardContentLine &line, ContactDraft &draft)
{
    if (line.valueSkipped) {
        if (line.parameters.encoding == VCardParameters::Encoding::Base64 && mapsToText(line.property)) {
            ImportMessage message;
            message.kind = ImportMessage::Kind::EncodedValueDropped;
            message.label = QString::fromLatin1(line.name).toUpper();
            message.detailLine = line.line;
            draft.addMessage(message);
        }
        return;
    }
    const QString value = decodedValue(line, draft);
    const int rank = rankOf(line.parameters);
    const auto text = [&] { return OneLine(unescapeVCard(value, true, &value)); };
    const auto uri = [&] { return OneLine(unescapeVCard(value, false, &value)); };
    const auto add = [&](int field, QString text, const char *label, int valueRank) {
        DraftValue made;
        made.text = std::move(text);
        made.label = QString::fromLatin1(label);
        made.rank = valueRank;
        made.order = draft.nextOrder();
        draft.add(field, std::move(made));
    };

    switch (line.property) {
    case VCardProperty::FN:
        add(1, text(), "FN", rank);
        break;
    case VCardProperty::N:
        if (draft.structuredName.isEmpty()) {
            const QList<QStringView> parts = SplitVCardComponents(value);
            NameParts name;
            name.family = component(parts, 0);
            name.given = component(parts, 1);
            name.additional = component(parts, 2);
            name.prefix = component(parts, 3);
            name.suffix = component(parts, 4);
            draft.structuredName = name.joined();
        }
        break;
    case VCardProperty::Title:
        add(2, text(), "TITLE", rank);
        break;
    case VCardProperty::Role:
        add(2, text(), "ROLE", NoRank);
        break;
    case VCardProperty::Org: {
        const QList<QStringView> parts = SplitVCardComponents(value);
        QString joined;
        for (qsizetype i = 0; i < parts.size(); ++i) {
            const QString part = component(parts, i);
            if (part.isEmpty())
                continue;
            if (!joined.isEmpty())
                joined += u' ';
            joined += part;
        }
        add(3, joined, "ORG", rank);
        break;
    }
    case VCardProperty::Adr: {
        const QList<QStringView> parts = SplitVCardComponents(value);
        AddressParts address;
        address.poBox = component(parts, 0);
        address.extended = component(parts, 1);
        address.street = component(parts, 2);
        address.locality = component(parts, 3);
        address.region = component(parts, 4);
        address.postcode = component(parts, 5);
        address.country = component(parts, 6);
        DraftValue made;
        made.text = address.joined();
        made.postcode = address.postcode;
        made.label = QStringLiteral("ADR");
        made.rank = rank;
        made.order = draft.nextOrder();
        draft.add(4, std::move(made));
        break;
    }
    case VCardProperty::Label: {
        DraftValue made;
        made.text = text();
        made.label = QStringLiteral("LABEL");
        made.rank = rank;
        made.order = draft.nextOrder();
        if (!made.text.isEmpty() && m_labels.size() < 64)
            m_labels.push_back(std::move(made));
        break;
    }
    case VCardProperty::Tel: {
        const int field = line.parameters.fax ? 6 : line.parameters.cell ? 7 : 5;
        add(field, withoutPrefix(uri(), {"tel:"}), "TEL", rank);
        break;
    }
    case VCardProperty::Url:
        add(9, uri(), "URL", rank);
        break;
    case VCardProperty::XQQ:
        add(10, withoutPrefix(uri(), {"x-qq:", "qq:"}), "X-QQ", rank);
        break;
    case VCardProperty::XMsn:
        add(11, withoutPrefix(uri(), {"msnim:", "msn:"}), "X-MSN", rank);
        break;
    case VCardProperty::XMsImAddress:
        add(11, withoutPrefix(uri(), {"msnim:", "msn:"}), "X-MS-IMADDRESS", rank);
        break;
    case VCardProperty::Impp: {
        const QString address = uri();
        bool found = false;
        QString bare = withoutPrefix(address, {"x-qq:", "qq:"}, &found);
        if (found) {
            add(10, bare, "IMPP", rank);
            break;
        }
        bare = withoutPrefix(address, {"msnim:", "msn:"}, &found);
        if (found) {
            add(11, bare, "IMPP", rank);
            break;
        }
        const QByteArrayView service = line.parameters.serviceType;
        if (service.compare("QQ", Qt::CaseInsensitive) == 0) {
            add(10, withoutAnyScheme(address), "IMPP", rank);
        } else if (service.compare("MSN", Qt::CaseInsensitive) == 0) {
            add(11, withoutAnyScheme(address), "IMPP", rank);
        } else {
            DraftValue made;
            made.text = address;
            made.label = QStringLiteral("IMPP");
            made.order = draft.nextOrder();
            draft.addExtra(std::move(made));
        }
        break;
    }
    case VCardProperty::EMail:
        add(12, withoutPrefix(text(), {"mailto:"}), "EMAIL", rank);
        break;
    case VCardProperty::Note:
        add(13, text(), "NOTE", rank);
        break;
    case VCardProperty::Nickname:
    case VCardProperty::Bday:
    case VCardProperty::Anniversary: {
        DraftValue made;
        made.text = text();
        made.label = QString::fromLatin1(line.name).toUpper();
        made.order = draft.nextOrder();
        draft.addExtra(std::move(made));
        break;
    }
    case VCardProperty::Uid:
        if (draft.uid.isEmpty())
            draft.uid = text().trimmed();
        break;
    case VCardProperty::Other:
    case VCardProperty::Begin:
    case VCardProperty::End:
    case VCardProperty::Version:
    case VCardProperty::Agent:
        break;
    }
}

void VCardReader::finishCard(ContactDraft &draft)
{
    if (!draft.candidates[3].empty())
        return; // LABEL only stands in for a missing ADR
    for (DraftValue &label : m_labels)
        draft.add(4, std::move(label));
    m_labels.clear();
}

} // namespace kelvo::exchange
