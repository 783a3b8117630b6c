// kelvo-skin-pack: packs a skin's pictures and description into the stored
// skin property (32-bit length, then the compressed archive) that the main
// window carries as a resource. Used by the build.
//
//   kelvo-skin-pack OUTPUT FILE...

#include "SkinArchive.h"
#include "SkinFiles.h"

#include <QCoreApplication>
#include <QSaveFile>

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
    QSaveFile file(output);
    if (!file.open(QIODevice::WriteOnly) || file.write(kelvo::makeStoredSkinProperty(archive.bytes)) < 0 || !file.commit()) {
        std::fprintf(stderr, "kelvo-skin-pack: cannot write %s: %s\n", qPrintable(output), qPrintable(file.errorString()));
        return 1;
    }
    return 0;
}
