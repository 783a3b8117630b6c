// Cards as QR codes both ways: encoded with libqrencode, read back with the
// real ZXing reader, and codes made by other programs read into the fields.
#include "CardQrCode.h"
#include "CardQrReading.h"

#include "CardData.h"
#include "Gb18030.h"

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvo;
using namespace kelvo::capture;

namespace {

using Texts = QList<QString>; // field 1 first; missing trailing fields are empty

TCardData cardOf(const Texts &texts)
{
    TCardData card;
    card.Kind = Kind::Card;
    for (qsizetype i = 0; i < texts.size() && i < 13; ++i)
        card.setField(int(i) + 1, gb18030::encode(texts.at(i)));
    return card;
}

// The fields as the card holds them (after the 255-byte cut).
QStringList storedFields(const TCardData &card)
{
    QStringList fields;
    for (int n = 1; n <= 13; ++n)
        fields.append(gb18030::decode(card.field(n)));
    return fields;
}

QStringList listOf(const QrCardFields &fields)
{
    return QStringList(fields.begin(), fields.end());
}

QString repeated(const QString &piece, int times)
{
    QString text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

// What ZXing itself reports for a picture: the first QR code's text, whether
// it carried an ECI, and its error correction level.
struct ZxingView
{
    bool found = false;
    bool eci = false;
    std::string ecLevel;
    QByteArray text;
};

ZxingView readWithZxing(const QImage &picture)
{
    const QImage gray = picture.convertToFormat(QImage::Format_Grayscale8);
    const ZXing::ImageView view(gray.constBits(), gray.width(), gray.height(), ZXing::ImageFormat::Lum,
                                int(gray.bytesPerLine()));
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    const ZXing::Result result = ZXing::ReadBarcode(view, hints);
    ZxingView seen;
    seen.found = result.isValid();
    seen.eci = result.hasECI();
    seen.ecLevel = result.ecLevel();
    const std::string text = result.text();
    seen.text = QByteArray(text.data(), qsizetype(text.size()));
    return seen;
}

} // namespace

class TestCardQr : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void codeIsUtf8WithEciAtLevelM();
    void tooLongForAnyCode();
    void pictureHasAQuietZone();
    void meCard_data();
    void meCard();
    void notACard_data();
    void notACard();
    void codesOfOtherPrograms_data();
    void codesOfOtherPrograms();
    void codeInALargerPicture();
    void undeclaredGb18030();
};

void TestCardQr::roundTrip_data()
{
    QTest::addColumn<Texts>("texts");
    QTest::addColumn<bool>("compact");

    QTest::newRow("english") << Texts{"John Smith", "Sales Manager", "Acme Ltd.", "12 Main St", "+1 555 0100",
                                      "+1 555 0101", "+1 555 0102", "02110", "https://acme.example", "12345",
                                      "john@hotmail.example", "john@acme.example", "Met at the fair"}
                             << false;
    QTest::newRow("chinese") << Texts{"张伟", "销售总监", "北京华夏科技有限公司", "北京市海淀区中关村大街1号",
                                      "010-62345678", "010-62345679", "13912345678", "100080",
                                      "www.huaxia.example.cn", "88886666", "zw@msn.example", "zhangwei@huaxia.cn",
                                      "展会上认识"}
                             << false;
    QTest::newRow("name only") << Texts{"李四"} << false;
    QTest::newRow("vCard syntax in texts")
        << Texts{"王五; Jr.", "CEO, CTO", "A\\B 公司", "路:1号;2单元", "", "", "139-0000-1111", "", "",
                 "", "", "w5@x.cn", "注：a,b;c\\d"}
        << false;
    QTest::newRow("four-byte GB18030 and emoji")
        << Texts{"𠀀先生", "", "", "", "", "", "", "", "", "", "", "", "笑😀"} << false;
    QTest::newRow("long texts: compact code")
        << Texts{"欧阳明", "首席执行官", "上海某某国际贸易集团有限公司", repeated(u"上海市浦东新区世纪大道"_qs, 8),
                 "021-12345678", "021-12345679", "13812345678", "200120",
                 repeated(u"https://www.example.com/path/"_qs, 8), "123456789", repeated(u"msn"_qs, 80),
                 "ouyang@example.com", repeated(u"其他信息很长"_qs, 14)}
        << true;
    QTest::newRow("every field at 255 bytes of ASCII: compact")
        << Texts{repeated("n", 255), repeated("t", 255), repeated("c", 255), repeated("a", 255), "1", "2", "3",
                 repeated("9", 255), repeated("w", 255), repeated("q", 255), repeated("m", 255), "e@x.cn",
                 repeated("o", 255)}
        << true;
}

