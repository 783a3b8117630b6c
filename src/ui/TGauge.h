#pragma once

#include <QWidget>

namespace kelvo {

// A horizontal bar over the range MinValue..MaxValue at position Progress:
// its whole area in the tooltip background colour, the share done in black
// from the left, and the whole percentage done ("37%") centred on it. The
// position always stays within the range.
class TGauge : public QWidget
{
    Q_OBJECT

public:
    explicit TGauge(QWidget *parent = nullptr);

    int minValue() const { return m_min; }
    int maxValue() const { return m_max; }
    int progress() const { return m_progress; }
    void setMinValue(int value);
    // Lowering the maximum below the position lowers the position with it.
    void setMaxValue(int value);
    void setRange(int minValue, int maxValue);
    void setProgress(int value);
    // Position + amount, stopping at the maximum.
    void addProgress(int amount);

    // (Progress - MinValue) * 100 / (MaxValue - MinValue), fraction dropped;
    // 0 for an empty range.
    int percentDone() const;
    // "%d%%" of percentDone().
    QString percentText() const;
    // Width in pixels of the black share for a bar `width` pixels wide.
    int doneWidth(int width) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // Tells assistive technology the position (and so the percentage) changed.
    void announceValue();

    int m_min = 0;
    int m_max = 100;
    int m_progress = 0;
};

} // namespace kelvo
