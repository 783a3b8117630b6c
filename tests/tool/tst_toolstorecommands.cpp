#include "CardTree.h"
#include "DataFile.h"
#include "DataFileBytes.h"
#include "Gb18030.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <charconv>
#include <cstring>

using namespace kelvo;
using kelvo::test::DataFileBytes;

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QString err;
};

QByteArray gb(const char *utf8)
{
    return gb18030::encode(QString::fromUtf8(utf8));
}

// The data file of the default tree alone, as Kelvo saves it.
DataFileBytes defaultFile(double created)
{
    DataFileBytes file;
    file.int32(1).record(gb("未分类的名片"), 0, 0, created);
    return file;
}

std::uint64_t bitsOf(double d)
{
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    return bits;
}

} // namespace

class TestToolStoreCommands : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void dumpOfTheDefaultFile();
    void dumpOfAnEmptyFile();
    void dumpAndCheckOfAMissingFile();
    void lostOutputIsAFailure();
    void damagedFile_data();
    void damagedFile();

    void buildWritesTheSavedFormat();
    void buildThenDumpRoundTrips_data();
    void buildThenDumpRoundTrips();
    void createdStaysExact_data();
    void createdStaysExact();
    void buildReadsStandardInput();
    void buildNestsToAnyDepth();
    void buildCutsLongTextsWithAWarning();
    void buildWarnsWhenTheNameDiffersFromTheLabel();
    void badJson_data();
    void badJson();

    void checkLine_data();
    void checkLine();

    void generateIsDeterministic();
    void generatedTreeShape();

    void usageErrors_data();
    void usageErrors();
    void helpTexts_data();
    void helpTexts();
    void versionComesFromTheProject();

private:
    Run run(const QStringList &args, const QByteArray &input = {});
    QString path(const QString &name) const { return m_dir->filePath(name); }
    void writeFile(const QString &name, const QByteArray &bytes);
    QByteArray readFile(const QString &name);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestToolStoreCommands::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

