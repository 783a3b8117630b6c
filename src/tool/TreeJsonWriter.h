#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

#include <functional>

namespace kelvo {
class CardTree;
}

namespace kelvo::tool {

// Writes the card tree as the JSON text `kelvo-tool dump` prints (UTF-8):
//   {"nodes": [NODE, ...]}
//   NODE = {"label": text, "kind": int, "fields": [13 texts, field numbers 1..13],
//           "created": number, "images": [image, selected, overlay, state],
//           "children": [NODE, ...]}
// One node per line, indented by its depth. The text is handed to `sink` in
// pieces of about a megabyte, so a large tree never needs its whole JSON in
// memory. Texts that are not valid GB18030 are written with replacement
// characters and each is named in `warnings` (when given).
void WriteTreeJson(const CardTree &tree, const std::function<void(QByteArrayView)> &sink,
                   QStringList *warnings = nullptr);

// The whole JSON text at once (small trees, tests).
QByteArray TreeToJson(const CardTree &tree, QStringList *warnings = nullptr);

// `text` (GB18030 bytes) as a JSON string literal with its quotes. Sets
// `*lossy` when the bytes are not valid GB18030 and so cannot be carried
// exactly.
QByteArray JsonStringFromGb18030(QByteArrayView text, bool *lossy);

} // namespace kelvo::tool
