// The .xlsx backend and the export's steps: what they write is read back
// from the file itself (an .xlsx is a zip archive of XML parts), and failures
// leave no file behind.

#include "MessagePump.h"
#include "XlsxSpreadsheet.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QPair>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <zlib.h>

using namespace kelvo;

namespace {

// Counts how often the export let the windows repaint.
struct CountingPump : kelvo::MessagePump
{
    int calls = 0;
    void pump() override { ++calls; }
};

quint32 le(const QByteArray &bytes, qsizetype at, int size)
{
    quint32 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | static_cast<quint8>(bytes.at(at + i));
    return value;
}

QByteArray inflateRaw(QByteArrayView compressed, qsizetype expectedSize)
{
    QByteArray out(expectedSize, Qt::Uninitialized);
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return {};
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    return result == Z_STREAM_END ? out.left(static_cast<qsizetype>(stream.total_out)) : QByteArray();
}

// The members of a zip archive, read through its central directory.
QMap<QString, QByteArray> unzip(const QByteArray &zip)
{
    QMap<QString, QByteArray> members;
    const qsizetype end = zip.lastIndexOf(QByteArray("PK\x05\x06", 4));
    if (end < 0 || end + 22 > zip.size())
        return members;
    const quint32 entries = le(zip, end + 10, 2);
    qsizetype at = le(zip, end + 16, 4);
    for (quint32 i = 0; i < entries && at + 46 <= zip.size(); ++i) {
        if (le(zip, at, 4) != 0x02014b50)
            break;
        const quint32 method = le(zip, at + 10, 2);
        const quint32 compressedSize = le(zip, at + 20, 4);
        const quint32 size = le(zip, at + 24, 4);
        const quint32 nameLength = le(zip, at + 28, 2);
        const quint32 extraLength = le(zip, at + 30, 2);
        const quint32 commentLength = le(zip, at + 32, 2);
        const quint32 local = le(zip, at + 42, 4);
        const QString name = QString::fromUtf8(zip.mid(at + 46, nameLength));
        if (local + 30 <= zip.size() && size < 64 * 1024 * 1024) {
            const qsizetype data = local + 30 + le(zip, local + 26, 2) + le(zip, local + 28, 2);
            const QByteArrayView stored(zip.constData() + data, qMin<qsizetype>(compressedSize, zip.size() - data));
            members.insert(name, method == 0 ? stored.toByteArray() : inflateRaw(stored, size));
        }
        at += 46 + nameLength + extraLength + commentLength;
    }
    return members;
}

// Text of the <t> elements below the current element, up to its end.
QString readText(QXmlStreamReader &xml)
{
    QString text;
    const QStringView element = xml.name();
    const QString endName = element.toString();
    while (xml.readNext() != QXmlStreamReader::Invalid) {
        if (xml.isStartElement() && xml.name() == u"t")
            text += xml.readElementText();
        else if (xml.isEndElement() && xml.name() == endName)
            break;
    }
    return text;
}

using Cells = QMap<QPair<int, int>, QString>;

// Cells of the first sheet by (row, column) counted from 1.
Cells readCells(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QMap<QString, QByteArray> members = unzip(file.readAll());

    QStringList shared;
    QXmlStreamReader strings(members.value(QStringLiteral("xl/sharedStrings.xml")));
    while (!strings.atEnd()) {
        if (strings.readNext() == QXmlStreamReader::StartElement && strings.name() == u"si")
            shared << readText(strings);
    }

    Cells cells;
    QXmlStreamReader sheet(members.value(QStringLiteral("xl/worksheets/sheet1.xml")));
    while (!sheet.atEnd()) {
        if (sheet.readNext() != QXmlStreamReader::StartElement || sheet.name() != u"c")
            continue;
        const QString ref = sheet.attributes().value(QLatin1String("r")).toString();
        const QString type = sheet.attributes().value(QLatin1String("t")).toString();
        int column = 0;
        qsizetype i = 0;
        for (; i < ref.size() && ref.at(i).isLetter(); ++i)
            column = column * 26 + (ref.at(i).unicode() - 'A' + 1);
        const int row = ref.mid(i).toInt();
        QString value;
        if (type == u"inlineStr") {
            value = readText(sheet);
        } else {
            while (!(sheet.readNext() == QXmlStreamReader::EndElement && sheet.name() == u"c") && !sheet.atEnd()) {
                if (sheet.isStartElement() && sheet.name() == u"v") {
                    const QString v = sheet.readElementText();
                    value = type == u"s" ? shared.value(v.toInt()) : v;
                }
            }
        }
        cells.insert({row, column}, value);
    }
    return cells;
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestXlsxSpreadsheet : public QObject
{
    Q_OBJECT

private slots:
    void libraryIsLoadedOnlyForTheFirstWorkbook();
    void writesCellsReadableFromTheFile();
    void replacesAnExistingFileAndLeavesNoTemporary();
    void savingFailsCleanly_data();
    void savingFailsCleanly();
    void refusesCellsOutsideTheSheet_data();
    void refusesCellsOutsideTheSheet();
    void opensTheSavedWorkbookOnlyWhenVisible();
    void exportStepsWriteTheHeaderThenTheRows();
    void exportStepsStopAtTheFirstFailure();
};

// Starting the program must not pay for loading libxlsxwriter and what it
// brings along: only the first workbook loads it.
void TestXlsxSpreadsheet::libraryIsLoadedOnlyForTheFirstWorkbook()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        QSKIP("needs /proc/self/maps");
    const auto loaded = [] {
        QFile mapsNow(QStringLiteral("/proc/self/maps"));
        return mapsNow.open(QIODevice::ReadOnly) && mapsNow.readAll().contains("libxlsxwriter");
    };
    QVERIFY(!loaded());
    XlsxSpreadsheet spreadsheet([](const QString &) {});
    QString error = QStringLiteral("left over");
    const std::unique_ptr<SpreadsheetApplication> application = spreadsheet.createApplication(&error);
    QVERIFY2(application, qPrintable(error));
    QVERIFY(error.isEmpty());
    QVERIFY(loaded());
}

void TestXlsxSpreadsheet::writesCellsReadableFromTheFile()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("名片 结果.xlsx"));

    XlsxSpreadsheet spreadsheet({});
    QString error;
    auto app = spreadsheet.createApplication(&error);
    QVERIFY(app);
    QVERIFY(app->addWorkbook());
    QVERIFY(app->setVisible(false));
    const Cells expected = {
        {{1, 1}, QStringLiteral("姓名")},
        {{1, 13}, QStringLiteral("其他信息")},
        {{2, 1}, QStringLiteral("ABC LTD")},
        {{2, 2}, QStringLiteral("A & B <C> \"D\"")},
        {{2, 5}, QStringLiteral("010-12345678")},
        {{3, 1}, QStringLiteral("张三 😀")},
        {{3, 12}, QStringLiteral("X@EXAMPLE.ORG")},
        {{4, 3}, QStringLiteral("0012")},
        // A control character inside a value (from a damaged data file)
        // is escaped the way spreadsheets read it; the sheet stays readable.
        {{5, 1}, QStringLiteral("A_x0001_B")},
        {{5, 2}, QStringLiteral("second")},
        {{1, 2}, QStringLiteral("头衔")},
    };
    QVERIFY(app->setCell(5, 2, QStringLiteral("first")));
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const QString value = it.key() == qMakePair(5, 1) ? QStringLiteral("A\u0001B") : it.value();
        if (it.key() != qMakePair(1, 2))
            QVERIFY(app->setCell(it.key().first, it.key().second, value));
    }
    QVERIFY(app->setCell(1, 2, QStringLiteral("头衔"))); // a cell of an earlier row, set last
    QVERIFY(app->setCell(3, 2, QString()));              // an empty cell stays empty
    QVERIFY2(app->saveActiveWorkbookAs(path), qPrintable(app->errorString()));

    QCOMPARE(readCells(path), expected);
    QCOMPARE(entriesOf(folder.path()), QStringList{QStringLiteral("名片 结果.xlsx")});
}

