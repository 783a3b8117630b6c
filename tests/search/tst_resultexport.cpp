#include "CardText.h"
#include "FieldCaptions.h"
#include "Folding.h"
#include "MailLinkText.h"
#include "ResultExport.h"
#include "TestCards.h"

#include <QTest>

using namespace kelvo;
using namespace kelvo::testing;

namespace {

// The card text block of an empty card, written out byte for byte.
const QByteArray EmptyBlock = " \xd0\xd5\xc3\xfb:\r\n" // 姓名
                              " \xcd\xb7\xcf\xce:\r\n" // 头衔
                              " \xb5\xa5\xce\xbb:\r\n" // 单位
                              " \xb5\xd8\xd6\xb7:\r\n" // 地址
                              " \xb5\xe7\xbb\xb0:\r\n" // 电话
                              " \xb4\xab\xd5\xe6:\r\n" // 传真
                              " \xca\xd6\xbb\xfa:\r\n" // 手机
                              " \xd3\xca\xb1\xe0:\r\n" // 邮编
                              " \xcd\xf8\xd6\xb7:\r\n" // 网址
                              " QQ:\r\n"
                              " MSN:\r\n"
                              " E_Mail:\r\n"
                              " \xc6\xe4\xcb\xfb\xd0\xc5\xcf\xa2:"; // 其他信息

const QByteArray Head = "Kelvo--\xb2\xe9\xd1\xaf\xbd\xe1\xb9\xfb\r\n\r\n" // Kelvo--查询结果
                        "\xb1\xa3\xb4\xe6\xc8\xd5\xc6\xda\xa3\xba";       // 保存日期：

QByteArray countLine(int n) // 共有N张名片
{
    return "\xb9\xb2\xd3\xd0" + QByteArray::number(n) + "\xd5\xc5\xc3\xfb\xc6\xac\r\n\r\n";
}

QByteArray entryLine(int k) // 第k张:
{
    return "\xb5\xda" + QByteArray::number(k) + "\xd5\xc5:\r\n\r\n";
}

const QLocale chinese(QLocale::Chinese, QLocale::China);
const QDateTime morning(QDate(2024, 5, 6), QTime(7, 8, 9));

TResultRow rowFor(CardNode *node)
{
    TResultRow row;
    for (int n = Field::First; n <= Field::Last; ++n)
        row.Texts[static_cast<size_t>(n - 1)] = FoldText(node->data()->field(n));
    row.Card = node->data();
    row.Node = node;
    return row;
}

} // namespace

class TestResultExport : public QObject
{
    Q_OBJECT

private slots:
    void emptyCardBlock();
    void cardBlockKeepsStoredText();
    void captions();
    void dateText_data();
    void dateText();
    void textFileWithoutRows();
    void textFileWithRows();
    void textFileAtMidnight();
    void textFileSkipsDeletedCards();
    void mailText();
    void mailTextWithoutRows();
    void cardTextEscapedForMailLinks_data();
    void cardTextEscapedForMailLinks();
    void spreadsheetRows();
    void proposedFileName();
};

void TestResultExport::emptyCardBlock()
{
    TCardData card;
    card.Kind = Kind::Card;
    QCOMPARE(CardToText(card), EmptyBlock);
}

void TestResultExport::cardBlockKeepsStoredText()
{
    TCardData card;
    card.Kind = Kind::Card;
    card.setField(Field::Name, gb(QStringLiteral("张三")));
    card.setField(Field::DW, "Abc Ltd "); // neither trimmed nor upper-cased
    card.setField(Field::EMail, "zs@abc.cn&x?%41");
    card.setField(Field::Other, "line1\r\nline2");
    const QByteArray expected = " \xd0\xd5\xc3\xfb:\xd5\xc5\xc8\xfd\r\n"
                                " \xcd\xb7\xcf\xce:\r\n"
                                " \xb5\xa5\xce\xbb:Abc Ltd \r\n"
                                " \xb5\xd8\xd6\xb7:\r\n"
                                " \xb5\xe7\xbb\xb0:\r\n"
                                " \xb4\xab\xd5\xe6:\r\n"
                                " \xca\xd6\xbb\xfa:\r\n"
                                " \xd3\xca\xb1\xe0:\r\n"
                                " \xcd\xf8\xd6\xb7:\r\n"
                                " QQ:\r\n"
                                " MSN:\r\n"
                                " E_Mail:zs@abc.cn&x?%41\r\n"
                                " \xc6\xe4\xcb\xfb\xd0\xc5\xcf\xa2:line1\r\nline2";
    QCOMPARE(CardToText(card), expected);
}

