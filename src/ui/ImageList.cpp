#include "ImageList.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace kelvo {

namespace {

const char *const PictureNames[ImageList::Count] = {
    "00-card-class",     "01-card",
    "02-open-home-page", "03-delete",
    "04-search",         "05-help",
    "06-send-mail",      "07-edit",
    "08-rename",         "09-save",
    "10-contact-author", "11-about",
    "12-exit",           "13-software-home-page",
};

const QList<int> SmallSizes = {16, 24, 32};

} // namespace

ImageList::ImageList()
{
    m_icons.reserve(Count);
    for (int n = 0; n < Count; ++n)
        m_icons.append(renderSvg(resourcePath(n), SmallSizes));
}

QIcon ImageList::icon(int number) const
{
    if (number < 0 || number >= m_icons.size())
        return QIcon();
    return m_icons.at(number);
}

QString ImageList::resourcePath(int number)
{
    if (number < 0 || number >= Count)
        return QString();
    return QStringLiteral(":/icons/%1.svg").arg(QLatin1String(PictureNames[number]));
}

QIcon ImageList::programIcon()
{
    static const QIcon icon = renderSvg(QStringLiteral(":/icons/kelvo.svg"), {16, 24, 32, 48, 64, 128});
    return icon;
}

QIcon ImageList::renderSvg(const QString &resource, const QList<int> &sizes)
{
    QSvgRenderer renderer(resource);
    if (!renderer.isValid())
        return QIcon();
    QIcon icon;
    for (int size : sizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace kelvo
