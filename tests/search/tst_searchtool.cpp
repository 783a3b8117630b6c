#include "DataFile.h"
#include "MailUri.h"
#include "ResultExport.h"
#include "SearchCards.h"
#include "TestCards.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace kelvo;
using namespace kelvo::testing;

namespace {

struct ToolRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ToolRun runTool(const QStringList &args, const QByteArray &input = {})
{
    QProcess process;
    process.start(QStringLiteral(KELVO_TOOL_PATH), args);
    process.write(input);
    process.closeWriteChannel();
    ToolRun run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

void buildSampleTree(CardTree &tree)
{
    CardNode *friends = addClass(tree, nullptr, QStringLiteral("朋友"));
    addCard(tree, friends, QStringLiteral("Zed abc"), {{Field::DH, QStringLiteral("555-1")}});
    addCard(tree, friends, QStringLiteral("张三"),
            {{Field::SJ, QStringLiteral("139555")}, {Field::DW, QStringLiteral("Abc Ltd")}});
    CardNode *work = addClass(tree, friends, QStringLiteral("abc class"));
    addCard(tree, work, QStringLiteral("Adam"),
            {{Field::Other, QStringLiteral("tab\there")}, {Field::DW, QStringLiteral("xABCy")}});
}

} // namespace

class TestSearchTool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void searchPrintsRowsAndStatus();
    void searchChosenFields();
    void usageErrors_data();
    void usageErrors();
    void unreadableDataFiles_data();
    void unreadableDataFiles();
    void conditionsThatLookLikeOptions();
    void dataFileFromStandardInput();
    void exportText();
    void exportMailToStandardOutput();
    void exportMailCarriesLinkSyntaxAsText();
    void exportXlsxWritesAWorkbookFile();

private:
    QTemporaryDir m_dir;
    QString m_dataFile;
    QString m_damagedFile;
};

void TestSearchTool::initTestCase()
{
    QVERIFY(m_dir.isValid());
    CardTree tree;
    buildSampleTree(tree);
    m_dataFile = m_dir.filePath(QStringLiteral("Card.DB"));
    QFile data(m_dataFile);
    QVERIFY(data.open(QIODevice::WriteOnly));
    data.write(SerializeTree(tree));
    data.close();

    m_damagedFile = m_dir.filePath(QStringLiteral("damaged.DB"));
    QFile damaged(m_damagedFile);
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray("\x05\x00\x00\x00\x09\x00", 6)); // five nodes announced, half an item present
    damaged.close();
}

