// The CSV reader: RFC 4180 records, encodings, delimiters and the headers of
// the programs people export contacts from.
#include "ImportTestUtil.h"

#include "CsvLayouts.h"
#include "CsvParser.h"

#include <QStringEncoder>
#include <QTest>

using namespace kelvo;
using namespace kelvo::exchange;
using namespace kelvo::exchange::test;

namespace {

QByteArray gbk(const QString &text)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

QByteArray utf16(const QString &text, bool littleEndian)
{
    QByteArray out = littleEndian ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF");
    for (QChar c : text) {
        const char low = char(c.unicode() & 0xFF);
        const char high = char(c.unicode() >> 8);
        if (littleEndian)
            out.append(low).append(high);
        else
            out.append(high).append(low);
    }
    return out;
}

std::vector<CsvRecord> parseAll(QByteArrayView text, char delimiter = ',')
{
    CsvParser parser(text, delimiter);
    std::vector<CsvRecord> records;
    CsvRecord record;
    while (parser.next(record))
        records.push_back(record);
    return records;
}

} // namespace

class TestCsvImport : public QObject
{
    Q_OBJECT

private slots:
    void recordsFollowRfc4180();
    void brokenRecords();
    void delimiterFromTheHeader_data();
    void delimiterFromTheHeader();
    void encodings_data();
    void encodings();
    void kelvoHeaderInAnyOrder();
    void googleOlderLayout();
    void googleNewerLayout();
    void outlookEnglish();
    void outlookChineseSalutationIsNoTitle();
    void outlookChineseNewerNames_data();
    void outlookChineseNewerNames();
    void thunderbirdEnglish();
    void thunderbirdChineseWorkColumnsCount();
    void unknownHeaderIsRefusedWithItsColumns();
    void columnsMappedByHand();
    void noHeaderTakesFieldOrder();
    void blankAndEmptyRecords();
};

void TestCsvImport::recordsFollowRfc4180()
{
    const auto records = parseAll("a,\"b,1\",\"say \"\"hi\"\"\"\r\n"
                                  "\"two\r\nlines\",x\"y,\"q\"tail\n"
                                  "\n\n"
                                  "last,,\r"
                                  "end");
    QCOMPARE(records.size(), size_t(4));
    QCOMPARE(records[0].cells, QStringList({"a", "b,1", "say \"hi\""}));
    QCOMPARE(records[0].line, 1);
    QCOMPARE(records[1].cells, QStringList({"two\r\nlines", "x\"y", "qtail"}));
    QCOMPARE(records[1].line, 2);
    QCOMPARE(records[2].cells, QStringList({"last", "", ""}));
    QCOMPARE(records[2].line, 6);
    QCOMPARE(records[3].cells, QStringList({"end"}));
    QCOMPARE(records[3].line, 7);
    for (const CsvRecord &record : records)
        QVERIFY(!record.broken);
}

void TestCsvImport::brokenRecords()
{
    const auto unclosed = parseAll("a,b\n1,\"never\nclosed,2\n3,4\n");
    QCOMPARE(unclosed.size(), size_t(2));
    QVERIFY(unclosed[1].broken);
    QCOMPARE(unclosed[1].problem, ImportMessage::Kind::QuoteNotClosed);
    QCOMPARE(unclosed[1].problemLine, 2);

    QByteArray huge = "a,b\n";
    huge += QByteArray((1 << 20) + 5, 'x') + ",y\nok,1\n";
    const auto long_ = parseAll(huge);
    QCOMPARE(long_.size(), size_t(3));
    QVERIFY(long_[1].broken);
    QCOMPARE(long_[1].problem, ImportMessage::Kind::RecordTooLong);
    QVERIFY(long_[1].cells.isEmpty());
    QCOMPARE(long_[2].cells, QStringList({"ok", "1"}));

    QByteArray wide = "a\n" + QByteArray(5000, ',') + "\n";
    const auto many = parseAll(wide);
    QVERIFY(many[1].broken);
    QCOMPARE(many[1].problem, ImportMessage::Kind::TooManyColumns);

    // Through the import: the record is skipped with its line, the rest read.
    const ImportResult result = ImportCards(QByteArray("姓名,电话\n张三,1\n\"李四,2\n"));
    QCOMPARE(result.cards.size(), size_t(1));
    QCOMPARE(result.skipped, 1);
    QCOMPARE(MessagesOf(result), QStringList({"3: record skipped: the quoted cell opened on line 3 is never closed"}));
}

