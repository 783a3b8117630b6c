#pragma once

#include "SkinData.h"

#include <QImage>
#include <QPalette>
#include <QPixmap>
#include <QProxyStyle>

#include <array>

class QStyleOptionComboBox;
class QStyleOptionSlider;

namespace kelvo {

// The pictures the painting uses beyond the parts of TSkinData.
enum class SkinPieceId {
    // One per SkinPartId, in that order, then:
    CheckBox = SkinPartCount,
    RadioButton,
    FrameBottom,
    FrameLeft,
    FrameRight,
};
inline constexpr int SkinPieceCount = int(SkinPieceId::FrameRight) + 1;

inline SkinPieceId pieceOf(SkinPartId part)
{
    return SkinPieceId(int(part));
}

// The colour the skin's pictures use for "no pixel here": magenta.
inline constexpr QRgb SkinTransparentColour = 0xffff00ff;

// One picture ready to paint: its frames side by side, the transparent
// colour already turned into alpha, the fixed borders of the nine-grid.
struct SkinPiece
{
    QImage picture; // ARGB32; null: the skin has no picture for it
    int frameCount = 1;
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool tile = false; // the centre is tiled rather than stretched
    bool isValid() const { return !picture.isNull() && frameSize().isValid() && !frameSize().isEmpty(); }
    QSize frameSize() const { return {picture.width() / std::max(frameCount, 1), picture.height()}; }
};

// How a picture is laid into its rectangle.
enum class SkinFill {
    NineGrid,   // corners at their size, edges and centre stretched (centre tiled with Tile)
    Border,     // the eight border pieces only; the centre keeps what is below
    TileAcross, // the frame stretched to the height and repeated across (the menu bar)
    Centred,    // the frame at its own size, centred (check boxes, radio buttons, arrows)
};

// Kelvo's look: Qt's Fusion style, with every element the skin has a picture
// for painted from that picture (see docs/ARCHITECTURE.md for the element
// table). Without a loaded skin, or for an element without a picture,
// everything is Fusion's.
class SkinStyle : public QProxyStyle
{
    Q_OBJECT

public:
    // Takes what it needs from `skin` (which may go away afterwards). When the
    // skin is not active the style paints exactly as Fusion.
    explicit SkinStyle(const TSkinData &skin);
    ~SkinStyle() override;

    bool isSkinned() const { return m_skinned; }
    const SkinPiece &piece(SkinPieceId id) const { return m_pieces[size_t(id)]; }
    bool hasPiece(SkinPieceId id) const { return m_skinned && piece(id).isValid(); }

    // Frame `frame` (from 1) of a piece laid into `logicalSize` at the device
    // pixel ratio `dpr`: composed at the logical size, then every pixel
    // repeated or dropped (never blended) to the device size. Cached.
    QPixmap renderFrame(SkinPieceId id, int frame, QSize logicalSize, qreal dpr, SkinFill fill) const;
    // Paints the frame over `rect`, its edges on whole device pixels.
    // Returns false (painting nothing) when the piece is missing.
    bool drawPiece(QPainter *painter, SkinPieceId id, int frame, const QRect &rect,
                   SkinFill fill = SkinFill::NineGrid) const;

    // The window's colours from the skin's [Colours] and the parts' colours.
    QPalette skinPalette() const { return m_palette; }

    using QProxyStyle::polish;
    void polish(QWidget *widget) override;
    void polish(QPalette &palette) override;
    QPalette standardPalette() const override;

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget = nullptr) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl sub,
                         const QWidget *widget = nullptr) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption *option = nullptr,
                    const QWidget *widget = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption *option, const QSize &size,
                           const QWidget *widget = nullptr) const override;

private:
    QPixmap renderDevice(SkinPieceId id, int frame, QSize logicalSize, QSize deviceSize, SkinFill fill) const;
    void drawFocus(QPainter *painter, const QRect &rect, const QPalette &palette) const;
    void drawScrollBar(const QStyleOptionSlider *option, QPainter *painter, const QWidget *widget) const;
    void drawComboBox(const QStyleOptionComboBox *option, QPainter *painter, const QWidget *widget) const;
    QSize marginsOf(SkinPieceId id) const;

    std::array<SkinPiece, SkinPieceCount> m_pieces;
    QPalette m_palette;
    bool m_skinned = false;
    quint64 m_cacheId; // tells this style's cached frames from another's
};

// The state frames of a push button, tool button, header or menu item (1
// normal, 2 mouse over, 3 pressed, 4 disabled, 5 focused) for a style state.
int buttonFrame(QStyle::State state, bool hasFocusedFrame = true);

} // namespace kelvo
