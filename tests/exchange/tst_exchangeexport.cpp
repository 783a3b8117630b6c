// The vCard and CSV writers, the choice of cards to export, where imports go,
// and the round trips export -> import.
#include "ImportTestUtil.h"

#include "CardExport.h"
#include "CsvWriter.h"
#include "FieldNames.h"
#include "VCardWriter.h"

#include "FieldCaptions.h"
#include "TestCards.h"

#include <QRandomGenerator>
#include <QTest>

using namespace kelvo;
using namespace kelvo::exchange;
using namespace kelvo::exchange::test;
using kelvo::testing::addCard;
using kelvo::testing::addClass;
using kelvo::testing::gb;

namespace {

QStringList storedFields(const CardNode *node)
{
    QStringList fields;
    for (int n = 1; n <= 13; ++n)
        fields.append(gb18030::decode(node->data()->field(n)));
    return fields;
}

QList<QByteArray> physicalLines(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class TestExchangeExport : public QObject
{
    Q_OBJECT

private slots:
    void vcard30OfOneCard();
    void vcard40Forms();
    void foldingKeepsUtf8SequencesWhole();
    void escaping();
    void csvOfCards();
    void choosingCards();
    void fileNameOfADraggedNode();
    void importTargetClass();
    void captionsMatchTheResultList();
    void roundTrips_data();
    void roundTrips();
    void roundTripOfAGeneratedTree();
};

void TestExchangeExport::vcard30OfOneCard()
{
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("客户, 北京"));
    const CardNode *card = addCard(tree, cls, QStringLiteral("张三"),
                                   {{2, "经理"},
                                    {3, "某某公司"},
                                    {4, "北京市中关村大街1号"},
                                    {5, "010-12345678"},
                                    {6, "010-1"},
                                    {7, "13900000000"},
                                    {8, "100080"},
                                    {9, "http://x.cn/a,b"},
                                    {10, "10001"},
                                    {11, "zs@live.cn"},
                                    {12, "zs@x.cn"},
                                    {13, "老客户; 常联系"}});
    const QByteArray expected = QStringLiteral("BEGIN:VCARD\r\n"
                                               "VERSION:3.0\r\n"
                                               "FN:张三\r\n"
                                               "N:张三;;;;\r\n"
                                               "TITLE:经理\r\n"
                                               "ORG:某某公司\r\n"
                                               "ADR;TYPE=WORK:;;北京市中关村大街1号;;;100080;\r\n"
                                               "TEL;TYPE=WORK,VOICE:010-12345678\r\n"
                                               "TEL;TYPE=WORK,FAX:010-1\r\n"
                                               "TEL;TYPE=CELL:13900000000\r\n"
                                               "URL:http://x.cn/a,b\r\n"
                                               "X-QQ:10001\r\n"
                                               "X-MSN:zs@live.cn\r\n"
                                               "EMAIL;TYPE=INTERNET:zs@x.cn\r\n"
                                               "NOTE:老客户\\; 常联系\r\n"
                                               "CATEGORIES:客户\\, 北京\r\n"
                                               "END:VCARD\r\n")
                                    .toUtf8();
    QCOMPARE(ExportCards({card}, ExportFormat::VCard30), expected);

    // Empty fields are left out, FN and N never.
    const CardNode *bare = addCard(tree, cls, QString());
    QCOMPARE(ExportCards({bare}, ExportFormat::VCard30),
             QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:\r\nN:;;;;\r\nCATEGORIES:\xE5\xAE\xA2\xE6\x88\xB7\\, "
                        "\xE5\x8C\x97\xE4\xBA\xAC\r\nEND:VCARD\r\n"));
}