void TestCsvImport::delimiterFromTheHeader_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("comma") << QByteArray("姓名,手机,其他信息\n张三,139,\"a;b\"\n");
    QTest::newRow("semicolon") << QByteArray("姓名;手机;其他信息\n张三;139;\"a;b\"\n");
    QTest::newRow("tab") << QByteArray("姓名\t手机\t其他信息\n张三\t139\ta;b\n");
    QTest::newRow("quoted commas do not count") << QByteArray("\"姓名\";\"手机\";\"其他信息\"\n张三;139;\"a;b\"\n");
    QTest::newRow("Excel's sep= line") << QByteArray("sep=;\r\n姓名;手机;其他信息\r\n张三;139;\"a;b\"\r\n");
}

void TestCsvImport::delimiterFromTheHeader()
{
    QFETCH(QByteArray, file);
    const ImportResult result = ImportCards(file);
    QCOMPARE(OnlyCard(result), Fields({{1, "张三"}, {7, "139"}, {13, "a;b"}}));
}

void TestCsvImport::encodings_data()
{
    QTest::addColumn<QByteArray>("file");
    const QString text = QStringLiteral("姓名,地址\r\n张三,北京市\r\n");
    QTest::newRow("UTF-8") << text.toUtf8();
    QTest::newRow("UTF-8 with mark") << "\xEF\xBB\xBF" + text.toUtf8();
    QTest::newRow("UTF-16 LE") << utf16(text, true);
    QTest::newRow("UTF-16 BE") << utf16(text, false);
    QTest::newRow("GB18030 (Chinese Excel)") << gbk(text);
    QTest::newRow("GB18030 with its mark") << "\x84\x31\x95\x33" + gbk(text);
}

void TestCsvImport::encodings()
{
    QFETCH(QByteArray, file);
    QCOMPARE(OnlyCard(ImportCards(file)), Fields({{1, "张三"}, {4, "北京市"}}));
}

void TestCsvImport::kelvoHeaderInAnyOrder()
{
    const QByteArray file("\xEF\xBB\xBF"
                          "E_MAIL,邮编,姓名,,地址,头衔\r\na@b.cn,100080,张三,ignored,中关村,经理\r\n");
    const ImportResult result = ImportCards(file);
    QCOMPARE(OnlyCard(result), Fields({{1, "张三"}, {2, "经理"}, {4, "中关村"}, {8, "100080"}, {12, "a@b.cn"}}));
    const std::optional<CsvHeader> header = RecognizeCsvHeader({"姓名", "头衔"});
    QVERIFY(header);
    QCOMPARE(header->layout, CsvLayout::Kelvo);
    // One foreign caption and the header is no longer Kelvo's.
    QVERIFY(!RecognizeCsvHeader({"姓名", "头衔", "公司"})
            || RecognizeCsvHeader({"姓名", "头衔", "公司"})->layout != CsvLayout::Kelvo);
}

