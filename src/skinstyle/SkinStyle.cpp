#include "SkinStyle.h"

#include "SkinDrawing.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPixmapCache>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTabBar>
#include <QToolButton>

#include <atomic>
#include <cmath>

namespace kelvo {

namespace {

std::atomic<quint64> nextCacheId{1};

// Turns the transparent colour into alpha, once, when the skin is read.
QImage withAlpha(const QImage &picture, bool keyed)
{
    QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    if (!keyed)
        return argb;
    for (int y = 0; y < argb.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(argb.scanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if ((line[x] | 0xff000000u) == SkinTransparentColour)
                line[x] = 0;
        }
    }
    return argb;
}

SkinPiece pieceFromPart(const TDataSkinObject *part)
{
    SkinPiece piece;
    if (!part || part->Map.isNull())
        return piece;
    piece.picture = withAlpha(part->Map, part->Trans != 0);
    piece.frameCount = std::max(part->FrameCount, 1);
    piece.left = std::max(part->LeftWidth, 0);
    piece.top = std::max(part->TopHeight, 0);
    piece.right = std::max(part->RightWidth, 0);
    piece.bottom = std::max(part->BottomHeight, 0);
    piece.tile = part->Tile != 0;
    return piece;
}

SkinPiece plainPiece(const QImage &picture, int frameCount, bool keyed, int l, int t, int r, int b)
{
    SkinPiece piece;
    if (picture.isNull())
        return piece;
    piece.picture = withAlpha(picture, keyed);
    piece.frameCount = std::max(frameCount, 1);
    piece.left = l;
    piece.top = t;
    piece.right = r;
    piece.bottom = b;
    return piece;
}

QColor colourKey(const IniText &ini, const char *section, const char *key)
{
    const QByteArray text = ini.readString(section, key);
    return text.isEmpty() ? QColor() : parseSkinColour(text);
}

// Composes the frame at its logical size, with alpha where nothing is drawn.
QImage composeLogical(const SkinPiece &piece, int frame, QSize size, SkinFill fill)
{
    QImage image(size, QImage::Format_ARGB32);
    if (image.isNull())
        return image;
    image.fill(Qt::transparent);
    const QRect source = skinFrameRect(piece.picture, false, piece.frameCount, frame);
    const int w = size.width();
    const int h = size.height();
    switch (fill) {
    case SkinFill::Centred: {
        const QRect target(QPoint((w - source.width()) / 2, (h - source.height()) / 2), source.size());
        StretchDraw(image, target, piece.picture, source);
        break;
    }
    case SkinFill::TileAcross: {
        QImage column(source.width(), h, QImage::Format_ARGB32);
        column.fill(Qt::transparent);
        StretchDraw(column, column.rect(), piece.picture, source);
        TileDraw(image, image.rect(), column, column.rect());
        break;
    }
    case SkinFill::NineGrid:
    case SkinFill::Border: {
        if (fill == SkinFill::NineGrid) {
            // The centre first: a tiled centre may reach past its right and
            // bottom edges, which the border then covers.
            const int l = w < piece.left + piece.right ? 0 : piece.left;
            const int r = w < piece.left + piece.right ? 0 : piece.right;
            const int t = h < piece.top + piece.bottom ? 0 : piece.top;
            const int b = h < piece.top + piece.bottom ? 0 : piece.bottom;
            const QRect centreTarget = edgesRect(l, t, w - r, h - b);
            const QRect centreSource = edgesRect(source.left() + piece.left, source.top() + piece.top,
                                                 source.right() + 1 - piece.right, source.bottom() + 1 - piece.bottom);
            if (piece.tile)
                TileDraw(image, centreTarget, piece.picture, centreSource);
            else
                StretchDraw(image, centreTarget, piece.picture, centreSource);
        }
        DrawNineGridBorder(image, image.rect(), piece.picture, false, piece.frameCount, frame, piece.left, piece.top,
                           piece.right, piece.bottom);
        break;
    }
    }
    return image;
}

bool enabled(QStyle::State state)
{
    return state & QStyle::State_Enabled;
}

} // namespace

int buttonFrame(QStyle::State state, bool hasFocusedFrame)
{
    if (!enabled(state))
        return 4;
    if (state & (QStyle::State_Sunken | QStyle::State_On))
        return 3;
    if (state & QStyle::State_MouseOver)
        return 2;
    if (hasFocusedFrame && (state & QStyle::State_HasFocus))
        return 5;
    return 1;
}

SkinStyle::SkinStyle(const TSkinData &skin)
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
    , m_cacheId(nextCacheId++)
{
    setObjectName(QStringLiteral("kelvo-skin"));
    m_skinned = skin.isActive() && skin.loadCompleted();
    if (m_skinned) {
        for (const SkinPartInfo &info : skinPartTable())
            m_pieces[size_t(info.id)] = pieceFromPart(skin.part(info.id));
        if (const TDataSkinButton *buttons = skin.buttons()) {
            // Check boxes and radio buttons are drawn over their control's
            // background: their transparent colour always counts.
            m_pieces[size_t(SkinPieceId::CheckBox)] =
                plainPiece(buttons->CheckMap, buttons->CheckFrameCount, true, 0, 0, 0, 0);
            m_pieces[size_t(SkinPieceId::RadioButton)] =
                plainPiece(buttons->RadioMap, buttons->RadioFrameCount, true, 0, 0, 0, 0);
        }
        // The window frame's sides: two frames (active, inactive), one fixed
        // pixel at each end so their outlines stay thin.
        const IniText &ini = skin.description();
        const bool keyed = ini.readInteger("Personality", "Trans", 0) != 0;
        m_pieces[size_t(SkinPieceId::FrameBottom)] =
            plainPiece(skin.picture(ini.readString("Personality", "Bottom")), 2, keyed, 1, 0, 1, 0);
        m_pieces[size_t(SkinPieceId::FrameLeft)] =
            plainPiece(skin.picture(ini.readString("Personality", "Left")), 2, keyed, 0, 1, 0, 1);
        m_pieces[size_t(SkinPieceId::FrameRight)] =
            plainPiece(skin.picture(ini.readString("Personality", "Right")), 2, keyed, 0, 1, 0, 1);
    }

    m_palette = baseStyle()->standardPalette();
    if (!m_skinned)
        return;
    const IniText &ini = skin.description();
    const auto set = [this](std::initializer_list<QPalette::ColorRole> roles, const QColor &colour) {
        if (!colour.isValid())
            return;
        for (QPalette::ColorRole role : roles)
            m_palette.setColor(QPalette::All, role, colour);
    };
    const QColor window = colourKey(ini, "Colours", "Window");
    const QColor text = colourKey(ini, "Colours", "Text");
    set({QPalette::Window, QPalette::Button, QPalette::AlternateBase}, window);
    set({QPalette::WindowText, QPalette::Text, QPalette::ButtonText}, text);
    set({QPalette::Base}, colourKey(ini, "Colours", "Base"));
    set({QPalette::Highlight}, colourKey(ini, "Colours", "Highlight"));
    set({QPalette::HighlightedText}, colourKey(ini, "Colours", "HighlightText"));
    set({QPalette::ButtonText}, colourKey(ini, "Buttons", "NormalColour2"));
    if (window.isValid()) {
        m_palette.setColor(QPalette::AlternateBase, window.darker(103));
        m_palette.setColor(QPalette::Midlight, window.darker(105));
        m_palette.setColor(QPalette::Mid, window.darker(130));
        m_palette.setColor(QPalette::Dark, window.darker(160));
    }
    // Disabled text halfway between the text and the window, readable on both.
    const QColor plainText = m_palette.color(QPalette::Active, QPalette::Text);
    const QColor plainWindow = m_palette.color(QPalette::Active, QPalette::Window);
    const QColor disabled((plainText.red() + plainWindow.red()) / 2, (plainText.green() + plainWindow.green()) / 2,
                          (plainText.blue() + plainWindow.blue()) / 2);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        m_palette.setColor(QPalette::Disabled, role, disabled);
}

SkinStyle::~SkinStyle() = default;

QPixmap SkinStyle::renderFrame(SkinPieceId id, int frame, QSize logicalSize, qreal dpr, SkinFill fill) const
{
    const QSize deviceSize(qRound(logicalSize.width() * dpr), qRound(logicalSize.height() * dpr));
    QPixmap pixmap = renderDevice(id, frame, logicalSize, deviceSize, fill);
    if (!pixmap.isNull())
        pixmap.setDevicePixelRatio(dpr);
    return pixmap;
}

QPixmap SkinStyle::renderDevice(SkinPieceId id, int frame, QSize logicalSize, QSize deviceSize, SkinFill fill) const
{
    const SkinPiece &p = piece(id);
    if (!p.isValid() || logicalSize.isEmpty() || deviceSize.isEmpty())
        return {};
    // Nothing on the screen is larger; beyond it a rectangle is a mistake.
    if (qint64(deviceSize.width()) * deviceSize.height() > qint64(16384) * 4096
        || qint64(logicalSize.width()) * logicalSize.height() > qint64(16384) * 4096)
        return {};
    frame = std::clamp(frame, 1, p.frameCount);
    const QString key =
        QString::asprintf("kelvo-skin/%llu/%d/%d/%d/%dx%d/%dx%d", m_cacheId, int(id), frame, int(fill),
                          logicalSize.width(), logicalSize.height(), deviceSize.width(), deviceSize.height());
    QPixmap cached;
    if (QPixmapCache::find(key, &cached))
        return cached;
    QImage logical = composeLogical(p, frame, logicalSize, fill);
    QImage device;
    if (deviceSize == logicalSize) {
        device = std::move(logical);
    } else {
        // Every skin pixel repeated (or dropped), never blended: at twice the
        // size each lands as a 2 x 2 block.
        device = QImage(deviceSize, QImage::Format_ARGB32);
        device.fill(Qt::transparent);
        StretchDraw(device, device.rect(), logical, logical.rect());
    }
    cached = QPixmap::fromImage(device.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    QPixmapCache::insert(key, cached);
    return cached;
}

bool SkinStyle::drawPiece(QPainter *painter, SkinPieceId id, int frame, const QRect &rect, SkinFill fill) const
{
    if (!hasPiece(id))
        return false;
    if (rect.isEmpty())
        return true;
    const QTransform device = painter->deviceTransform();
    if (device.type() <= QTransform::TxScale && device.m11() > 0 && device.m22() > 0) {
        // Edges on whole device pixels, rounded the same way for every
        // rectangle, so neighbouring pieces meet without a gap or an overlap;
        // the picture is drawn 1:1 there.
        const QRectF mapped = device.mapRect(QRectF(rect));
        const QRect target(QPoint(qRound(mapped.left()), qRound(mapped.top())),
                           QPoint(qRound(mapped.right()) - 1, qRound(mapped.bottom()) - 1));
        if (target.isEmpty())
            return true;
        QPixmap pixmap = renderDevice(id, frame, rect.size(), target.size(), fill);
        if (pixmap.isNull())
            return false;
        const QTransform toDevice = painter->worldTransform().inverted() * device;
        painter->save();
        painter->setWorldTransform(toDevice.inverted());
        painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter->drawPixmap(target.topLeft(), pixmap);
        painter->restore();
        return true;
    }
    const QPixmap pixmap = renderDevice(id, frame, rect.size(), rect.size(), fill);
    if (pixmap.isNull())
        return false;
    painter->drawPixmap(rect, pixmap);
    return true;
}

void SkinStyle::drawFocus(QPainter *painter, const QRect &rect, const QPalette &palette) const
{
    painter->save();
    QPen pen(palette.color(QPalette::Highlight), 1, Qt::DotLine);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(rect.adjusted(0, 0, -1, -1));
    painter->restore();
}

QSize SkinStyle::marginsOf(SkinPieceId id) const
{
    if (!hasPiece(id))
        return {0, 0};
    const SkinPiece &p = piece(id);
    return {p.left + p.right, p.top + p.bottom};
}

void SkinStyle::polish(QWidget *widget)
{
    QProxyStyle::polish(widget);
    if (!m_skinned)
        return;
    // Hover frames need hover events.
    if (qobject_cast<QAbstractButton *>(widget) || qobject_cast<QComboBox *>(widget)
        || qobject_cast<QScrollBar *>(widget) || qobject_cast<QHeaderView *>(widget) || qobject_cast<QMenuBar *>(widget)
        || qobject_cast<QLineEdit *>(widget) || qobject_cast<QTabBar *>(widget) || qobject_cast<QGroupBox *>(widget)
        || qobject_cast<QAbstractSpinBox *>(widget))
        widget->setAttribute(Qt::WA_Hover);
}

void SkinStyle::polish(QPalette &palette)
{
    if (m_skinned)
        palette = m_palette;
    else
        QProxyStyle::polish(palette);
}

QPalette SkinStyle::standardPalette() const
{
    return m_palette;
}

void SkinStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                              const QWidget *widget) const
{
    if (!m_skinned) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const State state = option->state;
    switch (element) {
    case PE_PanelButtonCommand:
        if (drawPiece(painter, pieceOf(SkinPartId::Buttons), buttonFrame(state), option->rect))
            return;
        break;
    case PE_PanelButtonTool:
        if (drawPiece(painter, pieceOf(SkinPartId::Toolbars), buttonFrame(state), option->rect))
            return;
        break;
    case PE_FrameFocusRect:
        // A push button showing its focused frame needs no second sign.
        if (qobject_cast<const QPushButton *>(widget) && buttonFrame(state) == 5
            && hasPiece(pieceOf(SkinPartId::Buttons)))
            return;
        drawFocus(painter, option->rect, option->palette);
        return;
    case PE_IndicatorCheckBox:
    case PE_IndicatorRadioButton: {
        const SkinPieceId id = element == PE_IndicatorCheckBox ? SkinPieceId::CheckBox : SkinPieceId::RadioButton;
        if (!hasPiece(id))
            break;
        // Unchecked frames 1 to 4 (normal, mouse over, pressed, disabled),
        // then the same checked; a third state shows as checked.
        int frame = !enabled(state) ? 4 : (state & State_Sunken) ? 3 : (state & State_MouseOver) ? 2 : 1;
        if ((state & (State_On | State_NoChange)) && piece(id).frameCount >= 8)
            frame += 4;
        drawPiece(painter, id, frame, option->rect, SkinFill::Centred);
        return;
    }
    case PE_PanelLineEdit:
        if (const auto *frame = qstyleoption_cast<const QStyleOptionFrame *>(option)) {
            if (frame->lineWidth <= 0 || !hasPiece(pieceOf(SkinPartId::SunkEdge)))
                break; // a flat editor: Fusion fills its base
            painter->fillRect(option->rect.adjusted(1, 1, -1, -1), option->palette.brush(QPalette::Base));
            const int f = !enabled(state) ? 4 : (state & State_HasFocus) ? 3 : (state & State_MouseOver) ? 2 : 1;
            drawPiece(painter, pieceOf(SkinPartId::SunkEdge), f, option->rect, SkinFill::Border);
            return;
        }
        break;
    case PE_FrameLineEdit: {
        const int f = !enabled(state) ? 4 : (state & State_HasFocus) ? 3 : (state & State_MouseOver) ? 2 : 1;
        if (drawPiece(painter, pieceOf(SkinPartId::SunkEdge), f, option->rect, SkinFill::Border))
            return;
        break;
    }
    case PE_FrameGroupBox:
        if (drawPiece(painter, pieceOf(SkinPartId::GroupBoxEdge), (state & State_HasFocus) ? 2 : 1, option->rect,
                      SkinFill::Border))
            return;
        break;
    case PE_PanelStatusBar:
        if (drawPiece(painter, pieceOf(SkinPartId::StatusBarEdges), 1, option->rect))
            return;
        break;
    case PE_FrameStatusBarItem:
        if (drawPiece(painter, pieceOf(SkinPartId::StatusBarEdges), 2, option->rect, SkinFill::Border))
            return;
        break;
    case PE_PanelMenuBar:
        if (drawPiece(painter, pieceOf(SkinPartId::MenuBar), 1, option->rect,
                      piece(pieceOf(SkinPartId::MenuBar)).tile ? SkinFill::TileAcross : SkinFill::NineGrid))
            return;
        break;
    case PE_PanelMenu:
        if (drawPiece(painter, pieceOf(SkinPartId::MenuBackground), 1, option->rect)) {
            // A menu lies over anything: a line keeps it apart where its
            // picture has no border of its own.
            const SkinPiece &p = piece(pieceOf(SkinPartId::MenuBackground));
            if (p.left + p.top + p.right + p.bottom == 0) {
                painter->save();
                painter->setPen(option->palette.color(QPalette::Dark));
                painter->setBrush(Qt::NoBrush);
                painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
                painter->restore();
            }
            return;
        }
        break;
    default:
        break;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void SkinStyle::drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                            const QWidget *widget) const
{
    if (!m_skinned) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    const State state = option->state;
    switch (element) {
    case CE_PushButtonBevel:
        if (const auto *button = qstyleoption_cast<const QStyleOptionButton *>(option)) {
            if (button->features & QStyleOptionButton::Flat && !(state & (State_Sunken | State_On | State_MouseOver)))
                break;
            if (drawPiece(painter, pieceOf(SkinPartId::Buttons), buttonFrame(state), option->rect))
                return;
        }
        break;
    case CE_PushButtonLabel:
        if (const auto *button = qstyleoption_cast<const QStyleOptionButton *>(option)) {
            // The label in the text colour of the button's state.
            const auto *part = hasPiece(pieceOf(SkinPartId::Buttons)) ? &piece(pieceOf(SkinPartId::Buttons)) : nullptr;
            if (part && enabled(state) && (state & (State_MouseOver | State_Sunken))) {
                QStyleOptionButton copy = *button;
                const QColor hover = m_palette.color(QPalette::Highlight).darker(125);
                copy.palette.setColor(QPalette::ButtonText, hover);
                QProxyStyle::drawControl(element, &copy, painter, widget);
                return;
            }
        }
        break;
    case CE_HeaderSection:
        if (drawPiece(painter, pieceOf(SkinPartId::HeaderBar), buttonFrame(state, false), option->rect))
            return;
        break;
    case CE_ToolBar:
        if (drawPiece(painter, pieceOf(SkinPartId::Toolbars), 1, option->rect))
            return;
        break;
    case CE_MenuBarEmptyArea:
        if (drawPiece(painter, pieceOf(SkinPartId::MenuBar), 1, option->rect,
                      piece(pieceOf(SkinPartId::MenuBar)).tile ? SkinFill::TileAcross : SkinFill::NineGrid))
            return;
        break;
    case CE_MenuBarItem:
        if (const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option)) {
            const SkinPieceId id = pieceOf(SkinPartId::MenuBar);
            if (!hasPiece(id))
                break;
            const SkinFill fill = piece(id).tile ? SkinFill::TileAcross : SkinFill::NineGrid;
            // The bar under every item; the second frame under the open or
            // pointed-at one.
            const bool lit = enabled(state) && (state & (State_Selected | State_Sunken));
            drawPiece(painter, id, 1, option->rect, fill);
            if (lit)
                drawPiece(painter, id, 2, option->rect, fill);
            QStyleOptionMenuItem copy = *item;
            copy.state &= ~(State_Selected | State_Sunken);
            QCommonStyle::drawControl(element, &copy, painter, widget);
            return;
        }
        break;
    case CE_MenuItem:
        if (const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option)) {
            const SkinPieceId id = pieceOf(SkinPartId::MenuItem);
            if (!hasPiece(id) || item->menuItemType == QStyleOptionMenuItem::Separator)
                break;
            if (enabled(state) && (state & State_Selected)) {
                drawPiece(painter, id, (state & State_Sunken) ? 3 : 2, option->rect);
                QStyleOptionMenuItem copy = *item;
                copy.state &= ~State_Selected;
                const QColor text = m_palette.color(QPalette::Text);
                for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
                    copy.palette.setColor(role, text);
                QProxyStyle::drawControl(element, &copy, painter, widget);
                return;
            }
        }
        break;
    case CE_ProgressBarGroove:
        if (drawPiece(painter, pieceOf(SkinPartId::ProgressBar), 1, option->rect))
            return;
        break;
    case CE_ProgressBarContents:
        if (const auto *bar = qstyleoption_cast<const QStyleOptionProgressBar *>(option)) {
            const SkinPieceId id = pieceOf(SkinPartId::ProgressBar);
            if (!hasPiece(id) || bar->maximum <= bar->minimum)
                break; // a busy bar moves: Fusion's
            const qint64 range = qint64(bar->maximum) - bar->minimum;
            const qint64 done = std::clamp<qint64>(qint64(bar->progress) - bar->minimum, 0, range);
            const bool horizontal = bar->state & State_Horizontal;
            QRect area = option->rect;
            if (horizontal) {
                const int width = int(area.width() * done / range);
                area.setWidth(width);
                if (bar->invertedAppearance)
                    area.moveRight(option->rect.right());
            } else {
                const int height = int(area.height() * done / range);
                area.setTop(area.bottom() + 1 - height);
            }
            drawPiece(painter, id, 2, area);
            return;
        }
        break;
    default:
        break;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void SkinStyle::drawScrollBar(const QStyleOptionSlider *option, QPainter *painter, const QWidget *widget) const
{
    const bool horizontal = option->orientation == Qt::Horizontal;
    const SkinPieceId groove = pieceOf(horizontal ? SkinPartId::HorzScroll : SkinPartId::VertScroll);
    const SkinPieceId thumb = pieceOf(horizontal ? SkinPartId::HorzScrollThumb : SkinPartId::VertScrollThumb);
    const SkinPieceId arrows = pieceOf(SkinPartId::ScrollBar);
    const State state = option->state;
    const bool on = enabled(state) && option->maximum > option->minimum;
    const auto sub = [&](SubControl control) { return proxy()->subControlRect(CC_ScrollBar, option, control, widget); };
    const auto stateOf = [&](SubControl control) {
        if (!on)
            return 3; // disabled
        if ((option->activeSubControls & control) && (state & State_Sunken))
            return 2;
        if ((option->activeSubControls & control) && (state & State_MouseOver))
            return 1;
        return 0;
    };
    // The groove: frame 1, or 4 when the bar cannot move; a page held down
    // shows frame 3, a page pointed at frame 2.
    drawPiece(painter, groove, on ? 1 : 4, sub(SC_ScrollBarGroove));
    for (SubControl page : {SC_ScrollBarSubPage, SC_ScrollBarAddPage}) {
        const int s = stateOf(page);
        if (s == 1 || s == 2)
            drawPiece(painter, groove, s + 1, sub(page));
    }
    // The arrows: the Scrollbar picture holds up, down, left and right, four
    // states each (normal, mouse over, pressed, disabled).
    const int subBase = horizontal ? 9 : 1;
    const int addBase = horizontal ? 13 : 5;
    if (option->subControls & SC_ScrollBarSubLine)
        drawPiece(painter, arrows, subBase + stateOf(SC_ScrollBarSubLine), sub(SC_ScrollBarSubLine));
    if (option->subControls & SC_ScrollBarAddLine)
        drawPiece(painter, arrows, addBase + stateOf(SC_ScrollBarAddLine), sub(SC_ScrollBarAddLine));
    if (on && (option->subControls & SC_ScrollBarSlider)) {
        const int s = stateOf(SC_ScrollBarSlider);
        drawPiece(painter, thumb, s == 2 ? 3 : s == 1 ? 2 : 1, sub(SC_ScrollBarSlider));
        if (state & State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(*option);
            focus.rect = sub(SC_ScrollBarSlider).adjusted(2, 2, -2, -2);
            proxy()->drawPrimitive(PE_FrameFocusRect, &focus, painter, widget);
        }
    }
}

void SkinStyle::drawComboBox(const QStyleOptionComboBox *option, QPainter *painter, const QWidget *widget) const
{
    const State state = option->state;
    const QRect frame = proxy()->subControlRect(CC_ComboBox, option, SC_ComboBoxFrame, widget);
    const QRect arrow = proxy()->subControlRect(CC_ComboBox, option, SC_ComboBoxArrow, widget);
    if (option->editable) {
        painter->fillRect(frame.adjusted(1, 1, -1, -1), option->palette.brush(QPalette::Base));
        const int f = !enabled(state) ? 4 : (state & State_HasFocus) ? 3 : (state & State_MouseOver) ? 2 : 1;
        drawPiece(painter, pieceOf(SkinPartId::SunkEdge), f, frame, SkinFill::Border);
    } else {
        drawPiece(painter, pieceOf(SkinPartId::Buttons), buttonFrame(state), frame);
        if ((state & State_HasFocus) && buttonFrame(state) != 5) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(*option);
            focus.rect = proxy()->subControlRect(CC_ComboBox, option, SC_ComboBoxEditField, widget);
            proxy()->drawPrimitive(PE_FrameFocusRect, &focus, painter, widget);
        }
    }
    // The arrow button: normal, mouse over, pressed (also while the list is
    // open), disabled.
    int f = 1;
    if (!enabled(state))
        f = 4;
    else if ((option->activeSubControls & SC_ComboBoxArrow) && (state & State_Sunken))
        f = 3;
    else if (state & State_On)
        f = 3;
    else if (state & State_MouseOver)
        f = 2;
    drawPiece(painter, pieceOf(SkinPartId::ComboButton), f, arrow);
}

void SkinStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                                   const QWidget *widget) const
{
    if (m_skinned) {
        switch (control) {
        case CC_ScrollBar:
            if (const auto *slider = qstyleoption_cast<const QStyleOptionSlider *>(option)) {
                const bool horizontal = slider->orientation == Qt::Horizontal;
                if (hasPiece(pieceOf(SkinPartId::ScrollBar))
                    && hasPiece(pieceOf(horizontal ? SkinPartId::HorzScroll : SkinPartId::VertScroll))
                    && hasPiece(pieceOf(horizontal ? SkinPartId::HorzScrollThumb : SkinPartId::VertScrollThumb))) {
                    drawScrollBar(slider, painter, widget);
                    return;
                }
            }
            break;
        case CC_ComboBox:
            if (const auto *combo = qstyleoption_cast<const QStyleOptionComboBox *>(option)) {
                const SkinPieceId body = pieceOf(combo->editable ? SkinPartId::SunkEdge : SkinPartId::Buttons);
                if (combo->frame && hasPiece(body) && hasPiece(pieceOf(SkinPartId::ComboButton))) {
                    drawComboBox(combo, painter, widget);
                    return;
                }
            }
            break;
        default:
            break;
        }
    }
    QProxyStyle::drawComplexControl(control, option, painter, widget);
}

