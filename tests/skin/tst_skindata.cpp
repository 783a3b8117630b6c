#include "IniText.h"
#include "Lzhuf.h"
#include "SkinArchive.h"
#include "SkinData.h"
#include "SkinParts.h"

#include <QBuffer>
#include <QFile>
#include <QTest>
#include <QtEndian>

using namespace kelvo;

namespace {

QByteArray readData(const QString &path)
{
    QFile file(QStringLiteral(KELVO_TEST_DATA_DIR "/") + path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", qPrintable(file.fileName()));
    return file.readAll();
}

QByteArray bmp(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes;
}

QByteArray storedSkin(const QList<SkinArchiveEntry> &entries)
{
    const SkinArchiveBuild build = buildSkinArchive(entries);
    if (!build.ok)
        qFatal("cannot build test archive: %s", qPrintable(build.error));
    return makeStoredSkinProperty(build.bytes);
}

const char *const PartsDescription = R"([TitlebarSkin]
SkinName=Test Skin
[Personality]
Top=frame\top.bmp
menuBar=menubar.bmp
TileMenu=1
[groupboxedge]
image=edge.bmp
LeftWidth=-3
TopHeight=2
RIGHTWIDTH=4
BottomHeight=5
Trans=1
NormalColour=255
NormalColour2=10 20 30
PressedColour2=1  2  3
[Toolbars]
TopHeight=1
[ComboButton]
Image=
[Tabs]
Image=tabs.bmp
Border=tabborder.bmp
[StatusBarEdges]
Image=missing.bmp
[HorzScrollThumb]
Image=edge.bmp
[VertScrollThumb]
Image=edge.bmp
FrameCount=-2
[Scrollbar]
Image=edge.bmp
[Buttons]
Bitmap=C:\skins\button.bmp
CheckButton=check.bmp
RadioButton=radio.bmp
RadioButtonFrame=7
)";

QByteArray partsSkin()
{
    return storedSkin({{"top.bmp", bmp(30, 10, 0xff0000ff)},
                       {"menubar.bmp", bmp(10, 20, 0xff00ff00)},
                       {"edge.bmp", bmp(12, 12, 0xffff0000)},
                       {"tabs.bmp", bmp(50, 10, 0xff111111)},
                       {"tabborder.bmp", bmp(8, 8, 0xff222222)},
                       {"button.bmp", bmp(100, 20, 0xff333333)},
                       {"check.bmp", bmp(52, 13, 0xff444444)},
                       {"radio.bmp", bmp(48, 16, 0xff555555)},
                       {"Parts.INI", PartsDescription}});
}

} // namespace

class TestSkinData : public QObject
{
    Q_OBJECT

private slots:
    void iniFollowsWindowsRules();
    void iniIntegers_data();
    void iniIntegers();
    void colourText_data();
    void colourText();
    void squareFrames_data();
    void squareFrames();
    void pictureByValue_data();
    void pictureByValue();
    void buildsParts();
    void loadsIndependentSkin();
    void wrongVersionSwitchesSkinningOff();
    void incompleteLoadsSwitchSkinningOff_data();
    void incompleteLoadsSwitchSkinningOff();
    void reloadDiscardsOldParts();
    void refusesOversizedPicture();
};

void TestSkinData::iniFollowsWindowsRules()
{
    const IniText ini = IniText::parse("; comment\r\nstray=1\r\n[Personality]\r\n  Top = a\\b.bmp  \r\nTOP=second\r\n"
                                       "Quoted=\"x y\"\r\nHalf=\"x\r\nEq=a=b\r\n[personality]\r\nOther=1\r\n"
                                       "[ Spaced ]\nk=v\r[Last");
    QCOMPARE(ini.readString("PERSONALITY", "top"), QByteArray("a\\b.bmp"));
    QCOMPARE(ini.readString("Personality", "Quoted"), QByteArray("x y"));
    QCOMPARE(ini.readString("Personality", "Half"), QByteArray("\"x"));
    QCOMPARE(ini.readString("Personality", "Eq"), QByteArray("a=b"));
    QVERIFY(!ini.hasKey("Personality", "Other")); // the repeated section is not read
    QVERIFY(!ini.hasKey("Personality", "stray"));
    QCOMPARE(ini.readString("spaced", "K"), QByteArray("v"));
    QVERIFY(ini.hasSection("last"));
    QCOMPARE(ini.sectionNames(), (QList<QByteArray>{"Personality", "Spaced", "Last"}));
    QCOMPARE(ini.readString("None", "k", "fallback"), QByteArray("fallback"));
    // A byte order mark does not hide the first section.
    QCOMPARE(IniText::parse("\xEF\xBB\xBF[A]\r\nk=1\r\n").readString("a", "k"), QByteArray("1"));
}

