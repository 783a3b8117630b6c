// Pictures of cards read end to end with the real recogniser, and the
// intake's refusals of pictures it must not decode.
#include "CardPictures.h"

#include "CardImage.h"
#include "CardReader.h"

#include <QBuffer>
#include <QFontMetrics>
#include <QPainter>
#include <QTest>
#include <QtEndian>

using namespace kelvo;
using namespace kelvo::capture;

namespace {

quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char c : bytes) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray be32(quint32 v)
{
    QByteArray b(4, '\0');
    qToBigEndian(v, b.data());
    return b;
}

QByteArray pngChunk(const QByteArray &type, const QByteArray &data)
{
    return be32(quint32(data.size())) + type + data + be32(crc32(type + data));
}

// A PNG whose header claims width x height, with a few bytes of data.
QByteArray pngClaiming(quint32 width, quint32 height)
{
    QByteArray ihdr = be32(width) + be32(height);
    ihdr += QByteArray("\x08\x02\x00\x00\x00", 5); // 8 bits, RGB
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) +
           pngChunk("IDAT", QByteArray("\x78\x9c\x63\x00\x00\x00\x01\x00\x01", 9)) + pngChunk("IEND", {});
}

// A BMP header claiming width x height at 24 bits, without pixels.
QByteArray bmpClaiming(qint32 width, qint32 height)
{
    QByteArray b(54, '\0');
    b[0] = 'B', b[1] = 'M';
    qToLittleEndian(quint32(54), b.data() + 10);
    qToLittleEndian(quint32(40), b.data() + 14);
    qToLittleEndian(width, b.data() + 18);
    qToLittleEndian(height, b.data() + 22);
    qToLittleEndian(quint16(1), b.data() + 26);
    qToLittleEndian(quint16(24), b.data() + 28);
    return b;
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A JPEG with an EXIF block saying "turn 90 degrees clockwise to show".
QByteArray jpegWithOrientation6(const QImage &image)
{
    QByteArray jpeg = encoded(image, "JPEG");
    QByteArray tiff("MM\x00\x2a\x00\x00\x00\x08", 8);
    tiff += QByteArray("\x00\x01", 2);                              // one entry
    tiff += QByteArray("\x01\x12\x00\x03\x00\x00\x00\x01\x00\x06\x00\x00", 12); // Orientation = 6
    tiff += QByteArray(4, '\0');                                    // no next IFD
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray app1("\xFF\xE1", 2);
    app1 += char((payload.size() + 2) >> 8);
    app1 += char((payload.size() + 2) & 0xFF);
    app1 += payload;
    return jpeg.left(2) + app1 + jpeg.mid(2);
}

Result<QImage> readBytes(const QByteArray &bytes)
{
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return readCardImage(&buffer, QStringLiteral("card"));
}

} // namespace

class TestCardReading : public QObject
{
    Q_OBJECT

private slots:
    void refusesPictures_data();
    void refusesPictures();
    void appliesExifOrientation();
    void readsCards_data();
    void readsCards();
    void turnsAnUpsideDownCard();
    void oddPicturesGiveNoText_data();
    void oddPicturesGiveNoText();
    void whitensOnlyTheSurroundings_data();
    void whitensOnlyTheSurroundings();
    void findsHowACardLiesAskew_data();
    void findsHowACardLiesAskew();
    void putsBackAnAddresssAt_data();
    void putsBackAnAddresssAt();
    void findsALineEndingInAFullStop_data();
    void findsALineEndingInAFullStop();
    void largePictureKeepsItsBoxes();
    void finePatternIsReadWithinBounds();

private:
    CardOcr m_ocr; // the engines are made once for all cards
};

void TestCardReading::refusesPictures_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    const QByteArray png = encoded(testing::englishCard(), "PNG");
    QTest::newRow("PNG claiming 100 megapixels") << pngClaiming(10000, 10000) << QStringLiteral("50 megapixels");
    QTest::newRow("PNG claiming 4 billion pixels a side") << pngClaiming(0x7FFFFFFF, 0x7FFFFFFF) << QStringLiteral("card");
    QTest::newRow("BMP claiming 81 megapixels") << bmpClaiming(9000, 9000) << QStringLiteral("50 megapixels");
    QTest::newRow("PNG cut in the middle") << png.left(png.size() / 2) << QStringLiteral("damaged or cut short");
    QTest::newRow("PNG with damaged data") << [&] {
        QByteArray b = png;
        for (qsizetype i = 100; i < b.size() - 20; i += 7)
            b[i] = char(b[i] ^ 0x5A);
        return b;
    }() << QStringLiteral("damaged or cut short");
    QTest::newRow("no picture") << QByteArray("BEGIN:VCARD\r\nFN:x\r\nEND:VCARD\r\n") << QStringLiteral("not a picture");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("not a picture");
}