void TestExchangeExport::vcard40Forms()
{
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("A"));
    const CardNode *card =
        addCard(tree, cls, QStringLiteral("Ann"), {{5, "1"}, {6, "2"}, {7, "3"}, {8, "9"}, {12, "a@x.cn"}});
    const QByteArray text = ExportCards({card}, ExportFormat::VCard40);
    QVERIFY(text.contains("\r\nVERSION:4.0\r\n"));
    QVERIFY(text.contains("\r\nADR;TYPE=work:;;;;;9;\r\n"));
    QVERIFY(text.contains("\r\nTEL;VALUE=text;TYPE=work,voice:1\r\n"));
    QVERIFY(text.contains("\r\nTEL;VALUE=text;TYPE=work,fax:2\r\n"));
    QVERIFY(text.contains("\r\nTEL;VALUE=text;TYPE=cell:3\r\n"));
    QVERIFY(text.contains("\r\nEMAIL:a@x.cn\r\n"));
    QCOMPARE(OnlyCard(ImportCards(text)), Fields({{1, "Ann"}, {5, "1"}, {6, "2"}, {7, "3"}, {8, "9"}, {12, "a@x.cn"}}));
}

void TestExchangeExport::foldingKeepsUtf8SequencesWhole()
{
    for (int prefix = 0; prefix < 4; ++prefix) {
        const QByteArray value = QByteArray(prefix, 'x') + QString(80, QChar(0x4E2D)).toUtf8();
        QByteArray out;
        AppendFoldedLine(out, "NOTE:" + value);
        QVERIFY(out.endsWith("\r\n"));
        const QList<QByteArray> lines = physicalLines(out);
        QVERIFY(lines.size() > 3);
        QByteArray unfolded;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QByteArray line = lines[i];
            QVERIFY(line.endsWith('\r'));
            line.chop(1);
            QVERIFY2(line.size() <= 75, line.constData());
            QVERIFY(line.isValidUtf8()); // no sequence is split
            if (i > 0) {
                QVERIFY(line.startsWith(' '));
                line.remove(0, 1);
            }
            unfolded += line;
        }
        QCOMPARE(unfolded, "NOTE:" + value);
    }
    QByteArray shortLine;
    AppendFoldedLine(shortLine, QByteArray(75, 'a'));
    QCOMPARE(shortLine, QByteArray(75, 'a') + "\r\n");
}

void TestExchangeExport::escaping()
{
    QCOMPARE(EscapeVCardText("a,b;c\\d\r\ne\nf"), QByteArray("a\\,b\\;c\\\\d\\ne\\nf"));
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("A"));
    // A damaged data file may hold line breaks even in a phone number: they
    // never end the content line.
    const CardNode *card = addCard(tree, cls, QStringLiteral("x"), {{5, "1\r\n2"}, {9, "http://a/b;c"}});
    const QByteArray text = ExportCards({card}, ExportFormat::VCard30);
    QVERIFY(text.contains("\r\nTEL;TYPE=WORK,VOICE:1\\n2\r\n"));
    QVERIFY(text.contains("\r\nURL:http://a/b;c\r\n"));
}

void TestExchangeExport::csvOfCards()
{
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("A"));
    const CardNode *a = addCard(tree, cls, QStringLiteral("张三"), {{3, "A, Inc."}, {13, "say \"hi\""}});
    const CardNode *b = addCard(tree, cls, QStringLiteral(" padded"), {{7, "139"}});
    const QByteArray text = ExportCards({a, b}, ExportFormat::Csv);
    QCOMPARE(text,
             QStringLiteral("\xFEFF"
                            "姓名,头衔,单位,地址,电话,传真,手机,邮编,网址,QQ,MSN,E_MAIL,其他信息\r\n"
                            "张三,,\"A, Inc.\",,,,,,,,,,\"say \"\"hi\"\"\"\r\n"
                            "\" padded\",,,,,,139,,,,,,\r\n")
                 .toUtf8());
    const ImportResult back = ImportCards(text);
    QCOMPARE(back.cards.size(), size_t(2));
    QCOMPARE(FieldsOf(back.cards[0]), storedFields(a));
}

