// The three exports of the search results through the dialogs, shell and
// spreadsheet doubles, and the spreadsheet export through the real .xlsx
// backend: what reaches the file, the mail link and the workbook, and what a
// failure leaves behind.

#include "CardText.h"
#include "MailUri.h"
#include "MessagePump.h"
#include "RecordingShell.h"
#include "RecordingSpreadsheet.h"
#include "ResultExport.h"
#include "ResultExports.h"
#include "XlsxSpreadsheet.h"
#include "tst_searchsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvo;
using namespace kelvo::testing;

namespace {

const QDateTime FixedNow(QDate(2024, 3, 5), QTime(14, 7, 9));

struct Fixture
{
    CardTree tree;
    RecordingDialogs dialogs;
    RecordingShell shell;
    RecordingSpreadsheet spreadsheet;
    struct CountingPump : MessagePump
    {
        int calls = 0;
        void pump() override { ++calls; }
    } pump;
    ResultExports exports{dialogs, shell, spreadsheet, pump, nullptr};
    std::vector<TResultRow> rows;

    Fixture()
    {
        exports.setClock([] { return FixedNow; });
        exports.setLocale(QLocale::c());
    }

    // Zed stands above Adam in the tree; both are found by "a".
    void findZedAndAdam()
    {
        addCard(tree, nullptr, {{Field::Name, "Zed"}, {Field::DW, "Abc Ltd"}, {Field::Other, "zed & co"}});
        addCard(tree, nullptr, {{Field::Name, "Adam"}, {Field::EMail, "adam@example.org"}});
        FieldSelection fields{};
        fields.fill(true);
        rows = SearchCards(tree, "a", fields, QLocale::c()).rows;
        QCOMPARE(rows.size(), size_t(2));
    }
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestResultExports : public QObject
{
    Q_OBJECT

private slots:
    void textFileIsWrittenInListOrder();
    void textFileProposesTheConditionAsTyped_data();
    void textFileProposesTheConditionAsTyped();
    void textFileCancelWritesNothing();
    void textFileFailureIsShownAndLeavesNoFile_data();
    void textFileFailureIsShownAndLeavesNoFile();
    void mailCarriesEveryCardAsItIsNow();
    void mailOfAnEmptyListIsTheHeadAlone();
    void mailBodyReachesTheMailProgramIntact_data();
    void mailBodyReachesTheMailProgramIntact();
    void spreadsheetStepsAndCells();
    void spreadsheetOfAnEmptyListHasTheHeaderOnly();
    void spreadsheetFailuresAreShown();
    void spreadsheetThroughTheXlsxBackendFailsCleanly();
};

void TestResultExports::textFileIsWrittenInListOrder()
{
    Fixture f;
    f.findZedAndAdam();
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("结果.txt"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(10000, 'x')); // a longer file is replaced, not overwritten in place
    }
    f.dialogs.saveAnswers.enqueue(path);
    f.exports.SaveResultsToTextFile(f.rows, QStringLiteral("a"));

    QVERIFY(f.dialogs.errors.isEmpty());
    QCOMPARE(f.pump.calls, 2); // once per row while the content is built
    const QByteArray written = readAll(path);
    QCOMPARE(written, ResultTextFileContent(f.rows, FixedNow, QLocale::c(), "Kelvo"));
    QVERIFY(written.startsWith(gb18030::encode(QStringLiteral("Kelvo--查询结果\r\n\r\n保存日期："))));
    QVERIFY(written.contains(gb18030::encode(QStringLiteral("\r\n共有2张名片\r\n"))));
    // Rows leave in list order, and the card's stored text is written, not the folded one.
    const qsizetype adam = written.indexOf(gb18030::encode(QStringLiteral(" 姓名:Adam\r\n")));
    const qsizetype zed = written.indexOf(gb18030::encode(QStringLiteral(" 姓名:Zed\r\n")));
    QVERIFY(adam > 0 && zed > adam);
    QVERIFY(written.contains(gb18030::encode(QStringLiteral(" 单位:Abc Ltd\r\n"))));
    QVERIFY(written.endsWith("\r\n\r\n"));
    QCOMPARE(entriesOf(folder.path()), QStringList{QStringLiteral("结果.txt")});
}

void TestResultExports::textFileProposesTheConditionAsTyped_data()
{
    QTest::addColumn<QString>("condition");
    QTest::addColumn<QString>("proposed");
    QTest::newRow("blanks kept") << "  张"
                                 << "  张的查询结果";
    QTest::newRow("letter case kept") << "aBc "
                                      << "aBc 的查询结果";
    QTest::newRow("empty") << ""
                           << "的查询结果";
    QTest::newRow("no other folder") << "../a/b\\c"
                                     << ".._a_b_c的查询结果";
}

void TestResultExports::textFileProposesTheConditionAsTyped()
{
    QFETCH(QString, condition);
    QFETCH(QString, proposed);
    Fixture f;
    f.exports.SaveResultsToTextFile({}, condition);
    QCOMPARE(f.dialogs.saveRequests.size(), 1);
    const RecordingDialogs::SaveRequest &request = f.dialogs.saveRequests.constFirst();
    QCOMPARE(request.title, QStringLiteral("保存查询结果"));
    QCOMPARE(request.filter, QStringLiteral("*.txt"));
    QCOMPARE(request.defaultSuffix, QStringLiteral("txt"));
    QCOMPARE(request.initialName, proposed);
}

void TestResultExports::textFileCancelWritesNothing()
{
    Fixture f;
    f.findZedAndAdam();
    QTemporaryDir folder;
    const QString old = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder.path()));
    f.exports.SaveResultsToTextFile(f.rows, QStringLiteral("a")); // no answer: cancelled
    QDir::setCurrent(old);
    QVERIFY(entriesOf(folder.path()).isEmpty());
    QVERIFY(f.dialogs.errors.isEmpty());
}

