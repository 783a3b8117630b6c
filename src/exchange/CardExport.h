#pragma once

#include "VCardWriter.h"

#include "CardTree.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <vector>

namespace kelvo::exchange {

enum class ExportFormat { VCard30, VCard40, Csv };

// Every card of the tree, in absolute order.
std::vector<const CardNode *> AllCards(const CardTree &tree);
// The first card class labelled `label` in absolute order (at any depth),
// or nullptr.
const CardNode *FirstClassLabelled(const CardTree &tree, QByteArrayView label);
// `node` itself when it is a card; for a card class every card below it, in
// absolute order.
std::vector<const CardNode *> CardsAt(const CardNode *node);

// The UID a card's vCard carries (its permanent identity), or empty.
using CardUid = std::function<QString(const CardNode *card)>;

// The file of `cards` in `format`. A vCard's CATEGORIES is the label of the
// card class holding it; its UID is `uidOf`'s answer, when given.
QByteArray ExportCards(const std::vector<const CardNode *> &cards, ExportFormat format, const CardUid &uidOf = {});

// The file name a dragged node becomes: its label (decoded) with ".vcf",
// characters a file name cannot hold replaced by "_"; "名片.vcf" for an empty
// label.
QString VCardFileNameFor(const CardNode &node);

} // namespace kelvo::exchange
