#include "StoreTestUtil.h"

#include "DataFileFormat.h"

#include <QFile>

#include <vector>

namespace kelvo::test {

void buildFromOutline(CardTree &tree, const QString &text)
{
    std::vector<CardNode *> path; // path[d] = last node added at depth d
    const QStringList tokens = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &token : tokens) {
        int depth = 0;
        while (depth < token.size() && token[depth] == QLatin1Char('.'))
            ++depth;
        const QByteArray label = token.mid(depth).toLatin1();
        auto record = std::make_unique<TCardData>();
        record->Kind = (!label.isEmpty() && label[0] >= 'a' && label[0] <= 'z') ? Kind::Card : Kind::CardClass;
        record->setField(Field::Name, label);
        CardNode *parent = depth > 0 && size_t(depth) <= path.size() ? path[size_t(depth - 1)] : nullptr;
        CardNode *node = tree.addChild(parent, label, std::move(record));
        path.resize(size_t(parent ? depth : 0));
        path.push_back(node);
    }
}

qint64 processStatusBytes(QByteArrayView field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

QStringList describeNodes(const CardTree &tree)
{
    QStringList lines;
    tree.forEach([&lines](const CardNode *node) {
        QStringList parts{QString::number(node->depth()), QString::fromLatin1(node->label().toByteArray().toHex())};
        if (const TCardData *data = node->data()) {
            for (int n = Field::First; n <= Field::Last; ++n)
                parts << QString::fromLatin1(data->field(n).toByteArray().toHex());
            parts << QString::number(data->Kind) << QString::number(data->Created, 'g', 17);
        }
        for (std::int32_t index : node->displayIndexes())
            parts << QString::number(index);
        lines << parts.join(QLatin1Char('|'));
    });
    return lines;
}

QByteArray randomDataFile(QRandomGenerator &random, int nodes, int classOneIn, int chainOneIn)
{
    CardTree tree;
    std::vector<CardNode *> classes{nullptr};
    for (int i = 0; i < nodes; ++i) {
        auto record = std::make_unique<TCardData>();
        record->Kind = random.bounded(classOneIn) == 0 ? Kind::CardClass : Kind::Card;
        for (int n = Field::First; n <= Field::Last; ++n) {
            if (random.bounded(3) == 0)
                record->setField(n, QByteArray(random.bounded(256), char('a' + random.bounded(26))));
        }
        record->Created = random.generateDouble() * 50000;
        const bool chained = chainOneIn > 0 && random.bounded(chainOneIn) == 0 && classes.size() > 1;
        CardNode *parent = chained ? classes.back() : classes[size_t(random.bounded(int(classes.size())))];
        const bool isClass = record->isCardClass() || chained;
        const QByteArray label(random.bounded(20), 'L');
        CardNode *node = tree.addChild(parent, label, std::move(record));
        if (random.bounded(16) == 0) // indexes beyond a byte, kept apart from the node
            tree.setDisplayIndexes(node, std::int32_t(random.generate()), -129, 128, std::int32_t(random.generate()));
        else
            tree.setDisplayIndexes(node, random.bounded(5), 1, -1, random.bounded(3));
        if (isClass)
            classes.push_back(node);
    }
    return SerializeTree(tree);
}

} // namespace kelvo::test
