#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace kelvo {
class CardTree;
}

namespace kelvo::tool {

// Reads JSON of the shape TreeJsonWriter writes and appends its nodes to
// `tree`. Only "label" and "kind" are required in a node; a missing
// "fields" means empty fields (fewer than thirteen: the rest are empty), a
// missing "created" 0, missing "images" [kind, kind, kind, kind] and missing
// "children" none. Unknown keys are refused, so a misspelt key is never
// silently dropped. Of a key given twice, the last value counts.
//
// The text is parsed as a stream (rapidjson's SAX reader): memory follows
// the tree, not the text, and nodes may be nested to any depth.
//
// Returns false with a message that names the place (line and column for a
// syntax error, the node path such as nodes[0].children[2].fields for a wrong
// value); the tree then holds none of the nodes. Texts the data file cannot
// hold whole (more than 255 bytes in GB18030) are named in `warnings`.
bool ReadTreeJson(const QByteArray &json, CardTree &tree, QString *error, QStringList *warnings = nullptr);

// Where ReadTreeJson reads from in pieces.
struct JsonSource
{
    // Reads up to `room` bytes into `into`: the count, 0 at the end, or -1
    // with a message in `*error`.
    std::function<qint64(char *into, qint64 room, QString *error)> read;
    // Goes back to the start, when the source can (a file, not a pipe); a
    // text holding control characters inside strings is read a second time.
    std::function<bool()> rewind;
    // More bytes than this stop the reading with a message.
    qint64 maxBytes = 0;
};

// The same, reading from `source`. A failure of the source itself is told
// in `*error` as "NAME: REASON" and sets `*sourceFailed` when given.
bool ReadTreeJson(const JsonSource &source, const QString &sourceName, CardTree &tree, QString *error,
                  QStringList *warnings = nullptr, bool *sourceFailed = nullptr);

} // namespace kelvo::tool
