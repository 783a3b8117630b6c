// Feeds arbitrary bytes to the JSON reader of `kelvo-tool build` (rapidjson's
// SAX reader over a stream) and to the whole-document reader it replaced
// (tests/tool/DocumentTreeJsonReader): both must accept the same texts and
// build the same tree, and refuse the rest with the same message (syntax
// errors are worded by each parser in its own way, but both must name the
// line and column) and the same warnings.
#include "DocumentTreeJsonReader.h"
#include "TreeJsonReader.h"
#include "TreeJsonWriter.h"

#include "CardTree.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace kelvo;

namespace {

[[noreturn]] void fail(const char *what, const QString &expected, const QString &got)
{
    std::fprintf(stderr, "%s\nexpected: %s\ngot:      %s\n", what, expected.toLocal8Bit().constData(),
                 got.toLocal8Bit().constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 64 * 1024)
        return 0;
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    // A key that opens with a byte-order mark: Qt's document drops the mark
    // from the key's name but then finds no value under it (the old reader
    // took such a key for a missing one); the stream reader reads the key by
    // its name. Nothing to compare.
    if (json.contains("\"\xEF\xBB\xBF"))
        return 0;
    CardTree expectedTree;
    CardTree tree;
    QString expectedError;
    QString error;
    QStringList expectedWarnings;
    QStringList warnings;
    const bool expected = test::ReadTreeJsonAsDocument(json, expectedTree, &expectedError, &expectedWarnings);
    const bool got = tool::ReadTreeJson(json, tree, &error, &warnings);
    // Where the old reader stopped for its own limits, or read a bare value
    // at the top as a syntax error, the stream reader goes on or words it as
    // a shape error: nothing to compare there.
    if (expectedError.contains(QLatin1String("nested")))
        return 0;
    if (expectedError.startsWith(QLatin1String("line ")) && error.startsWith(QLatin1String("the top level must be")))
        return 0;
    // A message that quotes a text holding a lone surrogate (an unknown key,
    // a wrong "created"): Qt's reader kept the surrogate, the stream reader
    // hands such texts on as a lone low half; the place and the reason agree,
    // the quoted character does not.
    if (!expectedError.isValidUtf16())
        return 0;
    if (got != expected)
        fail(got ? "read what was refused" : "refused what was read", expectedError, error);
    if (got) {
        if (tool::TreeToJson(tree) != tool::TreeToJson(expectedTree))
            fail("another tree", QString(), QString());
    } else if (expectedError.startsWith(QLatin1String("line "))) {
        if (!error.startsWith(QLatin1String("line ")))
            fail("a syntax error named otherwise", expectedError, error);
        return 0;
    } else if (error != expectedError) {
        fail("another message", expectedError, error);
    }
    if (warnings != expectedWarnings)
        fail("other warnings", expectedWarnings.join(QLatin1Char('\n')), warnings.join(QLatin1Char('\n')));
    return 0;
}
