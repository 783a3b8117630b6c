#include "CommandLine.h"
#include "StoreFiles.h"
#include "ToolCommand.h"
#include "TreeJsonReader.h"

#include "AtomicFile.h"
#include "TreeIdentities.h"
#include "CardTree.h"
#include "DataFile.h"

#include <QFile>

#include <algorithm>

namespace kelvo::tool {

namespace {

int runBuild(const QStringList &args)
{
    CommandLine commandLine;
    const bool parsed = commandLine.parse(args);
    const QStringList files = commandLine.positionalArguments();
    if (!parsed || files.size() != 2 || std::any_of(files.begin(), files.end(), isOptionLike)
        || files.at(1) == QLatin1String("-")) {
        printError(QStringLiteral("Usage: kelvo-tool build JSONFILE DATAFILE   (see kelvo-tool build --help)"));
        return ExitUsage;
    }
    const QString jsonPath = files.at(0);
    const QString dataPath = files.at(1);
    const QString jsonName = jsonPath == QLatin1String("-") ? QStringLiteral("standard input") : jsonPath;

    // The JSON is read in pieces as it is parsed: memory follows the tree.
    QString error;
    QFile json;
    if (!OpenForReading(jsonPath, json, &error)) {
        printError(QStringLiteral("kelvo-tool build: ") + error);
        return ExitUsage;
    }
    JsonSource source;
    source.read = [&json](char *into, qint64 room, QString *readError) -> qint64 {
        const qint64 got = json.read(into, room);
        if (got < 0)
            *readError = json.errorString();
        return got;
    };
    if (!json.isSequential())
        source.rewind = [&json] { return json.seek(0); };
    source.maxBytes = MaxInputBytes;
    CardTree tree;
    QStringList warnings;
    bool sourceFailed = false;
    const bool read = ReadTreeJson(source, jsonName, tree, &error, &warnings, &sourceFailed);
    for (const QString &warning : warnings)
        printError(QStringLiteral("kelvo-tool build: warning: %1: %2").arg(jsonName, warning));
    if (!read) {
        printError(sourceFailed ? QStringLiteral("kelvo-tool build: ") + error
                                : QStringLiteral("kelvo-tool build: %1: %2").arg(jsonName, error));
        return ExitUsage;
    }
    json.close();

    // Written in pieces as the tree is walked: the file's bytes are never
    // held whole beside the tree.
    AtomicFile file(dataPath);
    Result<> written = file.open();
    if (written)
        written = WriteTreeInPieces(tree, [&file](QByteArrayView piece) { return file.write(piece); });
    if (written)
        written = file.commit();
    if (!written) {
        printError(QStringLiteral("kelvo-tool build: ") + written.error().message());
        return ExitDataFile;
    }
    if (const Result<> followed = sync::FollowRewrittenDataFile(dataPath, tree); !followed)
        printError(QStringLiteral("kelvo-tool build: warning: the sync state beside the data file cannot be written: ")
                   + followed.error().message());
    return ExitOk;
}

const CommandRegistration registration{{
    QStringLiteral("build"),
    QStringLiteral("write a data file from JSON"),
    QStringLiteral("Usage: kelvo-tool build JSONFILE DATAFILE\n"
                   "\n"
                   "Writes the Kelvo data file DATAFILE from JSON of the shape 'kelvo-tool dump'\n"
                   "prints, exactly as Kelvo saves a card tree. JSONFILE '-' reads standard input.\n"
                   "DATAFILE is replaced in one step: a new file is written beside it and renamed\n"
                   "over it, so a failure never leaves a half-written data file. No backup is made.\n"
                   "\n"
                   "In each node \"label\" (text) and \"kind\" (0 card class, 1 card) are required;\n"
                   "\"fields\" (up to 13 texts; missing ones are empty), \"created\" (default 0),\n"
                   "\"images\" (default [kind, kind, kind, kind]) and \"children\" (default none)\n"
                   "may be left out. Unknown keys are refused. As in Kelvo's own save, the file\n"
                   "stores the label in the name's place (a first field that differs from the\n"
                   "label draws a warning), texts are stored in GB18030 without\n"
                   "leading and trailing spaces or control characters, and each text is cut to\n"
                   "255 bytes (after the last whole character; a warning names each such text).\n"
                   "Nodes may be nested to any depth.\n"
                   "\n"
                   "Exit codes: 0 written; 1 usage error, unreadable JSON file, bad JSON or a value\n"
                   "of the wrong type (the message names the line and column or the node, such as\n"
                   "nodes[0].children[2].images); 2 the data file could not be written.\n"),
    &runBuild,
}};

} // namespace

} // namespace kelvo::tool
