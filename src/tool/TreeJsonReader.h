#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kelvo {
class CardTree;
}

namespace kelvo::tool {

// Reads JSON of the shape TreeJsonWriter writes and appends its nodes to
// `tree`. Only "label" and "kind" are required in a node; a missing
// "fields" means empty fields (fewer than thirteen: the rest are empty), a
// missing "created" 0, missing "images" [kind, kind, kind, kind] and missing
// "children" none. Unknown keys are refused, so a misspelt key is never
// silently dropped.
//
// Returns false with a message that names the place (line and column for a
// syntax error, the node path such as nodes[0].children[2].fields for a wrong
// value); the tree may then hold part of the nodes. Texts the data file
// cannot hold whole (more than 255 bytes in GB18030) are named in `warnings`.
bool ReadTreeJson(const QByteArray &json, CardTree &tree, QString *error, QStringList *warnings = nullptr);

} // namespace kelvo::tool