void TestCardQr::roundTrip()
{
    QFETCH(Texts, texts);
    QFETCH(bool, compact);
    const TCardData card = cardOf(texts);
    const CardQrCode code = EncodeCardQr(card);
    QVERIFY2(code.ok(), qPrintable(code.error));
    QCOMPARE(code.compact, compact);
    if (!compact)
        QVERIFY(code.symbol.version <= CardQrMaxFullVersion);
    QCOMPARE(code.symbol.size, 17 + 4 * code.symbol.version);

    const std::optional<QrCardFields> read = decodeCardQr(RenderQrSymbol(code.symbol, 4));
    QVERIFY(read.has_value());
    QStringList expected = storedFields(card);
    if (compact) {
        for (const int n : {Field::DZ, Field::YB, Field::WZ, Field::QQ, Field::MSN, Field::Other})
            expected[n - 1].clear();
    }
    QCOMPARE(listOf(*read), expected);
}

void TestCardQr::codeIsUtf8WithEciAtLevelM()
{
    const TCardData card = cardOf({"陈静", "", "", "", "", "", "13900001111"});
    const CardQrCode code = EncodeCardQr(card);
    QVERIFY(code.ok());
    QVERIFY(code.text.startsWith("BEGIN:VCARD\r\nVERSION:3.0\r\n"));
    QVERIFY(code.text.contains(u"FN:陈静"_qs.toUtf8()));
    QVERIFY(code.text.contains("TEL;TYPE=CELL:13900001111"));
    const ZxingView seen = readWithZxing(RenderQrSymbol(code.symbol, 3));
    QVERIFY(seen.found);
    QVERIFY(seen.eci);
    QCOMPARE(seen.ecLevel, std::string("M"));
    QCOMPARE(seen.text, code.text);
}

void TestCardQr::tooLongForAnyCode()
{
    // Fields of 127 Chinese characters (254 bytes in GB18030, 381 in UTF-8):
    // the compact text alone is beyond version 40.
    const QString chinese = repeated(u"长"_qs, 127);
    const TCardData card =
        cardOf({chinese, chinese, chinese, "", chinese, chinese, chinese, "", "", "", "", chinese, ""});
    const CardQrCode code = EncodeCardQr(card);
    QVERIFY(!code.ok());
    QVERIFY(code.compact);
    QVERIFY(code.error.contains(u"too long"_qs));
    QVERIFY(!EncodeQrBytes(QByteArray(2332, 'a')).has_value());
    QVERIFY(!EncodeQrBytes(QByteArray()).has_value());
    QVERIFY(EncodeQrBytes(QByteArray(100, 'a'), 40).has_value());
    QVERIFY(!EncodeQrBytes(QByteArray(1000, 'a'), 10).has_value());
}

void TestCardQr::pictureHasAQuietZone()
{
    const std::optional<QrSymbol> symbol = EncodeQrBytes("hello");
    QVERIFY(symbol.has_value());
    QCOMPARE(symbol->version, 1);
    const QImage picture = RenderQrSymbol(*symbol, 5, 4);
    QCOMPARE(picture.width(), (21 + 8) * 5);
    QCOMPARE(picture.height(), picture.width());
    // The border of four modules is white all round; the finder pattern's
    // corner module, right inside it, is dark.
    for (int i = 0; i < picture.width(); ++i) {
        for (int d = 0; d < 20; ++d) {
            QCOMPARE(qGray(picture.pixel(i, d)), 255);
            QCOMPARE(qGray(picture.pixel(d, i)), 255);
            QCOMPARE(qGray(picture.pixel(i, picture.height() - 1 - d)), 255);
            QCOMPARE(qGray(picture.pixel(picture.width() - 1 - d, i)), 255);
        }
    }
    QCOMPARE(qGray(picture.pixel(20, 20)), 0);
    QVERIFY(RenderQrSymbol(QrSymbol{}, 5).isNull());
}

