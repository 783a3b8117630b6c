#include "SkinWindowFrame.h"

#include "SkinStyle.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QToolButton>
#include <QWindow>

#include <cstring>

#ifdef KELVO_HAVE_XCB
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <cstdlib>
#endif

namespace kelvo {

namespace {

// How far inside the frame a press still grabs an edge.
constexpr int EdgeGrip = 4;

// Asks the window manager for its window menu at `global` (X11 window
// managers that offer _GTK_SHOW_WINDOW_MENU; others ignore the request).
// Returns whether the request could be sent.
bool requestWindowMenu(QWidget *window, QPoint global)
{
#ifdef KELVO_HAVE_XCB
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    QWindow *handle = window->windowHandle();
    if (!x11 || !handle || !x11->connection())
        return false;
    xcb_connection_t *connection = x11->connection();
    static const char name[] = "_GTK_SHOW_WINDOW_MENU";
    xcb_intern_atom_reply_t *atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof(name) - 1, name), nullptr);
    if (!atom)
        return false;
    const xcb_setup_t *setup = xcb_get_setup(connection);
    const xcb_window_t root = xcb_setup_roots_iterator(setup).data->root;
    const qreal dpr = handle->devicePixelRatio();
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = xcb_window_t(handle->winId());
    message.type = atom->atom;
    message.data.data32[0] = 0; // the core pointer
    message.data.data32[1] = quint32(qRound(global.x() * dpr));
    message.data.data32[2] = quint32(qRound(global.y() * dpr));
    std::free(atom);
    // The window manager takes the pointer for its menu.
    xcb_ungrab_pointer(connection, XCB_CURRENT_TIME);
    xcb_send_event(connection, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(connection);
    return true;
#else
    Q_UNUSED(window);
    Q_UNUSED(global);
    return false;
#endif
}

int captionFrame(const QWidget *window)
{
    return window->isActiveWindow() ? 1 : 2;
}

} // namespace

SkinWindowFrame *SkinWindowFrame::decorate(QWidget *window, const SkinStyle &style, CaptionButtons buttons)
{
    if (!window || !window->isWindow() || !style.hasPiece(pieceOf(SkinPartId::WindowTitle)))
        return nullptr;
    return new SkinWindowFrame(window, style, buttons);
}