void TestResultExport::captions()
{
    const QStringList expected{QStringLiteral("姓名"),    QStringLiteral("头衔"), QStringLiteral("单位"),
                               QStringLiteral("地址"),    QStringLiteral("电话"), QStringLiteral("传真"),
                               QStringLiteral("手机"),    QStringLiteral("邮编"), QStringLiteral("网址"),
                               QStringLiteral("QQ"),      QStringLiteral("MSN"),  QStringLiteral("E_MAIL"),
                               QStringLiteral("其他信息")};
    QCOMPARE(SpreadsheetHeader(), expected);
    QCOMPARE(FieldCaption(12), QStringLiteral("E_MAIL"));
    QVERIFY(FieldCaption(0).isEmpty());
    QVERIFY(FieldCaption(14).isEmpty());
}

void TestResultExport::dateText_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("text");

    const QLocale english(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("zh_CN") << chinese << morning << QStringLiteral("2024/5/6 07:08:09");
    QTest::newRow("en_US afternoon") << english << QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59))
                                     << QStringLiteral("12/31/24 11:59:59 PM");
    QTest::newRow("midnight") << chinese << QDateTime(QDate(2024, 5, 6), QTime(0, 0, 0)) << QStringLiteral("2024/5/6");
    QTest::newRow("midnight with milliseconds")
        << chinese << QDateTime(QDate(2024, 5, 6), QTime(0, 0, 0, 500)) << QStringLiteral("2024/5/6");
    QTest::newRow("one second past midnight")
        << chinese << QDateTime(QDate(2024, 5, 6), QTime(0, 0, 1)) << QStringLiteral("2024/5/6 00:00:01");
}

void TestResultExport::dateText()
{
    QFETCH(QLocale, locale);
    QFETCH(QDateTime, now);
    QFETCH(QString, text);
    QCOMPARE(ResultFileDateText(now, locale), text);
}

void TestResultExport::textFileWithoutRows()
{
    const QByteArray expected = Head + "2024/5/6 07:08:09\r\n\r\n" + countLine(0);
    QCOMPARE(ResultTextFileContent({}, morning, chinese), expected);
    QCOMPARE(ResultTextFileContent({}, morning, chinese).count("\r\n"), 6);
}

void TestResultExport::textFileWithRows()
{
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("x"));
    CardNode *adam = addCard(tree, cls, QStringLiteral("Adam"), {{Field::DW, QStringLiteral("Abc Ltd")}});
    CardNode *empty = addCard(tree, cls, QString());
    const std::vector<TResultRow> rows{rowFor(adam), rowFor(empty)};

    QByteArray adamBlock = EmptyBlock;
    adamBlock.replace(" \xd0\xd5\xc3\xfb:", " \xd0\xd5\xc3\xfb:Adam");
    adamBlock.replace(" \xb5\xa5\xce\xbb:", " \xb5\xa5\xce\xbb:Abc Ltd");
    const QByteArray expected = Head + "2024/5/6 07:08:09\r\n\r\n" + countLine(2) + entryLine(1) + adamBlock
        + "\r\n\r\n" + entryLine(2) + EmptyBlock + "\r\n\r\n";
    QCOMPARE(ResultTextFileContent(rows, morning, chinese), expected);

    // Another application title, and the card's current text (edited after the search).
    tree.setField(adam, Field::DW, "New Co");
    const QByteArray retitled = ResultTextFileContent(rows, morning, chinese, "Other");
    QVERIFY(retitled.startsWith("Other--\xb2\xe9\xd1\xaf"));
    QVERIFY(retitled.contains(" \xb5\xa5\xce\xbb:New Co\r\n"));
}

void TestResultExport::textFileAtMidnight()
{
    const QDateTime midnight(QDate(2024, 5, 6), QTime(0, 0, 0));
    QCOMPARE(ResultTextFileContent({}, midnight, chinese), Head + "2024/5/6\r\n\r\n" + countLine(0));
}

void TestResultExport::textFileSkipsDeletedCards()
{
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("x"));
    std::vector<TResultRow> rows{rowFor(addCard(tree, cls, QStringLiteral("A"))),
                                 rowFor(addCard(tree, cls, QStringLiteral("B")))};
    rows[0].Card = nullptr; // its card was deleted after the search
    rows[0].Node = nullptr;
    struct CountingPump : MessagePump
    {
        void pump() override { ++calls; }
        int calls = 0;
    } pump;
    const QByteArray content = ResultTextFileContent(rows, morning, chinese, "Kelvo", pump);
    QCOMPARE(pump.calls, 2);
    QVERIFY(content.contains(countLine(1) + entryLine(1) + " \xd0\xd5\xc3\xfb:B\r\n"));
    QVERIFY(!content.contains(entryLine(2)));
    QVERIFY(!ResultMailBytes(rows).contains(":A\r\n"));
}