QRect SkinStyle::subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl sub,
                                const QWidget *widget) const
{
    if (m_skinned && control == CC_ComboBox) {
        if (const auto *combo = qstyleoption_cast<const QStyleOptionComboBox *>(option)) {
            const SkinPieceId body = pieceOf(combo->editable ? SkinPartId::SunkEdge : SkinPartId::Buttons);
            const SkinPieceId button = pieceOf(SkinPartId::ComboButton);
            if (combo->frame && hasPiece(body) && hasPiece(button)) {
                const QRect r = option->rect;
                const SkinPiece &edge = piece(body);
                const int arrowWidth = std::min(piece(button).frameSize().width(), r.width() / 2);
                // The arrow button inside the body's border on the right.
                const int inset = combo->editable ? 1 : 0;
                const QRect arrow(r.right() + 1 - inset - arrowWidth, r.top() + inset, arrowWidth,
                                  r.height() - 2 * inset);
                switch (sub) {
                case SC_ComboBoxFrame:
                    return r;
                case SC_ComboBoxArrow:
                    return visualRect(option->direction, r, arrow);
                case SC_ComboBoxEditField: {
                    const QRect field = edgesRect(r.left() + std::max(edge.left, 2), r.top() + std::max(edge.top, 1),
                                                  arrow.left() - 1, r.bottom() + 1 - std::max(edge.bottom, 1));
                    return visualRect(option->direction, r, field);
                }
                default:
                    break;
                }
            }
        }
    }
    return QProxyStyle::subControlRect(control, option, sub, widget);
}