SkinWindowFrame::SkinWindowFrame(QWidget *window, const SkinStyle &style, CaptionButtons buttons)
    : QObject(window)
    , m_window(window)
    , m_style(style)
{
    setObjectName(QStringLiteral("skinWindowFrame"));
    const auto width = [&](SkinPieceId id) { return style.hasPiece(id) ? style.piece(id).frameSize().width() : 0; };
    const int bottom =
        style.hasPiece(SkinPieceId::FrameBottom) ? style.piece(SkinPieceId::FrameBottom).frameSize().height() : 0;
    const int captionHeight = style.piece(pieceOf(SkinPartId::WindowTitle)).frameSize().height();
    m_margins = QMargins(width(SkinPieceId::FrameLeft), captionHeight, width(SkinPieceId::FrameRight), bottom);

    // The size the window had is the size of its contents: the frame goes
    // around it.
    const QSize extra(m_margins.left() + m_margins.right(), m_margins.top() + m_margins.bottom());
    const bool fixed = window->minimumSize() == window->maximumSize();
    const QSize contents = window->size();
    const QSize minimum = window->minimumSize();
    const bool wasVisible = window->isVisible();
    // The caption's own buttons replace the system's; Qt drops the frameless
    // hint while button hints are customised, so they go.
    window->setWindowFlags(
        (window->windowFlags()
         & ~(Qt::CustomizeWindowHint | Qt::WindowMinMaxButtonsHint | Qt::WindowContextHelpButtonHint))
        | Qt::FramelessWindowHint);
    window->setContentsMargins(m_margins);
    if (fixed) {
        window->setFixedSize(contents + extra);
    } else {
        if (!minimum.isEmpty())
            window->setMinimumSize(minimum + extra);
        window->resize(contents + extra);
    }
    // Children placed by hand (a window without a layout) move inside the
    // frame with the rest.
    if (!window->layout()) {
        for (QWidget *child : window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            child->move(child->pos() + QPoint(m_margins.left(), m_margins.top()));
    }
    window->setMouseTracking(true);
    window->installEventFilter(this);

    m_caption = new SkinCaption(window, style, buttons);
    m_caption->setGeometry(0, 0, window->width(), captionHeight);
    m_caption->raise();
    m_caption->show();
    if (wasVisible)
        window->show();
}

bool SkinWindowFrame::resizable() const
{
    return m_window->minimumSize() != m_window->maximumSize();
}

Qt::Edges SkinWindowFrame::edgesAt(QPoint p) const
{
    Qt::Edges edges;
    if (!resizable())
        return edges;
    const QRect r = m_window->rect();
    if (p.x() < std::max(m_margins.left(), EdgeGrip))
        edges |= Qt::LeftEdge;
    if (p.x() > r.right() - std::max(m_margins.right(), EdgeGrip))
        edges |= Qt::RightEdge;
    if (p.y() < EdgeGrip)
        edges |= Qt::TopEdge;
    if (p.y() > r.bottom() - std::max(m_margins.bottom(), EdgeGrip))
        edges |= Qt::BottomEdge;
    return edges;
}

void SkinWindowFrame::paintFrame()
{
    QPainter painter(m_window);
    const QRect r = m_window->rect();
    const int frame = captionFrame(m_window);
    const int top = m_margins.top();
    if (m_margins.left() > 0)
        m_style.drawPiece(&painter, SkinPieceId::FrameLeft, frame, QRect(0, top, m_margins.left(), r.height() - top));
    if (m_margins.right() > 0)
        m_style.drawPiece(&painter, SkinPieceId::FrameRight, frame,
                          QRect(r.width() - m_margins.right(), top, m_margins.right(), r.height() - top));
    if (m_margins.bottom() > 0)
        m_style.drawPiece(&painter, SkinPieceId::FrameBottom, frame,
                          QRect(0, r.height() - m_margins.bottom(), r.width(), m_margins.bottom()));
}

bool SkinWindowFrame::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window)
        return false;
    switch (event->type()) {
    case QEvent::Paint:
        paintFrame();
        break;
    case QEvent::Resize:
        m_caption->setGeometry(0, 0, m_window->width(), m_margins.top());
        break;
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate:
    case QEvent::WindowTitleChange:
    case QEvent::WindowIconChange:
        m_caption->update();
        m_window->update();
        break;
    case QEvent::MouseMove: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const Qt::Edges edges = edgesAt(mouse->position().toPoint());
        if (edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge))
            m_window->setCursor(Qt::SizeFDiagCursor);
        else if (edges == (Qt::RightEdge | Qt::TopEdge) || edges == (Qt::LeftEdge | Qt::BottomEdge))
            m_window->setCursor(Qt::SizeBDiagCursor);
        else if (edges & (Qt::LeftEdge | Qt::RightEdge))
            m_window->setCursor(Qt::SizeHorCursor);
        else if (edges)
            m_window->setCursor(Qt::SizeVerCursor);
        else
            m_window->unsetCursor();
        break;
    }
    case QEvent::MouseButtonPress: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const Qt::Edges edges = edgesAt(mouse->position().toPoint());
        if (mouse->button() == Qt::LeftButton && edges && m_window->windowHandle()) {
            m_window->windowHandle()->startSystemResize(edges);
            return true;
        }
        break;
    }
    default:
        break;
    }
    return false;
}

SkinCaption::SkinCaption(QWidget *window, const SkinStyle &style, CaptionButtons buttons)
    : QWidget(window)
    , m_window(window)
    , m_style(style)
{
    setObjectName(QStringLiteral("skinCaption"));
    setAccessibleName(tr("标题栏"));
    if (buttons & CaptionButton::Minimize) {
        m_minimize = makeButton(QStringLiteral("btnCaptionMinimize"), tr("最小化"), QStyle::SP_TitleBarMinButton);
        connect(m_minimize, &QToolButton::clicked, m_window, &QWidget::showMinimized);
    }
    if (buttons & CaptionButton::Close) {
        m_close = makeButton(QStringLiteral("btnCaptionClose"), tr("关闭"), QStyle::SP_TitleBarCloseButton);
        connect(m_close, &QToolButton::clicked, m_window, &QWidget::close);
    }
}