void TestCardReading::refusesPictures()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    const Result<QImage> image = readBytes(bytes);
    QVERIFY(!image.ok());
    QCOMPARE(image.error().code, ErrorCode::DataDamaged);
    QVERIFY2(image.error().message().contains(message), qPrintable(image.error().message()));
}

void TestCardReading::appliesExifOrientation()
{
    QImage picture(200, 100, QImage::Format_RGB32);
    picture.fill(Qt::white);
    const Result<QImage> image = readBytes(jpegWithOrientation6(picture));
    QVERIFY2(image.ok(), qPrintable(image.error().message()));
    QCOMPARE(image.value().size(), QSize(100, 200));
}

void TestCardReading::readsCards_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<QList<int>>("numbers");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("chinese") << testing::chineseCard()
                             << QList<int>{1, 2, 3, 5, 7, 12}
                             << QStringList{QStringLiteral("王建国"), QStringLiteral("总经理"),
                                            QStringLiteral("上海恒达贸易有限公司"), QStringLiteral("021-58886666"),
                                            QStringLiteral("139 1234 5678"), QStringLiteral("wang@hengda.com")};
    QTest::newRow("english") << testing::englishCard() << QList<int>{1, 2, 3, 4, 5, 9, 12}
                             << QStringList{QStringLiteral("John Smith"), QStringLiteral("Sales Manager"),
                                            QStringLiteral("Acme Trading Co., Ltd."),
                                            QStringLiteral("Room 1203, No. 27 Zhongshan Road, Beijing"),
                                            QStringLiteral("+86 10 6258 8888"), QStringLiteral("www.acme.com"),
                                            QStringLiteral("john.smith@acme.com")};
    QTest::newRow("vertical") << testing::verticalCard() << QList<int>{1, 3}
                              << QStringList{QStringLiteral("王建国"), QStringLiteral("上海恒达贸易有限公司")};
    // A scan: the card 3 degrees askew on the scanner's gray lid.
    QImage scan(1210, 760, QImage::Format_RGB32);
    scan.fill(QColor(228, 228, 226));
    {
        QPainter p(&scan);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.translate(605, 380);
        p.rotate(3);
        p.drawImage(QPointF(-525, -300), testing::chineseCard());
    }
    QTest::newRow("chinese scan, askew") << scan << QList<int>{1, 2, 3, 5, 7, 12}
                                         << QStringList{QStringLiteral("王建国"), QStringLiteral("总经理"),
                                                        QStringLiteral("上海恒达贸易有限公司"),
                                                        QStringLiteral("021-58886666"), QStringLiteral("139 1234 5678"),
                                                        QStringLiteral("wang@hengda.com")};
    // Large bold lettering, which the recogniser leaves out at the
    // resolution of the small text.
    QImage bold(1050, 600, QImage::Format_RGB32);
    bold.fill(QColor(250, 246, 236));
    {
        QPainter p(&bold);
        p.setPen(QColor(20, 40, 90));
        QFont font(QStringLiteral("Noto Sans CJK SC"));
        font.setPixelSize(64);
        font.setBold(true);
        p.setFont(font);
        p.drawText(QPoint(60, 150), QStringLiteral("欧阳建国"));
        font.setPixelSize(28);
        font.setBold(false);
        p.setFont(font);
        p.drawText(QPoint(400, 150), QStringLiteral("董事长"));
        font.setPixelSize(24);
        p.setFont(font);
        p.drawText(QPoint(60, 260), QStringLiteral("电话：029-23530874"));
        p.drawText(QPoint(60, 300), QStringLiteral("手机：163-7971-6667"));
    }
    QTest::newRow("large bold name") << bold << QList<int>{1, 2, 5, 7}
                                     << QStringList{QStringLiteral("欧阳建国"), QStringLiteral("董事长"),
                                                    QStringLiteral("029-23530874"), QStringLiteral("163-7971-6667")};
    // A large name with its title close under it, which the recogniser
    // takes for one line.
    QImage stacked(1050, 600, QImage::Format_RGB32);
    stacked.fill(Qt::white);
    {
        QPainter p(&stacked);
        p.setPen(QColor(20, 20, 90));
        QFont font(QStringLiteral("Noto Sans CJK SC"));
        font.setPixelSize(70);
        p.setFont(font);
        p.drawText(QPoint(90, 40 + QFontMetrics(font).ascent()), QStringLiteral("黄强"));
        font.setPixelSize(28);
        p.setFont(font);
        p.drawText(QPoint(90, 124 + QFontMetrics(font).ascent()), QStringLiteral("项目经理"));
        font.setPixelSize(24);
        p.setFont(font);
        p.drawText(QPoint(90, 200 + QFontMetrics(font).ascent()), QStringLiteral("北京市朝阳区长江路386号2716室"));
        p.drawText(QPoint(90, 240 + QFontMetrics(font).ascent()), QStringLiteral("Tel: 010-93361957"));
    }
    QTest::newRow("name with its title close under it")
        << stacked << QList<int>{1, 2, 4, 5}
        << QStringList{QStringLiteral("黄强"), QStringLiteral("项目经理"), QStringLiteral("北京市朝阳区长江路386号2716室"),
                       QStringLiteral("010-93361957")};
    // A large bold serif name whose strokes touch those of the title under
    // it, the title wider than the name: the recogniser reads neither.
    QImage touching(1050, 600, QImage::Format_RGB32);
    touching.fill(QColor(248, 246, 238));
    {
        QPainter p(&touching);
        p.setPen(QColor(25, 35, 80));
        QFont font(QStringLiteral("Noto Serif CJK SC"));
        font.setPixelSize(72);
        font.setBold(true);
        p.setFont(font);
        p.drawText(QPoint(90, 140), QStringLiteral("杨丽"));
        font.setPixelSize(26);
        font.setBold(false);
        p.setFont(font);
        p.drawText(QPoint(96, 171), QStringLiteral("市场部经理"));
        font.setPixelSize(24);
        p.setFont(font);
        p.drawText(QPoint(90, 250), QStringLiteral("地址：广州市天河区人民路24号2702室"));
        p.drawText(QPoint(90, 290), QStringLiteral("电话：020-12604006"));
    }
    QTest::newRow("name touching its title under it")
        << touching << QList<int>{1, 2, 5}
        << QStringList{QStringLiteral("杨丽"), QStringLiteral("市场部经理"), QStringLiteral("020-12604006")};
    // A name with its title beside it, far apart, and a company and its
    // English name above: the mixed engine reads the title as a few Latin
    // letters.
    auto besideCard = [](const QString &family, const QString &name, const QString &title) {
        QImage card(1050, 600, QImage::Format_RGB32);
        card.fill(Qt::white);
        QPainter p(&card);
        p.setPen(QColor(20, 20, 20));
        auto write = [&](int size, bool bold, QPoint at, const QString &text) {
            QFont font(family);
            font.setPixelSize(size);
            font.setBold(bold);
            p.setFont(font);
            p.drawText(at + QPoint(0, QFontMetrics(font).ascent()), text);
        };
        write(34, true, {40, 30}, QStringLiteral("上海新锐集团有限公司"));
        write(22, false, {40, 80}, QStringLiteral("Xinrui Group Co., Ltd."));
        write(56, false, {40, 140}, name);
        write(26, false, {40 + 56 * int(name.size()) + 44, 160}, title);
        write(20, false, {40, 240}, QStringLiteral("Tel: +86 21 4241 0001"));
        write(20, false, {40, 275}, QStringLiteral("Mob: 191 3359 2252"));
        write(20, false, {40, 310}, QStringLiteral("E-mail: zhou.yu@xinrui.com"));
        return card;
    };
    QTest::newRow("title beside its name, far apart")
        << besideCard(QStringLiteral("Noto Serif CJK SC"), QStringLiteral("徐宇"), QStringLiteral("财务总监"))
        << QList<int>{1, 2, 7} << QStringList{QStringLiteral("徐宇"), QStringLiteral("财务总监"), QStringLiteral("191 3359 2252")};
    // A vertical card whose name is in a bold serif face, which the
    // vertical engine misreads in its own column.
    QImage column(600, 1050, QImage::Format_RGB32);
    column.fill(Qt::white);
    {
        QPainter p(&column);
        p.setPen(QColor(20, 20, 20));
        QFont font(QStringLiteral("Noto Serif CJK SC"));
        font.setPixelSize(62);
        font.setBold(true);
        p.setFont(font);
        const QFontMetrics large(font);
        p.drawText(QPoint(510, 120 + large.ascent()), QStringLiteral("郭"));
        p.drawText(QPoint(510, 187 + large.ascent()), QStringLiteral("娜"));
        font.setPixelSize(30);
        font.setBold(false);
        p.setFont(font);
        const QString title = QStringLiteral("项目经理");
        for (int i = 0; i < title.size(); ++i)
            p.drawText(QPoint(440, 160 + i * 32 + QFontMetrics(font).ascent()), title.mid(i, 1));
        const QString company = QStringLiteral("北京博远科技有限公司");
        for (int i = 0; i < company.size(); ++i)
            p.drawText(QPoint(380, 60 + i * 32 + QFontMetrics(font).ascent()), company.mid(i, 1));
    }
    QTest::newRow("vertical, bold serif name") << column << QList<int>{1, 2, 3}
                                               << QStringList{QStringLiteral("郭娜"), QStringLiteral("项目经理"),
                                                              QStringLiteral("北京博远科技有限公司")};
    // A photo: the card smaller, on a dark table.
    QImage photo(1400, 1000, QImage::Format_RGB32);
    photo.fill(QColor(40, 38, 45));
    QPainter(&photo).drawImage(QRect(250, 250, 840, 480), testing::chineseCard());
    QTest::newRow("chinese photo") << photo << QList<int>{5, 7, 12}
                                   << QStringList{QStringLiteral("021-58886666"), QStringLiteral("139 1234 5678"),
                                                  QStringLiteral("wang@hengda.com")};
}

