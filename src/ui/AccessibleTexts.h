#pragma once

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QString>

class QLabel;

namespace kelvo {

class TGauge;

// A label whose text changes while its window is up (a status line, a
// progress text) is read by assistive technology as its current text: its
// accessible name is left empty, so the name follows the text and every
// change is announced (Qt sends NameChanged for such a label), and what the
// label is for goes into its accessible description.
void ReadLabelByItsText(QLabel &label, const QString &purpose);

// What assistive technology is told about a `TGauge`: a progress bar whose
// value is the position within the range and whose value text is the
// percentage drawn on the bar ("37%"). The gauge announces every change of
// its position or range (QAccessibleValueChangeEvent).
class AccessibleGauge final
    : public QAccessibleWidget
    , public QAccessibleValueInterface
{
public:
    explicit AccessibleGauge(TGauge *gauge);

    // Makes Qt use this interface for every TGauge; safe to call repeatedly.
    static void install();

    void *interface_cast(QAccessible::InterfaceType type) override;
    QString text(QAccessible::Text type) const override;

    QVariant currentValue() const override;
    void setCurrentValue(const QVariant &) override {} // the bar is not an input
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override;

private:
    const TGauge &gauge() const;
};

} // namespace kelvo