int SkinStyle::pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const
{
    if (m_skinned) {
        switch (metric) {
        case PM_ScrollBarExtent:
            if (hasPiece(pieceOf(SkinPartId::ScrollBar)))
                return piece(pieceOf(SkinPartId::ScrollBar)).frameSize().width();
            break;
        case PM_ScrollBarSliderMin: {
            const SkinPieceId thumb = pieceOf(SkinPartId::VertScrollThumb);
            if (hasPiece(thumb))
                return std::max(QProxyStyle::pixelMetric(metric, option, widget),
                                piece(thumb).top + piece(thumb).bottom + 4);
            break;
        }
        case PM_IndicatorWidth:
        case PM_IndicatorHeight:
            if (hasPiece(SkinPieceId::CheckBox)) {
                const QSize s = piece(SkinPieceId::CheckBox).frameSize();
                return metric == PM_IndicatorWidth ? s.width() : s.height();
            }
            break;
        case PM_ExclusiveIndicatorWidth:
        case PM_ExclusiveIndicatorHeight:
            if (hasPiece(SkinPieceId::RadioButton)) {
                const QSize s = piece(SkinPieceId::RadioButton).frameSize();
                return metric == PM_ExclusiveIndicatorWidth ? s.width() : s.height();
            }
            break;
        default:
            break;
        }
    }
    return QProxyStyle::pixelMetric(metric, option, widget);
}

