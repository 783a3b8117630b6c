#pragma once

#include "CsvReader.h"
#include "ImportMessage.h"

#include "CardTree.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

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
    int skipped = 0;                // cards that could not be taken
    ImportMessages messages;        // skipped cards, cut and dropped values, in file order
    QString error;                  // the file cannot be read: no card is taken from it

    bool ok() const { return error.isEmpty(); }
};

// Reads the cards of one vCard or CSV file. A file that holds no card at all
// (nor any that had to be skipped) is an error, as is one larger than
// MaxImportFileBytes.
ImportResult ImportCards(QByteArrayView bytes, const CsvOptions &csv = {});

// The same for a file on disk (mapped, not copied, while it is read).
ImportResult ImportCardsFromFile(const QString &path, const CsvOptions &csv = {});

// Where imported cards go: the first top-level card class labelled `label`
// (byte for byte). When there is none, a card class so labelled (its name
// the same) is made at the end of the top level, and `*made` is set.
CardNode *ImportTargetClass(CardTree &tree, const QByteArray &label, bool *made = nullptr);

} // namespace kelvo::exchange