void TestCsvImport::googleOlderLayout()
{
    const QByteArray file =
        "Name,Given Name,Additional Name,Family Name,Nickname,Birthday,Notes,Group Membership,E-mail 1 - Type,"
        "E-mail 1 - Value,E-mail 2 - Type,E-mail 2 - Value,Phone 1 - Type,Phone 1 - Value,Phone 2 - Type,"
        "Phone 2 - Value,Address 1 - Type,Address 1 - Formatted,Address 1 - Street,Address 1 - City,"
        "Address 1 - Postal Code,Address 1 - Country,Organization 1 - Type,Organization 1 - Name,"
        "Organization 1 - Title,Website 1 - Type,Website 1 - Value,IM 1 - Type,IM 1 - Service,IM 1 - Value\r\n"
        "Ann Lee,Ann,,Lee,Annie,1990-01-02,\"likes\ntea\",* myContacts ::: Friends,* Home,ann@home.cn,Work,"
        "ann@work.cn,Mobile,139 ::: 138,Work Fax,010-2,Work,\"1 Main St\nSpringfield\",1 Main St,Springfield,"
        "62701,USA,,Acme,CEO,Profile,http://ann.cn,Other,QQ,10001\r\n"
        ",Bo,,Wong,,,,* myContacts,,,,,Work,010-1,,,,,,,,,,,,,,,,\r\n";
    const ImportResult result = ImportCards(file);
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.cards.size(), size_t(2));
    QCOMPARE(FieldsOf(result.cards[0]),
             Fields({{1, "Ann Lee"},
                     {2, "CEO"},
                     {3, "Acme"},
                     {4, "1 Main St Springfield USA"},
                     {6, "010-2"},
                     {7, "139"},
                     {8, "62701"},
                     {9, "http://ann.cn"},
                     {10, "10001"},
                     {12, "ann@home.cn"},
                     {13,
                      "likes tea; Nickname: Annie; Birthday: 1990-01-02; E-mail 2 - Value: ann@work.cn; "
                      "Phone 1 - Value: 138"}}));
    // Without a whole name, the name parts make it.
    QCOMPARE(FieldsOf(result.cards[1]), Fields({{1, "Bo Wong"}, {5, "010-1"}}));
}

void TestCsvImport::googleNewerLayout()
{
    const QByteArray file =
        "\xEF\xBB\xBF"
        "First Name,Middle Name,Last Name,Phonetic First Name,Nickname,File As,Organization Name,"
        "Organization Title,Organization Department,Birthday,Notes,Photo,Labels,E-mail 1 - Label,E-mail 1 - Value,"
        "Phone 1 - Label,Phone 1 - Value,Phone 2 - Label,Phone 2 - Value,Address 1 - Label,Address 1 - Street,"
        "Address 1 - City,Address 1 - Region,Address 1 - Postal Code,Address 1 - Country,Website 1 - Label,"
        "Website 1 - Value\r\n"
        "三,,张,San,,,某某公司,经理,销售部,,,,* myContacts,* Work,zs@x.cn,Mobile,13900000000,Work,010-12345678,"
        "Work,中关村大街1号,北京市,,100080,中国,,http://x.cn\r\n";
    QCOMPARE(OnlyCard(ImportCards(file)),
             Fields({{1, "张三"},
                     {2, "经理"},
                     {3, "某某公司"},
                     {4, "中国北京市中关村大街1号"},
                     {5, "010-12345678"},
                     {7, "13900000000"},
                     {8, "100080"},
                     {9, "http://x.cn"},
                     {12, "zs@x.cn"},
                     {13, "Organization Department: 销售部"}}));
}

void TestCsvImport::outlookEnglish()
{
    const QByteArray file =
        "Title,First Name,Middle Name,Last Name,Suffix,Company,Department,Job Title,Business Street,"
        "Business City,Business State,Business Postal Code,Business Country/Region,Home Street,Home City,"
        "Assistant's Phone,Business Fax,Business Phone,Home Phone,Mobile Phone,Pager,Categories,E-mail Address,"
        "E-mail Type,E-mail Display Name,E-mail 2 Address,Gender,Notes,Priority,Private,Sensitivity,Web Page\r\n"
        "Mr.,John,Q,Public,Jr.,Acme,Sales,Manager,1 Main St,Springfield,IL,62701,USA,9 Elm St,Shelbyville,"
        "555-9,555-2,555-1,555-3,555-4,555-5,Business,john@acme.com,SMTP,John Public (john@acme.com),"
        "jq@home.com,Unspecified,A note,Normal,False,Normal,www.acme.com\r\n";
    QCOMPARE(OnlyCard(ImportCards(file)),
             Fields({{1, "John Q Public Jr."},
                     {2, "Manager"},
                     {3, "Acme"},
                     {4, "1 Main St Springfield IL USA"},
                     {5, "555-1"},
                     {6, "555-2"},
                     {7, "555-4"},
                     {8, "62701"},
                     {9, "www.acme.com"},
                     {12, "john@acme.com"},
                     {13,
                      "A note; Title: Mr.; Department: Sales; Home Address: 9 Elm St Shelbyville; "
                      "Assistant's Phone: 555-9; Home Phone: 555-3; Pager: 555-5; E-mail 2 Address: jq@home.com"}}));
}

