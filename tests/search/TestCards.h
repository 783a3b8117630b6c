#pragma once

#include "CardRecords.h"
#include "CardTree.h"
#include "Gb18030.h"

#include <QString>

#include <initializer_list>
#include <utility>

// Small helpers that build card trees for the search tests. Texts are given
// as QString and stored as GB18030, the way the detail panel stores them.
namespace kelvo::testing {

inline QByteArray gb(const QString &text)
{
    return gb18030::encode(text);
}

inline CardNode *addClass(CardTree &tree, CardNode *parent, const QString &name)
{
    auto record = MakeCardClassRecord();
    record->setField(Field::Name, gb(name));
    return parent ? tree.addChild(parent, gb(name), std::move(record)) : tree.addTopLevel(gb(name), std::move(record));
}

// A card under `parent` with its name and further fields (number, text).
inline CardNode *addCard(CardTree &tree, CardNode *parent, const QString &name,
                         std::initializer_list<std::pair<int, QString>> fields = {})
{
    auto record = MakeCardRecord();
    record->setField(Field::Name, gb(name));
    for (const auto &[n, text] : fields)
        record->setField(n, gb(text));
    return tree.addChild(parent, gb(name), std::move(record));
}

// The same with raw GB18030 bytes for every field given.
inline CardNode *addCardBytes(CardTree &tree, CardNode *parent, QByteArrayView name,
                              std::initializer_list<std::pair<int, QByteArray>> fields = {})
{
    auto record = MakeCardRecord();
    record->setField(Field::Name, name);
    for (const auto &[n, text] : fields)
        record->setField(n, text);
    return tree.addChild(parent, name.toByteArray(), std::move(record));
}

} // namespace kelvo::testing