void TestCardReading::readsCards()
{
    QFETCH(QImage, picture);
    QFETCH(QList<int>, numbers);
    QFETCH(QStringList, texts);
    const CaptureResult result = readCard(m_ocr, picture);
    QVERIFY2(result.ok(), qPrintable(result.error));
    QVERIFY(!result.fromQrCode);
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        const CapturedField &field = result.field(numbers[i]);
        QCOMPARE(field.text, texts[i]);
        QVERIFY(field.confidence >= 0 && field.confidence <= 100);
        QVERIFY(QRect(QPoint(0, 0), picture.size()).contains(field.box));
    }
}

void TestCardReading::turnsAnUpsideDownCard()
{
    const QImage upsideDown = testing::englishCard().transformed(QTransform().rotate(180));
    const CaptureResult result = readCard(m_ocr, upsideDown);
    QCOMPARE(result.rotation, 180);
    QCOMPARE(result.field(12).text, QStringLiteral("john.smith@acme.com"));
    QCOMPARE(result.field(5).text, QStringLiteral("+86 10 6258 8888"));
}

void TestCardReading::oddPicturesGiveNoText_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("one pixel wide, very high") << QSize(1, 9000);
    QTest::newRow("three pixels") << QSize(3, 3);
    QTest::newRow("a wide strip") << QSize(7000, 2);
}