void TestCsvImport::outlookChineseSalutationIsNoTitle()
{
    const QByteArray file = gbk(QStringLiteral(
        "头衔,名,中间名,姓,后缀,单位,部门,职务,商务地址 街道,商务地址 市/县,商务地址 省/市/自治区,商务地址 邮政编码,"
        "商务地址 国家/地区,商务传真,商务电话,移动电话,电子邮件地址,电子邮件类型,附注,网页,敏感度\r\n"
        "先生,三,,张,,某某公司,销售部,经理,中关村大街1号,海淀区,北京市,100080,中国,010-2,010-1,139,zs@x.cn,SMTP,"
        "老客户,http://x.cn,普通\r\n"));
    QCOMPARE(OnlyCard(ImportCards(file)),
             Fields({{1, "张三"},
                     {2, "经理"},
                     {3, "某某公司"},
                     {4, "中国北京市海淀区中关村大街1号"},
                     {5, "010-1"},
                     {6, "010-2"},
                     {7, "139"},
                     {8, "100080"},
                     {9, "http://x.cn"},
                     {12, "zs@x.cn"},
                     {13, "老客户; 头衔: 先生; 部门: 销售部"}}));
}

// A contact as a newer Chinese Outlook exports it: the header names are the
// newer ones ("名字", "姓氏", "职位", "公司街道", "住宅所在街道", "手机",
// "备注"), the file in the system's code page (GBK).
void TestCsvImport::outlookChineseNewerNames_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("expected");
    QTest::newRow("name") << 1 << QStringLiteral("张三");
    QTest::newRow("job title, not the salutation") << 2 << QStringLiteral("经理");
    QTest::newRow("company") << 3 << QStringLiteral("某某公司");
    QTest::newRow("business address") << 4 << QStringLiteral("中国北京市海淀区中关村大街1号A座501");
    QTest::newRow("business phone") << 5 << QStringLiteral("010-1");
    QTest::newRow("business fax") << 6 << QStringLiteral("010-2");
    QTest::newRow("mobile") << 7 << QStringLiteral("139");
    QTest::newRow("business postcode") << 8 << QStringLiteral("100080");
    QTest::newRow("web page") << 9 << QStringLiteral("http://x.cn");
    QTest::newRow("QQ") << 10 << QString();
    QTest::newRow("MSN") << 11 << QString();
    QTest::newRow("e-mail") << 12 << QStringLiteral("zs@x.cn");
    QTest::newRow("notes, then what has no field of its own")
        << 13
        << QStringLiteral("老客户; 头衔: 先生; 部门: 销售部; 住宅地址: 中国上海市家里路1号; 商务电话 2: 010-3; "
                          "家庭电话: 021-5; 寻呼机: 128; 电子邮件 2 地址: zs@home.cn; 生日: 1980/5/4");
}

void TestCsvImport::outlookChineseNewerNames()
{
    QFETCH(int, field);
    QFETCH(QString, expected);
    const QByteArray file = gbk(QStringLiteral(
        "头衔,名字,中间名,姓氏,后缀,公司,部门,职位,公司街道,公司所在街道 2,公司城市,公司省份,公司邮编,"
        "公司国家/地区,住宅所在街道,住宅所在城市,住宅所在国家/地区,公司传真,公司电话,商务电话 2,家庭电话,手机,寻呼机,"
        "电子邮件地址,电子邮件类型,电子邮件显示名,电子邮件 2 地址,备注,网页,生日,类别,性别,敏感度\r\n"
        "先生,三,,张,,某某公司,销售部,经理,中关村大街1号,A座501,海淀区,北京市,100080,中国,家里路1号,上海市,中国,"
        "010-2,010-1,010-3,021-5,139,128,zs@x.cn,SMTP,张三 (zs@x.cn),zs@home.cn,老客户,http://x.cn,1980/5/4,,"
        "未指定,普通\r\n"));
    const ImportResult result = ImportCards(file);
    QVERIFY2(result.ok(), qPrintable(result.error));
    const QStringList fields = OnlyCard(result);
    QCOMPARE(fields.size(), 13);
    QCOMPARE(fields.at(field - 1), expected);
}

