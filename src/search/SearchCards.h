#pragma once

#include "CardTree.h"
#include "MessagePump.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QLocale>
#include <QString>

#include <array>
#include <vector>

namespace kelvo {

// One row of the search result list: the folded texts of the card's thirteen
// fields as they were at search time (Texts[0] is field 1, the name), and the
// card it stands for. Card and Node are references into the card tree, not
// copies; the window sets Card to nullptr (or drops the row) when the card is
// deleted, and nothing reads through a null Card.
struct TResultRow
{
    std::array<QByteArray, 13> Texts;
    const kelvo::TCardData *Card = nullptr;
    const kelvo::CardNode *Node = nullptr;
};

// Which fields the condition is matched against; index 0 is field 1.
using FieldSelection = std::array<bool, 13>;

// Field 1 (the name) alone: the selection the search window starts with.
FieldSelection DefaultFieldSelection();

struct SearchOutcome
{
    // The condition was empty after trimming: no search ran, rows is empty
    // and condition is empty.
    bool emptyCondition = false;
    // Result rows in result-list order (ascending by name).
    std::vector<TResultRow> rows;
    // The folded condition, the entry offered to the condition history.
    QByteArray condition;

    int count() const { return static_cast<int>(rows.size()); }
};

// Finds every card (Kind 1) of the tree with at least one selected field
// whose folded value contains the folded condition. A hit must start and end
// on character boundaries of the field. Card classes never yield rows. Rows
// are ordered by their first text with the collation of `locale`
// (case-sensitive), rows with an empty name first, equal names in tree order.
//
// `pump` runs on the calling thread once per node it visits, so the windows
// stay painted during a long search; the caller must make sure nothing
// changes the tree meanwhile. A large tree is searched by the calling thread
// and one helper thread together (see CardScan.h), with the same rows in the
// same order.
SearchOutcome SearchCards(const CardTree &tree, QByteArrayView condition, const FieldSelection &fields,
                          MessagePump &pump = NoMessagePump());
SearchOutcome SearchCards(const CardTree &tree, QByteArrayView condition, const FieldSelection &fields,
                          const QLocale &locale, MessagePump &pump = NoMessagePump());

// The cards a search finds, in result-list order, without their rows' texts:
// for callers that render the rows themselves (kelvo-tool search) or fold
// them when they are shown. The same cards, in the same order, as the rows
// of SearchCards.
struct FoundCard
{
    const CardNode *Node = nullptr;
    const TCardData *Card = nullptr;
};

struct FoundCards
{
    bool emptyCondition = false;
    std::vector<FoundCard> cards;
    QByteArray condition; // folded

    int count() const { return static_cast<int>(cards.size()); }
};

FoundCards FindCards(const CardTree &tree, QByteArrayView condition, const FieldSelection &fields,
                     const QLocale &locale, MessagePump &pump = NoMessagePump());

// The row of `card` as a search makes it: its thirteen folded texts (sharing
// one block), the card and its node.
TResultRow MakeResultRow(const CardNode *node, const TCardData &card);

// Orders rows as the result list keeps them (see SearchCards); stable.
void SortResultRows(std::vector<TResultRow> &rows, const QLocale &locale = QLocale());

// "共找到N张名片。", the status line after a search with N rows.
QString FoundCardsStatusText(int count);

// The conditions searched for so far, in the order they were first used.
class ConditionHistory
{
public:
    // Appends the folded condition unless an entry equals it without regard
    // to case. Returns true when it was appended. An empty condition is
    // never added.
    bool add(QByteArrayView foldedCondition);
    bool contains(QByteArrayView condition) const;

    const QList<QByteArray> &entries() const { return m_entries; }
    int size() const { return static_cast<int>(m_entries.size()); }

private:
    QList<QByteArray> m_entries;
};

} // namespace kelvo
