// Searches cards made of arbitrary bytes and checks every answer against a
// plain, slow matcher and the search shared between threads against the
// search of one thread; then renders all exports of the rows found.
#include "CardRecords.h"
#include "CardScan.h"
#include "CardTree.h"
#include "Folding.h"
#include "Gb18030.h"
#include "NameOrder.h"
#include "ReferenceSearch.h"
#include "ResultExport.h"
#include "SearchCards.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace kelvo;
using kelvo::test::plainContains;

// Input: two bytes of field selection, one byte of condition length, the
// condition, then field texts separated by 0x0A; every 13 texts make a card.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 3 || size > 64 * 1024)
        return 0;
    const char *bytes = reinterpret_cast<const char *>(data);
    FieldSelection fields{};
    for (int i = 0; i < 13; ++i)
        fields[static_cast<size_t>(i)] = ((data[i / 8] >> (i % 8)) & 1) != 0;
    const qsizetype conditionLength = qMin<qsizetype>(data[2], qsizetype(size) - 3);
    const QByteArrayView condition(bytes + 3, conditionLength);
    std::vector<QByteArrayView> texts;
    const QByteArrayView rest(bytes + 3 + conditionLength, qsizetype(size) - 3 - conditionLength);
    for (qsizetype start = 0; start <= rest.size();) {
        qsizetype end = rest.indexOf('\n', start);
        if (end < 0)
            end = rest.size();
        texts.push_back(rest.sliced(start, end - start));
        start = end + 1;
    }

    CardTree tree;
    CardNode *cardClass = tree.addTopLevel("x", MakeCardClassRecord());
    std::vector<CardNode *> cards;
    for (size_t first = 0; first < texts.size(); first += 13) {
        auto record = MakeCardRecord();
        for (size_t n = 0; n < 13 && first + n < texts.size(); ++n)
            record->setField(int(n) + 1, texts[first + n]);
        cards.push_back(tree.addChild(cardClass, record->name().toByteArray(), std::move(record)));
    }

    const SearchOutcome outcome = SearchCards(tree, condition, fields, QLocale::c());
    if (outcome.emptyCondition != gb18030::trimmed(condition).isEmpty())
        std::abort();
    int expected = 0;
    for (CardNode *node : cards) {
        bool hit = false;
        for (int n = 1; n <= 13 && !outcome.emptyCondition; ++n)
            hit = hit || (fields[size_t(n - 1)] && plainContains(node->data()->field(n), outcome.condition));
        expected += hit ? 1 : 0;
    }
    if (outcome.count() != expected)
        std::abort();
    for (const TResultRow &row : outcome.rows) {
        for (int n = 1; n <= 13; ++n) {
            if (row.Texts[size_t(n - 1)] != FoldText(row.Card->field(n)))
                std::abort();
        }
    }
    // Shared between threads, in runs of a few nodes and by subtrees: the
    // same cards in the same order; the names' order made by two threads
    // the same as by one.
    for (const ScanSharing sharing :
         {ScanSharing{2, 3, ScanSharing::Runs::OfNodes}, ScanSharing{2, 1, ScanSharing::Runs::OfTopLevelSubtrees}}) {
        const FoundCards found = FindCards(tree, condition, fields, QLocale::c(), NoMessagePump(), sharing);
        if (found.count() != outcome.count())
            std::abort();
        for (int i = 0; i < found.count(); ++i) {
            if (found.cards[size_t(i)].Node != outcome.rows[size_t(i)].Node)
                std::abort();
        }
    }
    std::vector<QByteArrayView> names;
    for (const TResultRow &row : outcome.rows)
        names.push_back(row.Texts[0]);
    if (OrderByName(names, QLocale::c(), 2) != OrderByName(names, QLocale::c(), 1))
        std::abort();

    (void)ResultTextFileContent(outcome.rows, QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5)), QLocale::c());
    (void)ResultMailText(outcome.rows);
    (void)SpreadsheetRows(outcome.rows);
    return 0;
}
