#include "SkinDrawing.h"

#include <QTest>

using namespace kelvo;

namespace {

// A 12 x 12 picture (or one frame of a larger one) whose nine zones, with
// margins of 4, each have their own colour.
constexpr QRgb TL = 0xff100000, TM = 0xff200000, TR = 0xff300000;
constexpr QRgb ML = 0xff000100, MM = 0xff000200, MR = 0xff000300;
constexpr QRgb BL = 0xff000001, BM = 0xff000002, BR = 0xff000003;

QImage ninePatch()
{
    const QRgb zones[3][3] = {{TL, TM, TR}, {ML, MM, MR}, {BL, BM, BR}};
    QImage image(12, 12, QImage::Format_RGB32);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x)
            image.setPixel(x, y, zones[y / 4][x / 4]);
    return image;
}

// Every pixel its own colour, so a test can tell which source pixel landed where.
QImage numbered(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x, y, 200));
    return image;
}

QImage surface(int width, int height, QRgb colour = 0xff808080)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

} // namespace

class TestSkinDrawing : public QObject
{
    Q_OBJECT

private slots:
    void stretchDropsAndRepeatsPixels();
    void nineGridKeepsFittingMargins();
    void nineGridDropsMarginsThatDoNotFit();
    void nineGridWithoutMargins();
    void framesSideBySideAndStacked();
    void trailingColumnIsNeverUsed();
    void tiledCentreIsCoveredByLaterPieces();
    void marginsLargerThanPicture();
    void refusesUnusableSizes();
    void borderLeavesCentre();
    void tileDrawPlacesSixTiles();
    void tileDrawIgnoresEmptySource();
    void transparentDrawing();
    void drawsOnOtherSurfaceFormats();
};

void TestSkinDrawing::stretchDropsAndRepeatsPixels()
{
    const QImage picture = numbered(3, 1);
    QImage out = surface(7, 1);
    StretchDraw(out, QRect(0, 0, 7, 1), picture, QRect(0, 0, 3, 1));
    // Target x takes source x * 3 / 7, rounded down: 0 0 0 1 1 2 2.
    const int expected[] = {0, 0, 0, 1, 1, 2, 2};
    for (int x = 0; x < 7; ++x)
        QCOMPARE(qRed(out.pixel(x, 0)), expected[x]);

    const QImage wide = numbered(8, 1);
    QImage narrow = surface(3, 1);
    StretchDraw(narrow, QRect(0, 0, 3, 1), wide, QRect(0, 0, 8, 1));
    // 0 * 8 / 3, 1 * 8 / 3, 2 * 8 / 3: 0 2 5; colours are never blended.
    QCOMPARE(narrow.pixel(0, 0), wide.pixel(0, 0));
    QCOMPARE(narrow.pixel(1, 0), wide.pixel(2, 0));
    QCOMPARE(narrow.pixel(2, 0), wide.pixel(5, 0));
}

void TestSkinDrawing::nineGridKeepsFittingMargins()
{
    const QImage ten = MakeNineGridBitmap(10, 10, ninePatch(), 4, 4, 4, 4, false, false, 1, 1);
    QCOMPARE(ten.size(), QSize(10, 10));
    QCOMPARE(ten.pixel(0, 0), TL);
    QCOMPARE(ten.pixel(3, 3), TL);
    QCOMPARE(ten.pixel(4, 0), TM);
    QCOMPARE(ten.pixel(5, 3), TM);
    QCOMPARE(ten.pixel(6, 0), TR);
    QCOMPARE(ten.pixel(9, 3), TR);
    QCOMPARE(ten.pixel(0, 4), ML);
    QCOMPARE(ten.pixel(5, 5), MM);
    QCOMPARE(ten.pixel(9, 5), MR);
    QCOMPARE(ten.pixel(0, 9), BL);
    QCOMPARE(ten.pixel(4, 6), BM);
    QCOMPARE(ten.pixel(9, 9), BR);

    // 8 = 4 + 4: the margins stay, the middle column vanishes.
    const QImage eight = MakeNineGridBitmap(8, 10, ninePatch(), 4, 4, 4, 4, false, false, 1, 1);
    QCOMPARE(eight.pixel(3, 0), TL);
    QCOMPARE(eight.pixel(4, 0), TR);
    QCOMPARE(eight.pixel(3, 5), ML);
    QCOMPARE(eight.pixel(4, 5), MR);
    QCOMPARE(eight.pixel(3, 9), BL);
    QCOMPARE(eight.pixel(4, 9), BR);
}