void TestResultExports::textFileFailureIsShownAndLeavesNoFile_data()
{
    QTest::addColumn<QString>("target"); // relative to a fresh folder
    QTest::newRow("folder missing") << "missing/out.txt";
    QTest::newRow("target is a folder") << "sub";
    QTest::newRow("folder is a file") << "plain/out.txt";
}

void TestResultExports::textFileFailureIsShownAndLeavesNoFile()
{
    QFETCH(QString, target);
    Fixture f;
    f.findZedAndAdam();
    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("sub")));
    {
        QFile plain(folder.filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
    }
    const QStringList before = entriesOf(folder.path());
    f.dialogs.saveAnswers.enqueue(folder.filePath(target));
    f.exports.SaveResultsToTextFile(f.rows, QStringLiteral("a"));

    QCOMPARE(f.dialogs.errors.size(), 1);
    QVERIFY2(f.dialogs.errors.constFirst().contains(QDir::toNativeSeparators(folder.filePath(target))),
             qPrintable(f.dialogs.errors.constFirst()));
    QCOMPARE(entriesOf(folder.path()), before);
    QVERIFY(entriesOf(folder.filePath(QStringLiteral("sub"))).isEmpty());
    QVERIFY(readAll(folder.filePath(QStringLiteral("plain"))).isEmpty());
}

void TestResultExports::mailCarriesEveryCardAsItIsNow()
{
    Fixture f;
    f.findZedAndAdam();
    // Edited after the search: the mail shows the record as it is now.
    f.tree.setField(f.tree.nodeAt(f.tree.absoluteIndexOf(f.rows.at(1).Node)), Field::DH, "555 & 100%");
    f.exports.SendResultsByMail(f.rows);

    QCOMPARE(f.shell.opened().size(), 1);
    const RecordingShell::Opened &opened = f.shell.opened().constFirst();
    QVERIFY(!opened.isFile);
    QCOMPARE(opened.text, ResultMailText(f.rows));
    QVERIFY(opened.text.startsWith(QStringLiteral("Mailto:?Subject=查找到的名片&Body= 姓名:Adam\r\n")));
    QVERIFY(opened.text.contains(QStringLiteral(" 电话:555 %26 100%25\r\n")));
    QVERIFY(opened.text.contains(QStringLiteral(" 单位:Abc Ltd\r\n")));
    QVERIFY(opened.text.endsWith(QStringLiteral(" 其他信息:zed %26 co  %0d   ")));
    QCOMPARE(opened.text.count(QStringLiteral("  %0d   ")), 2);
    QCOMPARE(opened.url.scheme().toLower(), QStringLiteral("mailto"));
    // What the mail program shows: both cards, as they are now.
    const MailUri mail = ReadMailUri(opened.url.toEncoded());
    QCOMPARE(mail.fieldNames(), QStringList({QStringLiteral("subject"), QStringLiteral("body")}));
    QVERIFY(mail.field(QStringLiteral("Body")).contains(QStringLiteral(" 电话:555 & 100%\r\n")));
    QVERIFY(mail.field(QStringLiteral("Body")).endsWith(QStringLiteral(" 其他信息:zed & co  \r   ")));
    QVERIFY(f.dialogs.errors.isEmpty());
}

