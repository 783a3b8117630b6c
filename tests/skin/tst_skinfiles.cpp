#include "SkinData.h"
#include "SkinDrawing.h"
#include "SkinFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvo;

namespace {

const QString OwnSkinFolder = QStringLiteral(KELVO_TEST_DATA_DIR "/../../resources/skin");

QStringList ownSkinFiles()
{
    QStringList files;
    for (const QString &name :
         QDir(OwnSkinFolder).entryList({QStringLiteral("*.bmp"), QStringLiteral("*.ini")}, QDir::Files, QDir::Name))
        files << OwnSkinFolder + QLatin1Char('/') + name;
    return files;
}

} // namespace

class TestSkinFiles : public QObject
{
    Q_OBJECT

private slots:
    void ownSkinBuildsEveryPart();
    void ownSkinFramesDivideEvenly();
    void readsBothArchiveForms();
    void safeEntryNames_data();
    void safeEntryNames();
    void packingReportsMissingFiles();
};

void TestSkinFiles::ownSkinBuildsEveryPart()
{
    const SkinArchiveBuild archive = packSkinFiles(ownSkinFiles());
    QVERIFY2(archive.ok, qPrintable(archive.error));
    QVERIFY2(archive.bytes.size() < 16 * 1024, "the skin carried in the program should stay small");
    QStringList notices;
    TSkinData skin;
    QVERIFY2(skin.loadStoredProperty(makeStoredSkinProperty(archive.bytes), [&](const QString &t) { notices << t; }),
             qPrintable(skin.errorString()));
    QVERIFY(notices.isEmpty());
    QCOMPARE(skin.descriptionName(), QByteArray("kelvo.ini"));
    QCOMPARE(skin.skinName(), QByteArray("Kelvo Light"));
    for (const SkinPartInfo &info : skinPartTable()) {
        const TDataSkinObject *part = skin.part(info.id);
        QVERIFY2(part, info.section);
        QVERIFY2(!part->Map.isNull(), info.section);
    }
    QVERIFY(!skin.tabs()->Map2.isNull());
    QCOMPARE(skin.buttons()->CheckFrameCount, 8);
    QCOMPARE(skin.buttons()->RadioFrameCount, 8);
    QCOMPARE(skin.part(SkinPartId::Toolbars)->NormalColour2, QColor(60, 66, 76));
}

void TestSkinFiles::ownSkinFramesDivideEvenly()
{
    TSkinData skin;
    QVERIFY(skin.loadStoredProperty(makeStoredSkinProperty(packSkinFiles(ownSkinFiles()).bytes)));
    for (const SkinPartInfo &info : skinPartTable()) {
        const TDataSkinObject *part = skin.part(info.id);
        QVERIFY(part);
        QCOMPARE(part->Map.width() % part->FrameCount, 0);
        const QRect frame = skinFrameRect(part->Map, false, part->FrameCount, part->FrameCount);
        // Margins fit inside every frame, so no piece is drawn from a neighbour.
        QVERIFY2(part->LeftWidth + part->RightWidth <= frame.width(), info.section);
        QVERIFY2(part->TopHeight + part->BottomHeight <= frame.height(), info.section);
        const QImage composed =
            MakeNineGridBitmap(120, 40, part->Map, part->LeftWidth, part->TopHeight, part->RightWidth,
                               part->BottomHeight, false, part->Tile != 0, part->FrameCount, 1);
        QCOMPARE(composed.size(), QSize(120, 40));
    }
}

void TestSkinFiles::readsBothArchiveForms()
{
    const SkinArchiveBuild archive = buildSkinArchive({{"a.ini", "[x]"}, {"b.bmp", "BM"}});
    QVERIFY(archive.ok);
    for (bool asProperty : {false, true}) {
        const QByteArray file = asProperty ? makeStoredSkinProperty(archive.bytes) : archive.bytes;
        TSkinReader reader;
        bool storedProperty = !asProperty;
        QString error;
        QVERIFY2(readSkinArchiveFile(file, reader, &storedProperty, &error), qPrintable(error));
        QCOMPARE(storedProperty, asProperty);
        QCOMPARE(reader.count(), 2);
    }
    TSkinReader reader;
    QString error;
    QVERIFY(!readSkinArchiveFile(makeStoredSkinProperty(archive.bytes) + "x", reader, nullptr, &error));
    QVERIFY(!error.isEmpty());
}

void TestSkinFiles::safeEntryNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("safe");
    QTest::newRow("plain") << QByteArray("button.bmp") << true;
    QTest::newRow("dots inside") << QByteArray("a..b.bmp") << true;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("dot") << QByteArray(".") << false;
    QTest::newRow("dot dot") << QByteArray("..") << false;
    QTest::newRow("parent path") << QByteArray("../evil.bmp") << false;
    QTest::newRow("absolute") << QByteArray("/etc/passwd") << false;
    QTest::newRow("backslash") << QByteArray("xi01\\a.bmp") << false;
    QTest::newRow("drive") << QByteArray("c:a.bmp") << false;
    QTest::newRow("control") << QByteArray("a\tb") << false;
}

void TestSkinFiles::safeEntryNames()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, safe);
    QCOMPARE(isSafeEntryFileName(name), safe);
}

void TestSkinFiles::packingReportsMissingFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const SkinArchiveBuild missing = packSkinFiles({dir.filePath(QStringLiteral("none.bmp"))});
    QVERIFY(!missing.ok);
    QVERIFY(missing.error.contains(QLatin1String("none.bmp")));

    QString error;
    QVERIFY(skinFolderFiles(dir.filePath(QStringLiteral("absent")), &error).isEmpty());
    QVERIFY(!error.isEmpty());

    for (const char *name : {"b.ini", "a.bmp"}) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(name);
    }
    const QStringList files = skinFolderFiles(dir.path(), &error);
    QCOMPARE(files.size(), 2);
    QVERIFY(files[0].endsWith(QLatin1String("a.bmp")));
    const SkinArchiveBuild packed = packSkinFiles(files);
    QVERIFY(packed.ok);
    TSkinReader reader;
    QVERIFY(reader.readArchive(packed.bytes));
    QCOMPARE(reader.names(), (QList<QByteArray>{"a.bmp", "b.ini"}));
    QCOMPARE(reader.entryByName("B.INI"), QByteArray("b.ini"));
}

QTEST_GUILESS_MAIN(TestSkinFiles)
#include "tst_skinfiles.moc"
