#include "CapturePicture.h"

#include <QMouseEvent>
#include <QPainter>

namespace kelvo {

CapturePicture::CapturePicture(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("imgCard"));
    setAccessibleName(QStringLiteral("名片图片"));
    setAccessibleDescription(QStringLiteral("点击图片中的文字框，把文字填入当前的输入框"));
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setMinimumSize(320, 200);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void CapturePicture::setPicture(const QImage &picture, const QList<capture::CapturedLine> &lines)
{
    m_picture = picture;
    m_lines = lines;
    m_hovered = -1;
    update();
}

void CapturePicture::clear()
{
    setPicture(QImage(), {});
}

QRectF CapturePicture::pictureArea() const
{
    if (m_picture.isNull())
        return {};
    const QSizeF room = size();
    QSizeF shown = QSizeF(m_picture.size()).scaled(room, Qt::KeepAspectRatio);
    return QRectF(QPointF((room.width() - shown.width()) / 2, (room.height() - shown.height()) / 2), shown);
}

QPointF CapturePicture::toWidget(const QPointF &picturePoint) const
{
    const QRectF area = pictureArea();
    if (area.isEmpty())
        return {};
    const double scale = area.width() / m_picture.width();
    return area.topLeft() + picturePoint * scale;
}

QPointF CapturePicture::toPicture(const QPointF &widgetPoint) const
{
    const QRectF area = pictureArea();
    if (area.isEmpty())
        return {-1, -1};
    const double scale = area.width() / m_picture.width();
    return (widgetPoint - area.topLeft()) / scale;
}

int CapturePicture::lineAt(const QPointF &picturePoint) const
{
    int best = -1;
    qint64 bestArea = 0;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const QRect &box = m_lines.at(i).box;
        if (box.isEmpty() || m_lines.at(i).text.isEmpty() || !QRectF(box).contains(picturePoint))
            continue;
        const qint64 area = qint64(box.width()) * box.height();
        if (best < 0 || area < bestArea) {
            best = int(i);
            bestArea = area;
        }
    }
    return best;
}

void CapturePicture::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Dark));
    const QRectF area = pictureArea();
    if (area.isEmpty())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(area, m_picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const double scale = area.width() / m_picture.width();
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const QRect &box = m_lines.at(i).box;
        if (box.isEmpty())
            continue;
        const QRectF shown(area.topLeft() + QPointF(box.topLeft()) * scale, QSizeF(box.size()) * scale);
        QColor frame = m_lines.at(i).confidence < 92 ? QColor(230, 120, 0) : QColor(0, 120, 215);
        painter.setPen(QPen(frame, i == m_hovered ? 2.0 : 1.0));
        frame.setAlpha(i == m_hovered ? 70 : 25);
        painter.setBrush(frame);
        painter.drawRect(shown.adjusted(-1, -1, 1, 1));
    }
}

void CapturePicture::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const int line = lineAt(toPicture(event->position()));
    if (line >= 0)
        emit lineClicked(m_lines.at(line).text);
}

void CapturePicture::mouseMoveEvent(QMouseEvent *event)
{
    const int line = lineAt(toPicture(event->position()));
    if (line != m_hovered) {
        m_hovered = line;
        setCursor(line >= 0 ? Qt::PointingHandCursor : Qt::ArrowCursor);
        setToolTip(line >= 0 ? m_lines.at(line).text : QString());
        update();
    }
}

} // namespace kelvo