void TestCsvImport::thunderbirdEnglish()
{
    const QByteArray file =
        "First Name,Last Name,Display Name,Nickname,Primary Email,Secondary Email,Screen Name,Work Phone,Home Phone,"
        "Fax Number,Pager Number,Mobile Number,Home Address,Home Address 2,Home City,Home State,Home ZipCode,"
        "Home Country,Work Address,Work Address 2,Work City,Work State,Work ZipCode,Work Country,Job Title,"
        "Department,Organization,Web Page 1,Web Page 2,Birth Year,Birth Month,Birth Day,Custom 1,Custom 2,Custom 3,"
        "Custom 4,Notes,\r\n"
        "Ann,Lee,Ann Lee,,ann@x.cn,ann2@x.cn,,555-1,555-0,555-2,,555-3,9 Elm St,,Shelbyville,,111,,1 Main St,"
        "Floor 2,Springfield,IL,62701,USA,CEO,,Acme,http://acme.cn,http://ann.cn,,,,,,,,hello,\r\n";
    QCOMPARE(OnlyCard(ImportCards(file)),
             Fields({{1, "Ann Lee"},
                     {2, "CEO"},
                     {3, "Acme"},
                     {4, "1 Main St Floor 2 Springfield IL USA"},
                     {5, "555-1"},
                     {6, "555-2"},
                     {7, "555-3"},
                     {8, "62701"},
                     {9, "http://acme.cn"},
                     {12, "ann@x.cn"},
                     {13,
                      "hello; Secondary Email: ann2@x.cn; Home Phone: 555-0; Home Address: 9 Elm St Shelbyville "
                      "111; Web Page 2: http://ann.cn"}}));
}

void TestCsvImport::thunderbirdChineseWorkColumnsCount()
{
    // Home and work columns share "城市", "省/自治区/直辖市", "邮政编码" and
    // "国家": the second of each pair is the work one.
    const QByteArray file =
        QStringLiteral(
            "名字,姓氏,显示名称,昵称,主要电子邮件,备用电子邮件,工作电话,家庭电话,传真号码,寻呼机号码,移动电话号码,"
            "家庭地址,"
            "家庭地址 2,城市,省/自治区/直辖市,邮政编码,国家,工作地址,工作地址 "
            "2,城市,省/自治区/直辖市,邮政编码,国家,职务,部门,"
            "公司,网页 1,网页 2,出生年份,出生月份,出生日,定制 1,定制 2,定制 3,定制 4,注释\r\n"
            "三,张,,,zs@x.cn,,010-1,,,,139,家里路1号,,上海市,,200000,中国,中关村大街1号,,北京市,,100080,中国,经理,,"
            "某某公司,,,,,,,,,,\r\n")
            .toUtf8();
    QCOMPARE(OnlyCard(ImportCards(file)),
             Fields({{1, "张三"},
                     {2, "经理"},
                     {3, "某某公司"},
                     {4, "中国北京市中关村大街1号"},
                     {5, "010-1"},
                     {7, "139"},
                     {8, "100080"},
                     {12, "zs@x.cn"},
                     {13, "家庭地址: 中国上海市家里路1号 200000"}}));
}

