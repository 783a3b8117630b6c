// kelvo-skin-pack: packs a skin's pictures and description into the stored
// skin property (32-bit length, then the compressed archive) that the main
// window carries as a resource. Used by the build.
//
//   kelvo-skin-pack OUTPUT FILE...

#include "AtomicFile.h"
#include "SkinArchive.h"
#include "SkinFiles.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() < 2) {
        std::fputs("usage: kelvo-skin-pack OUTPUT FILE...\n", stderr);
        return 1;
    }
    const QString output = args.takeFirst();
    const kelvo::SkinArchiveBuild archive = kelvo::packSkinFiles(args);
    if (!archive.ok) {
        std::fprintf(stderr, "kelvo-skin-pack: %s\n", qPrintable(archive.error));
        return 1;
    }
    const kelvo::Result<> written = kelvo::writeFileAtomically(output, kelvo::makeStoredSkinProperty(archive.bytes));
    if (!written) {
        std::fprintf(stderr, "kelvo-skin-pack: cannot write %s\n", qPrintable(written.error().message()));
        return 1;
    }
    return 0;
}