QSize SkinStyle::sizeFromContents(ContentsType type, const QStyleOption *option, const QSize &size,
                                  const QWidget *widget) const
{
    QSize result = QProxyStyle::sizeFromContents(type, option, size, widget);
    if (!m_skinned)
        return result;
    // Room for the part's fixed borders around the contents, at least.
    const auto atLeast = [&](SkinPieceId id, int extraWidth = 0) {
        const QSize m = marginsOf(id);
        result = result.expandedTo(size + m + QSize(extraWidth, 0));
    };
    switch (type) {
    case CT_PushButton:
        atLeast(pieceOf(SkinPartId::Buttons), 4);
        break;
    case CT_ToolButton:
        atLeast(pieceOf(SkinPartId::Toolbars));
        break;
    case CT_LineEdit:
        atLeast(pieceOf(SkinPartId::SunkEdge));
        break;
    case CT_ComboBox:
        if (hasPiece(pieceOf(SkinPartId::ComboButton)))
            atLeast(pieceOf(SkinPartId::SunkEdge), piece(pieceOf(SkinPartId::ComboButton)).frameSize().width());
        break;
    case CT_HeaderSection:
        atLeast(pieceOf(SkinPartId::HeaderBar));
        break;
    case CT_MenuItem:
        atLeast(pieceOf(SkinPartId::MenuItem));
        break;
    case CT_ProgressBar:
        atLeast(pieceOf(SkinPartId::ProgressBar));
        break;
    default:
        break;
    }
    return result;
}

} // namespace kelvo