void TestCsvImport::unknownHeaderIsRefusedWithItsColumns()
{
    const ImportResult result = ImportCards(QByteArray("名字,公司名称,手机号\n张三,某某公司,139\n"));
    QVERIFY(!result.ok());
    QVERIFY(result.cards.empty());
    QVERIFY2(result.error.contains(QStringLiteral("\"名字\", \"公司名称\", \"手机号\"")), qPrintable(result.error));
    QVERIFY(result.error.contains(QStringLiteral("--map \"COLUMN=N\"")));
    QVERIFY(result.error.contains(QStringLiteral("--no-header")));
    QCOMPARE(result.problem, ImportResult::Problem::CsvHeader);
    QCOMPARE(result.csvColumns, QStringList({"名字", "公司名称", "手机号"}));
}

void TestCsvImport::columnsMappedByHand()
{
    CsvOptions options;
    options.maps = {{"名字", 1}, {"手机号", 7}, {"2", 0}};
    // ("名字" and "备注" together would be Chinese Outlook's header.)
    const ImportResult result = ImportCards(QByteArray("名字,公司名称,手机号,说明\n张三,某某公司,139,x\n"), options);
    QVERIFY2(result.ok(), qPrintable(result.error));
    // Column 2 is passed over (0); an unmapped column is an extra value.
    QCOMPARE(OnlyCard(result), Fields({{1, "张三"}, {7, "139"}, {13, "说明: x"}}));

    options.maps = {{"nosuch", 1}};
    const ImportResult missing = ImportCards(QByteArray("名字,公司名称\n张三,x\n"), options);
    QVERIFY(!missing.ok());
    QVERIFY2(missing.error.contains(QStringLiteral("\"nosuch\"")), qPrintable(missing.error));

    // A map also overrides a known layout's column.
    options.maps = {{"Notes", 2}};
    QCOMPARE(OnlyCard(ImportCards(QByteArray("Display Name,Primary Email,Notes\nAnn,a@x.cn,CTO\n"), options)),
             Fields({{1, "Ann"}, {2, "CTO"}, {12, "a@x.cn"}}));

    QCOMPARE(ParseCsvColumnMap(QStringLiteral("手机=7"))->field, 7);
    QCOMPARE(ParseCsvColumnMap(QStringLiteral("a=b=13"))->column, QStringLiteral("a=b"));
    QVERIFY(!ParseCsvColumnMap(QStringLiteral("x=14")));
    QVERIFY(!ParseCsvColumnMap(QStringLiteral("=3")));
    QVERIFY(!ParseCsvColumnMap(QStringLiteral("x")));
}

void TestCsvImport::noHeaderTakesFieldOrder()
{
    CsvOptions options;
    options.noHeader = true;
    const ImportResult result = ImportCards(QByteArray("张三,经理,某某公司,,010-1,,,,,,,,note,extra\n李四\n"), options);
    QCOMPARE(result.cards.size(), size_t(2));
    QCOMPARE(FieldsOf(result.cards[0]),
             Fields({{1, "张三"}, {2, "经理"}, {3, "某某公司"}, {5, "010-1"}, {13, "note; column 14: extra"}}));
    QCOMPARE(FieldsOf(result.cards[1]), Fields({{1, "李四"}}));

    options.maps = {{"2", 12}};
    QCOMPARE(OnlyCard(ImportCards(QByteArray("张三,zs@x.cn\n"), options)), Fields({{1, "张三"}, {12, "zs@x.cn"}}));
}

void TestCsvImport::blankAndEmptyRecords()
{
    // Rows of empty cells (spreadsheets leave them) are no cards; a row whose
    // only text is in passed-over columns is a card without text.
    const ImportResult result =
        ImportCards(QByteArray("First Name,E-mail Address,Sensitivity\r\n,,\r\nAnn,,\r\n , ,\r\n,,Normal\r\n"));
    QCOMPARE(result.cards.size(), size_t(1));
    QCOMPARE(result.skipped, 1);
    QCOMPARE(MessagesOf(result), QStringList({"5: card skipped: it holds no text for any field"}));

    const ImportResult headerOnly = ImportCards(QByteArray("姓名,电话\r\n"));
    QVERIFY(!headerOnly.ok());
    QCOMPARE(headerOnly.problem, ImportResult::Problem::NoCard);
}

QTEST_GUILESS_MAIN(TestCsvImport)
#include "tst_csvimport.moc"
