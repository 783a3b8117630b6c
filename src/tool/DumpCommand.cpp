#include "CommandLine.h"
#include "StoreFiles.h"
#include "ToolCommand.h"
#include "TreeJsonWriter.h"

#include "CardTree.h"
#include "DataFile.h"

namespace kelvo::tool {

namespace {

int runDump(const QStringList &args)
{
    CommandLine commandLine;
    const bool parsed = commandLine.parse(args);
    const QStringList files = commandLine.positionalArguments();
    if (!parsed || files.size() != 1 || isOptionLike(files.first())) {
        printError(QStringLiteral("Usage: kelvo-tool dump DATAFILE   (see kelvo-tool dump --help)"));
        return ExitUsage;
    }
    const QString path = files.first();
    CardTree tree;
    ReadOptions options;
    options.keepStoredDisplayIndexes = true;
    QString error;
    if (!ReadDataFile(path, tree, &error, options)) {
        printError(QStringLiteral("kelvo-tool dump: ") + error);
        return ExitDataFile;
    }

    QStringList warnings;
    WriteTreeJson(
        tree, [](QByteArrayView piece) { writeOut(piece.toByteArray()); }, &warnings);
    for (const QString &warning : warnings)
        printError(QStringLiteral("kelvo-tool dump: warning: ") + warning);
    if (!FlushStandardOutput(&error)) {
        printError(QStringLiteral("kelvo-tool dump: ") + error);
        return ExitUsage;
    }
    return ExitOk;
}

const CommandRegistration registration{{
    QStringLiteral("dump"),
    QStringLiteral("print a data file as JSON"),
    QStringLiteral("Usage: kelvo-tool dump DATAFILE\n"
                   "\n"
                   "Reads a Kelvo data file (SavedCard/Card.DB) and prints its whole card tree as\n"
                   "UTF-8 JSON on standard output. DATAFILE '-' reads standard input. The file is\n"
                   "only read: a missing file is an error and is not created.\n"
                   "\n"
                   "  {\"nodes\": [NODE, ...]}\n"
                   "  NODE = {\"label\": TEXT, \"kind\": 0 card class | 1 card,\n"
                   "          \"fields\": [13 TEXTS: name, title, company, address, telephone, fax,\n"
                   "                     mobile, postcode, web site, QQ, MSN, e-mail, other],\n"
                   "          \"created\": DAYS since 1899-12-30 (local time),\n"
                   "          \"images\": [image, selected image, overlay, state],\n"
                   "          \"children\": [NODE, ...]}\n"
                   "\n"
                   "Texts are converted from GB18030. The first field is the text the file stores\n"
                   "as the label (the program reads it back as the name). \"images\" are the display\n"
                   "indexes as stored in the file (Kelvo itself shows nodes by their kind).\n"
                   "\"created\" is exact: 'kelvo-tool build' turns the output back into the same file.\n"
                   "Values JSON numbers cannot carry are written as strings: \"-0\", \"Infinity\",\n"
                   "\"-Infinity\", \"NaN\", \"NaN(0x...)\". An empty (zero-length) file prints\n"
                   "{\"nodes\": []}. Text that is not valid GB18030 is written with replacement\n"
                   "characters and named in a warning on standard error.\n"
                   "\n"
                   "Exit codes: 0 done; 1 usage error, or standard output could not be written;\n"
                   "2 missing, unreadable or damaged data file (the byte offset and the reason\n"
                   "are printed on standard error).\n"),
    &runDump,
}};

} // namespace

} // namespace kelvo::tool