void TestXlsxSpreadsheet::replacesAnExistingFileAndLeavesNoTemporary()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("out.xlsx"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older file that is not a workbook");
    }
    XlsxSpreadsheet spreadsheet({});
    auto app = spreadsheet.createApplication(nullptr);
    QVERIFY(app->addWorkbook());
    QVERIFY(app->setCell(1, 1, QStringLiteral("new")));
    QVERIFY(app->saveActiveWorkbookAs(path));
    QCOMPARE(readCells(path), (Cells{{{1, 1}, QStringLiteral("new")}}));
    QCOMPARE(entriesOf(folder.path()), QStringList{QStringLiteral("out.xlsx")});
}

void TestXlsxSpreadsheet::savingFailsCleanly_data()
{
    QTest::addColumn<QString>("target"); // relative to a fresh folder
    QTest::addColumn<bool>("withWorkbook");
    QTest::newRow("folder missing") << QStringLiteral("missing/out.xlsx") << true;
    QTest::newRow("target is a folder") << QStringLiteral("sub") << true;
    QTest::newRow("folder is a file") << QStringLiteral("plain/out.xlsx") << true;
    QTest::newRow("empty name") << QString() << true;
    QTest::newRow("no workbook added") << QStringLiteral("out.xlsx") << false;
}

