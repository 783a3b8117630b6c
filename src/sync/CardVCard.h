#pragma once

#include "CardData.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QSet>
#include <QString>
#include <QStringList>

#include <array>

namespace kelvo::sync {

// What the sync carries of a card: its thirteen fields (decoded, exactly as
// the card stores them) and the labels of its card classes from the top
// level down. A card of the reserved class, or of no class, has the reserved
// class's path, which goes to the server as no category.
struct CardContent
{
    std::array<QString, Field::Count> fields; // fields[0] is the name
    QStringList classPath;

    bool operator==(const CardContent &) const = default;
};

// The label of the reserved class, decoded ("未分类的名片").
QString ReservedClassName();
// The class that holds conflict copies and is never synced ("同步冲突").
QString ConflictClassName();

// The hash of a card's content (what decides whether it changed since the
// last sync).
QByteArray ContentHash(const CardContent &content);

// A server resource read for the sync.
struct ServerCard
{
    bool readable = false; // a vCard with at least one text Kelvo keeps
    bool group = false;    // KIND:group or X-ADDRESSBOOKSERVER-KIND:group
    QString uid;
    QStringList categories; // CATEGORIES, in order, unescaped
    CardContent content;
    QString problem; // why it is not readable
};

// Reads a server copy with the import's vCard reader: the thirteen fields as
// an imported card stores them, but without the values that have no field
// of their own (a second phone, BDAY, ...): those stay on the server copy,
// so they are not copied into field 13. The class is the first category
// naming a class in `knownClasses` (paths joined with "/"), else the first
// category, else the reserved class.
ServerCard ReadServerCard(QByteArrayView vcard, const QSet<QString> &knownClasses);

// The categories value for a class path ("A/B"); empty for the reserved class.
QString CategoryOf(const QStringList &classPath);

// A new vCard for a card (3 or 4): the export's lines, CATEGORIES and UID.
QByteArray MakeVCard(const CardContent &content, const QString &uid, int version);

// Patches the server copy `base` (whose content, as ReadServerCard gives it,
// is `baseContent`) so that it carries `content`: only the properties of the
// fields that differ and the category are rewritten; every other line stays
// byte for byte. A base without a UID gets `uid`. An unreadable base gives a
// new vCard.
QByteArray PatchVCard(QByteArrayView base, const CardContent &baseContent, const CardContent &content,
                      const QString &uid);

// The raw lines of a vCard, unfolded only to find their names: used by the
// patcher and its tests.
struct RawLine
{
    QByteArray bytes; // as in the file, folding and line end included
    QByteArray group; // "item1" of "item1.TEL", empty when none
    QByteArray name;  // upper-cased property name without its group
    QByteArray params; // upper-cased parameters text after the name (";TYPE=CELL")
    QByteArray value;  // unfolded value
};
QList<RawLine> SplitRawLines(QByteArrayView vcard);

} // namespace kelvo::sync