void TestResultExports::mailOfAnEmptyListIsTheHeadAlone()
{
    Fixture f;
    f.exports.SendResultsByMail({});
    QCOMPARE(f.shell.opened().size(), 1);
    QCOMPARE(f.shell.opened().constFirst().text, QStringLiteral("Mailto:?Subject=查找到的名片&Body="));
}

void TestResultExports::mailBodyReachesTheMailProgramIntact_data()
{
    QTest::addColumn<QString>("company");
    QTest::addColumn<QString>("address");
    QTest::newRow("plain") << "Abc Ltd"
                           << "北京市";
    QTest::newRow("ampersand") << "AT&T"
                               << "P&G 大厦";
    QTest::newRow("hash") << "No.#1"
                          << "3#楼";
    QTest::newRow("added parameters") << "x&cc=spy@example.org"
                                      << "&attach=/etc/passwd&bcc=spy@example.org";
    QTest::newRow("question mark and equals") << "谁?是=谁"
                                              << "?Subject=假的";
    QTest::newRow("percent") << "100% %41"
                             << "%0d%0a %zz %";
    QTest::newRow("plus") << "A+B"
                          << "1+1";
    QTest::newRow("other punctuation") << "/:@;,[]<>\"'"
                                       << "\\^`{|}~!$*()";
    QTest::newRow("line break and tab inside") << "上\r\n下"
                                               << "左\t右";
}

// The link as the desktop is handed it, read the way a mail program reads
// it: the subject and the body the export describes, nothing more, every
// separator's %0d a carriage return.
void TestResultExports::mailBodyReachesTheMailProgramIntact()
{
    QFETCH(QString, company);
    QFETCH(QString, address);
    Fixture f;
    addCard(f.tree, nullptr, {{Field::Name, "A1"}, {Field::DW, company}, {Field::DZ, address}});
    addCard(f.tree, nullptr, {{Field::Name, "A2"}, {Field::EMail, "a2@example.org"}, {Field::Other, company}});
    FieldSelection fields{};
    fields[0] = true;
    f.rows = SearchCards(f.tree, "a", fields, QLocale::c()).rows;
    QCOMPARE(f.rows.size(), size_t(2));
    f.exports.SendResultsByMail(f.rows);
    QCOMPARE(f.shell.opened().size(), 1);
    const QUrl &url = f.shell.opened().constFirst().url;
    QVERIFY2(url.isValid(), qPrintable(url.errorString()));

    QString body;
    for (const TResultRow &row : f.rows)
        body += gb18030::decode(CardToText(*row.Card)) + QStringLiteral("  \r   ");
    const MailUri mail = ReadMailUri(url.toEncoded());
    QCOMPARE(mail.scheme, QStringLiteral("mailto"));
    QVERIFY(mail.to.isEmpty());
    QVERIFY(!mail.hasFragment);
    QCOMPARE(mail.fieldNames(), QStringList({QStringLiteral("subject"), QStringLiteral("body")}));
    QCOMPARE(mail.field(QStringLiteral("Subject")), QStringLiteral("查找到的名片"));
    QCOMPARE(mail.field(QStringLiteral("Body")), body);
}

