#pragma once

#include <QImage>
#include <QRect>
#include <QRgb>

namespace kelvo {

// Rectangles here are given by their edges as the skin describes them: left
// and top inclusive, right and bottom exclusive; width = right - left.
QRect edgesRect(int left, int top, int right, int bottom);

// Frame `frameNumber` (counted from 1) of a picture holding `frameCount`
// equal frames side by side, or stacked. The fraction of a frame size is
// dropped, so trailing pixels of the picture are never part of a frame. A
// frame count below 1 counts as 1.
QRect skinFrameRect(const QImage &picture, bool stacked, int frameCount, int frameNumber);

// Copies `source` of `picture` onto `target` of `surface`, stretched by
// dropping or repeating pixels, never blending: target pixel (x, y) takes
// source pixel (source.left + x * sw / dw, source.top + y * sh / dh), the
// quotients rounded down. Source pixels outside the picture and target
// pixels outside the surface are skipped; an empty or negative rectangle
// draws nothing.
void StretchDraw(QImage &surface, const QRect &target, const QImage &picture, const QRect &source);

// A new width x height image holding frame `frameNumber` of `picture`
// composed as a nine-grid: corners at their size, edges and centre
// stretched (the centre tiled when `tileCentre`). Left and right margins are
// dropped when they do not fit the width, top and bottom ones when they do
// not fit the height; negative margins count as 0. Pixels nothing is drawn on
// stay black. Null for a non-positive or absurd size.
QImage MakeNineGridBitmap(int width, int height, const QImage &picture, int left, int top, int right, int bottom,
                          bool stacked, bool tileCentre, int frameCount, int frameNumber);

// Draws the eight border pieces of a nine-grid frame onto `surface` inside
// `target`; the centre is left as it was.
void DrawNineGridBorder(QImage &surface, const QRect &target, const QImage &picture, bool stacked, int frameCount,
                        int frameNumber, int left, int top, int right, int bottom);

// Fills `target` with copies of `source` of `picture`, left to right and top
// to bottom from the target's top-left corner; the last column and row of
// copies may reach past the target's right and bottom edges.
void TileDraw(QImage &surface, const QRect &target, const QImage &picture, const QRect &source);

// Draws `picture` from its top-left corner, unscaled, over the target's
// size, leaving the surface unchanged wherever the picture has the colour
// `transparent` (alpha ignored).
void DrawTransparent(QImage &surface, const QRect &target, const QImage &picture, QRgb transparent);

} // namespace kelvo
