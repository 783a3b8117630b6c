#pragma once

#include "CsvReader.h"
#include "ImportMessage.h"

#include "CardTree.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace kelvo::exchange {

enum class ExchangeFormat { VCard, Csv };

// The format of a file, from its content: a line BEGIN:VCARD (any letter
// case, blanks around it allowed) means vCard, anything else CSV.
ExchangeFormat DetectExchangeFormat(QByteArrayView bytes);

struct ImportResult
{
    ExchangeFormat format = ExchangeFormat::Csv;
    std::vector<NewCardNode> cards; // in file order, ready for CardTree::addChildren
    // The UID each card carried (vCard; empty when none, and for CSV) and the
    // line it begins on, in the order of `cards`.
    struct CardOrigin
    {
        QString uid;
        int line = 0;
    };
    std::vector<CardOrigin> origins;
    int skipped = 0;                // cards that could not be taken
    ImportMessages messages;        // skipped cards, cut and dropped values, in file order
    QString error;                  // the file cannot be read: no card is taken from it

    // Why the file cannot be read, for windows that word it themselves.
    enum class Problem { None, CannotOpen, TooLarge, Empty, NoCard, CsvHeader };
    Problem problem = Problem::None;
    QStringList csvColumns; // CsvHeader: the columns of the header no layout knows

    bool ok() const { return error.isEmpty(); }
};

// Called every few hundred cards while a file is read, and once after a
// pass over the whole input: the readers will not look at `bytes` before
// `done` again (until a later pass), so the caller may drop those pages.
using ImportProgress = std::function<void(qsizetype done)>;

// Reads the cards of one vCard or CSV file. A file that holds no card at all
// (nor any that had to be skipped) is an error, as is one larger than
// MaxImportFileBytes.
ImportResult ImportCards(QByteArrayView bytes, const CsvOptions &csv = {}, const ImportProgress &progress = {});

// The same for a file on disk, mapped while it is read; the pages read are
// given back as the import goes on, so that the import holds little more
// than the cards it makes. `pump` is called every few hundred cards (a
// window's message pump).
ImportResult ImportCardsFromFile(const QString &path, const CsvOptions &csv = {},
                                 const std::function<void()> &pump = {});

// Where imported cards go: the first top-level card class labelled `label`
// (byte for byte). When there is none, a card class so labelled (its name
// the same) is made at the end of the top level, and `*made` is set.
CardNode *ImportTargetClass(CardTree &tree, const QByteArray &label, bool *made = nullptr);

} // namespace kelvo::exchange
