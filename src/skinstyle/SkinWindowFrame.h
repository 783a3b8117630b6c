#pragma once

#include <QFlags>
#include <QMargins>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QWidget>

class QToolButton;

namespace kelvo {

class SkinStyle;

// The buttons a skinned caption offers.
enum class CaptionButton {
    None = 0,
    Minimize = 1,
    Close = 2,
};
Q_DECLARE_FLAGS(CaptionButtons, CaptionButton)
Q_DECLARE_OPERATORS_FOR_FLAGS(CaptionButtons)

class SkinCaption;

// Gives a top-level window the skin's frame and caption in place of the
// window system's: the window becomes frameless, its contents move inside
// the frame (the size it had stays the size inside the frame), and a
// caption shows its title and the given buttons. The caption moves the
// window (by the window system where it will, else by hand), the edges of a
// resizable window resize it through the window system.
class SkinWindowFrame : public QObject
{
    Q_OBJECT

public:
    // Decorates `window` (a top-level widget) when `style` has the skin's
    // caption picture; returns the frame, owned by the window, or nullptr
    // when the window keeps the system's frame.
    static SkinWindowFrame *decorate(QWidget *window, const SkinStyle &style, CaptionButtons buttons);

    QWidget *window() const { return m_window; }
    SkinCaption *caption() const { return m_caption; }
    // The frame's widths around the contents: the caption's height on top.
    QMargins frameMargins() const { return m_margins; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    SkinWindowFrame(QWidget *window, const SkinStyle &style, CaptionButtons buttons);
    void paintFrame();
    Qt::Edges edgesAt(QPoint position) const;
    bool resizable() const;

    QWidget *m_window;
    const SkinStyle &m_style;
    SkinCaption *m_caption = nullptr;
    QMargins m_margins;
};

// The caption band: the window's title and its buttons over the skin's
// caption picture (frame 1 active, frame 2 inactive).
class SkinCaption : public QWidget
{
    Q_OBJECT

public:
    SkinCaption(QWidget *window, const SkinStyle &style, CaptionButtons buttons);

    QToolButton *minimizeButton() const { return m_minimize; }
    QToolButton *closeButton() const { return m_close; }
    // How the last drag moved the window: by the window system or by hand.
    bool lastMoveByHand() const { return m_movingByHand; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QToolButton *makeButton(const QString &name, const QString &accessibleName, int standardIcon);

    QWidget *m_window;
    const SkinStyle &m_style;
    QToolButton *m_minimize = nullptr;
    QToolButton *m_close = nullptr;
    bool m_pressed = false;
    bool m_movingByHand = false;
    QPoint m_pressGlobal;
    QPoint m_windowAtPress;
};

// Whether the user chose a style of Qt's own (-style NAME, -style=NAME or
// QT_STYLE_OVERRIDE): then the program keeps that style and the system's frames.
bool userChoseStyle(int argc, const char *const *argv);

} // namespace kelvo