void TestResultExport::mailText()
{
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("x"));
    CardNode *zhang = addCard(tree, cls, QStringLiteral("张三"), {{Field::EMail, QStringLiteral("z&s@x.cn")}});
    CardNode *bob = addCard(tree, cls, QStringLiteral("bob"));
    const std::vector<TResultRow> rows{rowFor(bob), rowFor(zhang)};

    QByteArray bobBlock = EmptyBlock;
    bobBlock.replace(" \xd0\xd5\xc3\xfb:", " \xd0\xd5\xc3\xfb:bob");
    QByteArray zhangBlock = EmptyBlock;
    zhangBlock.replace(" \xd0\xd5\xc3\xfb:", " \xd0\xd5\xc3\xfb:\xd5\xc5\xc8\xfd");
    zhangBlock.replace(" E_Mail:", " E_Mail:z%26s@x.cn"); // the card's '&' cannot end the body
    const QByteArray expected = "Mailto:?Subject=\xb2\xe9\xd5\xd2\xb5\xbd\xb5\xc4\xc3\xfb\xc6\xac&Body=" + bobBlock
        + "  %0d   " + zhangBlock + "  %0d   ";
    QCOMPARE(ResultMailBytes(rows), expected);
    QCOMPARE(ResultMailText(rows), gb18030::decode(expected));
}

void TestResultExport::mailTextWithoutRows()
{
    QCOMPARE(ResultMailText({}), QStringLiteral("Mailto:?Subject=查找到的名片&Body="));
    QCOMPARE(ResultMailBytes({}), QByteArray("Mailto:?Subject=\xb2\xe9\xd5\xd2\xb5\xbd\xb5\xc4\xc3\xfb\xc6\xac&Body="));
}

void TestResultExport::cardTextEscapedForMailLinks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("escaped");
    QTest::newRow("plain") << "zhang@example.cn"
                           << "zhang@example.cn";
    QTest::newRow("each of the six") << "%&#?=+"
                                     << "%25%26%23%3F%3D%2B";
    QTest::newRow("company") << "AT&T"
                             << "AT%26T";
    QTest::newRow("an escape of its own") << "%0d%41"
                                          << "%250d%2541";
    QTest::newRow("an added parameter") << "a@b.cn?bcc=x@y.cn"
                                        << "a@b.cn%3Fbcc%3Dx@y.cn";
    // Left to the shell layer, which makes the link a URI.
    QTest::newRow("blanks, line breaks, Chinese") << "张 三\r\n李四"
                                                  << "张 三\r\n李四";
    QTest::newRow("other punctuation") << "/:@;,[]<>\"'\\^`{|}~!$*()"
                                       << "/:@;,[]<>\"'\\^`{|}~!$*()";
    QTest::newRow("four-byte characters") << "😀€㐀"
                                          << "😀€㐀";
    QTest::newRow("empty") << ""
                           << "";
}

void TestResultExport::cardTextEscapedForMailLinks()
{
    QFETCH(QString, text);
    QFETCH(QString, escaped);
    QCOMPARE(EscapeCardTextForMailLink(text), escaped);
    // GB18030 bytes come out as the escaped text's bytes: no byte of a
    // Chinese character is mistaken for one of the six.
    QCOMPARE(EscapeCardTextForMailLink(gb18030::encode(text)), gb18030::encode(escaped));
}

void TestResultExport::spreadsheetRows()
{
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("x"));
    CardNode *card = addCard(tree, cls, QStringLiteral("张三"), {{Field::DW, QStringLiteral("Abc Ltd")}});
    std::vector<TResultRow> rows{rowFor(card)};
    tree.setField(card, Field::DW, "changed later");
    rows.push_back(rows[0]);
    rows[1].Card = nullptr; // the sheet shows the search-time texts, card or not

    const std::vector<QStringList> cells = SpreadsheetRows(rows);
    QCOMPARE(cells.size(), size_t(2));
    QStringList expected(13);
    expected[0] = QStringLiteral("张三");
    expected[2] = QStringLiteral("ABC LTD");
    QCOMPARE(cells[0], expected);
    QCOMPARE(cells[1], expected);
    QVERIFY(SpreadsheetRows({}).empty());
}

void TestResultExport::proposedFileName()
{
    const QByteArray condition = "  \xd5\xc5"; // two blanks, then 张
    QCOMPARE(ProposedResultFileName(condition), QByteArray("  \xd5\xc5\xb5\xc4\xb2\xe9\xd1\xaf\xbd\xe1\xb9\xfb"));
}

QTEST_GUILESS_MAIN(TestResultExport)
#include "tst_resultexport.moc"
