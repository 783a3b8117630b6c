#include "CardExport.h"

#include "CsvWriter.h"
#include "Gb18030.h"

namespace kelvo::exchange {

namespace {

QByteArrayView classLabelOf(const CardNode &card)
{
    const CardNode *parent = card.parent();
    return parent && parent->isCardClass() ? QByteArrayView(parent->label()) : QByteArrayView();
}

} // namespace

std::vector<const CardNode *> AllCards(const CardTree &tree)
{
    std::vector<const CardNode *> cards;
    tree.forEach([&](const CardNode *node) {
        if (node->isCard())
            cards.push_back(node);
    });
    return cards;
}

const CardNode *FirstClassLabelled(const CardTree &tree, QByteArrayView label)
{
    const CardNode *found = nullptr;
    tree.forEach([&](const CardNode *node) {
        if (!found && node->isCardClass() && node->label() == label)
            found = node;
    });
    return found;
}

std::vector<const CardNode *> CardsAt(const CardNode *node)
{
    std::vector<const CardNode *> cards;
    if (!node)
        return cards;
    if (node->isCard()) {
        cards.push_back(node);
        return cards;
    }
    // Iterative pre-order walk below `node`.
    std::vector<std::pair<const CardNode *, int>> stack{{node, 0}};
    while (!stack.empty()) {
        auto &[parent, next] = stack.back();
        if (next >= parent->childCount()) {
            stack.pop_back();
            continue;
        }
        const CardNode *child = parent->child(next++);
        if (child->isCard())
            cards.push_back(child);
        if (child->childCount() > 0)
            stack.emplace_back(child, 0);
    }
    return cards;
}

QByteArray ExportCards(const std::vector<const CardNode *> &cards, ExportFormat format, const CardUid &uidOf)
{
    QByteArray out;
    out.reserve(qsizetype(cards.size()) * 320 + 256);
    if (format == ExportFormat::Csv) {
        AppendCsvHeader(out);
        for (const CardNode *card : cards) {
            if (card->data())
                AppendCsvRecord(out, *card->data());
        }
        return out;
    }
    const VCardVersion version = format == ExportFormat::VCard40 ? VCardVersion::V40 : VCardVersion::V30;
    for (const CardNode *card : cards) {
        if (card->data())
            AppendVCard(out, *card->data(), classLabelOf(*card), version,
                        uidOf ? QByteArray(uidOf(card).toUtf8()) : QByteArray());
    }
    return out;
}

QString VCardFileNameFor(const CardNode &node)
{
    QString name = gb18030::decode(node.label()).trimmed();
    for (QChar &c : name) {
        if (c == u'/' || c == u'\\' || c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' || c == u'>'
            || c == u'|' || c.unicode() < 0x20)
            c = u'_';
    }
    while (name.startsWith(u'.'))
        name.remove(0, 1);
    if (name.isEmpty())
        name = QStringLiteral("名片");
    return name.left(200) + QStringLiteral(".vcf");
}

} // namespace kelvo::exchange
