#include "CsvReader.h"

#include "ExchangeLimits.h"
#include "FieldNames.h"
#include "TextDecoding.h"

#include <map>

namespace kelvo::exchange {

namespace {

using Kind = CsvColumn::Kind;
using P = CsvColumn::Part;
using G = CsvColumn::GoogleKind;

// Google joins several values of one cell with " ::: ".
const QString GoogleSeparator = QStringLiteral(" ::: ");

bool isBlankRecord(const CsvRecord &record)
{
    for (const QString &cell : record.cells) {
        if (!OneLine(cell).isEmpty())
            return false;
    }
    return true;
}

struct AddressGroup
{
    AddressParts parts;
    QString streets[3];
    QString formatted;
    int order = -1;
    int rank = Rank::Other;
    QString label;

    DraftValue value() const
    {
        AddressParts joined = parts;
        bool cjk = false;
        for (const QString &street : streets)
            cjk = cjk || ContainsCjk(street);
        for (const QString &street : streets) {
            if (street.isEmpty())
                continue;
            if (!joined.street.isEmpty() && !cjk)
                joined.street += u' ';
            joined.street += street;
        }
        DraftValue made;
        made.text = joined.joined();
        if (made.text.isEmpty())
            made.text = formatted;
        made.postcode = joined.postcode;
        made.label = label;
        made.rank = rank;
        made.order = order;
        return made;
    }
};

// A numbered Google group ("Phone 2 - Type", "Phone 2 - Value").
struct GoogleGroup
{
    int kind = 0;
    int number = 0;
    int order = -1;
    QString type;
    QString service;
    QStringList values;
    QString valueLabel;
    AddressGroup address;
    QString orgName, orgTitle;
    std::vector<DraftValue> extras;
};

void setAddressPart(AddressGroup &group, int part, const QString &value)
{
    switch (part) {
    case P::Street:
        group.streets[0] = value;
        break;
    case P::Street2:
        group.streets[1] = value;
        break;
    case P::Street3:
        group.streets[2] = value;
        break;
    case P::City:
        group.parts.locality = value;
        break;
    case P::Region:
        group.parts.region = value;
        break;
    case P::Postcode:
        group.parts.postcode = value;
        break;
    case P::Country:
        group.parts.country = value;
        break;
    case P::PoBox:
        group.parts.poBox = value;
        break;
    case P::Extended:
        group.parts.extended = value;
        break;
    case P::Formatted:
        group.formatted = value;
        break;
    default:
        break;
    }
}

int googleRank(const QString &type)
{
    if (type.startsWith(u'*'))
        return Rank::Preferred;
    return type.contains(QLatin1String("work"), Qt::CaseInsensitive) ? Rank::Work : Rank::Other;
}

DraftValue valueOf(QString text, QString label, int rank, int order)
{
    DraftValue made;
    made.text = std::move(text);
    made.label = std::move(label);
    made.rank = rank;
    made.order = order;
    return made;
}

void addGoogleGroup(const GoogleGroup &group, ContactDraft &draft)
{
    const int rank = googleRank(group.type);
    const QString type = group.type.startsWith(u'*') ? group.type.sliced(1).trimmed() : group.type;
    const auto addValues = [&](int field) {
        for (qsizetype i = 0; i < group.values.size(); ++i) {
            if (i == 0 && field > 0)
                draft.add(field, valueOf(group.values.at(i), group.valueLabel, rank, group.order));
            else
                draft.addExtra(valueOf(group.values.at(i), group.valueLabel, rank, group.order + int(i)));
        }
    };
    switch (group.kind) {
    case G::Phone: {
        int field = 5;
        if (type.contains(QLatin1String("fax"), Qt::CaseInsensitive))
            field = 6;
        else if (type.contains(QLatin1String("mobile"), Qt::CaseInsensitive)
                 || type.contains(QLatin1String("cell"), Qt::CaseInsensitive))
            field = 7;
        addValues(field);
        break;
    }
    case G::EMail:
        addValues(12);
        break;
    case G::Website:
        addValues(9);
        break;
    case G::Im: {
        const QString service = group.service.isEmpty() ? type : group.service;
        if (service.compare(QLatin1String("QQ"), Qt::CaseInsensitive) == 0)
            addValues(10);
        else if (service.contains(QLatin1String("MSN"), Qt::CaseInsensitive)
                 || service.contains(QLatin1String("Windows Live"), Qt::CaseInsensitive))
            addValues(11);
        else
            addValues(0);
        break;
    }
    case G::AddressGroup: {
        AddressGroup address = group.address;
        address.rank = rank;
        address.order = group.order;
        address.label = QStringLiteral("Address %1").arg(group.number);
        draft.add(4, address.value());
        break;
    }
    case G::Organization:
        draft.add(
            3, valueOf(group.orgName, QStringLiteral("Organization %1 - Name").arg(group.number), rank, group.order));
        draft.add(
            2, valueOf(group.orgTitle, QStringLiteral("Organization %1 - Title").arg(group.number), rank, group.order));
        break;
    case G::Event:
    case G::Relation:
    case G::CustomField: {
        static const char *const names[] = {"", "", "", "", "", "", "Event", "Relation", "Custom Field"};
        const QString label = type.isEmpty() ? QString::fromLatin1(names[group.kind]) : type;
        for (qsizetype i = 0; i < group.values.size(); ++i)
            draft.addExtra(valueOf(group.values.at(i), label, rank, group.order + int(i)));
        break;
    }
    default:
        break;
    }
    for (const DraftValue &extra : group.extras)
        draft.addExtra(extra);
}

} // namespace

QString UnknownCsvHeaderMessage(const QStringList &cells)
{
    QStringList names;
    for (const QString &cell : cells)
        names.append(u'"' + cell.trimmed() + u'"');
    QStringList fields;
    for (int n = 1; n <= 13; ++n)
        fields.append(QStringLiteral("%1 %2").arg(n).arg(EnglishFieldName(n)));
    return QStringLiteral("the CSV header is not one Kelvo knows (Kelvo, Google Contacts, Outlook, Thunderbird); "
                          "its columns are: %1.\n"
                          "Name the field of each column with --map \"COLUMN=N\" (N: %2; 0 passes a column over), "
                          "or take the columns in field order with --no-header.")
        .arg(names.join(QStringLiteral(", ")), fields.join(QStringLiteral(", ")));
}

CsvReader::CsvReader(QByteArrayView bytes, CsvOptions options)
    : m_options(std::move(options))
{
    const ByteOrderMark mark = DetectByteOrderMark(bytes);
    m_fileSize = bytes.size();
    if (mark == ByteOrderMark::Utf16LE || mark == ByteOrderMark::Utf16BE) {
        m_converted = ToUtf8WithoutMark(bytes);
        m_text = m_converted;
        m_textOffset = -1;
    } else if (mark == ByteOrderMark::Utf8) {
        m_text = bytes.sliced(3);
        m_textOffset = 3;
    } else if (mark == ByteOrderMark::Gb18030) {
        m_converted = DecodeGb18030(bytes.sliced(4)).toUtf8();
        m_text = m_converted;
        m_textOffset = -1;
    } else if (IsValidUtf8(bytes)) {
        m_text = bytes;
    } else {
        m_converted = DecodeGb18030(bytes).toUtf8(); // what Chinese Excel writes
        m_text = m_converted;
        m_textOffset = -1;
    }
}

qsizetype CsvReader::bytesDone() const
{
    if (m_textOffset < 0 || !m_parser)
        return m_textOffset < 0 ? m_fileSize : 0;
    return m_textOffset + m_hintLength + m_parser->position();
}

bool CsvReader::start(QString *error)
{
    qsizetype hintLength = 0;
    const char delimiter = DetectCsvDelimiter(m_text, &hintLength);
    m_hintLength = hintLength;
    m_parser = std::make_unique<CsvParser>(m_text.sliced(hintLength), delimiter);

    CsvRecord first;
    bool found = false;
    while (!found && m_parser->next(first))
        found = first.broken || !isBlankRecord(first);
    if (!found) {
        m_header = FieldOrderHeader(13); // no record at all: no card either
        return true;
    }
    if (m_options.noHeader) {
        m_header = FieldOrderHeader(int(qMax<qsizetype>(first.cells.size(), 13)));
        m_first = first;
        m_hasFirst = true;
        return ApplyCsvColumnMaps(m_header, m_options.maps, error);
    }
    m_header.names = first.cells; // what a refusal lists
    if (first.broken) {
        ImportMessage problem;
        problem.kind = first.problem;
        problem.detailLine = first.problemLine;
        problem.count = MaxCsvColumns;
        *error = QStringLiteral("the CSV header cannot be read: %1").arg(problem.text());
        return false;
    }
    if (std::optional<CsvHeader> known = RecognizeCsvHeader(first.cells)) {
        m_header = std::move(*known);
    } else if (!m_options.maps.empty()) {
        m_header = UnknownHeader(first.cells);
    } else {
        *error = UnknownCsvHeaderMessage(first.cells);
        return false;
    }
    return ApplyCsvColumnMaps(m_header, m_options.maps, error);
}

bool CsvReader::nextCard(ContactDraft &draft, bool *readable)
{
    draft.reset();
    *readable = true;
    CsvRecord record;
    while (true) {
        if (m_hasFirst) {
            record = std::move(m_first);
            m_hasFirst = false;
        } else if (!m_parser || !m_parser->next(record)) {
            return false;
        }
        if (record.broken || !isBlankRecord(record))
            break;
    }
    draft.line = record.line;
    if (record.broken) {
        *readable = false;
        ImportMessage message;
        message.kind = record.problem;
        message.detailLine = record.problemLine;
        message.count = record.problem == ImportMessage::Kind::TooManyColumns ? MaxCsvColumns : 0;
        draft.addMessage(message);
        return true;
    }
    fillDraft(record, draft);
    return true;
}

void CsvReader::fillDraft(const CsvRecord &record, ContactDraft &draft) const
{
    const bool google = m_header.layout == CsvLayout::Google;
    NameParts name;
    // Address groups: work, home, other, and one of address and postcode
    // columns of their own.
    constexpr int FieldGroup = 3;
    AddressGroup addresses[4];
    bool addressUsed[4] = {};
    std::map<std::pair<int, int>, GoogleGroup> groups;
    QStringList values;

    for (qsizetype i = 0; i < record.cells.size(); ++i) {
        CsvColumn column;
        QString label;
        if (i < qsizetype(m_header.columns.size())) {
            column = m_header.columns[size_t(i)];
            label = m_header.names.value(i);
        }
        if (label.isEmpty())
            label = QStringLiteral("column %1").arg(i + 1);
        if (column.kind == Kind::Ignore)
            continue;
        values.clear();
        if (google) {
            for (const QString &piece : record.cells.at(i).split(GoogleSeparator)) {
                const QString value = OneLine(piece);
                if (!value.isEmpty())
                    values.append(value);
            }
        } else {
            QString value = OneLine(record.cells.at(i));
            if (!value.isEmpty())
                values.append(std::move(value));
        }
        if (values.isEmpty())
            continue;
        const int order = int(i) * 64;
        const QString &first = values.first();
        for (qsizetype k = 1; k < values.size() && column.kind != Kind::GoogleGroup; ++k)
            draft.addExtra(valueOf(values.at(k), label, Rank::Other, order + int(k)));

        switch (column.kind) {
        case Kind::Ignore:
            break;
        case Kind::Extra:
            draft.addExtra(valueOf(first, label, Rank::Other, order));
            break;
        case Kind::Field:
            if (column.field == 4 || column.field == 8) {
                // An address or a postcode of its own column: one address.
                AddressGroup &group = addresses[FieldGroup];
                addressUsed[FieldGroup] = true;
                setAddressPart(group, column.field == 4 ? P::Formatted : P::Postcode, first);
                if (group.order < 0 || order < group.order)
                    group.order = order;
                group.label = label;
                group.rank = column.rank;
            } else {
                draft.add(column.field, valueOf(first, label, column.rank, order));
            }
            break;
        case Kind::FullName:
            draft.add(1, valueOf(first, label, column.rank, order));
            break;
        case Kind::Given:
            name.given = first;
            break;
        case Kind::Additional:
            name.additional = first;
            break;
        case Kind::Family:
            name.family = first;
            break;
        case Kind::Suffix:
            name.suffix = first;
            break;
        case Kind::Address: {
            const int index = qBound(0, column.group, 2);
            AddressGroup &group = addresses[index];
            addressUsed[index] = true;
            setAddressPart(group, column.part, first);
            if (group.order < 0)
                group.order = order;
            group.rank = column.rank;
            group.label = column.groupLabel.isEmpty() ? label : column.groupLabel;
            break;
        }
        case Kind::GoogleGroup: {
            GoogleGroup &group = groups[{column.googleKind, column.group}];
            group.kind = column.googleKind;
            group.number = column.group;
            if (group.order < 0 || order < group.order)
                group.order = order;
            switch (column.part) {
            case P::GroupType:
                group.type = first;
                break;
            case P::GroupService:
                group.service = first;
                break;
            case P::GroupValue:
                group.values = values;
                group.valueLabel = label;
                break;
            case P::OrgName:
                group.orgName = first;
                break;
            case P::OrgTitle:
                group.orgTitle = first;
                break;
            case P::OrgDepartment:
            case P::PartExtra:
                for (qsizetype k = 0; k < values.size(); ++k)
                    group.extras.push_back(valueOf(values.at(k), label, Rank::Other, order + int(k)));
                break;
            case P::PartIgnored:
                break;
            default:
                setAddressPart(group.address, column.part, first);
                break;
            }
            break;
        }
        }
    }

    draft.structuredName = name.joined();
    for (int index = 0; index < 4; ++index) {
        if (addressUsed[index])
            draft.add(4, addresses[index].value()); // an empty one is not added
    }
    for (const auto &[id, group] : groups) {
        (void)id;
        addGoogleGroup(group, draft);
    }
}

} // namespace kelvo::exchange