void TestSearchTool::searchPrintsRowsAndStatus()
{
    const ToolRun run = runTool({QStringLiteral("search"), m_dataFile, QStringLiteral("  abc ")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("ZED ABC\t\t\t\t555-1\t\t\t\t\t\t\t\t\n共找到1张名片。\n").toUtf8());
}

void TestSearchTool::searchChosenFields()
{
    ToolRun run = runTool({QStringLiteral("search"), m_dataFile, QStringLiteral("abc"), QStringLiteral("--fields"),
                           QStringLiteral("3, 1")});
    QCOMPARE(run.exitCode, 0);
    // Sorted by name; the tab inside Adam's other-information field is escaped.
    const QByteArray expected = QStringLiteral("ADAM\t\tXABCY\t\t\t\t\t\t\t\t\t\tTAB\\tHERE\n"
                                               "ZED ABC\t\t\t\t555-1\t\t\t\t\t\t\t\t\n"
                                               "张三\t\tABC LTD\t\t\t\t139555\t\t\t\t\t\t\n"
                                               "共找到3张名片。\n")
                                    .toUtf8();
    QCOMPARE(run.out, expected);

    run = runTool({QStringLiteral("search"), m_dataFile, QStringLiteral("555"), QStringLiteral("--fields=5,7")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.endsWith(QStringLiteral("共找到2张名片。\n").toUtf8()));

    run = runTool({QStringLiteral("search"), m_dataFile, QStringLiteral("三"), QStringLiteral("--fields"),
                   QStringLiteral("all")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.startsWith(QStringLiteral("张三\t").toUtf8()));
}

void TestSearchTool::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");

    QTest::newRow("empty condition") << QStringList{QStringLiteral("search"), QStringLiteral("DATA"),
                                                    QStringLiteral("  ")}
                                     << QStringLiteral("请输入查找条件!");
    QTest::newRow("export empty condition") << QStringList{
        QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("text"), QStringLiteral("DATA"), QString(),
        QStringLiteral("-")} << QStringLiteral("请输入查找条件!");
    QTest::newRow("field 14") << QStringList{QStringLiteral("search"), QStringLiteral("DATA"), QStringLiteral("a"),
                                             QStringLiteral("--fields"), QStringLiteral("1,14")}
                              << QStringLiteral("bad field list");
    QTest::newRow("field list empty") << QStringList{QStringLiteral("search"), QStringLiteral("DATA"),
                                                     QStringLiteral("a"), QStringLiteral("--fields"), QString()}
                                      << QStringLiteral("bad field list");
    QTest::newRow("missing condition") << QStringList{QStringLiteral("search"), QStringLiteral("DATA")}
                                       << QStringLiteral("Usage:");
    QTest::newRow("unknown format") << QStringList{QStringLiteral("export"), QStringLiteral("--format"),
                                                   QStringLiteral("pdf"),    QStringLiteral("DATA"),
                                                   QStringLiteral("a"),      QStringLiteral("-")}
                                    << QStringLiteral("--format must be");
    QTest::newRow("unknown option") << QStringList{QStringLiteral("search"), QStringLiteral("DATA"),
                                                   QStringLiteral("a"), QStringLiteral("--field=3")}
                                    << QStringLiteral("unknown option '--field'");
    QTest::newRow("field list missing") << QStringList{QStringLiteral("search"), QStringLiteral("DATA"),
                                                       QStringLiteral("a"), QStringLiteral("--fields")}
                                        << QStringLiteral("--fields needs a list");
    QTest::newRow("export, format missing")
        << QStringList{QStringLiteral("export"), QStringLiteral("DATA"), QStringLiteral("a"), QStringLiteral("-"),
                       QStringLiteral("--format")}
        << QStringLiteral("option '--format' needs a value");
    QTest::newRow("export, unknown option")
        << QStringList{QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("text"),
                       QStringLiteral("--out"),  QStringLiteral("DATA"),     QStringLiteral("a"),
                       QStringLiteral("-")}
        << QStringLiteral("unknown option '--out'");
    QTest::newRow("export, OUT missing") << QStringList{
        QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("text"), QStringLiteral("DATA"),
        QStringLiteral("a")} << QStringLiteral("expected DATAFILE CONDITION OUT");
    QTest::newRow("bad date") << QStringList{QStringLiteral("export"),    QStringLiteral("--format"),
                                             QStringLiteral("text"),      QStringLiteral("--now"),
                                             QStringLiteral("yesterday"), QStringLiteral("DATA"),
                                             QStringLiteral("a"),         QStringLiteral("-")}
                              << QStringLiteral("bad --now");
}

void TestSearchTool::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    args.replaceInStrings(QStringLiteral("DATA"), m_dataFile);
    const ToolRun run = runTool(args);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(QString::fromUtf8(run.err).contains(message), run.err.constData());
    QVERIFY(run.out.isEmpty());
}

void TestSearchTool::unreadableDataFiles_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("damaged");
    QTest::newRow("search damaged") << QStringLiteral("search") << true;
    QTest::newRow("search missing") << QStringLiteral("search") << false;
    QTest::newRow("export damaged") << QStringLiteral("export") << true;
    QTest::newRow("export missing") << QStringLiteral("export") << false;
}

void TestSearchTool::unreadableDataFiles()
{
    QFETCH(QString, command);
    QFETCH(bool, damaged);
    const QString path = damaged ? m_damagedFile : m_dir.filePath(QStringLiteral("absent.DB"));
    QStringList args{command};
    if (command == QLatin1String("export"))
        args << QStringLiteral("--format") << QStringLiteral("text");
    args << path << QStringLiteral("abc");
    if (command == QLatin1String("export"))
        args << QStringLiteral("-");
    const ToolRun run = runTool(args);
    QCOMPARE(run.exitCode, 2);
    // Read and reported as every command reads a data file.
    const QByteArray expected = path.toUtf8() + (damaged ? ": damaged data file at byte 4: " : ": no such file");
    QVERIFY2(run.err.startsWith("kelvo-tool " + command.toUtf8() + ": " + expected), run.err.constData());
    QVERIFY(run.out.isEmpty());
}

