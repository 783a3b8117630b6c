#pragma once

// The text recogniser over a picture of a card (Tesseract with Debian's
// language data: chi_sim, eng, chi_sim_vert, osd). Its engines are made at
// the first picture and kept for the next ones; one CardOcr per thread.

#include "CaptureResult.h"

#include <QImage>

#include <memory>

namespace kelvo::capture {

struct OcrOptions
{
    // Horizontal lines, or a vertical card (columns of Chinese, right to
    // left); Auto takes a card that is taller than wide for a vertical one.
    enum class Layout { Auto, Horizontal, Vertical };
    Layout layout = Layout::Auto;
    // Turn a horizontal card upright by the script and orientation
    // detection when it is sure.
    bool detectOrientation = true;
    // Clockwise degrees (0, 90, 180, 270) to turn the picture first; when not
    // 0, no detection runs.
    int rotation = 0;
};

struct OcrOutput
{
    QList<CapturedLine> fragments; // as recognised, boxes in the picture turned by `rotation`
    QRect cardArea;                // where the card lies in that picture
    int rotation = 0;
    bool vertical = false;
    QString error;
};

class CardOcr
{
public:
    CardOcr();
    ~CardOcr();
    CardOcr(const CardOcr &) = delete;
    CardOcr &operator=(const CardOcr &) = delete;

    OcrOutput read(const QImage &picture, const OcrOptions &options);

private:
    struct Engines;
    std::unique_ptr<Engines> m_engines;
};

// Where a card lies in a photo of it on a darker surface (the bounding
// rectangle of its bright area); the whole picture when it is not such a
// photo.
QRect findCardArea(const QImage &gray);

// A picture of a card on a darker surface (8-bit gray) with that surface,
// every dark area joined to the picture's edge, made white.
QImage withoutSurroundings(const QImage &gray);

// How far a card photographed on a darker surface lies askew, `gray` (8-bit)
// its bounding box: the degrees to turn it clockwise to straighten it, from
// the slope of its top and bottom edges (the median of the slopes between
// points on each) when the two agree; 0 when they do not or the card lies
// straight.
double cardEdgeAngle(const QImage &gray);

// An e-mail address whose '@' the recogniser misread or dropped
// ("hu.jieehongtu.com.cn") with its '@' put back from another reading of its
// line ("E-mail: hu. jie@hongtu.com.cn"): only the '@' is taken from that
// reading, which must agree with `address` on the part before the '@' and
// on the domain, with at most one character (the misread '@') between them.
// Empty when the two do not agree so.
QString addressWithAt(const QString &address, const QString &reading);

// Whether a line of text whose letters lie in `box` of the picture `gray`
// ends in a full stop just after it: a small round blot on its baseline
// with nothing after it (the recogniser often leaves such a stop out).
bool endsWithFullStop(const QImage &gray, const QRect &box);

// Clockwise turns of a picture in steps of 90 degrees.
QImage rotatedPicture(const QImage &picture, int degrees);

} // namespace kelvo::capture
