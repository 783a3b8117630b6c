// What both import fuzz targets check of every import: fields within their
// bound and cut on whole characters, labels equal to names, report lines on
// lines of the input; and that the imported cards, exported and imported
// again, come back unchanged.
#pragma once

#include "CardExport.h"
#include "CardImport.h"

#include "CardRecords.h"
#include "CardTree.h"
#include "Gb18030.h"

#include <QByteArrayView>

#include <cstdio>
#include <cstdlib>

namespace kelvo::exchange::fuzz {

inline void fail(const char *what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

// Values that lose a leading URI scheme on reading do not come back alike.
inline bool comesBackAlike(const TCardData &card)
{
    for (int n : {5, 6, 7, 10, 11, 12}) {
        const QString text = gb18030::decode(card.field(n));
        for (const char *scheme : {"tel:", "x-qq:", "qq:", "msnim:", "msn:", "mailto:"}) {
            if (text.startsWith(QLatin1StringView(scheme), Qt::CaseInsensitive))
                return false;
        }
    }
    return true;
}

inline void checkImport(QByteArrayView input, const ImportResult &result)
{
    const qsizetype lines = input.count('\n') + input.count('\r') + 1;
    for (const ImportMessage &message : result.messages) {
        if (message.line < 1 || message.line > lines || message.text().isEmpty())
            fail("report line outside the input");
    }
    if (!result.ok())
        return;
    CardTree tree;
    CardNode *target = ImportTargetClass(tree, ReservedCardClassLabel());
    std::vector<NewCardNode> cards;
    for (const NewCardNode &card : result.cards) {
        for (int n = 1; n <= 13; ++n) {
            const QByteArrayView field = card.data->field(n);
            if (field.size() > TCardData::MaxFieldBytes || gb18030::cutAtCharBoundary(field, field.size()) != field)
                fail("field out of bounds");
            if (field != gb18030::trimmed(field)) {
                std::fprintf(stderr, "field %d: %s\n", n, field.toByteArray().toHex(' ').constData());
                fail("field not trimmed");
            }
        }
        if (card.label != card.data->name() || card.data->name().isEmpty() || !card.data->isCard())
            fail("label differs from the name");
        NewCardNode copy;
        copy.label = card.label;
        copy.data = std::make_unique<TCardData>(*card.data);
        copy.displayIndexes = card.displayIndexes;
        cards.push_back(std::move(copy));
    }
    tree.addChildren(target, std::move(cards));

    std::vector<const CardNode *> exported;
    for (const CardNode *node : CardsAt(target)) {
        if (comesBackAlike(*node->data()))
            exported.push_back(node);
    }
    for (ExportFormat format : {ExportFormat::VCard30, ExportFormat::Csv}) {
        const ImportResult back = ImportCards(ExportCards(exported, format));
        if (exported.empty())
            continue;
        if (!back.ok() || back.cards.size() != exported.size() || !back.messages.empty())
            fail("export of imported cards does not import again");
        for (size_t i = 0; i < exported.size(); ++i) {
            for (int n = 1; n <= 13; ++n) {
                if (back.cards[i].data->field(n) != exported[i]->data()->field(n)) {
                    std::fprintf(stderr, "format %d, field %d: %s came back as %s\n", int(format), n,
                                 exported[i]->data()->field(n).toByteArray().toHex(' ').constData(),
                                 back.cards[i].data->field(n).toByteArray().toHex(' ').constData());
                    fail("round trip changed a field");
                }
            }
        }
    }
}

} // namespace kelvo::exchange::fuzz
