// Feeds arbitrary bytes to the skin loading. The first byte picks the way in:
//   0: the bytes are the stored skin property (length, then a compressed archive);
//   1: the bytes are a decompressed archive (compressed here first);
//   2: the bytes are a skin description, packed with a few pictures; every
//      part it builds is then composed and drawn with its own margins.
#include "Lzhuf.h"
#include "SkinArchive.h"
#include "SkinData.h"
#include "SkinDrawing.h"

#include <QBuffer>
#include <QImage>

#include <cstdint>

namespace {

QByteArray bitmapFile(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 7, y * 13, 90));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes;
}

void exerciseParts(const kelvo::TSkinData &skin)
{
    QImage surface(48, 24, QImage::Format_ARGB32);
    surface.fill(0xff808080);
    for (const kelvo::SkinPartInfo &info : kelvo::skinPartTable()) {
        const kelvo::TDataSkinObject *part = skin.part(info.id);
        if (!part)
            continue;
        for (bool stacked : {false, true}) {
            kelvo::MakeNineGridBitmap(37, 19, part->Map, part->LeftWidth, part->TopHeight, part->RightWidth,
                                      part->BottomHeight, stacked, part->Tile != 0, part->FrameCount, part->FrameCount);
            kelvo::DrawNineGridBorder(surface, QRect(-3, 2, 40, 30), part->Map, stacked, part->FrameCount, 1,
                                      part->LeftWidth, part->TopHeight, part->RightWidth, part->BottomHeight);
        }
        kelvo::TileDraw(surface, QRect(1, 1, 45, 20), part->Map,
                        QRect(part->LeftWidth, part->TopHeight, part->RightWidth, part->BottomHeight));
        kelvo::DrawTransparent(surface, QRect(0, 0, 48, 24), part->Map, 0xffff00ff);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const int mode = data[0] % 3;
    const QByteArrayView rest(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    kelvo::TSkinData skin;
    int notices = 0;
    const auto notice = [&](const QString &) { ++notices; };
    switch (mode) {
    case 0:
        skin.loadStoredProperty(rest, notice);
        break;
    case 1:
        skin.loadStoredProperty(kelvo::makeStoredSkinProperty(kelvo::lzhuf::encode(rest)), notice);
        break;
    default: {
        static const QByteArray square = bitmapFile(24, 12);
        static const QByteArray tiny = bitmapFile(3, 2);
        const kelvo::SkinArchiveBuild archive = kelvo::buildSkinArchive(
            {{"a.bmp", square}, {"b.bmp", tiny}, {"c.bmp", "BM broken"}, {"fuzz.ini", rest.toByteArray()}});
        if (archive.ok && skin.loadStoredProperty(kelvo::makeStoredSkinProperty(archive.bytes), notice))
            exerciseParts(skin);
        break;
    }
    }
    if (skin.isActive() && !skin.loadCompleted())
        __builtin_trap();
    return 0;
}