void TestExchangeExport::choosingCards()
{
    CardTree tree;
    CardNode *a = addClass(tree, nullptr, QStringLiteral("A"));
    addCard(tree, a, QStringLiteral("a1"));
    CardNode *b = addClass(tree, a, QStringLiteral("B"));
    addCard(tree, b, QStringLiteral("b1"));
    addCard(tree, a, QStringLiteral("a2"));
    CardNode *c = addClass(tree, nullptr, QStringLiteral("C"));
    addCard(tree, c, QStringLiteral("c1"));
    CardNode *b2 = addClass(tree, c, QStringLiteral("B"));
    addCard(tree, b2, QStringLiteral("b2"));

    const auto names = [](const std::vector<const CardNode *> &cards) {
        QStringList list;
        for (const CardNode *card : cards)
            list.append(gb18030::decode(card->label()));
        return list;
    };
    QCOMPARE(names(AllCards(tree)), QStringList({"a1", "b1", "a2", "c1", "b2"}));
    QCOMPARE(names(CardsAt(a)), QStringList({"a1", "b1", "a2"}));
    QCOMPARE(FirstClassLabelled(tree, "B"), b);
    QCOMPARE(names(CardsAt(FirstClassLabelled(tree, "B"))), QStringList({"b1"}));
    QVERIFY(!FirstClassLabelled(tree, "b1")); // a card is no class
    QCOMPARE(names(CardsAt(b->firstChild())), QStringList({"b1"}));

    // Each card's CATEGORIES is its own class.
    const QByteArray text = ExportCards(CardsAt(a), ExportFormat::VCard30);
    QCOMPARE(text.count("CATEGORIES:A\r\n"), 2);
    QCOMPARE(text.count("CATEGORIES:B\r\n"), 1);
}

void TestExchangeExport::fileNameOfADraggedNode()
{
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("客户/北京"));
    QCOMPARE(VCardFileNameFor(*cls), QStringLiteral("客户_北京.vcf"));
    QCOMPARE(VCardFileNameFor(*addCard(tree, cls, QStringLiteral("  "))), QStringLiteral("名片.vcf"));
    QCOMPARE(VCardFileNameFor(*addCard(tree, cls, QStringLiteral("..hidden"))), QStringLiteral("hidden.vcf"));
}

void TestExchangeExport::importTargetClass()
{
    CardTree tree;
    CreateDefaultTree(tree);
    CardNode *work = addClass(tree, nullptr, QStringLiteral("工作"));
    addClass(tree, work, QStringLiteral("朋友")); // nested: does not count
    bool made = true;
    QCOMPARE(ImportTargetClass(tree, ReservedCardClassLabel(), &made), tree.topLevel(0));
    QVERIFY(!made);
    QCOMPARE(ImportTargetClass(tree, gb("工作"), &made), work);
    QVERIFY(!made);

    CardNode *friends = ImportTargetClass(tree, gb("朋友"), &made);
    QVERIFY(made);
    QCOMPARE(tree.topLevelCount(), 3);
    QCOMPARE(friends, tree.topLevel(2));
    QCOMPARE(friends->label(), gb("朋友"));
    QVERIFY(friends->isCardClass());
    QCOMPARE(friends->data()->name(), QByteArrayView(gb("朋友")));
    QCOMPARE(friends->displayIndexes(), (std::array<std::int32_t, 4>{0, 0, 0, 0}));

    // A card labelled so is no class.
    CardTree cards;
    CardNode *holder = addClass(cards, nullptr, QStringLiteral("x"));
    addCard(cards, holder, QStringLiteral("y"));
    QCOMPARE(ImportTargetClass(cards, gb("x")), holder);
}

void TestExchangeExport::captionsMatchTheResultList()
{
    for (int n = 1; n <= 13; ++n)
        QCOMPARE(KelvoFieldCaptions()[size_t(n - 1)], FieldCaption(n));
}