void TestSkinDrawing::nineGridDropsMarginsThatDoNotFit()
{
    // 7 < 4 + 4: left and right margins drop; the top and bottom edges then
    // span the whole width and the whole frame width, corners included.
    const QImage seven = MakeNineGridBitmap(7, 10, ninePatch(), 4, 4, 4, 4, false, false, 1, 1);
    QCOMPARE(seven.pixel(0, 0), TL); // source x 0
    QCOMPARE(seven.pixel(3, 0), TM); // source x 3 * 12 / 7 = 5
    QCOMPARE(seven.pixel(6, 0), TR); // source x 6 * 12 / 7 = 10
    QCOMPARE(seven.pixel(0, 5), ML); // the centre now starts at the frame's left
    QCOMPARE(seven.pixel(6, 5), MR);
    QCOMPARE(seven.pixel(6, 9), BR);

    // Likewise top and bottom for a low target.
    const QImage low = MakeNineGridBitmap(10, 7, ninePatch(), 4, 4, 4, 4, false, false, 1, 1);
    QCOMPARE(low.pixel(0, 0), TL);
    QCOMPARE(low.pixel(0, 6), BL);
    QCOMPARE(low.pixel(5, 3), MM);
    QCOMPARE(low.pixel(5, 0), TM);
}

void TestSkinDrawing::nineGridWithoutMargins()
{
    const QImage picture = numbered(12, 12);
    const QImage doubled = MakeNineGridBitmap(24, 24, picture, 0, 0, 0, 0, false, false, 1, 1);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x)
            QCOMPARE(doubled.pixel(x, y), picture.pixel(x / 2, y / 2));
    const QImage tiled = MakeNineGridBitmap(30, 5, picture, 0, 0, 0, 0, false, true, 1, 1);
    QCOMPARE(tiled.pixel(13, 4), picture.pixel(1, 4));
    QCOMPARE(tiled.pixel(29, 0), picture.pixel(5, 0));
}

void TestSkinDrawing::framesSideBySideAndStacked()
{
    QImage sideBySide(60, 20, QImage::Format_RGB32);
    for (int frame = 0; frame < 3; ++frame)
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 20; ++x)
                sideBySide.setPixel(frame * 20 + x, y, qRgb(frame * 50, 0, 0));
    QCOMPARE(skinFrameRect(sideBySide, false, 3, 2), QRect(20, 0, 20, 20));
    const QImage second = MakeNineGridBitmap(20, 20, sideBySide, 2, 2, 2, 2, false, false, 3, 2);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            QCOMPARE(second.pixel(x, y), qRgb(50, 0, 0));

    const QImage stacked = sideBySide.transformed(QTransform().rotate(90));
    QCOMPARE(stacked.size(), QSize(20, 60));
    QCOMPARE(skinFrameRect(stacked, true, 3, 3), QRect(0, 40, 20, 20));
    const QImage third = MakeNineGridBitmap(9, 31, stacked, 3, 3, 3, 3, true, false, 3, 3);
    QCOMPARE(third.pixel(0, 0), stacked.pixel(0, 40));
    QCOMPARE(third.pixel(8, 30), stacked.pixel(19, 59));
    QCOMPARE(third.pixel(4, 15), stacked.pixel(10, 50));

    // A frame count below 1 counts as 1: the whole picture.
    QCOMPARE(skinFrameRect(sideBySide, false, 0, 1), QRect(0, 0, 60, 20));
    QCOMPARE(skinFrameRect(sideBySide, true, -4, 1), QRect(0, 0, 60, 20));
}

void TestSkinDrawing::trailingColumnIsNeverUsed()
{
    QImage picture(61, 20, QImage::Format_RGB32);
    picture.fill(0xff0000ff);
    for (int y = 0; y < 20; ++y)
        picture.setPixel(60, y, 0xffff0000);
    QCOMPARE(skinFrameRect(picture, false, 3, 3), QRect(40, 0, 20, 20));
    for (int b = 1; b <= 3; ++b) {
        const QImage frame = MakeNineGridBitmap(97, 13, picture, 5, 5, 5, 5, false, false, 3, b);
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                QCOMPARE(frame.pixel(x, y), 0xff0000ffu);
    }
}