Run TestToolStoreCommands::run(const QStringList &args, const QByteArray &input)
{
    QProcess process;
    process.start(QStringLiteral(KELVO_TOOL_PATH), args);
    if (!process.waitForStarted())
        qFatal("kelvo-tool did not start");
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(-1);
    Run result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

void TestToolStoreCommands::writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(path(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray TestToolStoreCommands::readFile(const QString &name)
{
    QFile file(path(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void TestToolStoreCommands::dumpOfTheDefaultFile()
{
    const QByteArray bytes = defaultFile(0.5).bytes();
    QCOMPARE(bytes.size(), 154);
    writeFile(QStringLiteral("Card.DB"), bytes);

    const Run dump = run({QStringLiteral("dump"), path(QStringLiteral("Card.DB"))});
    QCOMPARE(dump.exitCode, 0);
    QCOMPARE(dump.err, QString());
    QCOMPARE(QString::fromUtf8(dump.out),
             QStringLiteral(
                 "{\"nodes\": [\n"
                 "  {\"label\": \"未分类的名片\", \"kind\": 0, \"fields\": [\"未分类的名片\", \"\", \"\", \"\", \"\", "
                 "\"\", \"\", \"\", \"\", \"\", \"\", \"\", \"\"], \"created\": 0.5, \"images\": [0, 0, -1, -1], "
                 "\"children\": []}\n"
                 "]}\n"));

    // And back: the same 154 bytes.
    writeFile(QStringLiteral("dump.json"), dump.out);
    QCOMPARE(
        run({QStringLiteral("build"), path(QStringLiteral("dump.json")), path(QStringLiteral("again.DB"))}).exitCode,
        0);
    const QByteArray again = readFile(QStringLiteral("again.DB"));
    QCOMPARE(defaultFile(0.5).withMyFillers(again), bytes);
}

void TestToolStoreCommands::dumpOfAnEmptyFile()
{
    writeFile(QStringLiteral("empty.DB"), {});
    const Run dump = run({QStringLiteral("dump"), path(QStringLiteral("empty.DB"))});
    QCOMPARE(dump.exitCode, 0);
    QCOMPARE(dump.out, QByteArray("{\"nodes\": []}\n"));

    // Four zero bytes are an empty tree too; an empty tree builds to those four bytes.
    writeFile(QStringLiteral("zero.DB"), QByteArray(4, '\0'));
    QCOMPARE(run({QStringLiteral("dump"), path(QStringLiteral("zero.DB"))}).out, QByteArray("{\"nodes\": []}\n"));
    const Run build =
        run({QStringLiteral("build"), QStringLiteral("-"), path(QStringLiteral("built.DB"))}, "{\"nodes\": []}");
    QCOMPARE(build.exitCode, 0);
    QCOMPARE(readFile(QStringLiteral("built.DB")), QByteArray(4, '\0'));
}

void TestToolStoreCommands::dumpAndCheckOfAMissingFile()
{
    for (const char *command : {"dump", "check"}) {
        const Run result = run({QString::fromLatin1(command), path(QStringLiteral("missing.DB"))});
        QCOMPARE(result.exitCode, 2);
        QVERIFY(result.out.isEmpty());
        QVERIFY2(result.err.contains(QStringLiteral("missing.DB")), qPrintable(result.err));
        QVERIFY2(!QFile::exists(path(QStringLiteral("missing.DB"))), "the file must not be created");
    }
}

void TestToolStoreCommands::lostOutputIsAFailure()
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("needs /dev/full");
    writeFile(QStringLiteral("Card.DB"), defaultFile(0.5).bytes());
    const QString file = path(QStringLiteral("Card.DB"));
    for (const QStringList &args :
         {QStringList{QStringLiteral("dump"), file}, QStringList{QStringLiteral("check"), file},
          QStringList{QStringLiteral("search"), file, QStringLiteral("未分类")},
          QStringList{QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("mailto"), file,
                      QStringLiteral("x"), QStringLiteral("-")}}) {
        QProcess process;
        process.setStandardOutputFile(QStringLiteral("/dev/full"));
        process.start(QStringLiteral(KELVO_TOOL_PATH), args);
        QVERIFY(process.waitForFinished(-1));
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(process.readAllStandardError().contains("standard output"));
    }
}

void TestToolStoreCommands::damagedFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("offset");

    const QByteArray good = defaultFile(1.0).bytes();
    QTest::newRow("cut in the top-level count") << good.left(3) << qint64(0);
    QTest::newRow("cut in the middle of a node") << good.left(100) << qint64(94);
    QTest::newRow("cut before the kind") << good.left(146) << qint64(146);

    QByteArray longText = good;
    longText[4] = char(258 & 0xff); // item 1 length 258: out of shape
    longText[5] = char(258 >> 8);
    QTest::newRow("text item of 258 bytes") << longText << qint64(4);

    QByteArray shortText = good;
    shortText[4] = 12; // L = 12 needs at least 13
    QTest::newRow("text item shorter than its text") << shortText << qint64(4);

    QByteArray wideInt = good;
    wideInt[94] = 5; // item 14 length 5
    QTest::newRow("integer item of 5 bytes") << wideInt << qint64(94);

    QByteArray tooManyChildren = good;
    tooManyChildren[130] = 1; // one child that is not there
    QTest::newRow("child count past the end") << tooManyChildren << qint64(154);
}

void TestToolStoreCommands::damagedFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, offset);
    writeFile(QStringLiteral("bad.DB"), bytes);
    for (const char *command : {"dump", "check"}) {
        const Run result = run({QString::fromLatin1(command), path(QStringLiteral("bad.DB"))});
        QCOMPARE(result.exitCode, 2);
        QVERIFY(result.out.isEmpty());
        QVERIFY2(result.err.contains(QStringLiteral("at byte %1:").arg(offset)), qPrintable(result.err));
    }
    QCOMPARE(readFile(QStringLiteral("bad.DB")), bytes);
}

void TestToolStoreCommands::buildWritesTheSavedFormat()
{
    // A class holding a card and a class, then a top-level card, with every field set.
    DataFileBytes expected;
    QList<QByteArray> fields;
    for (int i = 0; i < 12; ++i)
        fields.append(QByteArray::number(i + 2));
    expected.int32(2)
        .record(gb("客户"), 2, 0, 0.0, {}, {0, 0, 0, 0})
        .record(gb("张三"), 0, 1, 40000.25, fields, {1, 1, 1, 1})
        .record(gb("<新类别>"), 0, 0, 0.0, {}, {7, -3, 2147483647, -2147483647 - 1})
        .record("solo", 0, 5, 1.0, {}, {5, 5, 5, 5});

    const QByteArray json = R"({"nodes": [
        {"label": "客户", "kind": 0, "children": [
            {"label": "张三", "kind": 1, "created": 40000.25,
             "fields": ["张三", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13"]},
            {"label": "<新类别>", "kind": 0, "images": [7, -3, 2147483647, -2147483648]}
        ]},
        {"label": "solo", "kind": 5, "created": 1}
    ]})";
    const Run build = run({QStringLiteral("build"), QStringLiteral("-"), path(QStringLiteral("x.DB"))}, json);
    QCOMPARE(build.err, QString());
    QCOMPARE(build.exitCode, 0);
    QCOMPARE(expected.withMyFillers(readFile(QStringLiteral("x.DB"))), expected.bytes());
}

void TestToolStoreCommands::buildThenDumpRoundTrips_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("expectedInDump");

    QTest::newRow("Chinese text, four-byte characters")
        << QByteArray(R"({"nodes": [{"label": "未分类的名片", "kind": 0, "children": [
               {"label": "欧阳晓慧", "kind": 1, "fields": ["欧阳晓慧", "总经理", "北京华信科技有限公司",
                "北京市海淀区学院路1号", "010-62345678", "", "13912345678", "100083", "www.huaxin.com",
                "12345", "x@msn.com", "x@huaxin.com", "𠀀😀 €"]}]}]})")
        << QStringList{QStringLiteral("\"欧阳晓慧\""), QStringLiteral("\"𠀀😀 €\""),
                       QStringLiteral("\"images\": [1, 1, 1, 1]")};
    QTest::newRow("quotes, backslashes and control characters inside")
        << QByteArray(R"({"nodes": [{"label": "a\"b\\c\td\u0001e", "kind": 0}]})")
        << QStringList{QStringLiteral(R"("a\"b\\c\td\u0001e")")};
    QTest::newRow("nested classes") << QByteArray(
        R"({"nodes": [{"label": "L1", "kind": 0, "children": [{"label": "L2", "kind": 0, "children": [
               {"label": "L3", "kind": 0, "children": [{"label": "L4", "kind": 0, "children": [
               {"label": "card", "kind": 1}]}]}]}]}, {"label": "next", "kind": 0}]})")
                                    << QStringList{QStringLiteral("\n          {\"label\": \"card\""),
                                                   QStringLiteral("\n  {\"label\": \"next\"")};
    QTest::newRow("odd display indexes and kinds")
        << QByteArray(R"({"nodes": [{"label": "n", "kind": -7, "images": [2147483647, -2147483648, 0, 99]}]})")
        << QStringList{QStringLiteral("\"kind\": -7"), QStringLiteral("\"images\": [2147483647, -2147483648, 0, 99]")};
    QTest::newRow("texts trimmed as the save trims them")
        << QByteArray(R"({"nodes": [{"label": "  inner space \t\n", "kind": 1, "fields": [" x ", "\u0001y"]}]})")
        << QStringList{QStringLiteral("\"label\": \"inner space\""),
                       QStringLiteral("\"fields\": [\"inner space\", \"y\"")};
}