void TestXlsxSpreadsheet::savingFailsCleanly()
{
    QFETCH(QString, target);
    QFETCH(bool, withWorkbook);
    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("sub")));
    {
        QFile plain(folder.filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
    }
    const QStringList before = entriesOf(folder.path());

    XlsxSpreadsheet spreadsheet([](const QString &) { QFAIL("nothing may be opened after a failed save"); });
    auto app = spreadsheet.createApplication(nullptr);
    if (withWorkbook) {
        QVERIFY(app->addWorkbook());
        QVERIFY(app->setCell(1, 1, QStringLiteral("x")));
    }
    QVERIFY(app->setVisible(true));
    QVERIFY(!app->saveActiveWorkbookAs(target.isEmpty() ? QString() : folder.filePath(target)));
    QVERIFY(!app->errorString().isEmpty());
    QCOMPARE(entriesOf(folder.path()), before);
    QVERIFY(entriesOf(folder.filePath(QStringLiteral("sub"))).isEmpty());
}

void TestXlsxSpreadsheet::refusesCellsOutsideTheSheet_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("length");
    QTest::newRow("row 0") << 0 << 1 << 1;
    QTest::newRow("column 0") << 1 << 0 << 1;
    QTest::newRow("row past the sheet") << 1048577 << 1 << 1;
    QTest::newRow("column past the sheet") << 1 << 16385 << 1;
    QTest::newRow("text too long") << 1 << 1 << 32768;
}

void TestXlsxSpreadsheet::refusesCellsOutsideTheSheet()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(int, length);
    XlsxSpreadsheet spreadsheet({});
    auto app = spreadsheet.createApplication(nullptr);
    QVERIFY(app->addWorkbook());
    QVERIFY(!app->setCell(row, column, QString(length, QLatin1Char('x'))));
    QVERIFY(!app->errorString().isEmpty());
    // The last cells of the sheet are fine.
    QVERIFY(app->setCell(1048576, 16384, QString(32767, QLatin1Char('x'))));
}

