#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace kelvo::exchange {

// The CSV layouts the import knows by their header.
enum class CsvLayout {
    Kelvo,              // the thirteen result-list captions, what the export writes
    Google,             // Google Contacts, older ("Given Name") and newer ("First Name") columns
    Outlook,            // Outlook, English column names
    OutlookChinese,     // Outlook, Chinese column names ("头衔" is the salutation)
    Thunderbird,        // Thunderbird, English column names
    ThunderbirdChinese, // Thunderbird, Chinese column names
    ByHand,             // no known header: columns mapped with --map
    NoHeader,           // --no-header: the columns in field order
};

QString CsvLayoutName(CsvLayout layout);

// What one column holds.
struct CsvColumn
{
    enum class Kind {
        Ignore,   // passed over (sensitivity, phonetic names, group labels, ...)
        Extra,    // a value with no field of its own: appended to field 13
        Field,    // field `field`, directly
        FullName, // the whole name (field 1)
        Given,    // name parts, used when there is no whole name
        Additional,
        Family,
        Suffix,
        Address,     // part `part` of address group `group`
        GoogleGroup, // part `part` of Google's numbered group `googleKind` `group`
    };
    enum Part {
        Street,
        Street2,
        Street3,
        City,
        Region,
        Postcode,
        Country,
        PoBox,
        Extended,
        Formatted,
        // Google groups
        GroupType,
        GroupValue,
        GroupService,
        OrgName,
        OrgTitle,
        OrgDepartment,
        PartIgnored,
        PartExtra,
    };
    enum GoogleKind { EMail, Phone, AddressGroup, Organization, Website, Im, Event, Relation, CustomField, OtherGroup };

    Kind kind = Kind::Extra;
    int field = 0;
    int rank = 2;
    int group = 0;
    int part = 0;
    int googleKind = 0;
    QString groupLabel; // how an address group is named when it lands in field 13
};

struct CsvHeader
{
    CsvLayout layout = CsvLayout::ByHand;
    QStringList names;              // the header's cells, trimmed (labels of extra values)
    std::vector<CsvColumn> columns; // one per header cell
};

// Recognises a header: a header made only of Kelvo's captions (any subset,
// any order, blank cells aside) is Kelvo's; otherwise the known layout with
// the most matching columns, provided at least two and at least half of the
// non-blank cells match. Nothing for an unknown header.
std::optional<CsvHeader> RecognizeCsvHeader(const QStringList &cells);

// The columns in field order (1 to 13; further columns are extra values
// named "column N").
CsvHeader FieldOrderHeader(int columns);

// A header no layout knows: every column is an extra value until --map
// names its field.
CsvHeader UnknownHeader(const QStringList &cells);

// "COLUMN=N": the column named COLUMN (any letter case), or numbered COLUMN
// (from 1), holds field N (1..13; 0 passes the column over).
struct CsvColumnMap
{
    QString column;
    int field = 0;
};

// Parses "COLUMN=N"; nothing when it is not of that shape.
std::optional<CsvColumnMap> ParseCsvColumnMap(const QString &text);

// Applies the maps to `header`; false, with `*error` naming the map, when a
// column is neither named nor numbered so.
bool ApplyCsvColumnMaps(CsvHeader &header, const std::vector<CsvColumnMap> &maps, QString *error);

} // namespace kelvo::exchange
