#include "Lzhuf.h"
#include "SkinArchive.h"

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

void appendU32(QByteArray &out, quint32 value)
{
    char b[4];
    qToLittleEndian(value, b);
    out.append(b, 4);
}

// A payload laid out by hand, so the reader is not only tested against our writer.
QByteArray payload(quint32 version, const QByteArray &names, const QList<quint32> &sizes, const QByteArray &data)
{
    QByteArray out;
    appendU32(out, version);
    appendU32(out, quint32(names.size()));
    out.append(8, '\x55');
    out += names;
    for (quint32 s : sizes)
        appendU32(out, s);
    return out + data;
}

} // namespace

class TestSkinArchive : public QObject
{
    Q_OBJECT

private slots:
    void splitsNames_data();
    void splitsNames();
    void readsIndependentArchive();
    void lookupsTakeFirstMatch();
    void namePartIsCaseSensitive();
    void wrongVersionShowsNotice();
    void refusesDamagedArchives_data();
    void refusesDamagedArchives();
    void refusesDamagedCompressedArchives_data();
    void refusesDamagedCompressedArchives();
    void builtArchiveReadsBack();
    void builderRefusesBadNames();
    void storedProperty_data();
    void storedProperty();
};

void TestSkinArchive::splitsNames_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<QByteArray>>("names");
    using L = QList<QByteArray>;
    QTest::newRow("CR LF, final break adds nothing") << QByteArray("a.bmp\r\nb.bmp\r\n") << L{"a.bmp", "b.bmp"};
    QTest::newRow("LF LF keeps an empty name") << QByteArray("a.bmp\n\nb.bmp") << L{"a.bmp", "", "b.bmp"};
    QTest::newRow("lone CR") << QByteArray("a\rb\r") << L{"a", "b"};
    QTest::newRow("LF CR is two breaks") << QByteArray("a\n\rb") << L{"a", "", "b"};
    QTest::newRow("no final break") << QByteArray("only") << L{"only"};
    QTest::newRow("empty") << QByteArray() << L{};
    QTest::newRow("one break") << QByteArray("\r\n") << L{""};
    QTest::newRow("NUL ends the text") << QByteArray("a\r\nb\0c\r\nd\r\n", 11) << L{"a", "b"};
    QTest::newRow("NUL first") << QByteArray("\0a\r\n", 4) << L{};
}

void TestSkinArchive::splitsNames()
{
    QFETCH(QByteArray, text);
    QFETCH(QList<QByteArray>, names);
    QCOMPARE(splitSkinEntryNames(text), names);
}

void TestSkinArchive::readsIndependentArchive()
{
    TSkinReader reader;
    QVERIFY2(reader.readArchive(readData(QStringLiteral("lzhuf/skin_basic.lzhuf"))), qPrintable(reader.errorString()));
    QCOMPARE(reader.version(), 20000);
    const QList<QByteArray> names{"f-top2.bmp", "button.bmp", "checkbox.bmp", "menu.bmp", "ctrl-close.bmp", "xi01.ini"};
    const QList<qint64> sizes{10854, 2062, 7734, 498, 122, 1423};
    const QList<qint64> offsets{0, 10854, 12916, 20650, 21148, 21270};
    QCOMPARE(reader.names(), names);
    QCOMPARE(reader.sizes(), sizes);
    QCOMPARE(reader.offsets(), offsets);
    QCOMPARE(reader.dataArea().size(), 22693);
    // Entries hold what the independent encoder's separate streams hold.
    QCOMPARE(reader.entryByName("Button.BMP"), readData(QStringLiteral("lzhuf/bmp_button.bin")));
    QCOMPARE(reader.entryByName("menu.bmp"), readData(QStringLiteral("lzhuf/bmp_menu.bin")));
    const TSkinReader::NamedEntry ini = reader.entryByNamePart(".ini");
    QVERIFY(ini.found);
    QCOMPARE(ini.name, QByteArray("xi01.ini"));
    QCOMPARE(ini.data, readData(QStringLiteral("lzhuf/ini_text.bin")));
    QVERIFY(reader.entry(0).startsWith("BM"));
    QVERIFY(reader.entryByName("missing.bmp").isEmpty());
    QVERIFY(reader.entry(-1).isEmpty());
    QVERIFY(reader.entry(6).isEmpty());
}