void TestSkinDrawing::tiledCentreIsCoveredByLaterPieces()
{
    // Centre target 3 x 3 from a 4 x 4 centre source: its tile reaches one
    // pixel into the right and bottom margins, which are drawn afterwards.
    const QImage image = MakeNineGridBitmap(11, 11, ninePatch(), 4, 4, 4, 4, false, true, 1, 1);
    QCOMPARE(image.pixel(6, 6), MM);
    QCOMPARE(image.pixel(7, 5), MR);
    QCOMPARE(image.pixel(5, 7), BM);
    QCOMPARE(image.pixel(7, 7), BR);
}

void TestSkinDrawing::marginsLargerThanPicture()
{
    // Sources beyond the picture are skipped, never read; what nothing drew on stays black.
    const QImage tiny = numbered(4, 4);
    const QImage image = MakeNineGridBitmap(40, 40, tiny, 10, 10, 10, 10, false, false, 1, 1);
    QCOMPARE(image.size(), QSize(40, 40));
    QCOMPARE(image.pixel(0, 0), tiny.pixel(0, 0));
    QCOMPARE(image.pixel(3, 3), tiny.pixel(3, 3));
    QCOMPARE(image.pixel(5, 5), 0xff000000u);
    const QImage huge = MakeNineGridBitmap(30, 30, tiny, 2000000000, 7, 2000000000, -5, false, true, 1, 1);
    QCOMPARE(huge.size(), QSize(30, 30));
    // Frames past the picture draw nothing.
    const QImage beyond = MakeNineGridBitmap(5, 5, tiny, 1, 1, 1, 1, false, false, 2, 9);
    QCOMPARE(beyond.pixel(2, 2), 0xff000000u);
    // No picture at all: a black bitmap.
    QCOMPARE(MakeNineGridBitmap(3, 3, QImage(), 1, 1, 1, 1, false, false, 1, 1).pixel(1, 1), 0xff000000u);
}

void TestSkinDrawing::refusesUnusableSizes()
{
    QVERIFY(MakeNineGridBitmap(0, 10, ninePatch(), 0, 0, 0, 0, false, false, 1, 1).isNull());
    QVERIFY(MakeNineGridBitmap(10, -1, ninePatch(), 0, 0, 0, 0, false, false, 1, 1).isNull());
    QVERIFY(MakeNineGridBitmap(1 << 30, 1 << 30, ninePatch(), 0, 0, 0, 0, false, false, 1, 1).isNull());
}

void TestSkinDrawing::borderLeavesCentre()
{
    QImage out = surface(20, 20);
    DrawNineGridBorder(out, QRect(5, 6, 10, 10), ninePatch(), false, 1, 1, 4, 4, 4, 4);
    QCOMPARE(out.pixel(5, 6), TL);
    QCOMPARE(out.pixel(14, 15), BR);
    QCOMPARE(out.pixel(9, 6), TM);
    QCOMPARE(out.pixel(5, 11), ML);
    QCOMPARE(out.pixel(9, 10), 0xff808080u); // centre untouched
    QCOMPARE(out.pixel(10, 11), 0xff808080u);
    QCOMPARE(out.pixel(4, 6), 0xff808080u); // outside the target
    QCOMPARE(out.pixel(15, 15), 0xff808080u);

    // Partly off the surface: clipped, no fault.
    QImage small = surface(6, 6);
    DrawNineGridBorder(small, QRect(-5, -5, 10, 10), ninePatch(), false, 1, 1, 4, 4, 4, 4);
    QCOMPARE(small.pixel(1, 1), BR); // the bottom-right corner covers (1, 1) to (5, 5)
    QCOMPARE(small.pixel(4, 4), BR);
    QCOMPARE(small.pixel(0, 0), 0xff808080u); // the centre
    QCOMPARE(small.pixel(5, 5), 0xff808080u);
    QCOMPARE(small.pixel(0, 3), BM);
}