void TestSkinData::iniIntegers_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("expected");
    QTest::newRow("decimal") << QByteArray("42") << 42;
    QTest::newRow("negative") << QByteArray("-7") << -7;
    QTest::newRow("plus") << QByteArray("+7") << 7;
    QTest::newRow("dollar hex") << QByteArray("$1F") << 31;
    QTest::newRow("0x hex") << QByteArray("0x10") << 16;
    QTest::newRow("full 32-bit hex") << QByteArray("$FFFFFFFF") << -1;
    QTest::newRow("largest") << QByteArray("2147483647") << 2147483647;
    QTest::newRow("smallest") << QByteArray("-2147483648") << int(-2147483647 - 1);
    QTest::newRow("too large") << QByteArray("2147483648") << -99;
    QTest::newRow("far too large") << QByteArray("99999999999999999999999") << -99;
    QTest::newRow("trailing junk") << QByteArray("12px") << -99;
    QTest::newRow("empty") << QByteArray("") << -99;
    QTest::newRow("sign only") << QByteArray("-") << -99;
    QTest::newRow("0x only") << QByteArray("0x") << -99;
}

void TestSkinData::iniIntegers()
{
    QFETCH(QByteArray, text);
    QFETCH(int, expected);
    const IniText ini = IniText::parse("[s]\nk=" + text + "\n");
    QCOMPARE(ini.readInteger("s", "k", -99), expected);
}

void TestSkinData::colourText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("black") << QByteArray("0 0 0") << QColor(0, 0, 0);
    QTest::newRow("three values") << QByteArray("255 128 1") << QColor(255, 128, 1);
    QTest::newRow("double blanks") << QByteArray("1  2  3") << QColor(1, 2, 3);
    QTest::newRow("out of range and junk") << QByteArray("300 -5 x") << QColor(255, 0, 0);
    QTest::newRow("one number") << QByteArray("7") << QColor(7, 0, 0);
    QTest::newRow("four numbers") << QByteArray("1 2 3 4") << QColor(1, 2, 3);
    QTest::newRow("empty") << QByteArray("") << defaultSkinColour();
}

void TestSkinData::colourText()
{
    QFETCH(QByteArray, text);
    QFETCH(QColor, expected);
    QCOMPARE(parseSkinColour(text), expected);
}

void TestSkinData::squareFrames_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("frames");
    QTest::newRow("52x13") << QSize(52, 13) << 4;
    QTest::newRow("48x16 raised to 4") << QSize(48, 16) << 4;
    QTest::newRow("80x13") << QSize(80, 13) << 6;
    QTest::newRow("96x16") << QSize(96, 16) << 6;
    QTest::newRow("97x20") << QSize(97, 20) << 6;
    QTest::newRow("no picture") << QSize(0, 0) << 4;
}

void TestSkinData::squareFrames()
{
    QFETCH(QSize, size);
    QFETCH(int, frames);
    QImage picture;
    if (!size.isEmpty())
        picture = QImage(size, QImage::Format_RGB32);
    QCOMPARE(squareFrameCount(picture), frames);
}

void TestSkinData::pictureByValue_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("width"); // 0: no picture
    QTest::newRow("folder part") << QByteArray("skins\\Menu.bmp") << 5;
    QTest::newRow("plain") << QByteArray("menu.bmp") << 5;
    QTest::newRow("drive") << QByteArray("c:menu.bmp") << 5;
    QTest::newRow("upper-case extension") << QByteArray("menu.BMP") << 0;
    QTest::newRow("other extension") << QByteArray("menu.png") << 0;
    QTest::newRow("double extension") << QByteArray("menu.bmp.txt") << 0;
    QTest::newRow("no extension") << QByteArray("menu") << 0;
    QTest::newRow("folder only") << QByteArray("skins\\") << 0;
    QTest::newRow("empty") << QByteArray("") << 0;
    QTest::newRow("absent entry") << QByteArray("Xi01\\menuborder.bmp") << 0;
    QTest::newRow("not a bitmap") << QByteArray("junk.bmp") << 0;
    QTest::newRow("empty entry") << QByteArray("empty.bmp") << 0;
    QTest::newRow("slash is no folder mark") << QByteArray("skins/menu.bmp") << 0;
}

