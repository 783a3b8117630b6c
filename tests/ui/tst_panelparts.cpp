// The pure pieces behind the tree and the panel: the drop placement rule over
// every combination of node kinds, and the JPEG decoder over good and bad data.

#include "DropPlacement.h"
#include "JpegImage.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QTest>

#include <optional>

using namespace kelvo;
using Mode = CardTree::MoveMode;

Q_DECLARE_METATYPE(std::optional<kelvo::CardTree::MoveMode>)

namespace {

QByteArray plantJpeg()
{
    QFile file(QStringLiteral(":/panel/plant.jpg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Offset of the first baseline or progressive frame header (SOF0/SOF2).
qsizetype frameHeaderOffset(const QByteArray &jpeg)
{
    for (qsizetype i = 0; i + 1 < jpeg.size(); ++i) {
        if (uchar(jpeg[i]) == 0xFF && (uchar(jpeg[i + 1]) == 0xC0 || uchar(jpeg[i + 1]) == 0xC2))
            return i;
    }
    return -1;
}

} // namespace

class TestPanelParts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dropPlacement_data()
    {
        QTest::addColumn<int>("moved");
        QTest::addColumn<int>("target");
        QTest::addColumn<bool>("reserved");
        QTest::addColumn<std::optional<Mode>>("expected");
        const std::optional<Mode> none;
        QTest::newRow("card onto class") << 1 << 0 << false << std::optional(Mode::AsLastChild);
        QTest::newRow("card onto reserved class") << 1 << 0 << true << std::optional(Mode::AsLastChild);
        QTest::newRow("card onto card") << 1 << 1 << false << std::optional(Mode::BeforeTarget);
        QTest::newRow("card onto card with reserved label") << 1 << 1 << true << std::optional(Mode::BeforeTarget);
        QTest::newRow("class onto card") << 0 << 1 << false << std::optional(Mode::AsLastSibling);
        QTest::newRow("class onto card with reserved label") << 0 << 1 << true << std::optional(Mode::AsLastSibling);
        QTest::newRow("class onto reserved class") << 0 << 0 << true << std::optional(Mode::AsLastSibling);
        QTest::newRow("class onto class") << 0 << 0 << false << std::optional(Mode::AsLastChild);
        for (int odd : {-1, 2, 7}) {
            for (int other : {0, 1, odd}) {
                for (bool reserved : {false, true}) {
                    const QByteArray suffix =
                        QByteArray::number(odd) + "/" + QByteArray::number(other) + (reserved ? " reserved" : "");
                    QTest::newRow(("unknown moved " + suffix).constData()) << odd << other << reserved << none;
                    QTest::newRow(("unknown target " + suffix).constData()) << other << odd << reserved << none;
                }
            }
        }
    }
    void dropPlacement()
    {
        QFETCH(int, moved);
        QFETCH(int, target);
        QFETCH(bool, reserved);
        QFETCH(std::optional<Mode>, expected);
        QCOMPARE(DropPlacement(moved, target, reserved), expected);
    }

    void decodesPanelPicture()
    {
        const QByteArray jpeg = plantJpeg();
        QVERIFY(!jpeg.isEmpty());
        QString error = QStringLiteral("stale");
        const QImage image = DecodeJpeg(jpeg, &error);
        QVERIFY(error.isEmpty());
        QCOMPARE(image.size(), QSize(160, 120));
        // A black ground around a plant: dark corners, a lit middle.
        for (QPoint corner : {QPoint(1, 1), QPoint(158, 1), QPoint(1, 118), QPoint(158, 118)})
            QVERIFY(qGray(image.pixel(corner)) < 24);
        const QColor leaf = image.pixelColor(80, 50);
        QVERIFY(leaf.green() > leaf.red() && leaf.green() > 100);
        const QColor pot = image.pixelColor(80, 100);
        QVERIFY(pot.red() > pot.blue() + 60);
    }

    void decodesGreyscale()
    {
        QImage grey(33, 17, QImage::Format_Grayscale8);
        grey.fill(200);
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        if (!writer.canWrite())
            QSKIP("no JPEG writer to make the sample");
        QVERIFY(writer.write(grey));
        const QImage image = DecodeJpeg(jpeg);
        QCOMPARE(image.size(), QSize(33, 17));
        QVERIFY(qAbs(qGray(image.pixel(16, 8)) - 200) < 6);
    }

    void badDataGivesError_data()
    {
        QTest::addColumn<QByteArray>("data");
        const QByteArray jpeg = plantJpeg();
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not a JPEG") << QByteArray("GIF89a this is no jpeg at all");
        QTest::newRow("start marker only") << QByteArray("\xFF\xD8", 2);
        QTest::newRow("header cut short") << jpeg.left(40);
        QTest::newRow("random bytes") << QByteArray(4096, '\x5A');
        QByteArray badTables = jpeg;
        const qsizetype sof = frameHeaderOffset(jpeg);
        QVERIFY(sof > 0);
        badTables[sof + 9] = 9; // component count beyond what libjpeg allows
        QTest::newRow("bad component count") << badTables;
    }
    void badDataGivesError()
    {
        QFETCH(QByteArray, data);
        QString error;
        const QImage image = DecodeJpeg(data, &error);
        QVERIFY(image.isNull());
        QVERIFY(!error.isEmpty());
    }

    void hugeDimensionsRefusedBeforeAllocation()
    {
        QByteArray jpeg = plantJpeg();
        const qsizetype sof = frameHeaderOffset(jpeg);
        QVERIFY(sof > 0);
        // Height and width (big-endian) follow the length and precision bytes.
        // 12288 x 12288 pixels: within what the format allows, beyond what the panel takes.
        jpeg[sof + 5] = char(0x30);
        jpeg[sof + 6] = char(0x00);
        jpeg[sof + 7] = char(0x30);
        jpeg[sof + 8] = char(0x00);
        QString error;
        QVERIFY(DecodeJpeg(jpeg, &error).isNull());
        QVERIFY2(error.contains(QLatin1String("too large")), qPrintable(error));
    }

    void everyTruncationIsSafe()
    {
        // Cut at every length: an error or a (partly grey) picture, never a crash.
        const QByteArray jpeg = plantJpeg();
        int decoded = 0;
        for (qsizetype length = 0; length < jpeg.size(); ++length) {
            QString error;
            const QImage image = DecodeJpeg(QByteArrayView(jpeg).first(length), &error);
            QCOMPARE(image.isNull(), !error.isEmpty());
            if (!image.isNull()) {
                QCOMPARE(image.size(), QSize(160, 120));
                ++decoded;
            }
        }
        QVERIFY(decoded > 0); // once the headers are complete the rest is padded
    }

    void everyByteFlipIsSafe()
    {
        const QByteArray jpeg = plantJpeg();
        for (qsizetype i = 0; i < jpeg.size(); i += 7) {
            QByteArray damaged = jpeg;
            damaged[i] = char(~uchar(damaged[i]));
            QString error;
            const QImage image = DecodeJpeg(damaged, &error);
            QCOMPARE(image.isNull(), !error.isEmpty());
        }
    }
};

QTEST_MAIN(TestPanelParts)
#include "tst_panelparts.moc"
