#pragma once

// Business cards drawn for the tests, the way a 300 dpi scan shows them.

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QStringList>

namespace kelvo::testing {

struct PictureLine
{
    QString text;
    int pixelSize;
    QPoint at;
};

// A white card of 1050 x 600 pixels (portrait for a vertical card, whose
// lines are columns drawn one character under the other).
inline QImage drawCard(const QList<PictureLine> &lines, bool vertical = false)
{
    QImage image(vertical ? QSize(600, 1050) : QSize(1050, 600), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setPen(QColor(20, 20, 20));
    for (const PictureLine &line : lines) {
        QFont font(QStringLiteral("Noto Sans CJK SC"));
        font.setPixelSize(line.pixelSize);
        p.setFont(font);
        const QFontMetrics m(font);
        if (!vertical) {
            p.drawText(line.at + QPoint(0, m.ascent()), line.text);
            continue;
        }
        int y = line.at.y();
        for (QChar c : line.text) {
            p.drawText(QPoint(line.at.x(), y + m.ascent()), QString(c));
            y += line.pixelSize * 108 / 100;
        }
    }
    return image;
}

inline QImage chineseCard()
{
    return drawCard({{QStringLiteral("王建国"), 64, {80, 50}},
                     {QStringLiteral("总经理"), 28, {330, 82}},
                     {QStringLiteral("上海恒达贸易有限公司"), 34, {80, 160}},
                     {QStringLiteral("电话：021-58886666"), 26, {80, 260}},
                     {QStringLiteral("手机：139 1234 5678"), 26, {80, 310}},
                     {QStringLiteral("邮箱：wang@hengda.com"), 26, {80, 360}}});
}

inline QImage englishCard()
{
    return drawCard({{QStringLiteral("John Smith"), 64, {80, 50}},
                     {QStringLiteral("Sales Manager"), 28, {80, 140}},
                     {QStringLiteral("Acme Trading Co., Ltd."), 30, {80, 200}},
                     {QStringLiteral("Room 1203, No. 27 Zhongshan Road, Beijing"), 26, {80, 260}},
                     {QStringLiteral("Tel: +86 10 6258 8888"), 26, {80, 310}},
                     {QStringLiteral("E-mail: john.smith@acme.com"), 26, {80, 360}},
                     {QStringLiteral("www.acme.com"), 26, {80, 410}}});
}

inline QImage verticalCard()
{
    return drawCard({{QStringLiteral("王建国"), 64, {470, 150}},
                     {QStringLiteral("总经理"), 30, {390, 200}},
                     {QStringLiteral("上海恒达贸易有限公司"), 30, {320, 80}}},
                    true);
}

} // namespace kelvo::testing
