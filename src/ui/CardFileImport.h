#pragma once

#include "CardImport.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QMimeData;

namespace kelvo {

class CardNode;
class CardTreeHost;

// vCard and CSV files dropped from the file manager onto the card tree.
class CardFileImport
{
public:
    // The local .vcf and .csv files (any letter case) a drag carries; empty
    // when it carries none, or anything else besides them.
    static QStringList importableFiles(const QMimeData *mime);

    // The card class a drop onto `node` imports into: the node itself when
    // it is a card class, the class holding it when it is a card; nullptr
    // for anything else (no node, a card without a class).
    static CardNode *targetClassFor(CardNode *node);

    // Reads every file; when one cannot be read, a notice says so and
    // nothing changes. Otherwise all cards are added to `targetClass` in one
    // batch (which raises Modified), the last new card is selected, and a notice
    // says how many cards were imported and lists the first skipped or cut
    // ones. Returns the number of cards imported.
    static int importFiles(CardTreeHost &host, CardNode *targetClass, const QStringList &files);
    // The same with the class found (or made) by `targetClass` only once
    // the files have been read and hold cards: a failed import changes
    // nothing.
    static int importFiles(CardTreeHost &host, const std::function<CardNode *()> &targetClass,
                           const QStringList &files);

    // The notice after an import; `reports[i]` belongs to `files[i]`.
    static QString resultText(int imported, int skipped, const QStringList &files,
                              const std::vector<exchange::ImportMessages> &reports);
    // The notice for a file that cannot be read.
    static QString failureText(const QString &file, const exchange::ImportResult &result);

    // How many report lines the notice lists.
    static constexpr int ListedReports = 5;
};

} // namespace kelvo