void TestSkinArchive::lookupsTakeFirstMatch()
{
    TSkinReader reader;
    QVERIFY(
        reader.readPayload(payload(20000, "Button.bmp\r\nx.ini\r\nBUTTON.BMP\r\n\r\n", {3, 2, 4, 1}, "onezzfourE")));
    QCOMPARE(reader.count(), 4);
    QCOMPARE(reader.names().at(2), QByteArray("button.bmp"));
    QCOMPARE(reader.entryByName("Button.BMP"), QByteArray("one"));
    QCOMPARE(reader.entryByName("button.bmp"), QByteArray("one"));
    QCOMPARE(reader.entry(2), QByteArray("four"));
    QCOMPARE(reader.entryByName(""), QByteArray("E")); // the entry with an empty name
    QCOMPARE(reader.entryByNamePart("utton").data, QByteArray("one"));
    QCOMPARE(reader.entryByNamePart(".ini").name, QByteArray("x.ini"));
}

void TestSkinArchive::namePartIsCaseSensitive()
{
    TSkinReader reader;
    QVERIFY(reader.readPayload(payload(20000, "Skin.INI\r\n", {1}, "i")));
    QVERIFY(!reader.entryByNamePart(".INI").found); // names are lower-cased, the text is not
    QVERIFY(reader.entryByNamePart(".ini").found);
    QVERIFY(!reader.entryByNamePart("").found);
    QVERIFY(!reader.entryByNamePart("skin.ini.").found);
}

void TestSkinArchive::wrongVersionShowsNotice()
{
    QStringList notices;
    TSkinReader reader([&](const QString &text) { notices << text; });
    const QByteArray archive = lzhuf::encode(payload(19999, "a.ini\r\n", {1}, "x"));
    QVERIFY(!reader.readArchive(archive));
    QCOMPARE(notices, QStringList{QStringLiteral("This is Older Skin File\rPlease update to new version !")});
    QCOMPARE(reader.count(), 0);
    QVERIFY(!reader.entryByNamePart(".ini").found);
    QVERIFY(reader.errorString().contains(QLatin1String("19999")));

    // Without a callback the refusal is the same, just silent.
    TSkinReader silent;
    QVERIFY(!silent.readArchive(archive));
}

void TestSkinArchive::refusesDamagedArchives_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QByteArray manyNames;
    for (int i = 0; i < 1002; ++i)
        manyNames += "n\n";
    QList<quint32> manySizes(1002, 0);
    QTest::newRow("short header") << QByteArray(15, '\0');
    QTest::newRow("1002 entries") << payload(20000, manyNames, manySizes, {});
    QTest::newRow("name text past the end") << payload(20000, "a.bmp\r\n", {}, {}).left(20);
    QTest::newRow("huge name length") << [] {
        QByteArray p = payload(20000, "a\r\n", {1}, "x");
        qToLittleEndian(quint32(0xFFFFFFF0u), p.data() + 4);
        return p;
    }();
    QTest::newRow("size table past the end") << payload(20000, "a\r\nb\r\n", {1}, {});
    QTest::newRow("sizes past the data") << payload(20000, "a\r\nb\r\n", {2, 2}, "abc");
    QTest::newRow("size near 4 GB") << payload(20000, "a\r\n", {0xFFFFFFFFu}, "abc");
    QTest::newRow("sizes that wrap around") << payload(20000, "a\r\nb\r\n", {0x80000000u, 0x80000001u}, "abc");
}

void TestSkinArchive::refusesDamagedArchives()
{
    QFETCH(QByteArray, bytes);
    TSkinReader reader;
    QVERIFY(!reader.readPayload(bytes));
    QVERIFY(!reader.errorString().isEmpty());
    QCOMPARE(reader.count(), 0);
    QVERIFY(reader.entryByName("a").isEmpty());
}