void TestToolStoreCommands::buildThenDumpRoundTrips()
{
    QFETCH(QByteArray, json);
    QFETCH(QStringList, expectedInDump);

    writeFile(QStringLiteral("in.json"), json);
    Run build = run({QStringLiteral("build"), path(QStringLiteral("in.json")), path(QStringLiteral("1.DB"))});
    QVERIFY2(build.exitCode == 0, qPrintable(build.err));
    const Run dump = run({QStringLiteral("dump"), path(QStringLiteral("1.DB"))});
    QCOMPARE(dump.exitCode, 0);
    const QString dumped = QString::fromUtf8(dump.out);
    for (const QString &expected : expectedInDump)
        QVERIFY2(dumped.contains(expected), qPrintable(dumped));

    // dump(build(dump)) is the same text, and the file the same bytes.
    writeFile(QStringLiteral("dump.json"), dump.out);
    build = run({QStringLiteral("build"), path(QStringLiteral("dump.json")), path(QStringLiteral("2.DB"))});
    QCOMPARE(build.exitCode, 0);
    QCOMPARE(readFile(QStringLiteral("2.DB")), readFile(QStringLiteral("1.DB")));
    QCOMPARE(run({QStringLiteral("dump"), path(QStringLiteral("2.DB"))}).out, dump.out);
}