void TestCardQr::meCard_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Texts>("expected");

    QTest::newRow("docomo example") << u"MECARD:N:Owen,Sean;TEL:+12125551212;EMAIL:srowen@example.com;;"_qs
                                    << Texts{"Sean Owen", "", "", "", "+12125551212", "", "", "", "", "", "",
                                             "srowen@example.com", ""};
    QTest::newRow("chinese, mobile number") << u"MECARD:N:张,伟;TEL:139 1234 5678;EMAIL:zw@x.cn;ORG:华夏公司;;"_qs
                                            << Texts{"张伟", "", "华夏公司", "", "", "", "139 1234 5678", "", "",
                                                     "", "", "zw@x.cn", ""};
    QTest::newRow("+86 mobile and a landline")
        << u"MECARD:N:李四;TEL:+86-138-0013-8000;TEL:010-88886666;;"_qs
        << Texts{"李四", "", "", "", "010-88886666", "", "+86-138-0013-8000", "", "", "", "", "", ""};
    QTest::newRow("escapes") << u"MECARD:N:A\\;B\\:C\\\\D\\,E;NOTE:x\\;y;URL:http\\://a.cn/?q=1;;"_qs
                             << Texts{"A;B:C\\D,E", "", "", "", "", "", "", "", "http://a.cn/?q=1", "", "", "",
                                      "x;y"};
    QTest::newRow("second values go to field 13")
        << u"MECARD:N:王五;EMAIL:a@x.cn;EMAIL:b@x.cn;NICKNAME:小五;;"_qs
        << Texts{"王五", "", "", "", "", "", "", "", "", "", "", "a@x.cn", "EMAIL: b@x.cn; NICKNAME: 小五"};
    QTest::newRow("address in seven parts")
        << u"MECARD:N:赵六;ADR:,,中关村大街1号,海淀区,北京市,100080,中国;TITLE:经理;;"_qs
        << Texts{"赵六", "经理", "", "中国北京市海淀区中关村大街1号", "", "", "", "100080", "", "", "", "", ""};
    QTest::newRow("lower case, no closing ;;") << u"mecard:n:Kim;email:k@x.cn"_qs
                                               << Texts{"Kim", "", "", "", "", "", "", "", "", "", "", "k@x.cn",
                                                        ""};
    QTest::newRow("no name: named by the company")
        << u"MECARD:ORG:某某银行;TEL:95555;;"_qs
        << Texts{"某某银行", "", "某某银行", "", "95555", "", "", "", "", "", "", "", ""};
}

void TestCardQr::meCard()
{
    QFETCH(QString, text);
    QFETCH(Texts, expected);
    while (expected.size() < 13)
        expected.append(QString());
    const std::optional<QrCardFields> read = parseMeCard(text);
    QVERIFY(read.has_value());
    QCOMPARE(listOf(*read), QStringList(expected));
    // The same through a code in a picture.
    const std::optional<QrSymbol> symbol = EncodeQrBytes(text.toUtf8());
    QVERIFY(symbol.has_value());
    const std::optional<QrCardFields> fromPicture = decodeCardQr(RenderQrSymbol(*symbol, 4));
    QVERIFY(fromPicture.has_value());
    QCOMPARE(listOf(*fromPicture), QStringList(expected));
}

void TestCardQr::notACard_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("web address") << QByteArray("https://u.wechat.com/abcdef");
    QTest::newRow("plain text") << QByteArray("Hello 你好");
    QTest::newRow("empty MECARD") << QByteArray("MECARD:;;");
    QTest::newRow("vCard without text") << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nEND:VCARD\r\n");
}

void TestCardQr::notACard()
{
    QFETCH(QByteArray, text);
    QVERIFY(!readCardQrText(text).has_value());
    const std::optional<QrSymbol> symbol = EncodeQrBytes(text);
    QVERIFY(symbol.has_value());
    QVERIFY(!decodeCardQr(RenderQrSymbol(*symbol, 4)).has_value());
    // No code at all, and no picture.
    QImage blank(200, 200, QImage::Format_RGB32);
    blank.fill(Qt::white);
    QVERIFY(!decodeCardQr(blank).has_value());
    QVERIFY(!decodeCardQr(QImage()).has_value());
}

void TestCardQr::codesOfOtherPrograms_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments"); // %TEXT% and %OUT% are replaced
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Texts>("expected");

    const QByteArray phoneVCard = u"BEGIN:VCARD\nVERSION:3.0\nN:刘;洋;;;\nFN:刘洋\nORG:深圳市某某电子有限公司\n"
                                  "TITLE:产品经理\nTEL;TYPE=CELL:+86 135 0000 1234\nTEL;TYPE=WORK:0755-8888 9999\n"
                                  "EMAIL:liuyang@example.cn\nEND:VCARD\n"_qs.toUtf8();
    const Texts phoneFields{"刘洋", "产品经理", "深圳市某某电子有限公司", "", "0755-8888 9999", "", "+86 135 0000 1234",
                            "", "", "", "", "liuyang@example.cn", ""};
    // qrencode writes the UTF-8 bytes in 8-bit mode without an ECI, as most
    // phones do.
    QTest::newRow("qrencode, vCard 3.0, no ECI")
        << "qrencode" << QStringList{"-l", "M", "-8", "-o", "%OUT%", "%TEXT%"} << phoneVCard << phoneFields;
    QTest::newRow("qrencode, MECARD, no ECI")
        << "qrencode" << QStringList{"-8", "-o", "%OUT%", "%TEXT%"}
        << u"MECARD:N:刘,洋;TEL:13500001234;EMAIL:liuyang@example.cn;;"_qs.toUtf8()
        << Texts{"刘洋", "", "", "", "", "", "13500001234", "", "", "", "", "liuyang@example.cn", ""};
    QTest::newRow("ZXingWriter, UTF-8") << "ZXingWriter"
                                        << QStringList{"-encoding", "UTF-8", "QRCode", "%TEXT%", "%OUT%"}
                                        << phoneVCard << phoneFields;
}

