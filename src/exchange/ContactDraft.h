#pragma once

#include "ImportMessage.h"

#include <QString>

#include <array>
#include <vector>

namespace kelvo::exchange {

// How strongly a value asks to be the one a field keeps: of several values
// for one field, the lowest rank wins, then the first in the file.
namespace Rank {
enum : int {
    Preferred = 0, // PREF, pref=1, a starred Google value
    Work = 1,      // TYPE=WORK, a business column
    Other = 2,
    LastResort = 3, // pager, assistant's phone and the like
};
}

struct DraftValue
{
    QString text;
    // The postal code that came with an address (field 8 follows field 4).
    QString postcode;
    // How the value is named in field 13 when it lands there: "TEL", "EMAIL",
    // a CSV column name.
    QString label;
    int rank = Rank::Other;
    int order = 0; // position within the card, in file order
};

// What a reader found for one card, before the fields are chosen: every
// candidate value for each field, the values that have no field of their
// own, and the report lines so far.
class ContactDraft
{
public:
    int line = 0; // where the card begins in its file

    // candidates[n - 1]: the values for field n. Field 8 (postcode) has none
    // of its own: it takes the postcode of the address chosen for field 4.
    std::array<std::vector<DraftValue>, 13> candidates;
    // The name built from name parts (vCard N, CSV first and last name
    // columns); used when no value names the whole name.
    QString structuredName;
    std::vector<DraftValue> extras;
    // The card's UID (vCard), as written; empty when it has none.
    QString uid;
    ImportMessages messages;
    // Values not kept because the card already held MaxValuesPerCard.
    int valuesOverBound = 0;

    // Adds a value for field n (1..13); empty values are ignored.
    void add(int n, DraftValue value);
    // Adds a value that has no field of its own; empty values are ignored.
    void addExtra(DraftValue value);
    void addMessage(ImportMessage message);

    int nextOrder() { return m_order++; }

    // Empties the draft for the next card, keeping what it allocated.
    void reset();

private:
    bool roomFor(const std::vector<DraftValue> &values);

    int m_order = 0;
};

// The parts of a person's name; Name() joins them the way the card shows a
// name: without blanks when any part holds CJK text (family name first),
// else given name first with one blank between the parts.
struct NameParts
{
    QString prefix, given, additional, family, suffix;

    QString joined() const;
};

// An address as components; joined() follows the same rule as NameParts
// (CJK: country down to PO box without blanks; else PO box up to country with
// blanks). The postal code is kept apart.
struct AddressParts
{
    QString poBox, extended, street, locality, region, postcode, country;

    QString joined() const;
    bool isEmpty() const { return joined().isEmpty() && postcode.isEmpty(); }
};

} // namespace kelvo::exchange