// Only words that start with "--" are options: a condition such as "-1" is
// searched for, also in front of the options; after "--" nothing is an option.
void TestSearchTool::conditionsThatLookLikeOptions()
{
    CardTree tree;
    CardNode *friends = addClass(tree, nullptr, QStringLiteral("朋友"));
    addCard(tree, friends, QStringLiteral("Ann"), {{Field::DH, QStringLiteral("0571-1234")}});
    addCard(tree, friends, QStringLiteral("--fields"), {{Field::DH, QStringLiteral("555")}});
    const QString path = m_dir.filePath(QStringLiteral("dashes.DB"));
    QFile data(path);
    QVERIFY(data.open(QIODevice::WriteOnly));
    data.write(SerializeTree(tree));
    data.close();

    ToolRun run = runTool(
        {QStringLiteral("search"), path, QStringLiteral("-1234"), QStringLiteral("--fields"), QStringLiteral("5")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("ANN\t\t\t\t0571-1234\t\t\t\t\t\t\t\t\n共找到1张名片。\n").toUtf8());

    run = runTool({QStringLiteral("search"), QStringLiteral("--fields=1"), QStringLiteral("--"), path,
                   QStringLiteral("--fields")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.startsWith("--FIELDS\t"), run.out.constData());
    QVERIFY(run.out.endsWith(QStringLiteral("共找到1张名片。\n").toUtf8()));

    // A value may start with '-' too: "-1" is no field number.
    run = runTool(
        {QStringLiteral("search"), path, QStringLiteral("a"), QStringLiteral("--fields"), QStringLiteral("-1")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("bad field list '-1'"), run.err.constData());

    run = runTool({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("mailto"), path,
                   QStringLiteral("-1234"), QStringLiteral("--fields=5"), QStringLiteral("-")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains(QUrl::toPercentEncoding(QStringLiteral("姓名")) + ":Ann%0D%0A"), run.out.constData());
}

void TestSearchTool::dataFileFromStandardInput()
{
    QFile data(m_dataFile);
    QVERIFY(data.open(QIODevice::ReadOnly));
    const QByteArray bytes = data.readAll();

    ToolRun run = runTool({QStringLiteral("search"), QStringLiteral("-"), QStringLiteral("abc")}, bytes);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, runTool({QStringLiteral("search"), m_dataFile, QStringLiteral("abc")}).out);

    run = runTool({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("mailto"), QStringLiteral("-"),
                   QStringLiteral("abc"), QStringLiteral("-")},
                  bytes);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out,
             runTool({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("mailto"), m_dataFile,
                      QStringLiteral("abc"), QStringLiteral("-")})
                 .out);
    QVERIFY(run.out.startsWith("mailto:?Subject="));

    run = runTool({QStringLiteral("search"), QStringLiteral("-"), QStringLiteral("abc")}, bytes.left(10));
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.startsWith("kelvo-tool search: standard input: damaged data file at byte"), run.err.constData());
}

void TestSearchTool::exportText()
{
    const QString out = m_dir.filePath(QStringLiteral("result.txt"));
    const ToolRun run =
        runTool({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("text"), QStringLiteral("--now"),
                 QStringLiteral("2024-05-06T07:08:09"), QStringLiteral("--locale"), QStringLiteral("zh_CN"), m_dataFile,
                 QStringLiteral("abc"), QStringLiteral("--fields"), QStringLiteral("1,3"), out});
    QCOMPARE(run.exitCode, 0);
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();

    CardTree tree;
    buildSampleTree(tree);
    FieldSelection fields{};
    fields[0] = fields[2] = true;
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    const SearchOutcome outcome = SearchCards(tree, "abc", fields, chinese);
    QCOMPARE(content, ResultTextFileContent(outcome.rows, QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)), chinese));
    // Cards are rendered as stored: "Abc Ltd", not the folded "ABC LTD".
    QVERIFY(content.contains(" \xb5\xa5\xce\xbb:Abc Ltd\r\n"));
    QVERIFY(content.contains("2024/5/6 07:08:09\r\n"));
}

