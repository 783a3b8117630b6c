#include "SkinDrawing.h"

#include <algorithm>

namespace kelvo {

namespace {

// Largest image MakeNineGridBitmap creates: a generous screen.
constexpr qint64 MaxBitmapPixels = qint64(16384) * 16384;

// Writes one unpremultiplied ARGB pixel in any surface format.
class PixelWriter
{
public:
    explicit PixelWriter(QImage &surface)
        : m_surface(surface)
        , m_format(surface.format())
    {
    }

    void write(int x, int y, QRgb argb)
    {
        switch (m_format) {
        case QImage::Format_RGB32:
            reinterpret_cast<QRgb *>(m_surface.scanLine(y))[x] = argb | 0xff000000u;
            break;
        case QImage::Format_ARGB32:
            reinterpret_cast<QRgb *>(m_surface.scanLine(y))[x] = argb;
            break;
        case QImage::Format_ARGB32_Premultiplied:
            reinterpret_cast<QRgb *>(m_surface.scanLine(y))[x] = qPremultiply(argb);
            break;
        default:
            m_surface.setPixelColor(x, y, QColor::fromRgba(argb));
            break;
        }
    }

private:
    QImage &m_surface;
    QImage::Format m_format;
};

QImage asArgb(const QImage &picture)
{
    return picture.format() == QImage::Format_ARGB32 ? picture : picture.convertToFormat(QImage::Format_ARGB32);
}

QRgb pixelAt(const QImage &argb, int x, int y)
{
    return reinterpret_cast<const QRgb *>(argb.constScanLine(y))[x];
}

// The stretch of StretchDraw on an ARGB32 picture.
void stretch(QImage &surface, const QRect &target, const QImage &argb, const QRect &source)
{
    const qint64 dw = target.width();
    const qint64 dh = target.height();
    const qint64 sw = source.width();
    const qint64 sh = source.height();
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0 || surface.isNull() || argb.isNull())
        return;
    // Only the target rows and columns that lie on the surface.
    const qint64 x0 = std::max<qint64>(0, -qint64(target.left()));
    const qint64 x1 = std::min<qint64>(dw, qint64(surface.width()) - target.left());
    const qint64 y0 = std::max<qint64>(0, -qint64(target.top()));
    const qint64 y1 = std::min<qint64>(dh, qint64(surface.height()) - target.top());
    PixelWriter out(surface);
    for (qint64 y = y0; y < y1; ++y) {
        const qint64 sy = source.top() + y * sh / dh;
        if (sy < 0 || sy >= argb.height())
            continue;
        for (qint64 x = x0; x < x1; ++x) {
            const qint64 sx = source.left() + x * sw / dw;
            if (sx < 0 || sx >= argb.width())
                continue;
            out.write(int(target.left() + x), int(target.top() + y), pixelAt(argb, int(sx), int(sy)));
        }
    }
}

void tile(QImage &surface, const QRect &target, const QImage &argb, const QRect &source)
{
    const qint64 sw = source.width();
    const qint64 sh = source.height();
    if (sw <= 0 || sh <= 0 || surface.isNull() || argb.isNull())
        return;
    const qint64 right = qint64(target.left()) + target.width();
    const qint64 bottom = qint64(target.top()) + target.height();
    // Skip the copies that end before the surface starts, and stop at its end,
    // so a huge target costs no more than the surface.
    const auto firstStart = [](qint64 start, qint64 step) {
        return start + step > 0 ? start : start + ((-start - step) / step + 1) * step;
    };
    for (qint64 y = firstStart(target.top(), sh); y < bottom && y < surface.height(); y += sh) {
        for (qint64 x = firstStart(target.left(), sw); x < right && x < surface.width(); x += sw)
            stretch(surface, QRect(int(x), int(y), int(sw), int(sh)), argb, source);
    }
}

struct Margins
{
    qint64 left, top, right, bottom;
};

// Step 2 of the nine-grid: margins that do not fit are dropped in pairs.
Margins fitMargins(qint64 width, qint64 height, int left, int top, int right, int bottom)
{
    Margins m{std::max(left, 0), std::max(top, 0), std::max(right, 0), std::max(bottom, 0)};
    if (width < m.left + m.right)
        m.left = m.right = 0;
    if (height < m.top + m.bottom)
        m.top = m.bottom = 0;
    return m;
}

QRect edges64(qint64 left, qint64 top, qint64 right, qint64 bottom)
{
    const auto clampInt = [](qint64 v) { return int(std::clamp<qint64>(v, INT_MIN / 2, INT_MAX / 2)); };
    const int l = clampInt(left);
    const int t = clampInt(top);
    return QRect(l, t, clampInt(right) - l, clampInt(bottom) - t);
}

enum class Piece { TopLeft, BottomLeft, TopRight, LeftEdge, TopEdge, Centre, BottomRight, RightEdge, BottomEdge };

// Draws one nine-grid piece of `frame`: destination inside (x0, y0, w, h).
void drawPiece(Piece piece, QImage &surface, qint64 x0, qint64 y0, qint64 w, qint64 h, const QImage &argb,
               const QRect &frame, const Margins &m, bool tileCentre)
{
    const qint64 sx = frame.left();
    const qint64 sy = frame.top();
    const qint64 fw = frame.width();
    const qint64 fh = frame.height();
    QRect dst;
    QRect src;
    switch (piece) {
    case Piece::TopLeft:
        if (m.left * m.top <= 0)
            return;
        dst = edges64(0, 0, m.left, m.top);
        src = edges64(sx, sy, sx + m.left, sy + m.top);
        break;
    case Piece::BottomLeft:
        if (m.left * m.bottom <= 0)
            return;
        dst = edges64(0, h - m.bottom, m.left, h);
        src = edges64(sx, sy + fh - m.bottom, sx + m.left, sy + fh);
        break;
    case Piece::TopRight:
        if (m.right * m.top <= 0)
            return;
        dst = edges64(w - m.right, 0, w, m.top);
        src = edges64(sx + fw - m.right, sy, sx + fw, sy + m.top);
        break;
    case Piece::LeftEdge:
        if (m.left <= 0)
            return;
        dst = edges64(0, m.top, m.left, h - m.bottom);
        src = edges64(sx, sy + m.top, sx + m.left, sy + fh - m.bottom);
        break;
    case Piece::TopEdge:
        if (m.top <= 0)
            return;
        dst = edges64(m.left, 0, w - m.right, m.top);
        src = edges64(sx + m.left, sy, sx + fw - m.right, sy + m.top);
        break;
    case Piece::Centre:
        dst = edges64(m.left, m.top, w - m.right, h - m.bottom);
        src = edges64(sx + m.left, sy + m.top, sx + fw - m.right, sy + fh - m.bottom);
        break;
    case Piece::BottomRight:
        if (m.right * m.bottom <= 0)
            return;
        dst = edges64(w - m.right, h - m.bottom, w, h);
        src = edges64(sx + fw - m.right, sy + fh - m.bottom, sx + fw, sy + fh);
        break;
    case Piece::RightEdge:
        if (m.right <= 0)
            return;
        dst = edges64(w - m.right, m.top, w, h - m.bottom);
        src = edges64(sx + fw - m.right, sy + m.top, sx + fw, sy + fh - m.bottom);
        break;
    case Piece::BottomEdge:
        if (m.bottom <= 0)
            return;
        dst = edges64(m.left, h - m.bottom, w - m.right, h);
        src = edges64(sx + m.left, sy + fh - m.bottom, sx + fw - m.right, sy + fh);
        break;
    }
    dst.translate(int(x0), int(y0));
    if (piece == Piece::Centre && tileCentre)
        tile(surface, dst, argb, src);
    else
        stretch(surface, dst, argb, src);
}

} // namespace