void TestSkinData::pictureByValue()
{
    QFETCH(QByteArray, value);
    QFETCH(int, width);
    TSkinData skin;
    QVERIFY(skin.loadStoredProperty(storedSkin({{"menu.bmp", bmp(5, 3, 0xff102030)},
                                                {"junk.bmp", "BMnot really a bitmap"},
                                                {"empty.bmp", {}},
                                                {"a.ini", "[x]\r\n"}})));
    const QImage picture = skin.picture(value);
    QCOMPARE(picture.width(), width);
    if (width)
        QCOMPARE(picture.pixel(0, 0), 0xff102030u);
}

void TestSkinData::buildsParts()
{
    TSkinData skin;
    QVERIFY2(skin.loadStoredProperty(partsSkin()), qPrintable(skin.errorString()));
    QVERIFY(skin.isActive());
    QVERIFY(skin.loadCompleted());
    QCOMPARE(skin.descriptionName(), QByteArray("parts.ini"));
    QCOMPARE(skin.skinName(), QByteArray("Test Skin"));

    const TDataSkinObject *edge = skin.part(SkinPartId::GroupBoxEdge);
    QVERIFY(edge);
    QCOMPARE(edge->IDName, QStringLiteral("GroupBoxEdge"));
    QCOMPARE(edge->LeftWidth, 0); // negative margin read as 0
    QCOMPARE(edge->TopHeight, 2);
    QCOMPARE(edge->RightWidth, 4);
    QCOMPARE(edge->BottomHeight, 5);
    QCOMPARE(edge->Trans, 1);
    QCOMPARE(edge->Tile, 0);
    QCOMPARE(edge->FrameCount, 2);
    QCOMPARE(edge->Map.size(), QSize(12, 12));
    QCOMPARE(edge->NormalColour, 255);
    QCOMPARE(edge->MouseOverColour, -1);
    QCOMPARE(edge->PressedColour, -1);
    QCOMPARE(edge->NormalColour2, QColor(10, 20, 30));
    QCOMPARE(edge->MouseOverColour2, defaultSkinColour());
    QCOMPARE(edge->PressedColour2, QColor(1, 2, 3));

    const TDataSkinObject *title = skin.part(SkinPartId::WindowTitle);
    QVERIFY(title);
    QCOMPARE(title->Map.size(), QSize(30, 10));
    QCOMPARE(title->FrameCount, 2);
    const TDataSkinObject *menuBar = skin.part(SkinPartId::MenuBar);
    QVERIFY(menuBar);
    QCOMPARE(menuBar->Map.size(), QSize(10, 20));
    QCOMPARE(menuBar->Tile, 1);

    QVERIFY(!skin.part(SkinPartId::Toolbars));    // a section without "Image"
    QVERIFY(!skin.part(SkinPartId::ComboButton)); // "Image" naming nothing
    QVERIFY(!skin.part(SkinPartId::ProgressBar)); // no section at all

    const TDataSkinObject *status = skin.part(SkinPartId::StatusBarEdges);
    QVERIFY(status); // the archive lacks its picture: the part exists, its picture is empty
    QVERIFY(status->Map.isNull());
    QCOMPARE(status->FrameCount, 3);

    QCOMPARE(skin.part(SkinPartId::HorzScrollThumb)->FrameCount, 3);
    QCOMPARE(skin.part(SkinPartId::VertScrollThumb)->FrameCount, 1); // -2 read as 1
    QCOMPARE(skin.part(SkinPartId::ScrollBar)->FrameCount, 23);

    const TDataSkinBorder *tabs = skin.tabs();
    QVERIFY(tabs);
    QCOMPARE(tabs->FrameCount, 5);
    QCOMPARE(tabs->Map.size(), QSize(50, 10));
    QCOMPARE(tabs->Map2.size(), QSize(8, 8));

    const TDataSkinButton *buttons = skin.buttons();
    QVERIFY(buttons);
    QCOMPARE(buttons->FrameCount, 5);
    QCOMPARE(buttons->Map.size(), QSize(100, 20));
    QCOMPARE(buttons->CheckMap.size(), QSize(52, 13));
    QCOMPARE(buttons->CheckFrameCount, 4);
    QCOMPARE(buttons->RadioFrameCount, 7);
}