void TestCardReading::oddPicturesGiveNoText()
{
    QFETCH(QSize, size);
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Qt::white);
    const CaptureResult result = readCard(m_ocr, picture);
    QVERIFY2(result.ok(), qPrintable(result.error));
    QVERIFY(result.isEmpty());
}

void TestCardReading::whitensOnlyTheSurroundings_data()
{
    QTest::addColumn<int>("surface"); // gray of the table around the card
    QTest::addColumn<int>("ink");     // gray of a stroke on the card
    QTest::addColumn<bool>("touchesEdge"); // the card reaches the picture's edge
    QTest::newRow("dark table, black ink") << 30 << 10 << false;
    QTest::newRow("dim table, light gray ink") << 70 << 120 << false;
    QTest::newRow("card cut by the picture's edge") << 40 << 20 << true;
}

void TestCardReading::whitensOnlyTheSurroundings()
{
    QFETCH(int, surface);
    QFETCH(int, ink);
    QFETCH(bool, touchesEdge);
    QImage picture(400, 260, QImage::Format_Grayscale8);
    picture.fill(uchar(surface));
    const QRect card = touchesEdge ? QRect(0, 40, 360, 200) : QRect(40, 40, 320, 180);
    for (int y = card.top(); y <= card.bottom(); ++y)
        std::fill_n(picture.scanLine(y) + card.left(), card.width(), uchar(200));
    // A stroke inside the card, a text's letter.
    for (int y = 100; y < 110; ++y)
        std::fill_n(picture.scanLine(y) + 100, 60, uchar(ink));
    const QImage out = withoutSurroundings(picture);
    QCOMPARE(out.size(), picture.size());
    QCOMPARE(out.pixelColor(2, 2).value(), 255);         // the table
    QCOMPARE(out.pixelColor(399, 259).value(), 255);
    QCOMPARE(out.pixelColor(120, 105).value(), ink);     // the stroke
    QCOMPARE(out.pixelColor(card.center()).value(), 200); // the paper
}

