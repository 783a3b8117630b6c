#pragma once

#include "CardData.h"

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

namespace kelvo {

class CardTree;
class CardNode;

// Fixed labels, as GB18030 bytes.
QByteArray ReservedCardClassLabel(); // "未分类的名片"
QByteArray NewCardLabel();           // "<新名片>"
QByteArray NewCardClassLabel();      // "<新类别>"

// A node is the reserved card class when its label equals "未分类的名片" byte
// for byte (no trimming, whatever its kind).
bool IsReservedCardClass(const CardNode *node);

// A new card: Kind 1, Name "<新名片>", other fields empty, Created 0. The
// caller sets display indexes 1, 1, 1, 1 on its node.
std::unique_ptr<TCardData> MakeCardRecord();
// A new card class: Kind 0, Name "<新类别>", other fields empty, Created 0.
// The caller sets display indexes 0, 0, 0, 0 on its node.
std::unique_ptr<TCardData> MakeCardClassRecord();

// Replaces the whole tree by the default tree: the reserved card class alone,
// first top-level node, Created = now, image 0 (other indexes 0, -1, -1).
void CreateDefaultTree(CardTree &tree);
// Releases the record of every node (final shutdown). Nodes stay.
void FreeAllCardData(CardTree &tree);

// Current local date and time as days since 1899-12-30 00:00.
double CurrentDateTimeStamp();

} // namespace kelvo