void TestToolStoreCommands::createdStaysExact_data()
{
    QTest::addColumn<double>("created");
    QTest::newRow("17 significant digits") << 45678.123456789012;
    QTest::newRow("next double up") << std::nextafter(45678.123456789012, 1e9);
    QTest::newRow("smallest subnormal") << 5e-324;
    QTest::newRow("largest") << 1.7976931348623157e308;
    QTest::newRow("big whole number") << 18446744073709551616.0;
    QTest::newRow("negative") << -693593.999999;
    QTest::newRow("negative zero") << -0.0;
    QTest::newRow("infinity") << HUGE_VAL;
    QTest::newRow("minus infinity") << -HUGE_VAL;
    QTest::newRow("quiet NaN") << std::nan("");
    double payload;
    const std::uint64_t bits = 0xfff0000000000123ULL;
    std::memcpy(&payload, &bits, 8);
    QTest::newRow("NaN with a payload") << payload;
}

void TestToolStoreCommands::createdStaysExact()
{
    QFETCH(double, created);
    DataFileBytes file;
    file.int32(1).record("x", 0, 1, created, {}, {1, 1, 1, 1});
    writeFile(QStringLiteral("1.DB"), file.bytes());

    const Run dump = run({QStringLiteral("dump"), path(QStringLiteral("1.DB"))});
    QCOMPARE(dump.exitCode, 0);
    writeFile(QStringLiteral("dump.json"), dump.out);
    const Run build = run({QStringLiteral("build"), path(QStringLiteral("dump.json")), path(QStringLiteral("2.DB"))});
    QVERIFY2(build.exitCode == 0, qPrintable(build.err));
    QCOMPARE(file.withMyFillers(readFile(QStringLiteral("2.DB"))), file.bytes());

    // A finite value is a plain JSON number that reads back to the same bits.
    if (std::isfinite(created) && !(created == 0 && std::signbit(created))) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("\"created\": ([-0-9.e+]+),")).match(QString::fromUtf8(dump.out));
        QVERIFY2(m.hasMatch(), dump.out.constData());
        const QByteArray text = m.captured(1).toLatin1();
        double back = 0;
        std::from_chars(text.constData(), text.constData() + text.size(), back);
        QCOMPARE(bitsOf(back), bitsOf(created));
    }
}

void TestToolStoreCommands::buildReadsStandardInput()
{
    const Run build =
        run({QStringLiteral("build"), QStringLiteral("-"), path(QStringLiteral("in.DB"))},
            R"({"nodes": [{"label": "未分类的名片", "kind": 0, "created": 0.5, "images": [0, 0, -1, -1]}]})");
    QCOMPARE(build.exitCode, 0);
    QCOMPARE(defaultFile(0.5).withMyFillers(readFile(QStringLiteral("in.DB"))), defaultFile(0.5).bytes());
}

void TestToolStoreCommands::buildNestsToAnyDepth()
{
    // From a file and from standard input (which cannot be read twice), with
    // a raw tab inside a string that strict JSON would refuse.
    constexpr int Depth = 100000;
    QByteArray json = "{\"nodes\": [";
    for (int i = 0; i < Depth; ++i)
        json += "{\"label\": \"c\tlass\", \"kind\": 0, \"children\": [";
    json += "{\"label\": \"leaf\", \"kind\": 1}";
    json += QByteArray("]}").repeated(Depth) + "]}";
    writeFile(QStringLiteral("deep.json"), json);
    const Run fromFile =
        run({QStringLiteral("build"), path(QStringLiteral("deep.json")), path(QStringLiteral("deep1.DB"))});
    QVERIFY2(fromFile.exitCode == 0, qPrintable(fromFile.err));
    const Run fromInput = run({QStringLiteral("build"), QStringLiteral("-"), path(QStringLiteral("deep2.DB"))}, json);
    QVERIFY2(fromInput.exitCode == 0, qPrintable(fromInput.err));
    const Run check = run({QStringLiteral("check"), path(QStringLiteral("deep1.DB"))});
    QCOMPARE(QString::fromUtf8(check.out),
             QStringLiteral("nodes: %1, card classes: %2, cards: 1, deepest level: %1\n").arg(Depth + 1).arg(Depth));
    QFile one(path(QStringLiteral("deep1.DB")));
    QFile two(path(QStringLiteral("deep2.DB")));
    QVERIFY(one.open(QIODevice::ReadOnly) && two.open(QIODevice::ReadOnly));
    QCOMPARE(one.readAll(), two.readAll());
}