void TestExchangeExport::roundTrips_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("vCard 3.0") << int(ExportFormat::VCard30);
    QTest::newRow("vCard 4.0") << int(ExportFormat::VCard40);
    QTest::newRow("CSV") << int(ExportFormat::Csv);
}

void TestExchangeExport::roundTrips()
{
    QFETCH(int, format);
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("类"));
    std::vector<const CardNode *> cards;
    cards.push_back(addCard(tree, cls, QStringLiteral("张三"),
                            {{2, "经理"},
                             {3, "某某公司;分部"},
                             {4, "北京市, 海淀区"},
                             {5, "010-1"},
                             {6, "010-2"},
                             {7, "139"},
                             {8, "100080"},
                             {9, "http://x.cn/?a=1&b=2"},
                             {10, "10001"},
                             {11, "zs@live.cn"},
                             {12, "zs@x.cn"},
                             {13, "a\\b, c;d: e \"q\" ="}}));
    cards.push_back(addCard(tree, cls, QStringLiteral("Ann Lee"), {{13, QString(127, QChar(0x6587))}}));
    cards.push_back(addCard(tree, cls, QStringLiteral("x"), {{4, QString(250, u'a') + "bcdef"}}));
    cards.push_back(addCard(tree, cls, QStringLiteral("只有邮编"), {{8, "062701"}}));
    cards.push_back(addCard(tree, cls, QStringLiteral("€ ü 𠀀"), {{3, "Ünïcödé"}, {12, "ü@x.de"}}));

    const QByteArray text = ExportCards(cards, ExportFormat(format));
    const ImportResult back = ImportCards(text);
    QVERIFY2(back.ok(), qPrintable(back.error));
    QVERIFY2(back.messages.empty(), qPrintable(MessagesOf(back).join('\n')));
    QCOMPARE(back.cards.size(), cards.size());
    for (size_t i = 0; i < cards.size(); ++i)
        QCOMPARE(FieldsOf(back.cards[i]), storedFields(cards[i]));
}

void TestExchangeExport::roundTripOfAGeneratedTree()
{
    // Texts from random pieces of what cards hold, including every
    // character that vCard and CSV treat specially.
    static const char16_t *const pieces[] = {u"张", u"三", u"北京", u",", u";", u"\\", u":", u"\"", u"'",  u"=", u"a",
                                             u"Z",  u"0",  u"-",    u"@", u".", u"/",  u"ä", u"€",  u"𠀀", u"~"};
    QRandomGenerator random(7);
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("A"));
    std::vector<const CardNode *> cards;
    for (int i = 0; i < 200; ++i) {
        auto record = MakeCardRecord();
        for (int n = 1; n <= 13; ++n) {
            QString text;
            const int count = int(random.bounded(12));
            for (int k = 0; k < count; ++k)
                text += QString::fromUtf16(pieces[random.bounded(int(std::size(pieces)))]);
            text = text.trimmed();
            if (n == 1 && text.isEmpty())
                text = QStringLiteral("n");
            // Stored as the editors store text: trimmed. A leading URI
            // scheme of a phone or mail value is the one thing that does
            // not come back, so none is made here.
            record->setField(n, gb(text));
        }
        QByteArray label = record->name().toByteArray();
        cards.push_back(tree.addChild(cls, std::move(label), std::move(record)));
    }
    for (ExportFormat format : {ExportFormat::VCard30, ExportFormat::VCard40, ExportFormat::Csv}) {
        const ImportResult back = ImportCards(ExportCards(cards, format));
        QVERIFY2(back.messages.empty(), qPrintable(MessagesOf(back).join('\n')));
        QCOMPARE(back.cards.size(), cards.size());
        for (size_t i = 0; i < cards.size(); ++i)
            QCOMPARE(FieldsOf(back.cards[i]), storedFields(cards[i]));
    }
}

QTEST_GUILESS_MAIN(TestExchangeExport)
#include "tst_exchangeexport.moc"
