#pragma once

#include "CaptureResult.h"

#include <QImage>
#include <QList>
#include <QWidget>

namespace kelvo {

// The picture of a card in the capture window, scaled to fit, with a frame
// around every line of text the recogniser found. Clicking inside a frame
// reports that line's text. The view never takes the keyboard focus, so the
// editor the user is filling keeps it.
class CapturePicture : public QWidget
{
    Q_OBJECT

public:
    explicit CapturePicture(QWidget *parent = nullptr);

    // The picture as the lines' boxes see it (already turned) and its lines.
    void setPicture(const QImage &picture, const QList<capture::CapturedLine> &lines);
    void clear();
    const QImage &picture() const { return m_picture; }
    const QList<capture::CapturedLine> &lines() const { return m_lines; }

    // Where a point of the picture lies in the widget, and back (for tests
    // and the mouse): the picture is scaled to fit and centred.
    QPointF toWidget(const QPointF &picturePoint) const;
    QPointF toPicture(const QPointF &widgetPoint) const;
    // The line whose box holds the picture point (the smallest such box), or -1.
    int lineAt(const QPointF &picturePoint) const;

    QSize sizeHint() const override { return QSize(480, 300); }

Q_SIGNALS:
    void lineClicked(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    QRectF pictureArea() const;

    QImage m_picture;
    QList<capture::CapturedLine> m_lines;
    int m_hovered = -1;
};

} // namespace kelvo