void TestToolStoreCommands::buildCutsLongTextsWithAWarning()
{
    // 200 two-byte characters: 400 bytes, cut after the 127th character.
    const QString longName(200, QChar(0x5F20));
    const QByteArray json = "{\"nodes\": [{\"label\": \"" + longName.toUtf8() + "\", \"kind\": 1, \"fields\": [\"\", \""
        + longName.toUtf8() + "\"]}]}";
    const Run build = run({QStringLiteral("build"), QStringLiteral("-"), path(QStringLiteral("long.DB"))}, json);
    QCOMPARE(build.exitCode, 0);
    QVERIFY2(build.err.contains(QStringLiteral("nodes[0].label")), qPrintable(build.err));
    QVERIFY2(build.err.contains(QStringLiteral("nodes[0].fields[1]")), qPrintable(build.err));

    CardTree tree;
    QVERIFY(ReadTreeFromBytes(readFile(QStringLiteral("long.DB")), tree).ok());
    QCOMPARE(tree.count(), 1);
    QCOMPARE(tree.topLevel(0)->label(), gb18030::encode(longName.left(127)));
    QCOMPARE(QByteArray(tree.topLevel(0)->data()->field(2).toByteArray()), gb18030::encode(longName.left(127)));
}

void TestToolStoreCommands::buildWarnsWhenTheNameDiffersFromTheLabel()
{
    const Run build = run({QStringLiteral("build"), QStringLiteral("-"), path(QStringLiteral("n.DB"))},
                          R"({"nodes": [{"label": "a", "kind": 0, "fields": ["a"]},
                                        {"label": "b", "kind": 0, "fields": ["", "title"]},
                                        {"label": "c", "kind": 0, "fields": ["other"]}]})");
    QCOMPARE(build.exitCode, 0);
    QCOMPARE(build.err.count(QStringLiteral("warning")), 1);
    QVERIFY2(build.err.contains(QStringLiteral("nodes[2].fields[0]: differs from the label")), qPrintable(build.err));
    // The file stores the label: it reads back as the name.
    const Run dump = run({QStringLiteral("dump"), path(QStringLiteral("n.DB"))});
    QVERIFY(dump.out.contains("{\"label\": \"c\", \"kind\": 0, \"fields\": [\"c\","));
}

