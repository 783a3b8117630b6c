#include "AccessibleTexts.h"

#include "TGauge.h"

#include <QLabel>

namespace kelvo {

void ReadLabelByItsText(QLabel &label, const QString &purpose)
{
    label.setAccessibleName(QString());
    label.setAccessibleDescription(purpose);
}

namespace {

QAccessibleInterface *gaugeFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String(TGauge::staticMetaObject.className()) && object && object->isWidgetType())
        return new AccessibleGauge(static_cast<TGauge *>(object));
    return nullptr;
}

} // namespace

AccessibleGauge::AccessibleGauge(TGauge *gauge)
    : QAccessibleWidget(gauge, QAccessible::ProgressBar)
{
}

void AccessibleGauge::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(gaugeFactory);
        return true;
    }();
    (void)installed;
}

const TGauge &AccessibleGauge::gauge() const
{
    return *static_cast<const TGauge *>(object());
}

void *AccessibleGauge::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::ValueInterface)
        return static_cast<QAccessibleValueInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QString AccessibleGauge::text(QAccessible::Text type) const
{
    if (type == QAccessible::Value)
        return gauge().percentText();
    return QAccessibleWidget::text(type);
}

QVariant AccessibleGauge::currentValue() const
{
    return gauge().progress();
}

QVariant AccessibleGauge::maximumValue() const
{
    return gauge().maxValue();
}

QVariant AccessibleGauge::minimumValue() const
{
    return gauge().minValue();
}

QVariant AccessibleGauge::minimumStepSize() const
{
    return 1;
}

} // namespace kelvo