void TestSearchTool::exportMailToStandardOutput()
{
    const ToolRun run = runTool({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("mailto"),
                                 m_dataFile, QStringLiteral("ABC"), QStringLiteral("-")});
    QCOMPARE(run.exitCode, 0);
    // The URI itself: ASCII only, the line breaks and the separator's %0d
    // as escapes, the Chinese as UTF-8 escapes.
    QVERIFY(run.out.startsWith("mailto:?Subject=%E6%9F%A5%E6%89%BE%E5%88%B0%E7%9A%84%E5%90%8D%E7%89%87&Body="
                               "%20%E5%A7%93%E5%90%8D:Zed%20abc%0D%0A"));
    QVERIFY(run.out.endsWith("%20%20%0D%20%20%20"));
    for (const char c : run.out)
        QVERIFY2(c > 0x20 && c < 0x7f, run.out.constData());
    const MailUri mail = ReadMailUri(run.out);
    QCOMPARE(mail.fieldNames(), QStringList({QStringLiteral("subject"), QStringLiteral("body")}));
    QCOMPARE(mail.field(QStringLiteral("Subject")), QStringLiteral("查找到的名片"));
    QVERIFY(mail.field(QStringLiteral("Body")).startsWith(QStringLiteral(" 姓名:Zed abc\r\n 头衔:\r\n")));
    QVERIFY(mail.field(QStringLiteral("Body")).endsWith(QStringLiteral(" 其他信息:  \r   ")));
}

void TestSearchTool::exportMailCarriesLinkSyntaxAsText()
{
    CardTree tree;
    CardNode *group = addClass(tree, nullptr, QStringLiteral("客户"));
    const QString company = QStringLiteral("AT&T #1 a+b=c? 100% %0d");
    const QString other = QStringLiteral("&cc=evil@example.org&attach=/etc/passwd#x");
    addCard(tree, group, QStringLiteral("P&G 张三"),
            {{Field::DW, company}, {Field::EMail, QStringLiteral("a@b.cn?bcc=x@y.cn")}, {Field::Other, other}});
    const QString dataFile = m_dir.filePath(QStringLiteral("syntax.DB"));
    QFile data(dataFile);
    QVERIFY(data.open(QIODevice::WriteOnly));
    data.write(SerializeTree(tree));
    data.close();

    const ToolRun run = runTool({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("mailto"),
                                 dataFile, QStringLiteral("张三"), QStringLiteral("-")});
    QCOMPARE(run.exitCode, 0);
    const MailUri mail = ReadMailUri(run.out);
    QVERIFY(!mail.hasFragment);
    QVERIFY(mail.to.isEmpty());
    QCOMPARE(mail.fieldNames(), QStringList({QStringLiteral("subject"), QStringLiteral("body")}));
    QCOMPARE(mail.field(QStringLiteral("Subject")), QStringLiteral("查找到的名片"));
    const QString body = QStringLiteral(" 姓名:P&G 张三\r\n 头衔:\r\n 单位:") + company
        + QStringLiteral("\r\n 地址:\r\n 电话:\r\n 传真:\r\n 手机:\r\n 邮编:\r\n 网址:\r\n QQ:\r\n MSN:\r\n"
                         " E_Mail:a@b.cn?bcc=x@y.cn\r\n 其他信息:")
        + other + QStringLiteral("  \r   ");
    QCOMPARE(mail.field(QStringLiteral("Body")), body);
}

// The cells themselves are checked where the writer is tested; here: the tool
// writes a workbook file, and refuses standard output and unwritable places.
void TestSearchTool::exportXlsxWritesAWorkbookFile()
{
    const QString out = m_dir.filePath(QStringLiteral("result.xlsx"));
    const QStringList head = {QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("xlsx"), m_dataFile,
                              QStringLiteral("abc")};
    ToolRun run = runTool(head + QStringList{out});
    QCOMPARE(run.exitCode, 0);
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.read(4) == QByteArray("PK\x03\x04", 4)); // a zip archive, as .xlsx files are

    run = runTool(head + QStringList{QStringLiteral("-")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.err.contains("standard output"));

    const QString unwritable = m_dir.filePath(QStringLiteral("no-such-folder/result.xlsx"));
    run = runTool(head + QStringList{unwritable});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(!QFile::exists(unwritable));
}

QTEST_GUILESS_MAIN(TestSearchTool)
#include "tst_searchtool.moc"