void TestCardQr::codesOfOtherPrograms()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, text);
    QFETCH(Texts, expected);
    const QString found = QStandardPaths::findExecutable(program);
    if (found.isEmpty())
        QSKIP(qPrintable(program + u" is not installed (scripts/install-deps.sh installs it)"_qs));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString out = dir.filePath(u"code.png"_qs);
    for (QString &argument : arguments) {
        argument.replace(u"%OUT%"_qs, out);
        argument.replace(u"%TEXT%"_qs, QString::fromUtf8(text));
    }
    QProcess process;
    process.start(found, arguments);
    QVERIFY(process.waitForFinished(30000));
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
    const QImage picture(out);
    QVERIFY(!picture.isNull());
    const std::optional<QrCardFields> read = decodeCardQr(picture);
    QVERIFY(read.has_value());
    QCOMPARE(listOf(*read), QStringList(expected));
}

void TestCardQr::codeInALargerPicture()
{
    // A card photographed beside the shared code: the code is a part of the
    // picture, turned a quarter, on grey.
    const CardQrCode code = EncodeCardQr(cardOf({"周敏", "主任", "", "", "", "", "13700002222"}));
    QVERIFY(code.ok());
    QImage photo(1200, 900, QImage::Format_RGB32);
    photo.fill(QColor(200, 200, 190));
    {
        QPainter painter(&photo);
        painter.translate(700, 200);
        painter.rotate(90);
        painter.drawImage(0, 0, RenderQrSymbol(code.symbol, 6));
    }
    const std::optional<QrCardFields> read = decodeCardQr(photo);
    QVERIFY(read.has_value());
    QCOMPARE(read->at(0), u"周敏"_qs);
    QCOMPARE(read->at(6), u"13700002222"_qs);
}

// Old Chinese phones write GBK bytes without any ECI: read as GB18030, as
// vCard files without a charset are.
void TestCardQr::undeclaredGb18030()
{
    const QByteArray meCard = gb18030::encode(u"MECARD:N:黄,蓉;TEL:13600001234;ORG:桃花岛;;"_qs);
    const QByteArray vCard = gb18030::encode(u"BEGIN:VCARD\r\nVERSION:2.1\r\nFN:黄蓉\r\nTITLE:帮主\r\nEND:VCARD\r\n"_qs);
    const std::optional<QrCardFields> fromMeCard = readCardQrText(meCard);
    QVERIFY(fromMeCard.has_value());
    QCOMPARE(fromMeCard->at(0), u"黄蓉"_qs);
    QCOMPARE(fromMeCard->at(2), u"桃花岛"_qs);
    const std::optional<QrCardFields> fromVCard = readCardQrText(vCard);
    QVERIFY(fromVCard.has_value());
    QCOMPARE(fromVCard->at(1), u"帮主"_qs);

    // The same bytes in a code without an ECI, made by qrencode from its
    // standard input.
    const QString qrencode = QStandardPaths::findExecutable(u"qrencode"_qs);
    if (qrencode.isEmpty())
        QSKIP("qrencode is not installed (scripts/install-deps.sh installs it)");
    QTemporaryDir dir;
    const QString out = dir.filePath(u"gbk.png"_qs);
    QProcess process;
    process.start(qrencode, {u"-8"_qs, u"-o"_qs, out});
    QVERIFY(process.waitForStarted());
    process.write(meCard);
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    const std::optional<QrCardFields> fromPicture = decodeCardQr(QImage(out));
    QVERIFY(fromPicture.has_value());
    QCOMPARE(fromPicture->at(0), u"黄蓉"_qs);
    QCOMPARE(fromPicture->at(6), u"13600001234"_qs);
}

QTEST_GUILESS_MAIN(TestCardQr)
#include "tst_cardqr.moc"
