#include "CardOcr.h"

#include <allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTransform>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <vector>
#include <cmath>

namespace kelvo::capture {

namespace {

// Each line read again and how it came out: QT_LOGGING_RULES="kelvo.capture.debug=true".
Q_LOGGING_CATEGORY(lcReading, "kelvo.capture", QtWarningMsg)

using Api = tesseract::TessBaseAPI;

struct PixDeleter
{
    void operator()(Pix *pix) const { pixDestroy(&pix); }
};
using PixPtr = std::unique_ptr<Pix, PixDeleter>;

// The recogniser reads best with letters some 20 to 40 pixels high: pictures
// are scaled so that their longer side lies in this range (a card's longer
// side is about 3.5 inches, so 340 to 630 pixels an inch).
constexpr int MinLongSide = 1200;
constexpr int MaxLongSide = 2200;
constexpr double CardLongSideInches = 3.5;
// Lines at least this many times the median line height are read again by
// the Chinese-only engine: large bold names come back as Latin junk from the
// mixed one.
constexpr double TallLineFactor = 1.4;
// Lines read with less confidence are read again by the Chinese-only
// engine too (a small title beside a large name comes back garbled).
constexpr int UnsureConfidence = 60;
// Lines read again are scaled down so that they are about this many pixels
// high: the recogniser reads large lettering poorly at the resolution that
// suits the small text.
constexpr int ReadLineHeight = 30;
// The search for text the recogniser left out gives up beyond so many
// components of one kind.
constexpr qsizetype MaxInkComponents = 1500;
// At most so many lines of a card are read again.
constexpr qsizetype MaxLinesReadAgain = 6;
// Text found outside the recogniser's lines is kept from this confidence on.
constexpr int FoundLineConfidence = 60;
// The share of a line's crop darker than its paper (most of a line is paper).
constexpr float PaperRank = 0.9f;
// How much larger a line that gave nothing sure is read once more.
constexpr double FallbackEnlargement = 1.25;
// Below this a few Latin letters are taken for misread Chinese and read again.
constexpr int LatinJunkConfidence = 75;
// The skew found in a card's lines is trusted from this confidence on.
constexpr float MinSkewConfidence = 1.0f;
// The orientation detection is trusted from this confidence on.
constexpr float MinOrientationConfidence = 3.0f;
// The recogniser gives up on a picture after so many milliseconds (the
// picture then gives an error), on one line after so many (the line keeps
// its first reading): a picture of a fine pattern (a checkerboard, a
// halftone) is thousands of "words" and took half a minute, where a card
// takes a fraction of a second. Lines are read again only within the
// picture's time.
constexpr int PictureDeadlineMs = 6000;
constexpr int LineDeadlineMs = 1500;
// At most so many single-line readings (some 30 ms each) when lines are read
// again: a blurred photo has many unsure lines, and the few read first (the
// tall ones, then the least sure) are the ones that matter. A count, not a
// time, so that a card reads alike on a fast and a slow machine.
constexpr int MaxLineReadings = 22;

PixPtr toPix(const QImage &gray)
{
    PixPtr pix(pixCreate(gray.width(), gray.height(), 8));
    if (!pix)
        return nullptr;
    l_uint32 *data = pixGetData(pix.get());
    const int wpl = pixGetWpl(pix.get());
    for (int y = 0; y < gray.height(); ++y) {
        const uchar *source = gray.constScanLine(y);
        l_uint32 *line = data + qsizetype(y) * wpl;
        for (int x = 0; x < gray.width(); ++x)
            SET_DATA_BYTE(line, x, source[x]);
    }
    return pix;
}

QString takeText(char *text)
{
    const QString result = QString::fromUtf8(text).simplified();
    delete[] text;
    return result;
}

bool hasHan(QChar c)
{
    return c.script() == QChar::Script_Han;
}

bool hasHan(const QString &text)
{
    for (QChar c : text)
        if (c.script() == QChar::Script_Han)
            return true;
    return false;
}

// Otsu's threshold over a picture of about 400 pixels across; its
// histogram and the number of pixels counted on request.
int otsuThreshold(const QImage &gray, std::array<int, 256> *histogramOut = nullptr, int *countOut = nullptr)
{
    const int step = std::max(1, std::max(gray.width(), gray.height()) / 400);
    std::array<int, 256> histogram{};
    int count = 0;
    for (int y = 0; y < gray.height(); y += step) {
        const uchar *line = gray.constScanLine(y);
        for (int x = 0; x < gray.width(); x += step)
            ++histogram[line[x]], ++count;
    }
    double sum = 0;
    for (int i = 0; i < 256; ++i)
        sum += double(i) * histogram[i];
    double sumDark = 0, best = -1;
    int darkCount = 0, threshold = 128;
    for (int t = 0; t < 256; ++t) {
        darkCount += histogram[t];
        sumDark += double(t) * histogram[t];
        const int brightCount = count - darkCount;
        if (darkCount == 0 || brightCount == 0)
            continue;
        const double meanDark = sumDark / darkCount, meanBright = (sum - sumDark) / brightCount;
        const double between = double(darkCount) * brightCount * (meanBright - meanDark) * (meanBright - meanDark);
        if (between > best)
            best = between, threshold = t;
    }
    if (histogramOut)
        *histogramOut = histogram;
    if (countOut)
        *countOut = count;
    return threshold;
}


// The rectangle `r` of `pix` (8-bit) made white; nothing when it is empty.
void whiten(Pix *pix, const QRect &r)
{
    if (r.width() <= 0 || r.height() <= 0)
        return;
    Box *b = boxCreate(r.left(), r.top(), r.width(), r.height());
    pixSetInRectArbitrary(pix, b, 255);
    boxDestroy(&b);
}

struct Reading
{
    QString text;
    int confidence = -1;
};

// One line of `pix` (the box `area`) read in single-line mode (or `mode`),
// scaled by `scale` first.
Reading readLine(Api *engine, Pix *pix, const QRect &area, double scale, int dpi,
                 tesseract::PageSegMode mode = tesseract::PSM_SINGLE_LINE, const QRect &keep = QRect())
{
    if (!engine || area.width() < 4 || area.height() < 4)
        return {};
    Box *box = boxCreate(area.left(), area.top(), area.width(), area.height());
    PixPtr crop(pixClipRectangle(pix, box, nullptr));
    boxDestroy(&box);
    if (!crop)
        return {};
    // The paper made white: the evened-out background is a light gray, on
    // which the single-line reading loses some lines altogether.
    if (pixGetDepth(crop.get()) == 8)
        if (NUMA *histogram = pixGetGrayHistogram(crop.get(), 1)) {
            l_float32 paper = 255;
            numaHistogramGetValFromRank(histogram, PaperRank, &paper);
            numaDestroy(&histogram);
            // Somewhat below the paper's own gray: its grain made white too.
            paper *= 0.9f;
            if (paper > 64 && paper < 250)
                if (PixPtr white{pixGammaTRC(nullptr, crop.get(), 1.0f, 0, int(paper))})
                    crop = std::move(white);
        }
    // The neighbours' ink around the line made white: part of the line
    // above or below confuses the reading of a large one.
    if (keep.isValid() && pixGetDepth(crop.get()) == 8) {
        const QRect inside = keep.translated(-area.topLeft()).intersected(QRect(0, 0, area.width(), area.height()));
        const QRect strips[] = {QRect(0, 0, area.width(), inside.top()),
                                QRect(0, inside.bottom() + 1, area.width(), area.height() - inside.bottom() - 1),
                                QRect(0, inside.top(), inside.left(), inside.height()),
                                QRect(inside.right() + 1, inside.top(), area.width() - inside.right() - 1, inside.height())};
        for (const QRect &strip : strips)
            whiten(crop.get(), strip);
    }
    if (scale < 0.95 || scale > 1.05)
        if (PixPtr scaled{pixScale(crop.get(), float(scale), float(scale))})
            crop = std::move(scaled);
    engine->SetPageSegMode(mode);
    engine->SetImage(crop.get());
    engine->SetSourceResolution(std::max(70, int(dpi * std::min(1.0, scale))));
    Reading reading;
    tesseract::ETEXT_DESC monitor;
    monitor.set_deadline_msecs(LineDeadlineMs);
    if (engine->Recognize(&monitor) != 0) {
        engine->Clear();
        return {};
    }
    reading.text = takeText(engine->GetUTF8Text());
    reading.confidence = std::clamp(engine->MeanTextConf(), 0, 100);
    engine->Clear();
    return reading;
}

// The part `area` of `pix` (8-bit) with the ink of other lines (`boxes`,
// less what lies inside `line` itself) made white.
PixPtr blankedCrop(Pix *pix, const QRect &area, const QRect &line, const QList<QRect> &boxes)
{
    Box *box = boxCreate(area.left(), area.top(), area.width(), area.height());
    PixPtr crop(pixClipRectangle(pix, box, nullptr));
    boxDestroy(&box);
    if (!crop || pixGetDepth(crop.get()) != 8)
        return crop;
    for (const QRect &other : boxes) {
        const QRect common = other.intersected(line);
        // The line itself, a reading of part of it, or one it is part of.
        if (qint64(common.width()) * common.height() * 2 >=
            std::min(qint64(other.width()) * other.height(), qint64(line.width()) * line.height()))
            continue;
        const QRect part = other.intersected(area);
        if (part.isEmpty())
            continue;
        // The other box less the line's rows or columns.
        const QRect strips[] = {QRect(QPoint(part.left(), part.top()), QPoint(part.right(), line.top() - 1)),
                                QRect(QPoint(part.left(), line.bottom() + 1), QPoint(part.right(), part.bottom())),
                                QRect(QPoint(part.left(), part.top()), QPoint(line.left() - 1, part.bottom())),
                                QRect(QPoint(line.right() + 1, part.top()), QPoint(part.right(), part.bottom()))};
        for (const QRect &strip : strips)
            whiten(crop.get(), strip.intersected(part).translated(-area.topLeft()));
    }
    return crop;
}

// A few Latin letters read with little confidence, no label ("Tel", "Add")
// nor number: on a card, most often Chinese the mixed engine mistook ("sss"
// for 总经理).
bool looksLikeLatinJunk(const CapturedLine &line)
{
    static const QRegularExpression label(QStringLiteral("^(add|tel|fax|mob|web|qq|msn|e-?mail|p\\.?c|[tfmew])\\W*$"),
                                          QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression letter(QStringLiteral("[A-Za-z]"));
    qsizetype visible = 0;
    for (QChar c : line.text)
        visible += !c.isSpace();
    return line.confidence < LatinJunkConfidence && visible > 0 && visible <= 6 && !hasHan(line.text) &&
           line.text.contains(letter) && !line.text.trimmed().contains(label);
}

// Side by side components (boxes sorted from left to right) as lines: one
// overlaps a line by half the height of the smaller and lies no further
// from it than the taller is high.
QList<QRect> joinIntoLines(const QList<QRect> &components)
{
    QList<QRect> lines;
    for (const QRect &c : components) {
        QRect *joined = nullptr;
        for (QRect &line : lines) {
            const int overlap = std::min(line.bottom(), c.bottom()) - std::max(line.top(), c.top()) + 1;
            const int gap = c.left() - line.right();
            if (overlap * 2 >= std::min(line.height(), c.height()) && gap <= std::max(line.height(), c.height())) {
                joined = &line;
                break;
            }
        }
        if (joined)
            *joined = joined->united(c);
        else
            lines.append(c);
    }
    return lines;
}

// Text in `pix` (8-bit, background evened) that the recogniser left out:
// lines of dark components outside the boxes `known`. Large text is
// components at least `tall` high (and not more than eight times that: a
// coloured band is no text); text of the size of the other lines (`median`
// high) counts from two components on a line twice as wide as high.
QList<QRect> inkLinesOutside(Pix *pix, const QList<QRect> &known, int median, int tall)
{
    QList<QRect> result;
    if (median < 4)
        return result;
    PixPtr ink(pixThresholdToBinary(pix, 140));
    if (!ink)
        return result;
    for (const QRect &k : known) {
        Box *box = boxCreate(k.left() - 2, k.top() - 2, k.width() + 4, k.height() + 4);
        pixClearInRect(ink.get(), box);
        boxDestroy(&box);
    }
    Boxa *boxes = pixConnCompBB(ink.get(), 8);
    if (!boxes)
        return result;
    QList<QRect> large, small;
    for (int i = 0; i < boxaGetCount(boxes); ++i) {
        l_int32 x = 0, y = 0, w = 0, h = 0;
        boxaGetBoxGeometry(boxes, i, &x, &y, &w, &h);
        if (h >= tall && h <= tall * 8 && w <= h * 3)
            large.append(QRect(x, y, w, h));
        else if (h * 10 >= median * 6 && h < tall && w <= h * 4)
            small.append(QRect(x, y, w, h));
    }
    boxaDestroy(&boxes);
    // A picture of thousands of specks or a pattern is no card's text: the
    // search, quadratic in the components, stays bounded.
    if (large.size() > MaxInkComponents)
        large.clear();
    if (small.size() > MaxInkComponents)
        small.clear();
    auto byLeft = [](const QRect &a, const QRect &b) { return a.left() < b.left(); };
    std::sort(large.begin(), large.end(), byLeft);
    std::sort(small.begin(), small.end(), byLeft);
    result = joinIntoLines(large);
    // The parts of large characters are no small text.
    QList<QRect> apart;
    for (const QRect &c : std::as_const(small))
        if (std::none_of(result.begin(), result.end(), [&](const QRect &l) { return l.intersects(c); }))
            apart.append(c);
    QList<int> counts;
    for (const QRect &line : joinIntoLines(apart)) {
        int count = 0;
        for (const QRect &c : std::as_const(apart))
            count += line.contains(c);
        if (count >= 2 && line.width() >= line.height() * 2)
            result.append(line);
    }
    return result;
}

// The columns of a vertical card that the recogniser left out: the same
// search over the picture turned a quarter clockwise.
QList<QRect> inkColumnsOutside(Pix *pix, const QList<QRect> &known, int median, int tall)
{
    PixPtr turned(pixRotate90(pix, 1));
    if (!turned)
        return {};
    const int height = pixGetHeight(pix);
    // (x, y) lies at (height - 1 - y, x) in the turned picture.
    QList<QRect> knownTurned;
    for (const QRect &k : known)
        knownTurned.append(QRect(height - k.top() - k.height(), k.left(), k.height(), k.width()));
    QList<QRect> columns;
    for (const QRect &r : inkLinesOutside(turned.get(), knownTurned, median, tall))
        columns.append(QRect(r.top(), height - r.left() - r.width(), r.height(), r.width()));
    return columns;
}

// `area` of `pix` (8-bit) cut out, and its ink as a 1-bit picture; either
// null when Leptonica cannot make it.
struct InkCrop
{
    PixPtr crop;
    PixPtr ink;
};
InkCrop inkCrop(Pix *pix, const QRect &area)
{
    Box *b = boxCreate(area.left(), area.top(), area.width(), area.height());
    InkCrop out;
    out.crop.reset(pixClipRectangle(pix, b, nullptr));
    boxDestroy(&b);
    if (out.crop)
        out.ink.reset(pixThresholdToBinary(out.crop.get(), 140));
    return out;
}

// Runs of rows (or columns) of `ink` (1-bit) with ink inside `within`,
// apart by at least `minGap` blank ones: first and last index of each.
QList<std::pair<int, int>> inkRuns(Pix *ink, bool rows, const QRect &within, int minGap)
{
    const l_uint32 *data = pixGetData(ink);
    const int wpl = pixGetWpl(ink);
    auto dark = [&](int x, int y) { return GET_DATA_BIT(data + qsizetype(y) * wpl, x) != 0; };
    QList<std::pair<int, int>> result;
    const int first = rows ? within.top() : within.left(), last = rows ? within.bottom() : within.right();
    const int acrossFirst = rows ? within.left() : within.top(), acrossLast = rows ? within.right() : within.bottom();
    int start = -1, end = -1;
    for (int at = first; at <= last; ++at) {
        bool any = false;
        for (int across = acrossFirst; !any && across <= acrossLast; ++across)
            any = rows ? dark(across, at) : dark(at, across);
        if (!any)
            continue;
        if (start >= 0 && at - end - 1 >= minGap) {
            result.append({start, end});
            start = -1;
        }
        if (start < 0)
            start = at;
        end = at;
    }
    if (start >= 0)
        result.append({start, end});
    return result;
}

// The characters of the column `area` of `pix` (8-bit) side by side on one
// line, left to right as they stand top to bottom: apart where a row
// across the column has no ink for a twelfth of its width.
PixPtr laidFlat(Pix *pix, const QRect &area)
{
    const InkCrop cut = inkCrop(pix, area);
    if (!cut.ink)
        return nullptr;
    const PixPtr &column = cut.crop;
    const int width = pixGetWidth(cut.ink.get()), height = pixGetHeight(cut.ink.get());
    const QList<std::pair<int, int>> characters =
        inkRuns(cut.ink.get(), true, QRect(0, 0, width, height), std::max(2, width / 12));
    if (characters.size() < 2 || characters.size() > 40)
        return nullptr;
    const int gap = std::max(4, width / 4);
    int tallest = 0;
    for (const auto &[top, bottom] : characters)
        tallest = std::max(tallest, bottom - top + 1);
    const int lineHeight = tallest + 2 * gap;
    PixPtr line(pixCreate(gap + int(characters.size()) * (width + gap), lineHeight, 8));
    if (!line)
        return nullptr;
    pixSetAll(line.get());
    int x = gap;
    for (const auto &[top, bottom] : characters) {
        // Each character upright, on the line's middle.
        const int h = bottom - top + 1;
        pixRasterop(line.get(), x, (lineHeight - h) / 2, width, h, PIX_SRC, column.get(), 0, top);
        x += width + gap;
    }
    return line;
}

// A line's `box` grown along the line (a column of a vertical card: `down`)
// over the ink that goes on past its ends in the middle of its breadth,
// across gaps of at most a third of its breadth: the recogniser's box of
// large lettering may end inside its last character, or leave out the first
// of a vertical name.
QRect grownAlong(Pix *pix, const QRect &box, bool down = false)
{
    const int h = down ? box.width() : box.height(), reach = 2 * h;
    const QRect page(0, 0, pixGetWidth(pix), pixGetHeight(pix));
    const QRect strip = (down ? QRect(QPoint(box.left() + h / 5, box.top() - reach),
                                      QPoint(box.right() - h / 5, box.bottom() + reach))
                              : QRect(QPoint(box.left() - reach, box.top() + h / 5),
                                      QPoint(box.right() + reach, box.bottom() - h / 5)))
                            .intersected(page);
    if (strip.width() < 2 || strip.height() < 2 || !strip.contains(box.center()))
        return box;
    const InkCrop cut = inkCrop(pix, strip);
    if (!cut.ink)
        return box;
    const int maxGap = std::max(2, h / 3);
    QRect grown = box;
    // Ink runs along the strip, joined over small gaps; the run that meets
    // the box sets its ends.
    const QList<std::pair<int, int>> runs =
        inkRuns(cut.ink.get(), down, QRect(0, 0, strip.width(), strip.height()), maxGap + 1);
    for (const auto &[first, last] : runs) {
        const int start = (down ? strip.top() : strip.left()) + first, end = (down ? strip.top() : strip.left()) + last;
        if (end < (down ? box.top() : box.left()) || start > (down ? box.bottom() : box.right()))
            continue;
        if (down) {
            grown.setTop(std::min(grown.top(), start));
            grown.setBottom(std::max(grown.bottom(), end));
        } else {
            grown.setLeft(std::min(grown.left(), start));
            grown.setRight(std::max(grown.right(), end));
        }
    }
    return grown;
}

// Whether a small round blot sits on the baseline right at the end of the
// line `box`, with nothing after it: a full stop the recogniser left out.
bool endsWithDot(Pix *pix, const QRect &box)
{
    const int h = box.height();
    if (h < 8)
        return false;
    // From inside the box's end (it may hold the stop already) to well past
    // it, where the next word would begin.
    const QRect page(0, 0, pixGetWidth(pix), pixGetHeight(pix));
    const QRect area = QRect(QPoint(box.right() - h / 4, box.top()), QPoint(box.right() + h, box.bottom() + h / 5))
                           .intersected(page);
    if (area.width() < h / 2)
        return false;
    const InkCrop cut = inkCrop(pix, area);
    if (!cut.ink)
        return false;
    const QRect whole(0, 0, area.width(), area.height());
    const auto columns = inkRuns(cut.ink.get(), false, whole, 1);
    // The last mark, apart from what comes before it, within half a height
    // of the box's end and with nothing after it.
    if (columns.size() < 2)
        return false;
    const auto [left, right] = columns.back();
    if (left > h / 4 + h / 2 || right - left + 1 > h / 4 || right >= area.width() - 1)
        return false;
    const auto rows = inkRuns(cut.ink.get(), true, QRect(left, 0, right - left + 1, area.height()), 1);
    if (rows.size() != 1)
        return false;
    const auto [top, bottom] = rows.front();
    const int width = right - left + 1, height = bottom - top + 1;
    // Small, about as wide as high, its bottom near the baseline (the box's
    // bottom, or a little above it where the line has descenders).
    return height <= h / 4 && height >= 2 && width >= 2 && width <= 2 * height && height <= 2 * width &&
           top >= h / 2 && bottom <= h + h / 10;
}

// `box` without slivers of the lines above and below it that it took in:
// bands of rows with ink, apart from the rest, under a quarter of its
// height, at its top or bottom.
QRect withoutSlivers(Pix *pix, const QRect &box)
{
    const InkCrop cut = inkCrop(pix, box);
    if (!cut.ink)
        return box;
    const int width = pixGetWidth(cut.ink.get()), height = pixGetHeight(cut.ink.get());
    QList<std::pair<int, int>> bands = inkRuns(cut.ink.get(), true, QRect(0, 0, width, height), 2);
    auto small = [&](const std::pair<int, int> &band) { return (band.second - band.first + 1) * 4 < height; };
    while (bands.size() > 1 && small(bands.front()))
        bands.removeFirst();
    while (bands.size() > 1 && small(bands.back()))
        bands.removeLast();
    if (bands.isEmpty())
        return box;
    return QRect(box.left(), box.top() + bands.front().first, box.width(), bands.back().second - bands.front().first + 1);
}

// The ink of `box` in `pix` as two or more lines when it is: bands of
// rows apart (a name with its title close under it), or else parts side by
// side of clearly different heights (a name with its title beside it);
// otherwise nothing. With `touching` (a Chinese name), the title may touch
// the name from below; with `onlyTouching` (ink the recogniser read nothing
// in), only that is looked for.
QList<QRect> stackedOrSideBySide(Pix *pix, const QRect &found, bool touching, bool onlyTouching)
{
    // The recogniser's box of a large Chinese name may take in only the top
    // of a title touching it from below: the box grown down over the ink that
    // goes on under it, by at most half its height.
    QRect box = found;
    PixPtr all{pixThresholdToBinary(pix, 140)};
    if (all && touching) {
        const l_uint32 *data = pixGetData(all.get());
        const int wpl = pixGetWpl(all.get()), last = std::min(pixGetHeight(all.get()) - 1, found.bottom() + found.height() / 2);
        const int right = std::min(pixGetWidth(all.get()) - 1, found.right());
        auto inkIn = [&](int y) {
            for (int x = std::max(0, found.left()); x <= right; ++x)
                if (GET_DATA_BIT(data + qsizetype(y) * wpl, x))
                    return true;
            return false;
        };
        while (box.bottom() < last && inkIn(box.bottom() + 1))
            box.setBottom(box.bottom() + 1);
    }
    const InkCrop cut = inkCrop(pix, box);
    if (!cut.ink)
        return {};
    const PixPtr &ink = cut.ink;
    const int width = pixGetWidth(ink.get()), height = pixGetHeight(ink.get());
    const l_uint32 *data = pixGetData(ink.get());
    const int wpl = pixGetWpl(ink.get());
    auto dark = [&](int x, int y) { return GET_DATA_BIT(data + qsizetype(y) * wpl, x) != 0; };
    auto runs = [&](bool rows, const QRect &within, int minGap) { return inkRuns(ink.get(), rows, within, minGap); };
    const QRect whole(0, 0, width, height);
    // The ink of a part, as a box in `pix`.
    auto extent = [&](QRect part) {
        const auto r = runs(true, part, 0), c = runs(false, part, 0);
        if (r.isEmpty() || c.isEmpty())
            return QRect();
        return QRect(QPoint(c.front().first, r.front().first), QPoint(c.back().second, r.back().second))
            .translated(box.topLeft());
    };
    QList<QRect> parts;
    const auto bands = runs(true, whole, std::max(2, height / 25));
    if (bands.size() >= 2 && !onlyTouching) {
        for (const auto &[top, bottom] : bands)
            if ((bottom - top + 1) * 5 >= height) // specks and dots are no line
                parts.append(extent(QRect(0, top, width, bottom - top + 1)));
        if (parts.size() >= 2)
            return parts;
        parts.clear();
    } else if (bands.size() == 1 && touching) {
        // A title set so close under a large Chinese name that their
        // strokes touch: no blank row between them, but a row with little
        // ink, in the lower part of the box, above a band of at least a
        // fifth of it; the name above it a few characters long.
        std::vector<int> perRow(size_t(height), 0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                perRow[size_t(y)] += dark(x, y);
        const int peak = *std::max_element(perRow.begin(), perRow.end());
        int split = -1;
        for (int y = height * 2 / 5; y < height * 4 / 5; ++y)
            if (split < 0 || perRow[size_t(y)] < perRow[size_t(split)])
                split = y;
        if (split > 0 && perRow[size_t(split)] * 5 <= peak) {
            const QRect upper = extent(QRect(0, 0, width, split));
            QRect lower = extent(QRect(0, split + 1, width, height - split - 1));
            if (all && !lower.isNull()) {
                // The title may be wider than the name: its rows followed
                // on to the right over gaps narrower than its height.
                const l_uint32 *data = pixGetData(all.get());
                const int wpl = pixGetWpl(all.get()), end = pixGetWidth(all.get());
                auto inkAt = [&](int x) {
                    for (int y = lower.top() + lower.height() / 4; y <= lower.bottom() - lower.height() / 4; ++y)
                        if (GET_DATA_BIT(data + qsizetype(y) * wpl, x))
                            return true;
                    return false;
                };
                for (int x = lower.right() + 1, gap = 0; x < end && gap <= lower.height(); ++x) {
                    if (inkAt(x))
                        lower.setRight(x), gap = 0;
                    else
                        ++gap;
                }
            }
            if (!upper.isNull() && !lower.isNull() && lower.height() * 5 >= height && upper.height() > lower.height() &&
                upper.width() >= upper.height() && upper.width() <= upper.height() * 5)
                return {upper, lower};
        }
    }
    const auto columns = runs(false, whole, std::max(4, height / 2));
    if (columns.size() < 2 || onlyTouching)
        return {};
    int low = height, high = 0;
    for (const auto &[left, right] : columns) {
        const QRect part = extent(QRect(left, 0, right - left + 1, height));
        if (part.isNull())
            continue;
        parts.append(part);
        low = std::min(low, part.height());
        high = std::max(high, part.height());
    }
    if (parts.size() < 2 || high * 10 < low * 14)
        return {};
    return parts;
}

} // namespace

struct CardOcr::Engines
{
    std::unique_ptr<Api> mixed, chinese, english, vertical, orientation;
    QString error;

    // The engine for `language`, made at its first use; null (with `error`
    // set) when its data is not installed.
    Api *get(std::unique_ptr<Api> &engine, const char *language, tesseract::OcrEngineMode mode)
    {
        if (engine)
            return engine.get();
        auto api = std::make_unique<Api>();
        // Debian's data folder, compiled into the library.
        if (api->Init(nullptr, language, mode) != 0) {
            error = QStringLiteral("the recogniser's language data '%1' is not installed (tesseract-ocr-*)")
                        .arg(QString::fromLatin1(language));
            return nullptr;
        }
        api->SetVariable("debug_file", "/dev/null");
        engine = std::move(api);
        return engine.get();
    }
};

CardOcr::CardOcr()
    : m_engines(std::make_unique<Engines>())
{
    // Leptonica's messages about odd pictures go nowhere; failures come
    // back as results.
    setMsgSeverity(L_SEVERITY_NONE);
}

CardOcr::~CardOcr() = default;

QString addressWithAt(const QString &address, const QString &reading)
{
    static const QRegularExpression spaced(QStringLiteral("\\s*([.@])\\s*"));
    static const QRegularExpression withAt(
        QStringLiteral("[A-Za-z0-9._%+-]+@[A-Za-z0-9-]+(?:\\.[A-Za-z0-9-]+)*\\.[A-Za-z]{2,}"));
    QString text = reading;
    text.replace(spaced, QStringLiteral("\\1"));
    const QRegularExpressionMatch found = withAt.match(text);
    if (!found.hasMatch() || address.contains(u'@'))
        return {};
    const QString whole = found.captured(0);
    const QString local = whole.section(u'@', 0, 0), domain = whole.section(u'@', 1);
    const qsizetype between = address.size() - local.size() - domain.size();
    if (between < 0 || between > 1 || !address.startsWith(local, Qt::CaseInsensitive) ||
        !address.endsWith(domain, Qt::CaseInsensitive))
        return {};
    return address.left(local.size()) + u'@' + address.right(domain.size());
}

QImage rotatedPicture(const QImage &picture, int degrees)
{
    degrees = ((degrees % 360) + 360) % 360;
    if (degrees == 0)
        return picture;
    return picture.transformed(QTransform().rotate(degrees));
}

bool endsWithFullStop(const QImage &gray, const QRect &box)
{
    const PixPtr pix = toPix(gray.convertToFormat(QImage::Format_Grayscale8));
    return pix && endsWithDot(pix.get(), box);
}

QRect findCardArea(const QImage &gray)
{
    const QRect whole = gray.rect();
    if (gray.width() < 64 || gray.height() < 64)
        return whole;
    const int step = std::max(1, std::max(gray.width(), gray.height()) / 400);
    std::array<int, 256> histogram{};
    int count = 0;
    const int threshold = otsuThreshold(gray, &histogram, &count);
    int dark = 0;
    double darkSum = 0;
    for (int i = 0; i <= threshold; ++i)
        dark += histogram[i], darkSum += double(i) * histogram[i];
    const double brightShare = 1.0 - double(dark) / count;
    // A card on a dark surface: a bright area of a fifth to nine tenths of
    // the picture around a dark one.
    if (dark == 0 || darkSum / dark > 110 || brightShare < 0.2 || brightShare > 0.9)
        return whole;
    const int columns = (gray.width() + step - 1) / step, rows = (gray.height() + step - 1) / step;
    std::vector<int> perRow(size_t(rows), 0), perColumn(size_t(columns), 0);
    for (int y = 0, r = 0; y < gray.height(); y += step, ++r) {
        const uchar *line = gray.constScanLine(y);
        for (int x = 0, c = 0; x < gray.width(); x += step, ++c)
            if (line[x] > threshold)
                ++perRow[size_t(r)], ++perColumn[size_t(c)];
    }
    auto span = [](const std::vector<int> &counts) {
        const int peak = *std::max_element(counts.begin(), counts.end());
        int first = 0, last = int(counts.size()) - 1;
        while (first < last && counts[size_t(first)] * 3 < peak)
            ++first;
        while (last > first && counts[size_t(last)] * 3 < peak)
            --last;
        return std::pair(first, last);
    };
    const auto [top, bottom] = span(perRow);
    const auto [left, right] = span(perColumn);
    const int margin = 2;
    const QRect area = QRect(QPoint((left - margin) * step, (top - margin) * step),
                             QPoint((right + margin + 1) * step, (bottom + margin + 1) * step))
                           .intersected(whole);
    if (area.width() < whole.width() / 5 || area.height() < whole.height() / 5 ||
        qint64(area.width()) * area.height() > qint64(whole.width()) * whole.height() * 9 / 10)
        return whole;
    return area;
}

double cardEdgeAngle(const QImage &gray)
{
    const int width = gray.width(), height = gray.height();
    if (width < 64 || height < 64 || gray.format() != QImage::Format_Grayscale8)
        return 0;
    const int threshold = otsuThreshold(gray);
    // Points of one edge: per column in the middle of the card, the first
    // bright pixel from the top (or the bottom) in the outer third.
    auto edgeSlope = [&](bool top, double *slope) {
        QList<QPointF> points;
        const int step = std::max(1, width / 60);
        for (int x = width / 5; x < width * 4 / 5; x += step)
            for (int k = 0; k < height / 3; ++k) {
                const int y = top ? k : height - 1 - k;
                if (gray.constScanLine(y)[x] > threshold) {
                    if (k > 0)
                        points.append(QPointF(x, y));
                    break;
                }
            }
        if (points.size() < 10)
            return false;
        std::vector<double> slopes;
        for (qsizetype i = 0; i < points.size(); ++i)
            for (qsizetype j = i + points.size() / 3; j < points.size(); ++j)
                slopes.push_back((points[j].y() - points[i].y()) / (points[j].x() - points[i].x()));
        if (slopes.empty())
            return false;
        std::nth_element(slopes.begin(), slopes.begin() + slopes.size() / 2, slopes.end());
        *slope = slopes[slopes.size() / 2];
        return true;
    };
    double upper = 0, lower = 0;
    if (!edgeSlope(true, &upper) || !edgeSlope(false, &lower))
        return 0;
    const double a = std::atan(upper) * 180 / M_PI, b = std::atan(lower) * 180 / M_PI;
    const double angle = (a + b) / 2;
    if (std::abs(a - b) > 1.5 || std::abs(angle) < 0.3 || std::abs(angle) > 12)
        return 0;
    return -angle;
}

QImage withoutSurroundings(const QImage &gray)
{
    if (gray.width() < 3 || gray.height() < 3 || gray.format() != QImage::Format_Grayscale8)
        return gray;
    // The dark surface around a photographed card: every dark pixel joined
    // to the picture's edge. Left as it is, it pulls the recogniser's one
    // threshold for the whole picture so low that light small text falls
    // on the side of the paper.
    const uchar threshold = uchar(otsuThreshold(gray));
    QImage out = gray;
    const int width = out.width(), height = out.height();
    std::vector<int> pending;
    auto visit = [&](int x, int y) {
        uchar *pixel = out.scanLine(y) + x;
        if (*pixel <= threshold) {
            *pixel = 255;
            pending.push_back(y * width + x);
        }
    };
    for (int x = 0; x < width; ++x)
        visit(x, 0), visit(x, height - 1);
    for (int y = 0; y < height; ++y)
        visit(0, y), visit(width - 1, y);
    while (!pending.empty()) {
        const int at = pending.back();
        pending.pop_back();
        const int x = at % width, y = at / width;
        if (x > 0)
            visit(x - 1, y);
        if (x + 1 < width)
            visit(x + 1, y);
        if (y > 0)
            visit(x, y - 1);
        if (y + 1 < height)
            visit(x, y + 1);
    }
    return out;
}

OcrOutput CardOcr::read(const QImage &picture, const OcrOptions &options)
{
    OcrOutput out;
    if (picture.isNull()) {
        out.error = QStringLiteral("empty picture");
        return out;
    }
    QElapsedTimer clock;
    clock.start();
    QImage gray = rotatedPicture(picture, options.rotation).convertToFormat(QImage::Format_Grayscale8);
    out.rotation = ((options.rotation % 360) + 360) % 360;
    out.cardArea = findCardArea(gray);
    out.vertical = options.layout == OcrOptions::Layout::Vertical ||
                   (options.layout == OcrOptions::Layout::Auto &&
                    out.cardArea.height() * 10 > out.cardArea.width() * 12);

    auto prepare = [](const QImage &source, bool smooth, double turn, double *scale) -> PixPtr {
        const int longSide = std::max(source.width(), source.height());
        *scale = 1.0;
        QImage scaled = source;
        if (longSide < MinLongSide || longSide > MaxLongSide) {
            *scale = double(longSide < MinLongSide ? MinLongSide : MaxLongSide) / longSide;
            scaled = source.scaled(std::max(1, qRound(source.width() * *scale)),
                                   std::max(1, qRound(source.height() * *scale)),
                                   Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        PixPtr pix = toPix(scaled);
        if (!pix)
            return nullptr;
        // An even background (a photo on a dark table loses its small text
        // without it), then straight lines.
        // A photo's grain smoothed away first (a scan's fine strokes keep
        // better without).
        if (smooth)
            if (PixPtr smoothed{pixBlockconv(pix.get(), 1, 1)})
                pix = std::move(smoothed);
        if (turn != 0)
            if (PixPtr straight{pixRotate(pix.get(), float(turn * M_PI / 180), L_ROTATE_AREA_MAP, L_BRING_IN_WHITE, 0, 0)})
                pix = std::move(straight);
        if (PixPtr normalised{pixBackgroundNormSimple(pix.get(), nullptr, nullptr)})
            pix = std::move(normalised);
        // Leptonica's own deskewing turns a picture only when it is sure
        // (confidence 3), which a card's few lines seldom make it: a card
        // scanned 3 degrees askew was read as it lay.
        l_float32 angle = 0, confidence = 0;
        if (PixPtr ink{pixConvertTo1(pix.get(), 130)})
            if (pixFindSkewSweepAndSearch(ink.get(), &angle, &confidence, 2, 2, 7.0f, 1.0f, 0.01f) == 0 &&
                confidence >= MinSkewConfidence && std::abs(angle) >= 0.2f)
                if (PixPtr straight{pixRotate(pix.get(), angle * float(M_PI / 180), L_ROTATE_AREA_MAP,
                                              L_BRING_IN_WHITE, 0, 0)})
                    pix = std::move(straight);
        return pix;
    };

    // The card alone; a photo's surroundings made white. A photographed
    // card lies as its edges do: its few lines of text are too little for
    // the skew search in a blurred photo.
    auto cardPicture = [](const QImage &whole, const QRect &area) {
        return area == whole.rect() ? whole : withoutSurroundings(whole.copy(area));
    };
    auto cardTurn = [](const QImage &whole, const QRect &area) {
        return area == whole.rect() ? 0.0 : cardEdgeAngle(whole.copy(area));
    };
    double scale = 1.0;
    PixPtr pix = prepare(cardPicture(gray, out.cardArea), out.cardArea != gray.rect(), cardTurn(gray, out.cardArea),
                         &scale);
    if (!pix) {
        out.error = QStringLiteral("the picture cannot be prepared for reading");
        return out;
    }

    if (!out.vertical && options.detectOrientation && options.rotation == 0) {
        if (Api *osd = m_engines->get(m_engines->orientation, "osd", tesseract::OEM_TESSERACT_ONLY)) {
            osd->SetPageSegMode(tesseract::PSM_OSD_ONLY);
            osd->SetImage(pix.get());
            osd->SetSourceResolution(std::max(70, int(std::max(pixGetWidth(pix.get()), pixGetHeight(pix.get())) /
                                                      CardLongSideInches)));
            int degrees = 0;
            float confidence = 0, scriptConfidence = 0;
            const char *script = nullptr;
            if (osd->DetectOrientationScript(&degrees, &confidence, &script, &scriptConfidence) && degrees != 0 &&
                confidence >= MinOrientationConfidence) {
                // `degrees` is how far the text is turned clockwise.
                out.rotation = (360 - degrees) % 360;
                gray = rotatedPicture(gray, 360 - degrees);
                out.cardArea = findCardArea(gray);
                pix = prepare(cardPicture(gray, out.cardArea), out.cardArea != gray.rect(),
                              cardTurn(gray, out.cardArea), &scale);
                if (!pix) {
                    out.error = QStringLiteral("the picture cannot be prepared for reading");
                    return out;
                }
            }
            osd->Clear();
        }
    }

    const int dpi = std::max(70, int(std::max(pixGetWidth(pix.get()), pixGetHeight(pix.get())) / CardLongSideInches));
    Api *main = out.vertical
                    ? m_engines->get(m_engines->vertical, "chi_sim_vert", tesseract::OEM_LSTM_ONLY)
                    : m_engines->get(m_engines->mixed, "chi_sim+eng", tesseract::OEM_LSTM_ONLY);
    if (!main) {
        out.error = m_engines->error;
        return out;
    }
    main->SetPageSegMode(out.vertical ? tesseract::PSM_SINGLE_BLOCK_VERT_TEXT : tesseract::PSM_SPARSE_TEXT);
    main->SetImage(pix.get());
    main->SetSourceResolution(dpi);
    tesseract::ETEXT_DESC monitor;
    monitor.set_deadline_msecs(PictureDeadlineMs);
    if (main->Recognize(&monitor) != 0) {
        main->Clear();
        out.error = monitor.deadline_exceeded()
                        ? QStringLiteral("the recogniser gave up after %1 seconds: the picture holds too many "
                                         "shapes to be a card (a fine pattern or halftone)")
                              .arg(PictureDeadlineMs / 1000)
                        : QStringLiteral("the recogniser failed on the picture");
        return out;
    }

    // The recogniser's lines may join texts of different sizes that stand
    // side by side (a large name and its title): its words are grouped
    // again into runs of one size without wide gaps.
    QList<CapturedLine> lines;
    QList<QRect> scaledBoxes;
    if (std::unique_ptr<tesseract::ResultIterator> it{main->GetIterator()}) {
        struct Word
        {
            QString text;
            int confidence;
            QRect box;
            int size;
        };
        QList<Word> run;
        auto flush = [&] {
            if (run.isEmpty())
                return;
            CapturedLine line;
            QRect box;
            int confidence = 100;
            for (const Word &w : std::as_const(run)) {
                // Chinese is written without spaces, also next to digits.
                const bool joinTight = !line.text.isEmpty() && (hasHan(line.text.back()) || hasHan(w.text.front()));
                line.text += (line.text.isEmpty() || joinTight ? QString() : QStringLiteral(" ")) + w.text;
                box = box.isNull() ? w.box : box.united(w.box);
                confidence = std::min(confidence, w.confidence);
            }
            line.confidence = confidence;
            line.box = box;
            scaledBoxes.append(box);
            lines.append(line);
            run.clear();
        };
        do {
            if (it->IsAtBeginningOf(tesseract::RIL_TEXTLINE))
                flush();
            if (it->Empty(tesseract::RIL_WORD))
                continue;
            Word word;
            word.text = takeText(it->GetUTF8Text(tesseract::RIL_WORD));
            if (word.text.isEmpty())
                continue;
            word.confidence = std::clamp(int(std::lround(it->Confidence(tesseract::RIL_WORD))), 0, 100);
            int left = 0, top = 0, right = 0, bottom = 0;
            it->BoundingBox(tesseract::RIL_WORD, &left, &top, &right, &bottom);
            word.box = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
            // Chinese characters are square and as wide as they are large:
            // a word of them has its size in its width (flat ones such as
            // 一 and tall ones would mislead its height).
            int han = 0;
            for (QChar c : std::as_const(word.text))
                han += c.script() == QChar::Script_Han;
            const int across = out.vertical ? word.box.height() : word.box.width();
            const int thick = out.vertical ? word.box.width() : word.box.height();
            word.size = han > 0 && han == word.text.size() ? across / han : thick;
            // Columns of a vertical card are read as they are.
            if (!run.isEmpty() && !out.vertical) {
                const Word &last = run.back();
                const int large = std::max(last.size, word.size), small = std::min(last.size, word.size);
                const int gap = out.vertical ? word.box.top() - last.box.bottom()
                                                 : word.box.left() - last.box.right();
                // A word of one character is no measure of size: the
                // recogniser boxes a lone 路 or 号 amid digits far too narrow
                // or too tall, and the line would lose it.
                const bool measured = last.text.size() > 1 && word.text.size() > 1;
                if ((measured && large * 10 > small * 18) || gap > large * 5 / 2)
                    flush();
            }
            run.append(word);
        } while (it->Next(tesseract::RIL_WORD));
        flush();
    }
    main->Clear();

    // Tall and unsure lines again, one line at a time, each scaled so that
    // its characters are some 30 pixels high: large lettering at the
    // resolution of the small text comes back as Latin junk or not at all.
    // A vertical card's columns likewise, by their width, with the vertical
    // engine.
    if (lines.size() > 1) {
        const bool vertical = out.vertical;
        auto thickness = [vertical](const QRect &box) { return vertical ? box.width() : box.height(); };
        QList<int> heights;
        for (const QRect &box : scaledBoxes)
            heights.append(thickness(box));
        std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
        const int median = heights[heights.size() / 2];
        const QRect page(0, 0, pixGetWidth(pix.get()), pixGetHeight(pix.get()));
        // Chinese the mixed engine took for a few Latin letters ("Be" or
        // "MR" over "+) OIL" for 总监) right after a line of Chinese (财务)
        // is joined to that line, which is read again whole.
        QList<bool> joined(lines.size(), false);
        auto isLargeChinese = [&](qsizetype i) {
            static const QRegularExpression latin(QStringLiteral("[A-Za-z0-9]"));
            return hasHan(lines[i].text) && !lines[i].text.contains(latin) &&
                   scaledBoxes[i].height() >= TallLineFactor * median;
        };
        if (!vertical) {
            for (bool more = true; more;) {
                more = false;
                for (qsizetype j = 0; j < lines.size() && !more; ++j) {
                    const bool junk = looksLikeLatinJunk(lines[j]);
                    if (!junk && !isLargeChinese(j))
                        continue;
                    for (qsizetype i = 0; i < lines.size(); ++i) {
                        const QRect a = scaledBoxes[i], b = scaledBoxes[j];
                        if (i == j || !hasHan(lines[i].text) || b.left() <= a.left())
                            continue;
                        if (junk) {
                            const int slack = a.height() / 5;
                            if (b.left() <= a.center().x() || b.top() < a.top() - slack ||
                                b.bottom() > a.bottom() + slack || b.left() - a.right() > a.height() / 2)
                                continue;
                        } else {
                            // Large Chinese broken in two ("苏州" and
                            // "金桥信息技术有限公司"): of about one size, on
                            // one line, close together.
                            const int low = std::min(a.height(), b.height()), high = std::max(a.height(), b.height());
                            const int across = std::min(a.bottom(), b.bottom()) - std::max(a.top(), b.top()) + 1;
                            if (!isLargeChinese(i) || high * 10 > low * 17 || across * 10 < low * 7 ||
                                b.left() - a.right() > low * 3 / 4)
                                continue;
                        }
                        scaledBoxes[i] = lines[i].box = a.united(b);
                        joined[i] = true;
                        lines.removeAt(j);
                        scaledBoxes.removeAt(j);
                        joined.removeAt(j);
                        more = true;
                        break;
                    }
                }
            }
        }
        QList<qsizetype> again;
        // A line far longer than its characters take has lost some of them
        // ("建筑" in the box of "建筑设计研究院").
        QList<bool> cut(lines.size(), false);
        for (qsizetype i = 0; i < lines.size(); ++i) {
            qsizetype han = 0, other = 0;
            for (QChar c : std::as_const(lines[i].text))
                (hasHan(c) ? han : other) += !c.isSpace();
            const QRect box = scaledBoxes[i];
            // Latin letters are about half as wide as high.
            cut[i] = joined[i] ||
                     (!vertical && ((han > 0 && other == 0 && box.width() > (han + 2) * box.height()) ||
                                    (han == 0 && other >= 3 && box.width() > (other + 4) * box.height())));
            if (thickness(box) >= TallLineFactor * median || lines[i].confidence < UnsureConfidence || cut[i] ||
                (!vertical && looksLikeLatinJunk(lines[i])))
                again.append(i);
        }
        // Text the recogniser left out (it may drop a whole line of large
        // and small text): ink outside the lines it read surely.
        QList<QRect> kept;
        for (qsizetype i = 0; i < lines.size(); ++i)
            if (!again.contains(i))
                kept.append(scaledBoxes[i]);
        QList<QRect> unsure;
        for (qsizetype i : std::as_const(again))
            unsure.append(scaledBoxes[i]);
        for (const QRect &box : vertical ? inkColumnsOutside(pix.get(), kept, median, int(TallLineFactor * median))
                                         : inkLinesOutside(pix.get(), kept, median, int(TallLineFactor * median))) {
            const bool seen = std::any_of(unsure.begin(), unsure.end(), [&](const QRect &u) {
                const QRect common = u.intersected(box);
                return qint64(common.width()) * common.height() * 2 >= qint64(box.width()) * box.height();
            });
            if (seen)
                continue;
            lines.append(CapturedLine{QString(), 0, box});
            scaledBoxes.append(box);
            cut.append(false);
            again.append(lines.size() - 1);
        }
        // A vertical card's large name may come in pieces, one character
        // apart from the next (陈 read as 人 above 建国): pieces of one
        // column, close above one another, are read again as one.
        if (vertical)
            for (bool more = true; more;) {
                more = false;
                for (qsizetype a = 0; a < again.size() && !more; ++a)
                    for (qsizetype b = 0; b < again.size() && !more; ++b) {
                        const QRect upper = scaledBoxes[again[a]], lower = scaledBoxes[again[b]];
                        const int narrow = std::min(upper.width(), lower.width());
                        const int wide = std::max(upper.width(), lower.width());
                        const int across =
                            std::min(upper.right(), lower.right()) - std::max(upper.left(), lower.left()) + 1;
                        const int gap = lower.top() - upper.bottom() - 1;
                        if (a == b || upper.top() > lower.top() || across * 5 < narrow * 3 ||
                            wide * 10 > narrow * 18 || gap > wide * 2 / 5 || lower.bottom() <= upper.bottom())
                            continue;
                        const qsizetype kept = again[a], gone = again[b];
                        scaledBoxes[kept] = lines[kept].box = upper.united(lower);
                        if (lines[kept].text.isEmpty() || lines[gone].confidence > lines[kept].confidence)
                            lines[kept].confidence = lines[gone].confidence;
                        lines[kept].text += lines[gone].text;
                        cut[kept] = true;
                        lines[gone].text.clear();
                        again.removeAt(b);
                        more = true;
                    }
            }
        // A blurred photo gives many unsure fragments: the tall lines and
        // the least sure others are read again, a bounded number of them
        // (each costs some 30 ms).
        std::stable_sort(again.begin(), again.end(), [&](qsizetype a, qsizetype b) {
            const bool tallA = thickness(scaledBoxes[a]) >= TallLineFactor * median;
            const bool tallB = thickness(scaledBoxes[b]) >= TallLineFactor * median;
            if (tallA != tallB)
                return tallA;
            return lines[a].confidence < lines[b].confidence;
        });
        for (qsizetype i : std::as_const(again))
            qCDebug(lcReading) << "to read again" << scaledBoxes[i] << lines[i].text << lines[i].confidence;
        if (again.size() > MaxLinesReadAgain)
            again.resize(MaxLinesReadAgain);
        // Single-line readings within the picture's allowance.
        int readingsLeft = MaxLineReadings;
        auto counted = [&](auto &&...arguments) -> Reading {
            if (readingsLeft <= 0)
                return {};
            --readingsLeft;
            return readLine(std::forward<decltype(arguments)>(arguments)...);
        };
        // One line read again, scaled; in English too when the mixed
        // engine saw words (Chinese it mistakes for Latin comes back as
        // capitals, "RF", "HBAS") or no Chinese is there: a large Latin
        // name is no Chinese.
        auto reread = [&](const QRect &box, const QString &before) {
            const int pad = thickness(box) / 4;
            const QRect area = box.adjusted(-pad, -pad, pad, pad).intersected(page);
            const double lineScale = std::min(1.0, double(ReadLineHeight) / std::max(1, thickness(box)));
            if (vertical) {
                // The vertical engine misreads large lettering of some
                // faces: the column's characters laid side by side are read
                // by the Chinese engine too.
                const Reading column =
                    counted(m_engines->get(m_engines->vertical, "chi_sim_vert", tesseract::OEM_LSTM_ONLY), pix.get(),
                             area, lineScale, dpi, tesseract::PSM_SINGLE_BLOCK_VERT_TEXT);
                PixPtr flat(laidFlat(pix.get(), area));
                if (!flat)
                    return column;
                const Reading line = counted(m_engines->get(m_engines->chinese, "chi_sim", tesseract::OEM_LSTM_ONLY),
                                              flat.get(), QRect(0, 0, pixGetWidth(flat.get()), pixGetHeight(flat.get())),
                                              lineScale, dpi);
                return line.confidence > column.confidence && !line.text.isEmpty() ? line : column;
            }
            // Across the line a little room, along it more: a recogniser's
            // box may miss a stroke of its first or last character.
            const int margin = std::max(2, thickness(box) / 8), along = std::max(2, thickness(box) / 3);
            const QRect keep = box.adjusted(-along, -margin, along, margin);
            // Other lines reaching into that room (a title set close under
            // a large name) are blanked as well.
            PixPtr crop = blankedCrop(pix.get(), area, box, scaledBoxes);
            if (!crop)
                return Reading{};
            const QRect whole(0, 0, pixGetWidth(crop.get()), pixGetHeight(crop.get()));
            const QRect keepInCrop = keep.translated(-area.topLeft());
            auto readScaled = [&](Api *engine, double scale,
                                  tesseract::PageSegMode mode = tesseract::PSM_SINGLE_LINE) {
                return counted(engine, crop.get(), whole, scale, dpi, mode, keepInCrop);
            };
            auto readAt = [&](Api *engine, double height) {
                return readScaled(engine, std::min(1.0, height / std::max(1, thickness(box))));
            };
            Api *chineseEngine = m_engines->get(m_engines->chinese, "chi_sim", tesseract::OEM_LSTM_ONLY);
            Reading chinese = readAt(chineseEngine, ReadLineHeight);
            // Large lettering (a name) at two more sizes: which size suits
            // a face varies (heavy bold strokes read best small).
            if (thickness(box) >= TallLineFactor * median) {
                for (const double height : {ReadLineHeight * 4.0 / 3, ReadLineHeight * 2.0 / 3}) {
                    const Reading other = readAt(chineseEngine, height);
                    if (other.confidence > chinese.confidence && hasHan(other.text))
                        chinese = other;
                }
                // The single-line reading finds nothing in some short names
                // that read well as one word.
                if (chinese.confidence < FoundLineConfidence) {
                    const Reading word = readScaled(chineseEngine, lineScale, tesseract::PSM_SINGLE_WORD);
                    if (word.confidence > chinese.confidence && hasHan(word.text))
                        chinese = word;
                }
            }
            // A line of ordinary size the single-line reading finds nothing
            // in at one size may come out whole a little larger.
            if (chinese.confidence < FoundLineConfidence && thickness(box) < TallLineFactor * median) {
                const Reading other = readScaled(chineseEngine, lineScale * FallbackEnlargement);
                if (other.confidence > chinese.confidence && hasHan(other.text))
                    chinese = other;
            }
            static const QRegularExpression latinWord(QStringLiteral("[a-z]{2}"));
            if (hasHan(chinese.text) && !before.contains(latinWord))
                return chinese;
            const Reading latin =
                readAt(m_engines->get(m_engines->english, "eng", tesseract::OEM_LSTM_ONLY), ReadLineHeight);
            return latin.confidence > chinese.confidence && !latin.text.isEmpty() ? latin : chinese;
        };
        // A tall line may be two: the recogniser takes a name and the
        // title close under or beside it for one line, and reads neither.
        for (qsizetype k = 0, count = again.size();
             k < count && readingsLeft > 0 && !clock.hasExpired(PictureDeadlineMs); ++k) {
            const qsizetype i = again[k];
            if (vertical || scaledBoxes[i].height() < TallLineFactor * median)
                continue;
            static const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
            const QList<QRect> pieces = stackedOrSideBySide(pix.get(), scaledBoxes[i], !lines[i].text.contains(latin),
                                                            lines[i].text.isEmpty());
            qCDebug(lcReading) << "split" << scaledBoxes[i] << lines[i].text << "into" << pieces;
            if (pieces.size() < 2)
                continue;
            QList<Reading> readings;
            for (const QRect &piece : pieces)
                readings.append(reread(piece, lines[i].text));
            for (const Reading &r : std::as_const(readings))
                qCDebug(lcReading) << "  piece" << r.text << r.confidence;
            if (std::any_of(readings.begin(), readings.end(),
                            [](const Reading &r) { return r.text.isEmpty() || r.confidence < FoundLineConfidence; }))
                continue;
            for (qsizetype n = 0; n < pieces.size(); ++n) {
                const CapturedLine piece{readings[n].text, readings[n].confidence, pieces[n]};
                if (n == 0) {
                    lines[i] = piece;
                    scaledBoxes[i] = pieces[n];
                } else {
                    lines.append(piece);
                    scaledBoxes.append(pieces[n]);
                    cut.append(false);
                }
            }
            again[k] = -1;
        }
        for (qsizetype i : std::as_const(again)) {
            if (readingsLeft <= 0 || clock.hasExpired(PictureDeadlineMs))
                break;
            if (i < 0)
                continue;
            QRect box = vertical ? scaledBoxes[i] : withoutSlivers(pix.get(), scaledBoxes[i]);
            // (A vertical card's columns are few, and their median no
            // measure of what is large.)
            if (vertical || thickness(box) >= TallLineFactor * median)
                box = grownAlong(pix.get(), box, vertical);
            scaledBoxes[i] = lines[i].box = box;
            const Reading best = reread(box, lines[i].text);
            qCDebug(lcReading) << "again" << box << lines[i].text << lines[i].confidence << "->" << best.text
                               << best.confidence;
            CapturedLine &line = lines[i];
            if (best.text.isEmpty())
                continue;
            if (line.text.isEmpty()) {
                // A line the recogniser left out, when it is fairly sure.
                if (best.confidence >= FoundLineConfidence)
                    line.text = best.text, line.confidence = best.confidence;
                continue;
            }
            // Kept when it is surer, or Chinese where the mixed engine saw
            // Latin junk (whose confidence says little in large lettering),
            // or a longer reading of a line that lost characters.
            const bool tall = thickness(box) >= TallLineFactor * median;
            const bool junk = !hasHan(line.text) && hasHan(best.text) && best.confidence >= 40 &&
                              (tall || line.confidence < 75);
            const bool longer = cut[i] && best.confidence >= FoundLineConfidence && best.text.size() > line.text.size();
            if (best.confidence > line.confidence || junk || longer) {
                line.text = best.text;
                line.confidence = best.confidence;
            }
        }
        for (qsizetype i = lines.size() - 1; i >= 0; --i)
            if (lines[i].text.isEmpty())
                lines.removeAt(i), scaledBoxes.removeAt(i), cut.removeAt(i);
    }

    // An e-mail address without its '@' (read as 'e', 'Q' or 'G' by the
    // mixed engine, or dropped) is read again by the English engine alone,
    // and only the '@' is taken from that reading (addressWithAt): the rest
    // of the line (a Chinese label) stays as it was read.
    if (!out.vertical) {
        static const QRegularExpression bareAddress(
            QStringLiteral("(?<![\\w.@])(?!www\\.)[A-Za-z0-9][A-Za-z0-9._%+-]*\\.(?:com|net|org|cn|edu|gov|hk)"
                           "(?:\\.[a-z]{2})?(?![\\w.@])"),
            QRegularExpression::CaseInsensitiveOption);
        const QRect page(0, 0, pixGetWidth(pix.get()), pixGetHeight(pix.get()));
        for (qsizetype i = 0; i < lines.size() && !clock.hasExpired(PictureDeadlineMs); ++i) {
            CapturedLine &line = lines[i];
            const QRegularExpressionMatch bare = bareAddress.match(line.text);
            if (line.text.contains(u'@') || !bare.hasMatch())
                continue;
            const QRect box = scaledBoxes[i];
            const int pad = std::max(2, box.height() / 4);
            const double lineScale = std::min(1.0, double(ReadLineHeight) / std::max(1, box.height()));
            const Reading latin = readLine(m_engines->get(m_engines->english, "eng", tesseract::OEM_LSTM_ONLY),
                                           pix.get(), box.adjusted(-pad, -pad, pad, pad).intersected(page), lineScale,
                                           dpi, tesseract::PSM_SINGLE_LINE, box.adjusted(-pad, -2, pad, 2));
            const QString mended = addressWithAt(bare.captured(0), latin.text);
            if (!mended.isEmpty())
                line.text.replace(bare.capturedStart(0), bare.capturedLength(0), mended);
        }
    }

    // The full stop that ends a line of Latin text ("Co., Ltd.") is so small
    // that the recogniser often leaves it out.
    if (!out.vertical)
        for (qsizetype i = 0; i < lines.size(); ++i) {
            CapturedLine &line = lines[i];
            if (!line.text.isEmpty() && line.text.back().isLetter() && line.text.back().unicode() < 128 &&
                endsWithDot(pix.get(), scaledBoxes[i]))
                line.text += u'.';
        }

    // Boxes back in the pixels of the (turned) picture.
    for (CapturedLine &line : lines) {
        const QRect b = line.box;
        line.box = QRect(QPoint(int(b.left() / scale), int(b.top() / scale)),
                         QPoint(int(b.right() / scale), int(b.bottom() / scale)))
                       .translated(out.cardArea.topLeft())
                       .intersected(gray.rect());
    }
    out.fragments = lines;
    return out;
}

} // namespace kelvo::capture
