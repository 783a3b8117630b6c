#include "CommandLine.h"
#include "ToolCommand.h"

#include "AtomicFile.h"
#include "Lzhuf.h"
#include "StoreFiles.h"

#include <QFile>

namespace kelvo::tool {

namespace {

bool readInput(const QString &path, qint64 limit, QByteArray *bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        printError(QStringLiteral("kelvo-tool lzhuf: cannot read %1: %2").arg(path, file.errorString()));
        return false;
    }
    if (file.size() > limit) {
        printError(QStringLiteral("kelvo-tool lzhuf: %1 is larger than %2 bytes").arg(path).arg(limit));
        return false;
    }
    *bytes = file.readAll();
    return true;
}

bool writeOutput(const QString &path, const QByteArray &bytes)
{
    if (const Result<> done = writeFileAtomically(path, bytes); !done) {
        printError(QStringLiteral("kelvo-tool lzhuf: cannot write %1").arg(done.error().message()));
        return false;
    }
    return true;
}

int runLzhuf(const QStringList &words)
{
    CommandLine commandLine;
    const bool parsed = commandLine.parse(words);
    const QStringList args = commandLine.positionalArguments();
    if (!parsed || args.size() != 3 || (args[0] != QLatin1String("decode") && args[0] != QLatin1String("encode"))) {
        printError(QStringLiteral("Usage: kelvo-tool lzhuf decode|encode IN OUT"));
        return ExitUsage;
    }
    QByteArray input;
    if (args[0] == QLatin1String("encode")) {
        if (!readInput(args[1], lzhuf::DecodeHardLimit, &input))
            return ExitUsage;
        return writeOutput(args[2], lzhuf::encode(input)) ? ExitOk : ExitUsage;
    }
    if (!readInput(args[1], lzhuf::DecodeHardLimit, &input))
        return ExitUsage;
    const lzhuf::DecodeResult result = lzhuf::decode(input);
    if (!result.ok) {
        printError(QStringLiteral("kelvo-tool lzhuf: %1: %2").arg(args[1], result.error));
        return ExitDataFile;
    }
    if (!writeOutput(args[2], result.data))
        return ExitUsage;
    if (result.isTruncated()) {
        printError(
            QStringLiteral("kelvo-tool lzhuf: %1 is cut short (%2 bits missing, read as 0): the end of %3 is damaged")
                .arg(args[1])
                .arg(result.bitsPastEnd)
                .arg(args[2]));
        return ExitDataFile;
    }
    return ExitOk;
}

const CommandRegistration registration{{
    QStringLiteral("lzhuf"),
    QStringLiteral("compress or decompress an LZHUF stream"),
    QStringLiteral("Usage: kelvo-tool lzhuf decode IN OUT\n"
                   "       kelvo-tool lzhuf encode IN OUT\n"
                   "\n"
                   "The LZHUF compression of skin archives (4096-byte window, adaptive Huffman\n"
                   "coding): a stream is the decompressed length as a 32-bit little-endian\n"
                   "integer, then the coded bits. 'encode' compresses the file IN into such a\n"
                   "stream; 'decode' restores it. Files up to 256 MB.\n"
                   "\n"
                   "A stream that declares more bytes than its size can code is refused. A stream\n"
                   "cut short is still decoded (the missing bits read as 0, as the format says),\n"
                   "OUT is written, and the exit code is 2.\n"
                   "\n"
                   "Exit codes: 0 done; 1 usage error or unreadable/unwritable file; 2 damaged\n"
                   "stream.\n"),
    &runLzhuf,
}};

} // namespace

} // namespace kelvo::tool