QToolButton *SkinCaption::makeButton(const QString &name, const QString &accessibleName, int standardIcon)
{
    auto *button = new QToolButton(this);
    button->setObjectName(name);
    button->setAccessibleName(accessibleName);
    button->setToolTip(accessibleName);
    button->setAutoRaise(true);
    // Caption buttons are for the mouse, as the system's are: the keyboard's
    // focus order stays the window's own.
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(style()->standardIcon(QStyle::StandardPixmap(standardIcon), nullptr, button));
    return button;
}

void SkinCaption::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const int side = std::max(height() - 8, 12);
    int x = width() - 4 - side;
    for (QToolButton *button : {m_close, m_minimize}) {
        if (!button)
            continue;
        button->setGeometry(x, (height() - side) / 2, side, side);
        x -= side + 2;
    }
}

void SkinCaption::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    m_style.drawPiece(&painter, pieceOf(SkinPartId::WindowTitle), captionFrame(m_window), rect());
    int x = 8;
    const QIcon icon = m_window->windowIcon();
    if (!icon.isNull()) {
        const int side = 16;
        icon.paint(&painter, QRect(x, (height() - side) / 2, side, side));
        x += side + 6;
    }
    int right = width() - 4;
    for (QToolButton *button : {m_close, m_minimize}) {
        if (button)
            right = std::min(right, button->x() - 4);
    }
    QFont font = m_window->font();
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(
        palette().color(m_window->isActiveWindow() ? QPalette::Active : QPalette::Inactive, QPalette::WindowText));
    const QRect textRect(x, 0, std::max(right - x, 0), height());
    const QString title = painter.fontMetrics().elidedText(m_window->windowTitle(), Qt::ElideRight, textRect.width());
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, title);
}

void SkinCaption::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        // The window manager's window menu where it has one; else nothing.
        requestWindowMenu(m_window, event->globalPosition().toPoint());
        event->accept();
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    // The top edge of a resizable window lies in the caption.
    if (m_window->minimumSize() != m_window->maximumSize() && event->position().y() < EdgeGrip
        && m_window->windowHandle()) {
        Qt::Edges edges = Qt::TopEdge;
        if (event->position().x() < EdgeGrip)
            edges |= Qt::LeftEdge;
        else if (event->position().x() >= width() - EdgeGrip)
            edges |= Qt::RightEdge;
        if (m_window->windowHandle()->startSystemResize(edges)) {
            event->accept();
            return;
        }
    }
    m_pressed = true;
    m_movingByHand = false;
    m_pressGlobal = event->globalPosition().toPoint();
    m_windowAtPress = m_window->pos();
    event->accept();
}

void SkinCaption::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_pressed || !(event->buttons() & Qt::LeftButton)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    if (!m_movingByHand) {
        // The first move after the press hands the drag to the window
        // system, which then snaps and constrains it as for every window.
        QWindow *handle = m_window->windowHandle();
        if (handle && handle->startSystemMove()) {
            m_pressed = false;
            return;
        }
        m_movingByHand = true; // refused: moved here
    }
    m_window->move(m_windowAtPress + (event->globalPosition().toPoint() - m_pressGlobal));
}

void SkinCaption::mouseReleaseEvent(QMouseEvent *event)
{
    m_pressed = false;
    QWidget::mouseReleaseEvent(event);
}

bool userChoseStyle(int argc, const char *const *argv)
{
    if (!qEnvironmentVariableIsEmpty("QT_STYLE_OVERRIDE"))
        return true;
    for (int i = 1; i < argc && argv[i]; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "-style") == 0 || std::strcmp(arg, "--style") == 0 || std::strncmp(arg, "-style=", 7) == 0
            || std::strncmp(arg, "--style=", 8) == 0)
            return true;
    }
    return false;
}

} // namespace kelvo