void TestSkinArchive::refusesDamagedCompressedArchives_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray good = readData(QStringLiteral("lzhuf/skin_basic.lzhuf"));
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("huge declared length, 20 bytes") << QByteArray("\xff\xff\xff\x7f", 4) + QByteArray(16, '\x42');
    QTest::newRow("truncated stream") << good.left(good.size() / 2);
    QTest::newRow("stream cut by two bytes") << good.left(good.size() - 2);
    QTest::newRow("zero bits for 1000 bytes") << QByteArray("\xe8\x03\0\0", 4) + QByteArray(30, '\0');
}

void TestSkinArchive::refusesDamagedCompressedArchives()
{
    QFETCH(QByteArray, bytes);
    TSkinReader reader;
    QVERIFY(!reader.readArchive(bytes));
    QVERIFY(!reader.errorString().isEmpty());
}

void TestSkinArchive::builtArchiveReadsBack()
{
    const QList<SkinArchiveEntry> entries{{"Top.bmp", "BMtop"}, {"empty.bmp", {}}, {"skin.ini", "[A]\r\nb=1\r\n"}};
    const SkinArchiveBuild build = buildSkinArchive(entries);
    QVERIFY2(build.ok, qPrintable(build.error));
    TSkinReader reader;
    QVERIFY2(reader.readArchive(build.bytes), qPrintable(reader.errorString()));
    QCOMPARE(reader.names(), (QList<QByteArray>{"top.bmp", "empty.bmp", "skin.ini"}));
    QCOMPARE(reader.entryByName("TOP.bmp"), QByteArray("BMtop"));
    QCOMPARE(reader.entryByNamePart(".ini").data, QByteArray("[A]\r\nb=1\r\n"));

    // The empty archive is valid too.
    const SkinArchiveBuild none = buildSkinArchive({});
    QVERIFY(none.ok);
    QVERIFY(reader.readArchive(none.bytes));
    QCOMPARE(reader.count(), 0);
}

void TestSkinArchive::builderRefusesBadNames()
{
    QVERIFY(!buildSkinPayload({{"a\r\nb", "x"}}).ok);
    QVERIFY(!buildSkinPayload({{QByteArray("a\0b", 3), "x"}}).ok);
    QVERIFY(!buildSkinPayload(QList<SkinArchiveEntry>(1002, SkinArchiveEntry{"n", {}})).ok);
    QVERIFY(buildSkinPayload(QList<SkinArchiveEntry>(1001, SkinArchiveEntry{"n", {}})).ok);
}

void TestSkinArchive::storedProperty_data()
{
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("hasSkin");
    QTest::addColumn<QByteArray>("archive");
    QTest::newRow("length and archive") << makeStoredSkinProperty("abc") << true << true << QByteArray("abc");
    QTest::newRow("extra bytes after") << makeStoredSkinProperty("abc") + "zz" << true << true << QByteArray("abc");
    QTest::newRow("zero length") << QByteArray(4, '\0') << true << false << QByteArray();
    QTest::newRow("negative length") << QByteArray("\xff\xff\xff\xff", 4) << true << false << QByteArray();
    QTest::newRow("length past the end") << QByteArray("\x10\0\0\0abc", 7) << false << false << QByteArray();
    QTest::newRow("no length") << QByteArray("ab") << false << false << QByteArray();
}

void TestSkinArchive::storedProperty()
{
    QFETCH(QByteArray, property);
    QFETCH(bool, ok);
    QFETCH(bool, hasSkin);
    QFETCH(QByteArray, archive);
    const StoredSkinProperty parsed = parseStoredSkinProperty(property);
    QCOMPARE(parsed.ok, ok);
    QCOMPARE(parsed.hasSkin, hasSkin);
    QCOMPARE(parsed.archive.toByteArray(), archive);
    QCOMPARE(parsed.error.isEmpty(), ok);
}

QTEST_GUILESS_MAIN(TestSkinArchive)
#include "tst_skinarchive.moc"