void TestToolStoreCommands::badJson_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("where");

    QTest::newRow("not JSON") << QByteArray("{\"nodes\": [\n  {\"label\": }") << QStringLiteral("line 2, column");
    QTest::newRow("empty input") << QByteArray() << QStringLiteral("line 1, column 1");
    QTest::newRow("top level is an array") << QByteArray("[]") << QStringLiteral("top level");
    QTest::newRow("nodes missing") << QByteArray("{}") << QStringLiteral("\"nodes\"");
    QTest::newRow("unknown top-level key") << QByteArray(R"({"nodes": [], "node": []})") << QStringLiteral("\"node\"");
    QTest::newRow("node is a number") << QByteArray(R"({"nodes": [1]})") << QStringLiteral("nodes[0]");
    QTest::newRow("label missing") << QByteArray(R"({"nodes": [{"kind": 0}]})")
                                   << QStringLiteral("nodes[0]: \"label\"");
    QTest::newRow("kind missing") << QByteArray(R"({"nodes": [{"label": "a"}]})")
                                  << QStringLiteral("nodes[0]: \"kind\"");
    QTest::newRow("label a number") << QByteArray(R"({"nodes": [{"label": 5, "kind": 0}]})")
                                    << QStringLiteral("nodes[0].label");
    QTest::newRow("kind a text") << QByteArray(R"({"nodes": [{"label": "a", "kind": "1"}]})")
                                 << QStringLiteral("nodes[0].kind");
    QTest::newRow("kind a fraction") << QByteArray(R"({"nodes": [{"label": "a", "kind": 1.5}]})")
                                     << QStringLiteral("nodes[0].kind");
    QTest::newRow("kind too large") << QByteArray(R"({"nodes": [{"label": "a", "kind": 2147483648}]})")
                                    << QStringLiteral("nodes[0].kind");
    QTest::newRow("fourteen fields") << QByteArray(
        R"({"nodes": [{"label": "a", "kind": 0, "fields": ["","","","","","","","","","","","","",""]}]})")
                                     << QStringLiteral("nodes[0].fields");
    QTest::newRow("field a number") << QByteArray(R"({"nodes": [{"label": "a", "kind": 0, "fields": ["", 3]}]})")
                                    << QStringLiteral("nodes[0].fields[1]");
    QTest::newRow("three images") << QByteArray(R"({"nodes": [{"label": "a", "kind": 0, "images": [1, 2, 3]}]})")
                                  << QStringLiteral("nodes[0].images");
    QTest::newRow("image a text") << QByteArray(R"({"nodes": [{"label": "a", "kind": 0, "images": [1, 2, "3", 4]}]})")
                                  << QStringLiteral("nodes[0].images[2]");
    QTest::newRow("created a word") << QByteArray(R"({"nodes": [{"label": "a", "kind": 0, "created": "now"}]})")
                                    << QStringLiteral("nodes[0].created");
    QTest::newRow("children an object") << QByteArray(R"({"nodes": [{"label": "a", "kind": 0, "children": {}}]})")
                                        << QStringLiteral("nodes[0].children");
    QTest::newRow("misspelt key deep down") << QByteArray(
        R"({"nodes": [{"label": "a", "kind": 0}, {"label": "b", "kind": 0, "children": [{"label": "c", "kind": 1, "chidren": []}]}]})")
                                            << QStringLiteral("nodes[1].children[0]: unknown key \"chidren\"");
    QTest::newRow("unpaired surrogate") << QByteArray(R"({"nodes": [{"label": "\ud800", "kind": 0}]})")
                                        << QStringLiteral("nodes[0].label");
    QTest::newRow("arrays nested as a node") << "{\"nodes\": " + QByteArray(3000, '[') + QByteArray(3000, ']') + "}"
                                             << QStringLiteral("nodes[0]: a node must be an object");
    QTest::newRow("raw line break at the end of a string")
        << QByteArray("{\"nodes\": [\n{\"label\": \"a\n\", \"kind\": 1, \"fields\": 7}]}")
        << QStringLiteral("nodes[0].fields: expected an array");
}

void TestToolStoreCommands::badJson()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, where);
    writeFile(QStringLiteral("bad.json"), json);
    const Run build = run({QStringLiteral("build"), path(QStringLiteral("bad.json")), path(QStringLiteral("out.DB"))});
    QCOMPARE(build.exitCode, 1);
    QVERIFY2(build.err.contains(where), qPrintable(build.err));
    QVERIFY2(build.err.contains(QStringLiteral("bad.json")), qPrintable(build.err));
    QVERIFY(!QFile::exists(path(QStringLiteral("out.DB"))));
}

void TestToolStoreCommands::checkLine_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("line");

    QTest::newRow("no nodes") << QByteArray(R"({"nodes": []})")
                              << QStringLiteral("nodes: 0, card classes: 0, cards: 0, deepest level: 0\n");
    QTest::newRow("default tree") << QByteArray(R"({"nodes": [{"label": "未分类的名片", "kind": 0}]})")
                                  << QStringLiteral("nodes: 1, card classes: 1, cards: 0, deepest level: 1\n");
    QTest::newRow("nested, with other kinds")
        << QByteArray(R"({"nodes": [{"label": "a", "kind": 0, "children": [{"label": "b", "kind": 1},
               {"label": "c", "kind": 0, "children": [{"label": "d", "kind": 1}, {"label": "e", "kind": 9}]}]},
               {"label": "f", "kind": 1}]})")
        << QStringLiteral("nodes: 6, card classes: 2, cards: 3, deepest level: 3, other kinds: 1\n");
}

void TestToolStoreCommands::checkLine()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, line);
    QCOMPARE(run({QStringLiteral("build"), QStringLiteral("-"), path(QStringLiteral("c.DB"))}, json).exitCode, 0);
    const Run check = run({QStringLiteral("check"), path(QStringLiteral("c.DB"))});
    QCOMPARE(check.exitCode, 0);
    QCOMPARE(QString::fromUtf8(check.out), line);
}