QRect edgesRect(int left, int top, int right, int bottom)
{
    return edges64(left, top, right, bottom);
}

QRect skinFrameRect(const QImage &picture, bool stacked, int frameCount, int frameNumber)
{
    const int count = std::max(frameCount, 1);
    if (stacked) {
        const int fh = picture.height() / count;
        return QRect(0, int(std::clamp<qint64>(qint64(frameNumber - 1) * fh, INT_MIN / 2, INT_MAX / 2)),
                     picture.width(), fh);
    }
    const int fw = picture.width() / count;
    return QRect(int(std::clamp<qint64>(qint64(frameNumber - 1) * fw, INT_MIN / 2, INT_MAX / 2)), 0, fw,
                 picture.height());
}

void StretchDraw(QImage &surface, const QRect &target, const QImage &picture, const QRect &source)
{
    stretch(surface, target, asArgb(picture), source);
}

QImage MakeNineGridBitmap(int width, int height, const QImage &picture, int left, int top, int right, int bottom,
                          bool stacked, bool tileCentre, int frameCount, int frameNumber)
{
    if (width <= 0 || height <= 0 || qint64(width) * height > MaxBitmapPixels)
        return {};
    QImage bitmap(width, height, QImage::Format_RGB32);
    if (bitmap.isNull())
        return {};
    bitmap.fill(Qt::black);
    const QImage argb = asArgb(picture);
    const QRect frame = skinFrameRect(picture, stacked, frameCount, frameNumber);
    const Margins m = fitMargins(width, height, left, top, right, bottom);
    for (Piece piece : {Piece::TopLeft, Piece::BottomLeft, Piece::TopRight, Piece::LeftEdge, Piece::TopEdge,
                        Piece::Centre, Piece::BottomRight, Piece::RightEdge, Piece::BottomEdge}) {
        drawPiece(piece, bitmap, 0, 0, width, height, argb, frame, m, tileCentre);
    }
    return bitmap;
}