void TestXlsxSpreadsheet::opensTheSavedWorkbookOnlyWhenVisible()
{
    QTemporaryDir folder;
    QStringList opened;
    XlsxSpreadsheet spreadsheet([&opened](const QString &path) { opened << path; });

    const QString first = folder.filePath(QStringLiteral("first.xlsx"));
    auto app = spreadsheet.createApplication(nullptr);
    QVERIFY(app->addWorkbook());
    QVERIFY(app->setVisible(true));
    QVERIFY(opened.isEmpty()); // nothing to show before it is saved
    QVERIFY(app->saveActiveWorkbookAs(first));
    QCOMPARE(opened, QStringList{first});

    opened.clear();
    const QString second = folder.filePath(QStringLiteral("second.xlsx"));
    auto hidden = spreadsheet.createApplication(nullptr);
    QVERIFY(hidden->addWorkbook());
    QVERIFY(hidden->setVisible(false));
    QVERIFY(hidden->saveActiveWorkbookAs(second));
    QVERIFY(opened.isEmpty());
    QVERIFY(hidden->setVisible(true)); // made visible after saving: shown now
    QCOMPARE(opened, QStringList{second});
}

void TestXlsxSpreadsheet::exportStepsWriteTheHeaderThenTheRows()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("result.xlsx"));
    QStringList opened;
    XlsxSpreadsheet spreadsheet([&opened](const QString &saved) { opened << saved; });
    auto app = spreadsheet.createApplication(nullptr);

    const QStringList header{QStringLiteral("姓名"), QStringLiteral("头衔"), QStringLiteral("单位")};
    const std::vector<QStringList> rows{{QStringLiteral("ADAM"), QString(), QStringLiteral("XABCY")},
                                        {QStringLiteral("张三"), QStringLiteral("经理")}};
    CountingPump pump;
    QVERIFY2(FillAndSaveWorkbook(*app, header, rows, path, pump), qPrintable(app->errorString()));

    QCOMPARE(readCells(path),
             (Cells{{{1, 1}, QStringLiteral("姓名")},
                    {{1, 2}, QStringLiteral("头衔")},
                    {{1, 3}, QStringLiteral("单位")},
                    {{2, 1}, QStringLiteral("ADAM")},
                    {{2, 3}, QStringLiteral("XABCY")},
                    {{3, 1}, QStringLiteral("张三")},
                    {{3, 2}, QStringLiteral("经理")}}));
    QCOMPARE(pump.calls, 2);
    QCOMPARE(opened, QStringList{path}); // shown, then saved: opened once it exists

    // No rows: the header alone, still saved.
    const QString empty = folder.filePath(QStringLiteral("empty.xlsx"));
    QVERIFY(FillAndSaveWorkbook(*spreadsheet.createApplication(nullptr), header, {}, empty));
    QCOMPARE(readCells(empty).size(), 3);
}

void TestXlsxSpreadsheet::exportStepsStopAtTheFirstFailure()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("result.xlsx"));
    XlsxSpreadsheet spreadsheet([](const QString &) { QFAIL("nothing may be opened after a failed export"); });
    auto app = spreadsheet.createApplication(nullptr);

    // The second row holds a text no cell can take.
    const std::vector<QStringList> rows{
        {QStringLiteral("a")}, {QString(32768, QLatin1Char('x'))}, {QStringLiteral("c")}};
    CountingPump pump;
    QVERIFY(!FillAndSaveWorkbook(*app, {QStringLiteral("姓名")}, rows, path, pump));
    QVERIFY(!app->errorString().isEmpty());
    QCOMPARE(pump.calls, 2);
    QVERIFY(entriesOf(folder.path()).isEmpty());

    // A refused save is a failure too.
    QVERIFY(
        !FillAndSaveWorkbook(*app, {QStringLiteral("姓名")}, {}, folder.filePath(QStringLiteral("missing/x.xlsx"))));
    QVERIFY(!app->errorString().isEmpty());
    QVERIFY(entriesOf(folder.path()).isEmpty());
}

QTEST_GUILESS_MAIN(TestXlsxSpreadsheet)
#include "tst_xlsxspreadsheet.moc"