void TestToolStoreCommands::generateIsDeterministic()
{
    const auto generate = [this](const QString &seed, const QString &name) {
        return run({QStringLiteral("generate"), QStringLiteral("--cards"), QStringLiteral("3000"),
                    QStringLiteral("--seed"), seed, path(name)})
            .exitCode;
    };
    QCOMPARE(generate(QStringLiteral("42"), QStringLiteral("a.DB")), 0);
    QCOMPARE(generate(QStringLiteral("42"), QStringLiteral("b.DB")), 0);
    QCOMPARE(generate(QStringLiteral("43"), QStringLiteral("c.DB")), 0);
    const QByteArray a = readFile(QStringLiteral("a.DB"));
    QVERIFY(a.size() > 3000 * 138);
    QCOMPARE(readFile(QStringLiteral("b.DB")), a);
    QVERIFY(readFile(QStringLiteral("c.DB")) != a);
}

void TestToolStoreCommands::generatedTreeShape()
{
    const int cards = 20000;
    QCOMPARE(run({QStringLiteral("generate"), QStringLiteral("--cards=%1").arg(cards), path(QStringLiteral("g.DB"))})
                 .exitCode,
             0);
    CardTree tree;
    QVERIFY(ReadTreeFromBytes(readFile(QStringLiteral("g.DB")), tree).ok());

    CardNode *first = tree.firstTopLevel();
    QVERIFY(first);
    QCOMPARE(first->label(), gb("未分类的名片"));
    QCOMPARE(first->kind(), 0);

    int classes = 0;
    int cardCount = 0;
    int deepest = 0;
    QSet<QByteArray> names;
    tree.forEach([&](CardNode *node) {
        deepest = std::max(deepest, node->depth());
        QVERIFY(node->kind() == 0 || node->kind() == 1);
        for (int n = Field::First; n <= Field::Last; ++n)
            QVERIFY(gb18030::encode(gb18030::decode(node->data()->field(n))) == node->data()->field(n));
        if (node->isCardClass()) {
            ++classes;
            QVERIFY(!node->label().isEmpty());
            return;
        }
        ++cardCount;
        QCOMPARE(node->childCount(), 0);
        QVERIFY(node->parent() && node->parent()->isCardClass());
        QVERIFY(node->label().size() >= 4); // at least two Chinese characters
        QCOMPARE(node->label(), node->data()->name().toByteArray());
        QVERIFY(!node->data()->field(Field::DW).isEmpty());
        QVERIFY(!node->data()->field(Field::DH).isEmpty());
        names.insert(node->label().toByteArray());
    });
    QCOMPARE(cardCount, cards);
    QVERIFY2(classes >= cards / 500 / 2 && classes <= cards / 500 * 2 + 1, qPrintable(QString::number(classes)));
    QVERIFY2(deepest <= 4, qPrintable(QString::number(deepest)));
    QVERIFY2(deepest >= 2, "classes should nest");
    QVERIFY2(names.size() > 1000, "names should vary");
}

