// Draws the panel's decorative picture, a potted plant on a black ground,
// 160 x 120 pixels, and writes it as plant.jpg. Run once by hand when the
// picture is to change; the program itself only carries the JPEG:
//
//   g++ -std=c++20 -fPIC DrawPlant.cpp $(pkg-config --cflags --libs Qt6Gui) -o draw-plant
//   QT_QPA_PLATFORM=offscreen ./draw-plant plant.jpg

#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace {

void drawLeaf(QPainter &p, QPointF base, double angleDeg, double length, double width, QColor colour)
{
    p.save();
    p.translate(base);
    p.rotate(angleDeg);
    QPainterPath leaf;
    leaf.moveTo(0, 0);
    leaf.cubicTo(width, -length * 0.3, width * 0.8, -length * 0.75, 0, -length);
    leaf.cubicTo(-width * 0.8, -length * 0.75, -width, -length * 0.3, 0, 0);
    QLinearGradient shade(QPointF(-width, 0), QPointF(width, 0));
    shade.setColorAt(0, colour.darker(150));
    shade.setColorAt(0.5, colour.lighter(125));
    shade.setColorAt(1, colour.darker(130));
    p.setPen(Qt::NoPen);
    p.setBrush(shade);
    p.drawPath(leaf);
    p.setPen(QPen(colour.darker(200), 0.8));
    p.drawLine(QPointF(0, -1), QPointF(0, -length * 0.9));
    p.restore();
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QImage image(160, 120, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // A faint glow behind the plant.
    QRadialGradient glow(QPointF(80, 55), 60);
    glow.setColorAt(0, QColor(40, 48, 36));
    glow.setColorAt(1, Qt::black);
    p.fillRect(image.rect(), glow);

    // Stems and leaves.
    const QPointF root(80, 86);
    struct Leaf { double angle, length, width; QColor colour; };
    const Leaf leaves[] = {
        {-62, 44, 9, QColor(60, 140, 60)},  {-38, 56, 10, QColor(70, 160, 70)},
        {-14, 66, 11, QColor(80, 175, 75)}, {8, 70, 11, QColor(75, 170, 70)},
        {30, 58, 10, QColor(65, 150, 65)},  {55, 46, 9, QColor(55, 135, 55)},
        {-80, 30, 7, QColor(50, 120, 50)},  {78, 32, 7, QColor(50, 120, 50)},
        {-26, 40, 8, QColor(95, 185, 85)},  {18, 44, 8, QColor(95, 185, 85)},
    };
    for (const Leaf &leaf : leaves)
        drawLeaf(p, root, leaf.angle, leaf.length, leaf.width, leaf.colour);

    // A few small flowers at the leaf tips.
    p.setPen(Qt::NoPen);
    for (double angle : {-14.0, 8.0, 30.0}) {
        const double rad = (angle - 90.0) * M_PI / 180.0;
        const QPointF tip = root + QPointF(std::cos(rad), std::sin(rad)) * 64.0;
        p.setBrush(QColor(235, 225, 120));
        p.drawEllipse(tip, 3.2, 3.2);
        p.setBrush(QColor(200, 90, 60));
        p.drawEllipse(tip, 1.3, 1.3);
    }

    // The pot: a terracotta trapezoid with a rim and a shadow.
    QPainterPath pot;
    pot.moveTo(62, 88);
    pot.lineTo(98, 88);
    pot.lineTo(93, 114);
    pot.lineTo(67, 114);
    pot.closeSubpath();
    QLinearGradient clay(QPointF(62, 0), QPointF(98, 0));
    clay.setColorAt(0, QColor(120, 55, 30));
    clay.setColorAt(0.45, QColor(200, 105, 60));
    clay.setColorAt(1, QColor(110, 50, 28));
    p.setBrush(clay);
    p.drawPath(pot);
    QLinearGradient rim(QPointF(58, 0), QPointF(102, 0));
    rim.setColorAt(0, QColor(130, 60, 32));
    rim.setColorAt(0.45, QColor(215, 120, 70));
    rim.setColorAt(1, QColor(120, 55, 30));
    p.setBrush(rim);
    p.drawRoundedRect(QRectF(58, 82, 44, 8), 2, 2);
    p.setBrush(QColor(50, 30, 20));
    p.drawEllipse(QRectF(60, 80, 40, 4));
    p.setBrush(QColor(25, 25, 25));
    p.drawEllipse(QRectF(60, 112, 40, 5));
    p.end();

    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("plant.jpg");
    return image.save(out, "JPEG", 90) ? 0 : 1;
}