void TestCardReading::findsHowACardLiesAskew_data()
{
    QTest::addColumn<double>("degrees");
    QTest::addColumn<bool>("measured");
    QTest::newRow("straight") << 0.0 << false;
    QTest::newRow("a little clockwise") << 2.0 << true;
    QTest::newRow("anticlockwise") << -5.5 << true;
    QTest::newRow("clockwise, as far as a hand-held photo") << 9.0 << true;
}

void TestCardReading::findsHowACardLiesAskew()
{
    QFETCH(double, degrees);
    QFETCH(bool, measured);
    // A white card turned clockwise by `degrees` on a dark table, with a
    // coloured band along its left edge; its bounding box.
    QImage photo(1200, 900, QImage::Format_RGB32);
    photo.fill(QColor(40, 38, 45));
    {
        QPainter p(&photo);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(600, 450);
        p.rotate(degrees);
        p.fillRect(QRectF(-400, -230, 800, 460), QColor(245, 245, 240));
        p.fillRect(QRectF(-400, -230, 30, 460), QColor(60, 110, 180));
    }
    const QImage gray = photo.convertToFormat(QImage::Format_Grayscale8);
    const double angle = cardEdgeAngle(gray.copy(findCardArea(gray)));
    if (measured)
        QVERIFY2(std::abs(angle + degrees) < 0.5, qPrintable(QString::number(angle)));
    else
        QCOMPARE(angle, 0.0);
}

QTEST_MAIN(TestCardReading)
void TestCardReading::putsBackAnAddresssAt_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("reading");
    QTest::addColumn<QString>("mended");
    QTest::newRow("'@' read as e") << QStringLiteral("hu.jieehongtu.com.cn")
                                   << QStringLiteral("E-mail: hu. jie@hongtu.com.cn") << QStringLiteral("hu.jie@hongtu.com.cn");
    QTest::newRow("'@' read as Q") << QStringLiteral("linweiQjinqiao.com") << QStringLiteral("邮箱 linwei@jinqiao.com")
                                   << QStringLiteral("linwei@jinqiao.com");
    QTest::newRow("'@' dropped") << QStringLiteral("wangexample.cn") << QStringLiteral("wang @ example.cn")
                                 << QStringLiteral("wang@example.cn");
    QTest::newRow("case of the first reading kept") << QStringLiteral("Li.NaGAcme.com") << QStringLiteral("li.na@acme.com")
                                                    << QStringLiteral("Li.Na@Acme.com");
    QTest::newRow("other reading has no '@'") << QStringLiteral("hu.jieehongtu.com.cn")
                                              << QStringLiteral("E-mail: hu.jieehongtu.com.cn") << QString();
    QTest::newRow("domains differ") << QStringLiteral("zhangejinqiao.com") << QStringLiteral("zhang@jingiao.com")
                                    << QString();
    QTest::newRow("names differ") << QStringLiteral("zhangejinqiao.com") << QStringLiteral("zheng@jinqiao.com")
                                  << QString();
    QTest::newRow("two characters between") << QStringLiteral("zhangxyjinqiao.com") << QStringLiteral("zhang@jinqiao.com")
                                            << QString();
    QTest::newRow("address already has its '@'") << QStringLiteral("a@b.com") << QStringLiteral("a@b.com") << QString();
    QTest::newRow("a web address") << QStringLiteral("example.com") << QStringLiteral("www.example.com") << QString();
}