void TestToolStoreCommands::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no command") << QStringList{};
    QTest::newRow("unknown command") << QStringList{QStringLiteral("dumpp")};
    QTest::newRow("dump without file") << QStringList{QStringLiteral("dump")};
    QTest::newRow("dump with two files") << QStringList{QStringLiteral("dump"), QStringLiteral("a"),
                                                        QStringLiteral("b")};
    QTest::newRow("dump with an option") << QStringList{QStringLiteral("dump"), QStringLiteral("--pretty")};
    QTest::newRow("check without file") << QStringList{QStringLiteral("check")};
    QTest::newRow("build with one file") << QStringList{QStringLiteral("build"), QStringLiteral("a.json")};
    QTest::newRow("build to standard output")
        << QStringList{QStringLiteral("build"), QStringLiteral("a.json"), QStringLiteral("-")};
    QTest::newRow("generate without --cards") << QStringList{QStringLiteral("generate"), QStringLiteral("x.DB")};
    QTest::newRow("generate, negative count") << QStringList{QStringLiteral("generate"), QStringLiteral("--cards"),
                                                             QStringLiteral("-1"), QStringLiteral("x.DB")};
    QTest::newRow("generate, too many") << QStringList{QStringLiteral("generate"), QStringLiteral("--cards"),
                                                       QStringLiteral("2000001"), QStringLiteral("x.DB")};
    QTest::newRow("generate, bad seed") << QStringList{QStringLiteral("generate"), QStringLiteral("--cards"),
                                                       QStringLiteral("5"),        QStringLiteral("--seed"),
                                                       QStringLiteral("x"),        QStringLiteral("x.DB")};
    QTest::newRow("generate, value missing")
        << QStringList{QStringLiteral("generate"), QStringLiteral("x.DB"), QStringLiteral("--cards")};
    QTest::newRow("generate without file")
        << QStringList{QStringLiteral("generate"), QStringLiteral("--cards"), QStringLiteral("5")};
    QTest::newRow("generate, unknown option")
        << QStringList{QStringLiteral("generate"), QStringLiteral("--cards"), QStringLiteral("5"),
                       QStringLiteral("--sead"),   QStringLiteral("3"),       QStringLiteral("x.DB")};
    QTest::newRow("generate to standard output")
        << QStringList{QStringLiteral("generate"), QStringLiteral("--cards"), QStringLiteral("5"), QStringLiteral("-")};
    QTest::newRow("check with an option")
        << QStringList{QStringLiteral("check"), QStringLiteral("--all"), QStringLiteral("x.DB")};
    QTest::newRow("build with an option") << QStringList{QStringLiteral("build"), QStringLiteral("--force"),
                                                         QStringLiteral("a.json"), QStringLiteral("x.DB")};
    QTest::newRow("build from a dash word")
        << QStringList{QStringLiteral("build"), QStringLiteral("-a.json"), QStringLiteral("x.DB")};
    QTest::newRow("skin list, unknown option") << QStringList{QStringLiteral("skin"), QStringLiteral("list"),
                                                              QStringLiteral("--all"), QStringLiteral("a.skin")};
    QTest::newRow("skin pack, value for a flag")
        << QStringList{QStringLiteral("skin"), QStringLiteral("pack"), QStringLiteral("--property=1"),
                       QStringLiteral("dir"), QStringLiteral("x.DB")};
    QTest::newRow("skin without subcommand") << QStringList{QStringLiteral("skin")};
    QTest::newRow("lzhuf, unknown option")
        << QStringList{QStringLiteral("lzhuf"), QStringLiteral("--fast"), QStringLiteral("encode"), QStringLiteral("a"),
                       QStringLiteral("x.DB")};
}

void TestToolStoreCommands::usageErrors()
{
    QFETCH(QStringList, args);
    const Run result = run(args);
    QCOMPARE(result.exitCode, 1);
    QVERIFY(result.out.isEmpty());
    QVERIFY(!result.err.isEmpty());
    QVERIFY(!QFile::exists(path(QStringLiteral("x.DB"))));
}

void TestToolStoreCommands::helpTexts_data()
{
    QTest::addColumn<QString>("command");
    for (const char *command : {"dump", "build", "check", "generate", "search", "export", "skin", "lzhuf"})
        QTest::newRow(command) << QString::fromLatin1(command);
}

void TestToolStoreCommands::helpTexts()
{
    QFETCH(QString, command);
    const Run overview = run({QStringLiteral("--help")});
    QCOMPARE(overview.exitCode, 0);
    QVERIFY(QString::fromUtf8(overview.out).contains(QStringLiteral("\n  ") + command));

    // -h and --help anywhere after the command, also after its other words.
    for (const QStringList &words :
         {QStringList{QStringLiteral("--help")}, QStringList{QStringLiteral("-h")},
          QStringList{QStringLiteral("a"), QStringLiteral("--bogus"), QStringLiteral("--help")}}) {
        const Run help = run(QStringList{command} + words);
        QCOMPARE(help.exitCode, 0);
        QVERIFY(QString::fromUtf8(help.out).startsWith(QStringLiteral("Usage: kelvo-tool ") + command));
        QVERIFY(QString::fromUtf8(help.out).contains(QStringLiteral("Exit codes")));
        QVERIFY(help.err.isEmpty());
    }
}

void TestToolStoreCommands::versionComesFromTheProject()
{
    const Run version = run({QStringLiteral("--version")});
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.out, QByteArray("kelvo-tool (Kelvo V2.1)\n"));
    QVERIFY(version.err.isEmpty());
}

QTEST_GUILESS_MAIN(TestToolStoreCommands)
#include "tst_toolstorecommands.moc"