void TestResultExports::spreadsheetStepsAndCells()
{
    Fixture f;
    f.findZedAndAdam();
    f.tree.setField(f.tree.nodeAt(f.tree.absoluteIndexOf(f.rows.at(1).Node)), Field::DW, "changed after the search");
    f.dialogs.saveAnswers.enqueue(QStringLiteral("/data/out.xlsx"));
    f.exports.ExportResultsToSpreadsheet(f.rows);

    QVERIFY(f.dialogs.errors.isEmpty());
    QCOMPARE(f.dialogs.saveRequests.size(), 1);
    QCOMPARE(f.dialogs.saveRequests.at(0).filter, QStringLiteral("*.xlsx"));
    QCOMPARE(f.dialogs.saveRequests.at(0).defaultSuffix, QStringLiteral("xlsx"));
    QVERIFY(f.dialogs.saveRequests.at(0).initialName.isEmpty());

    const QStringList &calls = f.spreadsheet.calls;
    QCOMPARE(calls.size(), 3 + 13 * 3 + 2);
    QCOMPARE(calls.mid(0, 4), (QStringList{"create", "addWorkbook", "setVisible(false)", "setCell(1,1)"}));
    QCOMPARE(calls.at(16), QStringLiteral("setCell(2,1)"));
    QCOMPARE(calls.mid(calls.size() - 3), (QStringList{"setCell(3,13)", "setVisible(true)", "saveAs(/data/out.xlsx)"}));
    QCOMPARE(f.spreadsheet.applicationsAlive, 0);
    QCOMPARE(f.pump.calls, 2);

    QStringList header;
    for (int column = 1; column <= 13; ++column)
        header << f.spreadsheet.cell(1, column);
    QCOMPARE(header, SpreadsheetHeader());
    QCOMPARE(header.at(11), QStringLiteral("E_MAIL"));
    QCOMPARE(f.spreadsheet.cell(2, 1), QStringLiteral("ADAM"));
    QCOMPARE(f.spreadsheet.cell(2, 12), QStringLiteral("ADAM@EXAMPLE.ORG"));
    QCOMPARE(f.spreadsheet.cell(3, 1), QStringLiteral("ZED"));
    QCOMPARE(f.spreadsheet.cell(3, 3), QStringLiteral("ABC LTD")); // the folded value of the search time
    QCOMPARE(f.spreadsheet.cell(3, 13), QStringLiteral("ZED & CO"));

    // The dialog proposes the name chosen last time.
    f.exports.ExportResultsToSpreadsheet(f.rows);
    QCOMPARE(f.dialogs.saveRequests.size(), 2);
    QCOMPARE(f.dialogs.saveRequests.at(1).initialName, QStringLiteral("/data/out.xlsx"));
}

void TestResultExports::spreadsheetOfAnEmptyListHasTheHeaderOnly()
{
    Fixture f;
    f.dialogs.saveAnswers.enqueue(QStringLiteral("/data/empty.xlsx"));
    f.exports.ExportResultsToSpreadsheet({});
    QCOMPARE(f.spreadsheet.cells.size(), 13);
    QVERIFY(f.spreadsheet.visible);
    QCOMPARE(f.spreadsheet.savedAs, QStringLiteral("/data/empty.xlsx"));
}

void TestResultExports::spreadsheetFailuresAreShown()
{
    Fixture f;
    f.findZedAndAdam();

    f.exports.ExportResultsToSpreadsheet(f.rows); // cancelled: the program is not even started
    QVERIFY(f.spreadsheet.calls.isEmpty());

    f.spreadsheet.failCreateWith = QStringLiteral("no spreadsheet program");
    f.dialogs.saveAnswers.enqueue(QStringLiteral("/data/a.xlsx"));
    f.exports.ExportResultsToSpreadsheet(f.rows);
    QCOMPARE(f.spreadsheet.calls, QStringList{"create failed"});
    QCOMPARE(f.dialogs.errors, QStringList{"no spreadsheet program"});

    f.spreadsheet.failCreateWith.clear();
    f.spreadsheet.failSaveWith = QStringLiteral("disk full");
    f.spreadsheet.calls.clear();
    f.dialogs.saveAnswers.enqueue(QStringLiteral("/data/b.xlsx"));
    f.exports.ExportResultsToSpreadsheet(f.rows);
    QCOMPARE(f.spreadsheet.calls.constLast(), QStringLiteral("saveAs(/data/b.xlsx) failed"));
    QCOMPARE(f.dialogs.errors, (QStringList{"no spreadsheet program", "disk full"}));
    QCOMPARE(f.spreadsheet.applicationsAlive, 0);
}

void TestResultExports::spreadsheetThroughTheXlsxBackendFailsCleanly()
{
    Fixture f;
    f.findZedAndAdam();
    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("taken.xlsx")));
    XlsxSpreadsheet xlsx([&f](const QString &saved) { f.shell.openFile(saved); });
    ResultExports exports(f.dialogs, f.shell, xlsx, f.pump, nullptr);
    f.dialogs.saveAnswers.enqueue(folder.filePath(QStringLiteral("missing/out.xlsx")));
    f.dialogs.saveAnswers.enqueue(folder.filePath(QStringLiteral("taken.xlsx")));
    exports.ExportResultsToSpreadsheet(f.rows);
    exports.ExportResultsToSpreadsheet(f.rows);

    QCOMPARE(f.dialogs.errors.size(), 2);
    QVERIFY(f.shell.opened().isEmpty());
    QCOMPARE(entriesOf(folder.path()), QStringList{QStringLiteral("taken.xlsx")});
    QVERIFY(entriesOf(folder.filePath(QStringLiteral("taken.xlsx"))).isEmpty());
}

QTEST_MAIN(TestResultExports)
#include "tst_resultexports.moc"
