#pragma once

#include "ContactDraft.h"

#include "CardTree.h"

#include <QString>

#include <array>

namespace kelvo::exchange {

using CardTexts = std::array<QString, 13>; // index 0 is field 1

// Chooses the thirteen fields of a card from what its reader found:
// - of several values for a field, the lowest rank wins, then the first in
//   the file; the others become extra values;
// - field 8 is the postcode of the address chosen for field 4;
// - without a value for the whole name, the name is built from the name parts,
//   else taken from the company, else from the e-mail, else from the first
//   telephone number; a card with text but no name is named "<新名片>";
// - extra values are appended to field 13, in file order, as "LABEL: value"
//   separated by "; ", while the field stays within 255 bytes; each one that
//   does not fit gets a report line.
// Returns false, with a report line, when the card holds no text at all.
bool AssembleCard(ContactDraft &draft, CardTexts *texts);

// The node of an imported card: every field stored as GB18030 (cut at 255
// bytes after the last whole character, with a report line for each cut
// field), the label equal to the stored name, display indexes 1.
NewCardNode MakeImportedCardNode(const CardTexts &texts, int line, ImportMessages &messages);

// Length of `text` in GB18030 bytes.
qsizetype Gb18030Length(QStringView text);

} // namespace kelvo::exchange