void DrawNineGridBorder(QImage &surface, const QRect &target, const QImage &picture, bool stacked, int frameCount,
                        int frameNumber, int left, int top, int right, int bottom)
{
    const qint64 w = target.width();
    const qint64 h = target.height();
    if (w <= 0 || h <= 0)
        return;
    const QImage argb = asArgb(picture);
    const QRect frame = skinFrameRect(picture, stacked, frameCount, frameNumber);
    const Margins m = fitMargins(w, h, left, top, right, bottom);
    for (Piece piece : {Piece::TopLeft, Piece::BottomLeft, Piece::TopRight, Piece::LeftEdge, Piece::TopEdge,
                        Piece::BottomRight, Piece::RightEdge, Piece::BottomEdge}) {
        drawPiece(piece, surface, target.left(), target.top(), w, h, argb, frame, m, false);
    }
}

void TileDraw(QImage &surface, const QRect &target, const QImage &picture, const QRect &source)
{
    if (qint64(source.width()) * source.height() <= 0 || source.width() < 0)
        return;
    tile(surface, target, asArgb(picture), source);
}

void DrawTransparent(QImage &surface, const QRect &target, const QImage &picture, QRgb transparent)
{
    if (target.width() < 0 || target.height() < 0 || surface.isNull() || picture.isNull())
        return;
    const QImage argb = asArgb(picture);
    const int w = std::min({target.width(), argb.width()});
    const int h = std::min({target.height(), argb.height()});
    PixelWriter out(surface);
    for (int y = 0; y < h; ++y) {
        const qint64 ty = qint64(target.top()) + y;
        if (ty < 0 || ty >= surface.height())
            continue;
        for (int x = 0; x < w; ++x) {
            const qint64 tx = qint64(target.left()) + x;
            if (tx < 0 || tx >= surface.width())
                continue;
            const QRgb p = pixelAt(argb, x, y);
            if ((p & 0x00ffffffu) != (transparent & 0x00ffffffu))
                out.write(int(tx), int(ty), p);
        }
    }
}

} // namespace kelvo
