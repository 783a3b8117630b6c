#include "TGauge.h"

#include "AccessibleTexts.h"
#include "SkinStyle.h"

#include <QAccessible>
#include <QPainter>

#include <algorithm>

namespace kelvo {

TGauge::TGauge(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    AccessibleGauge::install();
}

void TGauge::announceValue()
{
    QAccessibleValueChangeEvent event(this, m_progress);
    QAccessible::updateAccessibility(&event);
}

void TGauge::setMinValue(int value)
{
    setRange(value, std::max(value, m_max));
}

void TGauge::setMaxValue(int value)
{
    setRange(std::min(m_min, value), value);
}

void TGauge::setRange(int minValue, int maxValue)
{
    if (maxValue < minValue)
        maxValue = minValue;
    if (minValue == m_min && maxValue == m_max)
        return;
    m_min = minValue;
    m_max = maxValue;
    m_progress = std::clamp(m_progress, m_min, m_max);
    update();
    announceValue(); // the percentage changes with the range
}

void TGauge::setProgress(int value)
{
    const int clamped = std::clamp(value, m_min, m_max);
    if (clamped == m_progress)
        return;
    m_progress = clamped;
    update();
    announceValue();
}

void TGauge::addProgress(int amount)
{
    // 64-bit sum: a step beyond the largest int must stop at the maximum.
    setProgress(static_cast<int>(std::clamp<qint64>(qint64(m_progress) + amount, m_min, m_max)));
}

int TGauge::percentDone() const
{
    const qint64 span = qint64(m_max) - m_min;
    if (span <= 0)
        return 0;
    return static_cast<int>((qint64(m_progress) - m_min) * 100 / span);
}

QString TGauge::percentText() const
{
    return QString::asprintf("%d%%", percentDone());
}

int TGauge::doneWidth(int width) const
{
    const qint64 span = qint64(m_max) - m_min;
    if (span <= 0)
        return 0;
    return static_cast<int>((qint64(m_progress) - m_min) * width / span);
}

QSize TGauge::sizeHint() const
{
    return QSize(357, 25);
}

void TGauge::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect area = rect();
    const QColor background = palette().color(QPalette::ToolTipBase);
    const int done = doneWidth(area.width());
    const QRect doneArea(area.left(), area.top(), done, area.height());
    const auto *skin = qobject_cast<const SkinStyle *>(style());
    if (skin && skin->hasPiece(pieceOf(SkinPartId::ProgressBar))) {
        // The skin's progress bar: frame 1 the whole bar, frame 2 the share
        // done; the percentage in the text colours of the skin.
        skin->drawPiece(&painter, pieceOf(SkinPartId::ProgressBar), 1, area);
        if (done > 0)
            skin->drawPiece(&painter, pieceOf(SkinPartId::ProgressBar), 2, doneArea);
        const QString text = percentText();
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(area, Qt::AlignCenter, text);
        painter.setClipRect(doneArea);
        painter.setPen(palette().color(QPalette::HighlightedText));
        painter.drawText(area, Qt::AlignCenter, text);
        return;
    }
    painter.fillRect(area, background);
    painter.fillRect(doneArea, Qt::black);

    // The percentage reads in black over the open part and in the background
    // colour over the black part.
    const QString text = percentText();
    painter.setPen(Qt::black);
    painter.drawText(area, Qt::AlignCenter, text);
    painter.setClipRect(doneArea);
    painter.setPen(background);
    painter.drawText(area, Qt::AlignCenter, text);
}

} // namespace kelvo