void TestCardReading::putsBackAnAddresssAt()
{
    QFETCH(QString, address);
    QFETCH(QString, reading);
    QFETCH(QString, mended);
    QCOMPARE(addressWithAt(address, reading), mended);
}

// A photo far larger than the recogniser needs is read at a smaller size;
// the fields' boxes still lie where their text is in the photo.
void TestCardReading::findsALineEndingInAFullStop_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<QString>("after");
    QTest::addColumn<bool>("stop");
    const QString sans = QStringLiteral("Noto Sans CJK SC"), serif = QStringLiteral("AR PL UMing CN");
    QTest::newRow("stop") << sans << QStringLiteral(".") << true;
    QTest::newRow("stop, serif") << serif << QStringLiteral(".") << true;
    QTest::newRow("nothing") << sans << QString() << false;
    QTest::newRow("comma") << serif << QStringLiteral(",") << false;
    QTest::newRow("dash") << sans << QStringLiteral("-") << false;
    QTest::newRow("stop and a word after it") << sans << QStringLiteral(". Beijing") << false;
    QTest::newRow("a word after a space") << sans << QStringLiteral(" Co") << false;
}

void TestCardReading::findsALineEndingInAFullStop()
{
    QFETCH(QString, family);
    QFETCH(QString, after);
    QFETCH(bool, stop);
    // The line drawn twice: without what follows its letters, to find
    // their box, and with it.
    auto draw = [&](const QString &text) {
        QImage image(700, 120, QImage::Format_Grayscale8);
        image.fill(255);
        QPainter p(&image);
        QFont font(family);
        font.setPixelSize(26);
        p.setFont(font);
        p.setPen(QColor(30, 30, 30));
        p.drawText(QPoint(40, 60), text);
        return image;
    };
    const QString letters = QStringLiteral("Tiancheng Technology Co., Ltd");
    const QImage bare = draw(letters);
    QRect box;
    for (int y = 0; y < bare.height(); ++y)
        for (int x = 0; x < bare.width(); ++x)
            if (bare.constScanLine(y)[x] < 128)
                box |= QRect(x, y, 1, 1);
    QCOMPARE(endsWithFullStop(draw(letters + after), box), stop);
}

void TestCardReading::largePictureKeepsItsBoxes()
{
    const QImage card = testing::englishCard();
    const CaptureResult small = readCard(m_ocr, card);
    QVERIFY2(small.ok(), qPrintable(small.error));
    const double factor = 7200.0 / card.width();
    const QImage large = card.scaled(7200, qRound(card.height() * factor), Qt::IgnoreAspectRatio,
                                     Qt::SmoothTransformation);
    const CaptureResult result = readCard(m_ocr, large);
    QVERIFY2(result.ok(), qPrintable(result.error));
    for (int number : {1, 5, 12}) {
        QCOMPARE(result.field(number).text, small.field(number).text);
        const QRect box = result.field(number).box, expected = small.field(number).box;
        QVERIFY(large.rect().contains(box));
        const QPointF centre = QPointF(expected.center()) * factor;
        QVERIFY2(std::abs(box.center().x() - centre.x()) < 12 * factor &&
                     std::abs(box.center().y() - centre.y()) < 6 * factor,
                 qPrintable(QStringLiteral("field %1 at %2,%3").arg(number).arg(box.center().x()).arg(box.center().y())));
    }
}

// A fine checkerboard is thousands of things that look like letters to the
// recogniser: the reading ends with a message saying so (or, on a fast
// machine, with what it read, every box in the picture).
void TestCardReading::finePatternIsReadWithinBounds()
{
    QImage pattern(7200, 4200, QImage::Format_Grayscale8);
    for (int y = 0; y < pattern.height(); ++y) {
        uchar *line = pattern.scanLine(y);
        for (int x = 0; x < pattern.width(); ++x)
            line[x] = ((x / 6 + y / 6) % 2) ? 255 : 0;
    }
    const CaptureResult result = readCard(m_ocr, pattern);
    if (!result.ok()) {
        QVERIFY2(result.error.contains(QStringLiteral("too many shapes to be a card")), qPrintable(result.error));
        QVERIFY(result.isEmpty());
        return;
    }
    for (int number = 1; number <= 13; ++number)
        if (!result.field(number).text.isEmpty())
            QVERIFY(pattern.rect().contains(result.field(number).box));
}

#include "tst_cardreading.moc"
