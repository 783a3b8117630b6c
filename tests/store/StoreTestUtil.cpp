#include "StoreTestUtil.h"

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

} // namespace kelvo::test