void TestSkinData::loadsIndependentSkin()
{
    TSkinData skin;
    QVERIFY2(skin.loadStoredProperty(makeStoredSkinProperty(readData(QStringLiteral("lzhuf/skin_basic.lzhuf")))),
             qPrintable(skin.errorString()));
    QCOMPARE(skin.descriptionName(), QByteArray("xi01.ini"));
    QCOMPARE(skin.skinName(), QByteArray("Vector Test Skin"));
    QCOMPARE(skin.reader().count(), 6);
    // "Top=F-Top2.bmp": the entry "f-top2.bmp", a real bitmap.
    QVERIFY(skin.part(SkinPartId::WindowTitle));
    QVERIFY(!skin.part(SkinPartId::WindowTitle)->Map.isNull());
    QVERIFY(!skin.part(SkinPartId::MenuItem)->Map.isNull());
    QCOMPARE(skin.part(SkinPartId::MenuItem)->LeftWidth, 3);
    QVERIFY(skin.part(SkinPartId::ProgressBar)); // named under "Bitmap", not in the archive
    QVERIFY(skin.part(SkinPartId::ProgressBar)->Map.isNull());
    QCOMPARE(skin.part(SkinPartId::ProgressBar)->Tile, 1);
    QCOMPARE(skin.part(SkinPartId::VertScrollThumb)->FrameCount, 3);
    QVERIFY(!skin.buttons()); // its "Buttons" section names no "Bitmap"
    QVERIFY(skin.picture("Xi01\\menuborder.bmp").isNull());
    QVERIFY(skin.picture("Button.BMP").isNull());
    QVERIFY(!skin.picture("skins\\CheckBox.bmp").isNull());
}

void TestSkinData::wrongVersionSwitchesSkinningOff()
{
    QStringList notices;
    QByteArray payload = buildSkinPayload({{"a.ini", "[x]"}}).bytes;
    payload[0] = char(0x1f); // 19999 = 0x4E1F
    TSkinData skin;
    QVERIFY(!skin.loadStoredProperty(makeStoredSkinProperty(lzhuf::encode(payload)),
                                     [&](const QString &text) { notices << text; }));
    QCOMPARE(notices, QStringList{olderSkinFileNotice()});
    QVERIFY(!skin.isActive());
    QVERIFY(!skin.loadCompleted());
    QCOMPARE(skin.reader().count(), 0);
}

void TestSkinData::incompleteLoadsSwitchSkinningOff_data()
{
    QTest::addColumn<QByteArray>("property");
    QTest::newRow("no skin stored") << QByteArray(4, '\0');
    QTest::newRow("negative length") << QByteArray("\xf0\xff\xff\xff", 4);
    QTest::newRow("no description") << storedSkin({{"a.bmp", bmp(2, 2, 0)}});
    QTest::newRow("damaged archive") << makeStoredSkinProperty(QByteArray("\xff\xff\xff\x0f garbage"));
    QTest::newRow("length past the end") << storedSkin({{"a.ini", "[x]"}}).chopped(1);
    QTest::newRow("empty") << QByteArray();
}

void TestSkinData::incompleteLoadsSwitchSkinningOff()
{
    QFETCH(QByteArray, property);
    int notices = 0;
    TSkinData skin;
    QVERIFY(!skin.loadStoredProperty(property, [&](const QString &) { ++notices; }));
    QVERIFY(!skin.isActive());
    QVERIFY(!skin.loadCompleted());
    QVERIFY(!skin.errorString().isEmpty());
    QCOMPARE(notices, 0);
}

void TestSkinData::reloadDiscardsOldParts()
{
    TSkinData skin;
    QVERIFY(skin.loadStoredProperty(partsSkin()));
    QVERIFY(skin.part(SkinPartId::GroupBoxEdge));
    QVERIFY(skin.loadSkin(buildSkinArchive({{"b.ini", "[Toolbars]\r\nImage=none.bmp\r\n"}}).bytes));
    QVERIFY(!skin.part(SkinPartId::GroupBoxEdge));
    QVERIFY(skin.part(SkinPartId::Toolbars));
    QVERIFY(!skin.loadSkin(QByteArray("xx")));
    QVERIFY(!skin.part(SkinPartId::Toolbars));
    QVERIFY(!skin.loadCompleted());
}

void TestSkinData::refusesOversizedPicture()
{
    // A bitmap header claiming 30000 x 30000 pixels in a few bytes.
    QByteArray header = bmp(1, 1, 0);
    qToLittleEndian<qint32>(30000, header.data() + 18);
    qToLittleEndian<qint32>(30000, header.data() + 22);
    QVERIFY(decodeSkinBitmap(header).isNull());
    QVERIFY(!decodeSkinBitmap(bmp(3, 2, 0)).isNull());
}

QTEST_GUILESS_MAIN(TestSkinData)
#include "tst_skindata.moc"