void TestSkinDrawing::tileDrawPlacesSixTiles()
{
    const QImage picture = numbered(20, 20);
    QImage out = surface(60, 40);
    TileDraw(out, QRect(0, 0, 40, 20), picture, QRect(2, 3, 16, 16));
    // Tiles at x = 0, 16, 32 and y = 0, 16: they cover 48 x 32.
    for (int ty = 0; ty < 2; ++ty) {
        for (int tx = 0; tx < 3; ++tx) {
            QCOMPARE(out.pixel(tx * 16, ty * 16), picture.pixel(2, 3));
            QCOMPARE(out.pixel(tx * 16 + 15, ty * 16 + 15), picture.pixel(17, 18));
        }
    }
    QCOMPARE(out.pixel(48, 0), 0xff808080u);
    QCOMPARE(out.pixel(0, 32), 0xff808080u);

    // A target far larger than the surface costs no more than the surface.
    QImage small = surface(5, 5);
    TileDraw(small, QRect(-2000000000, -2000000000, 2100000000, 2100000000), picture, QRect(0, 0, 1, 1));
    QCOMPARE(small.pixel(4, 4), picture.pixel(0, 0));
}

void TestSkinDrawing::tileDrawIgnoresEmptySource()
{
    QImage out = surface(10, 10);
    const QImage before = out;
    TileDraw(out, QRect(0, 0, 10, 10), numbered(4, 4), QRect(0, 0, 0, 4));
    TileDraw(out, QRect(0, 0, 10, 10), numbered(4, 4), QRect(0, 0, -2, -2));
    TileDraw(out, QRect(0, 0, 10, 10), numbered(4, 4), QRect(10, 10, 2, 2)); // outside the picture
    QCOMPARE(out, before);
}

void TestSkinDrawing::transparentDrawing()
{
    const QRgb magenta = 0xffff00ff;
    QImage clear(8, 8, QImage::Format_RGB32);
    clear.fill(magenta);
    QImage out = surface(10, 10);
    const QImage before = out;
    DrawTransparent(out, QRect(0, 0, 8, 8), clear, magenta);
    QCOMPARE(out, before);

    QImage marked = clear;
    marked.setPixel(1, 2, 0xff123456);
    marked.setPixel(7, 7, 0xff654321);
    DrawTransparent(out, QRect(3, 3, 5, 5), marked, 0x00ff00ff); // alpha of the key does not matter
    QCOMPARE(out.pixel(4, 5), 0xff123456u);
    QCOMPARE(out.pixel(3, 3), 0xff808080u);
    // Only the target's size is drawn: picture pixel (7, 7) lies outside it.
    QCOMPARE(out.pixel(9, 9), 0xff808080u);

    QImage untouched = surface(10, 10);
    DrawTransparent(untouched, edgesRect(5, 0, 4, 10), marked, magenta);
    DrawTransparent(untouched, edgesRect(0, 5, 10, 4), marked, magenta);
    QCOMPARE(untouched, before);
}

void TestSkinDrawing::drawsOnOtherSurfaceFormats()
{
    const QImage picture = numbered(12, 12);
    for (QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB888}) {
        QImage out(12, 12, format);
        out.fill(Qt::white);
        StretchDraw(out, QRect(0, 0, 12, 12), picture, QRect(0, 0, 12, 12));
        QCOMPARE(out.format(), format);
        QCOMPARE(out.pixelColor(0, 0).rgb(), picture.pixel(0, 0));
        QCOMPARE(out.pixelColor(11, 7).rgb(), picture.pixel(11, 7));
    }
    // A semi-transparent picture onto a premultiplied surface is stored premultiplied.
    QImage glass(1, 1, QImage::Format_ARGB32);
    glass.setPixel(0, 0, qRgba(200, 100, 50, 128));
    QImage out(1, 1, QImage::Format_ARGB32_Premultiplied);
    StretchDraw(out, QRect(0, 0, 1, 1), glass, QRect(0, 0, 1, 1));
    QCOMPARE(out.pixel(0, 0), qPremultiply(qRgba(200, 100, 50, 128)));
}

QTEST_GUILESS_MAIN(TestSkinDrawing)
#include "tst_skindrawing.moc"
