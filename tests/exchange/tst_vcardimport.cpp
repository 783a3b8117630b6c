// The vCard reader against small files of the shapes real programs write.
#include "ImportTestUtil.h"

#include "VCardReader.h"

#include <QTest>

using namespace kelvo;
using namespace kelvo::exchange;
using namespace kelvo::exchange::test;

namespace {

QByteArray crlf(const char *text)
{
    return QByteArray(text).replace("\n", "\r\n");
}

} // namespace

class TestVCardImport : public QObject
{
    Q_OBJECT

private slots:
    void lineStructure_data();
    void lineStructure();
    void quotedPrintableAndCharsets_data();
    void quotedPrintableAndCharsets();
    void undeclaredBytesThatAreNotUtf8ReadAsGb18030();
    void unknownCharsetIsReadAsUtf8AndReported();
    void base64DataIsPassedOver();
    void escapesAndStructuredValues();
    void parameterForms_data();
    void parameterForms();
    void preferredThenWorkThenFirst();
    void uriPrefixesAndInstantMessaging();
    void nameFallbacks_data();
    void nameFallbacks();
    void addresses_data();
    void addresses();
    void titleOrRole();
    void extraValuesGoToOtherWhileTheyFit();
    void cutFieldsAreReportedWithTheCardLine();
    void cardBoundaries();
    void unreadableAndEmptyCardsAreSkipped();
    void utf16File();
};

void TestVCardImport::lineStructure_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("note");

    QTest::newRow("CR LF") << crlf("BEGIN:VCARD\nVERSION:3.0\nFN:Ann Lee\nNOTE:hi\nEND:VCARD\n") << "Ann Lee"
                           << "hi";
    QTest::newRow("LF only") << QByteArray("BEGIN:VCARD\nVERSION:3.0\nFN:Ann Lee\nNOTE:hi\nEND:VCARD\n") << "Ann Lee"
                             << "hi";
    QTest::newRow("CR CR LF") << QByteArray("BEGIN:VCARD\r\r\nVERSION:3.0\r\r\nFN:Ann Lee\r\r\nNOTE:hi\r\r\n"
                                            "END:VCARD\r\r\n")
                              << "Ann Lee"
                              << "hi";
    QTest::newRow("mixed line ends") << QByteArray("BEGIN:VCARD\nVERSION:3.0\r\nFN:Ann Lee\r\r\nNOTE:hi\nEND:VCARD")
                                     << "Ann Lee"
                                     << "hi";
    QTest::newRow("lone CR") << QByteArray("BEGIN:VCARD\rFN:Ann Lee\rNOTE:hi\rEND:VCARD\r") << "Ann Lee"
                             << "hi";
    QTest::newRow("UTF-8 byte order mark") << QByteArray("\xEF\xBB\xBF"
                                                         "BEGIN:VCARD\nVERSION:3.0\nFN:Ann Lee\nNOTE:hi\nEND:VCARD\n")
                                           << "Ann Lee"
                                           << "hi";
    QTest::newRow("3.0 folding drops one blank")
        << crlf("BEGIN:VCARD\nVERSION:3.0\nFN:Ann\n  Lee\nNOTE:h\n\ti\nEND:VCARD\n") << "Ann Lee"
        << "hi";
    QTest::newRow("2.1 folding keeps the blank")
        << crlf("BEGIN:VCARD\nVERSION:2.1\nFN:Ann\n Lee\nNOTE:one\n two\nEND:VCARD\n") << "Ann Lee"
        << "one two";
    QTest::newRow("folded header") << crlf("BEGIN:VCARD\nVERSION:3.0\nFN:Ann Lee\nNOTE;LANGUAGE\n =en:hi\nEND:VCARD\n")
                                   << "Ann Lee"
                                   << "hi";
    QTest::newRow("colon inside a quoted parameter")
        << crlf("BEGIN:VCARD\nVERSION:4.0\nFN:Ann Lee\nNOTE;ALTID=\"x:1\";LANGUAGE=en:hi\nEND:VCARD\n") << "Ann Lee"
        << "hi";
    QTest::newRow("names in any letter case")
        << crlf("begin:vcard\nversion:3.0\nfn:Ann Lee\nNote:hi\nend:VCard\n") << "Ann Lee"
        << "hi";
    QTest::newRow("unknown properties ignored")
        << crlf("BEGIN:VCARD\nVERSION:3.0\nX-FOO;BAR=1:zzz\nFN:Ann Lee\nUID:1234\nREV:2020\nNOTE:hi\n"
                "CATEGORIES:Friends,Work\nEND:VCARD\n")
        << "Ann Lee"
        << "hi";
    QTest::newRow("junk and blank lines between properties")
        << crlf("BEGIN:VCARD\n\nVERSION:3.0\nthis line has no colon\nFN:Ann Lee\n\nNOTE:hi\nEND:VCARD\n") << "Ann Lee"
        << "hi";
}

void TestVCardImport::lineStructure()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, name);
    QFETCH(QString, note);
    const ImportResult result = ImportCards(file);
    QCOMPARE(OnlyCard(result), Fields({{1, name}, {13, note}}));
    QVERIFY2(result.messages.empty(), qPrintable(MessagesOf(result).join('\n')));
}

void TestVCardImport::quotedPrintableAndCharsets_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("name");

    QTest::newRow("QP UTF-8") << crlf("BEGIN:VCARD\nVERSION:2.1\nFN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:"
                                      "=E5=BC=A0=E4=B8=89\nEND:VCARD\n")
                              << "张三";
    QTest::newRow("QP soft break, continuation without blank")
        << crlf("BEGIN:VCARD\nVERSION:2.1\nFN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E5=BC=\n=A0=E4=B8=89\n"
                "END:VCARD\n")
        << "张三";
    QTest::newRow("QP soft break, several lines")
        << crlf("BEGIN:VCARD\nVERSION:2.1\nFN;ENCODING=QUOTED-PRINTABLE;CHARSET=utf-8:=E4=BD=A0=\n=E5=A5=BD=\n"
                "=E4=B8=96=E7=95=8C\nEND:VCARD\n")
        << "你好世界";
    QTest::newRow("bare QUOTED-PRINTABLE parameter, GBK")
        << crlf("BEGIN:VCARD\nVERSION:2.1\nFN;CHARSET=GBK;QUOTED-PRINTABLE:=D5=C5=C8=FD\nEND:VCARD\n") << "张三";
    QTest::newRow("QP GB2312") << crlf("BEGIN:VCARD\nVERSION:2.1\nFN;ENCODING=QUOTED-PRINTABLE;CHARSET=GB2312:"
                                       "=B1=B1=BE=A9=CA=D0\nEND:VCARD\n")
                               << "北京市";
    QTest::newRow("raw GBK with CHARSET") << QByteArray("BEGIN:VCARD\r\nVERSION:2.1\r\nFN;CHARSET=GBK:\xD5\xC5\xC8\xFD"
                                                        "\r\nEND:VCARD\r\n")
                                          << "张三";
    QTest::newRow("raw GB18030") << QByteArray("BEGIN:VCARD\r\nFN;CHARSET=GB18030:\xC0\xEE\xCB\xC4\r\nEND:VCARD\r\n")
                                 << "李四";
    QTest::newRow("Big5") << QByteArray("BEGIN:VCARD\r\nFN;CHARSET=BIG5:\xA5\x78\xA5\x5F\r\nEND:VCARD\r\n") << "台北";
    QTest::newRow("Shift_JIS") << QByteArray("BEGIN:VCARD\r\nFN;CHARSET=SHIFT_JIS:\x8E\x52\x93\x63\r\nEND:VCARD\r\n")
                               << "山田";
    QTest::newRow("ISO-8859-1") << QByteArray("BEGIN:VCARD\r\nFN;CHARSET=ISO-8859-1:Jos\xE9\r\nEND:VCARD\r\n")
                                << "José";
    QTest::newRow("windows-1252") << QByteArray("BEGIN:VCARD\r\nFN;CHARSET=windows-1252:\x80 5\r\nEND:VCARD\r\n")
                                  << "€ 5";
    QTest::newRow("plain UTF-8") << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:\xE7\x8E\x8B\xE4\xBA\x94\r\n"
                                               "END:VCARD\r\n")
                                 << "王五";
}

void TestVCardImport::quotedPrintableAndCharsets()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, name);
    const ImportResult result = ImportCards(file);
    QCOMPARE(OnlyCard(result), Fields({{1, name}}));
    QVERIFY2(result.messages.empty(), qPrintable(MessagesOf(result).join('\n')));
}

void TestVCardImport::undeclaredBytesThatAreNotUtf8ReadAsGb18030()
{
    // An old Chinese phone: GBK bytes, no CHARSET anywhere.
    // The whole file decides: "谢伟" in GBK (D0 BB CE B0) happens to be
    // valid UTF-8, and is still read as GBK.
    const QByteArray file("BEGIN:VCARD\r\nVERSION:2.1\r\nN:\xD5\xC5;\xC8\xFD\r\nTEL;CELL:13800000000\r\n"
                          "ORG:\xD0\xBB\xCE\xB0\r\nNOTE:\xC4\xE3\xBA\xC3\r\nEND:VCARD\r\n");
    QCOMPARE(OnlyCard(ImportCards(file)), Fields({{1, "张三"}, {3, "谢伟"}, {7, "13800000000"}, {13, "你好"}}));

    // Declared values do not make the rest GB18030: UTF-8 stays UTF-8.
    const QByteArray mixed("BEGIN:VCARD\r\nFN;CHARSET=GBK:\xD5\xC5\xC8\xFD\r\nNOTE:\xE4\xBD\xA0\xE5\xA5\xBD\r\n"
                           "END:VCARD\r\n");
    QCOMPARE(OnlyCard(ImportCards(mixed)), Fields({{1, "张三"}, {13, "你好"}}));
    QVERIFY(UndeclaredVCardTextIsUtf8(mixed));
    QVERIFY(!UndeclaredVCardTextIsUtf8(file));

    // A quoted-printable value without CHARSET whose bytes are not UTF-8.
    const QByteArray qp("BEGIN:VCARD\r\nFN;ENCODING=QUOTED-PRINTABLE:=D5=C5=C8=FD\r\nEND:VCARD\r\n");
    QCOMPARE(OnlyCard(ImportCards(qp)), Fields({{1, "张三"}}));
}

void TestVCardImport::unknownCharsetIsReadAsUtf8AndReported()
{
    const QByteArray file("BEGIN:VCARD\r\nVERSION:2.1\r\nFN;CHARSET=X-MARTIAN:Ann \xE7\x8E\x8B\r\nEND:VCARD\r\n");
    const ImportResult result = ImportCards(file);
    QCOMPARE(OnlyCard(result), Fields({{1, "Ann 王"}}));
    QCOMPARE(MessagesOf(result), QStringList({"1: unknown charset \"X-MARTIAN\" on line 3: read as UTF-8"}));
}

void TestVCardImport::base64DataIsPassedOver()
{
    // vCard 2.1 as phones write it: base64 lines, indented or not, ended by a
    // blank line (also with a bare BASE64 parameter); then 3.0's folded "b"
    // data and a 4.0 data URI.
    const QByteArray file = crlf("BEGIN:VCARD\nVERSION:2.1\nFN:Ann Lee\nPHOTO;ENCODING=BASE64;TYPE=JPEG:\n"
                                 "    /9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAgGBgcGBQgHBwcJCQgKDBQNDAsLDBkSEw8UHRo\n"
                                 "fHh0aHBwgJC4nICIsIxwcKDcpLDAxNDQ0Hyc5PTgyPC4zNDL/2wBDAQkJCQwLDBgNDRgyIRwh\n"
                                 "MjIyMjIyMjIyMjIyMjIyMjIyMjIyMjIyMjIyMjIyMjIyMjIyMjIyMjIyMjIyMjIyMjI=\n"
                                 "\nTEL;CELL:139\nLOGO;GIF;BASE64:R0lGODlhAQABAIAAAP///wAAACw=\n"
                                 "AAAAAAEAAQAAAgJEAQA7\n\nEND:VCARD\n"
                                 "BEGIN:VCARD\nVERSION:3.0\nFN:Bo\nPHOTO;ENCODING=b;TYPE=JPEG:MIICajCCAdOgAwIBAgIC\n"
                                 " BAAwSDELMAkGA1UEBhMCVVMxFDASBgNVBAoTC0V4YW1wbGUgQ29tLjEPMA0G\n"
                                 " A1UECxMGUGVvcGxlMRAwDgYDVQQDEwdFeGFtcGxlMB4XDTk5MDMxMDA=\nEMAIL:bo@example.com\n"
                                 "END:VCARD\n"
                                 "BEGIN:VCARD\nVERSION:4.0\nFN:Cy\nPHOTO:data:image/png;base64,iVBORw0KGgoAAAANSU\n"
                                 " hEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kgAAAABJRU5ErkJggg==\n"
                                 "NOTE:after\nEND:VCARD\n");
    const ImportResult result = ImportCards(file);
    QCOMPARE(result.cards.size(), size_t(3));
    QCOMPARE(FieldsOf(result.cards[0]), Fields({{1, "Ann Lee"}, {7, "139"}}));
    QCOMPARE(FieldsOf(result.cards[1]), Fields({{1, "Bo"}, {12, "bo@example.com"}}));
    QCOMPARE(FieldsOf(result.cards[2]), Fields({{1, "Cy"}, {13, "after"}}));
    QVERIFY2(result.messages.empty(), qPrintable(MessagesOf(result).join('\n')));

    // A photo larger than the line bound is no reason to skip a card.
    QByteArray big = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Big\r\nPHOTO;ENCODING=b:";
    for (int i = 0; i < 40000; ++i)
        big += QByteArray(74, 'A') + "\r\n ";
    big += "AA==\r\nNOTE:kept\r\nEND:VCARD\r\n";
    QCOMPARE(OnlyCard(ImportCards(big)), Fields({{1, "Big"}, {13, "kept"}}));

    // Base64 on a property that has a field is reported, not decoded.
    const ImportResult encoded =
        ImportCards(crlf("BEGIN:VCARD\nVERSION:3.0\nFN:Di\nNOTE;ENCODING=b:aGVsbG8=\nnote;base64:aGVsbG8=\n"
                         "END:VCARD\n"));
    QCOMPARE(OnlyCard(encoded), Fields({{1, "Di"}}));
    QCOMPARE(
        MessagesOf(encoded),
        QStringList({"1: NOTE on line 4 dropped: it is base64 data", "1: NOTE on line 5 dropped: it is base64 data"}));
}

void TestVCardImport::escapesAndStructuredValues()
{
    const QByteArray file = crlf("BEGIN:VCARD\nVERSION:3.0\nFN:Lee\\, Ann\nORG:Acme\\; Sons;Sales\\\\Support;\n"
                                 "NOTE:line one\\nline two\\Nthree \\:ok\\\nEND:VCARD\n");
    const ImportResult result = ImportCards(file);
    // Line breaks in a value become one blank; an unknown escape keeps its
    // character; ORG's components are joined by a blank.
    QCOMPARE(OnlyCard(result),
             Fields({{1, "Lee, Ann"}, {3, "Acme; Sons Sales\\Support"}, {13, "line one line two three :ok\\"}}));

    QCOMPARE(UnescapeVCardText(u"a\\,b\\;c\\\\d\\ne\\:f"), QStringLiteral("a,b;c\\d\ne:f"));
    QCOMPARE(UnescapeVCardUri(u"http://x/a\\,b\\c"), QStringLiteral("http://x/a,b\\c"));
    const QList<QStringView> parts = SplitVCardComponents(u"a\\;b;;c");
    QCOMPARE(parts.size(), 3);
    QCOMPARE(parts[0].toString(), QStringLiteral("a\\;b"));
    QCOMPARE(parts[2].toString(), QStringLiteral("c"));
}

void TestVCardImport::parameterForms_data()
{
    QTest::addColumn<QByteArray>("tel");
    QTest::addColumn<int>("field");

    QTest::newRow("2.1 bare CELL") << QByteArray("TEL;CELL:555") << 7;
    QTest::newRow("2.1 bare FAX and WORK") << QByteArray("TEL;WORK;FAX:555") << 6;
    QTest::newRow("TYPE=CELL,VOICE") << QByteArray("TEL;TYPE=CELL,VOICE:555") << 7;
    QTest::newRow("quoted TYPE list") << QByteArray("TEL;TYPE=\"cell,voice\":555") << 7;
    QTest::newRow("repeated TYPE") << QByteArray("TEL;TYPE=work;TYPE=fax:555") << 6;
    QTest::newRow("lower case") << QByteArray("tel;type=cell:555") << 7;
    QTest::newRow("group") << QByteArray("item1.TEL;type=CELL:555") << 7;
    QTest::newRow("voice is the phone") << QByteArray("TEL;TYPE=WORK,VOICE:555") << 5;
    QTest::newRow("no type is the phone") << QByteArray("TEL:555") << 5;
    QTest::newRow("4.0 uri") << QByteArray("TEL;VALUE=uri;TYPE=cell:tel:555") << 7;
    QTest::newRow("iPhone") << QByteArray("TEL;type=IPHONE;type=pref:555") << 7;
}

void TestVCardImport::parameterForms()
{
    QFETCH(QByteArray, tel);
    QFETCH(int, field);
    const QByteArray file = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:X\r\n" + tel + "\r\nEND:VCARD\r\n";
    QCOMPARE(OnlyCard(ImportCards(file)), Fields({{1, "X"}, {field, "555"}}));
}

void TestVCardImport::preferredThenWorkThenFirst()
{
    const QByteArray file = crlf("BEGIN:VCARD\nVERSION:3.0\nFN:X\nTEL;TYPE=HOME:1\nTEL;TYPE=WORK:2\n"
                                 "EMAIL;TYPE=HOME:h@x.cn\nEMAIL;TYPE=WORK:w@x.cn\nEMAIL;TYPE=INTERNET,PREF:p@x.cn\n"
                                 "TEL;TYPE=CELL:3\nTEL;TYPE=CELL;PREF=1:4\nEND:VCARD\n");
    // The others are kept in field 13, in file order.
    QCOMPARE(
        OnlyCard(ImportCards(file)),
        Fields({{1, "X"}, {5, "2"}, {7, "4"}, {12, "p@x.cn"}, {13, "TEL: 1; EMAIL: h@x.cn; EMAIL: w@x.cn; TEL: 3"}}));

    const QByteArray first = crlf("BEGIN:VCARD\nFN:X\nEMAIL:a@x.cn\nEMAIL:b@x.cn\nEND:VCARD\n");
    QCOMPARE(OnlyCard(ImportCards(first)), Fields({{1, "X"}, {12, "a@x.cn"}, {13, "EMAIL: b@x.cn"}}));
}

void TestVCardImport::uriPrefixesAndInstantMessaging()
{
    const QByteArray file = crlf("BEGIN:VCARD\nVERSION:4.0\nFN:X\nTEL;VALUE=uri:tel:+86-10-1234\n"
                                 "EMAIL:mailto:x@y.cn\nIMPP:x-qq:10001\nIMPP;PREF=1:msnim:x@live.cn\n"
                                 "IMPP:skype:xyz\nURL:http://x.cn/a,b\nEND:VCARD\n");
    QCOMPARE(OnlyCard(ImportCards(file)),
             Fields({{1, "X"},
                     {5, "+86-10-1234"},
                     {9, "http://x.cn/a,b"},
                     {10, "10001"},
                     {11, "x@live.cn"},
                     {12, "x@y.cn"},
                     {13, "IMPP: skype:xyz"}}));

    const QByteArray legacy = crlf("BEGIN:VCARD\nVERSION:2.1\nFN:Y\nX-QQ:qq:20002\nX-MS-IMADDRESS:y@hotmail.com\n"
                                   "END:VCARD\nBEGIN:VCARD\nVERSION:3.0\nFN:Z\nX-MSN:msn:z@msn.com\n"
                                   "IMPP;X-SERVICE-TYPE=QQ:x-apple:30003\nEND:VCARD\n");
    const ImportResult result = ImportCards(legacy);
    QCOMPARE(result.cards.size(), size_t(2));
    QCOMPARE(FieldsOf(result.cards[0]), Fields({{1, "Y"}, {10, "20002"}, {11, "y@hotmail.com"}}));
    QCOMPARE(FieldsOf(result.cards[1]), Fields({{1, "Z"}, {10, "30003"}, {11, "z@msn.com"}}));
}

void TestVCardImport::nameFallbacks_data()
{
    QTest::addColumn<QByteArray>("properties");
    QTest::addColumn<QString>("name");

    QTest::newRow("FN before N") << QByteArray("N:Lee;Ann\r\nFN:Dr. Ann Lee\r\n") << "Dr. Ann Lee";
    QTest::newRow("N Western") << QByteArray("N:Lee;Ann;;;\r\n") << "Ann Lee";
    QTest::newRow("N Western with middle name and suffix") << QByteArray("N:Lee;Ann;Q.;;Jr.\r\n") << "Ann Q. Lee Jr.";
    QTest::newRow("N CJK, no blank") << QByteArray("N:\xE5\xBC\xA0;\xE4\xB8\x89;;;\r\n") << "张三";
    QTest::newRow("N CJK given only in Chinese") << QByteArray("N:Wong;\xE4\xB8\x89\r\n") << "Wong三";
    QTest::newRow("ORG") << QByteArray("ORG:Acme;Sales\r\nEMAIL:a@b.cn\r\n") << "Acme Sales";
    QTest::newRow("EMAIL") << QByteArray("EMAIL:a@b.cn\r\nTEL:1\r\n") << "a@b.cn";
    QTest::newRow("first TEL") << QByteArray("TEL;FAX:2\r\nTEL;CELL:1\r\n") << "2";
    QTest::newRow("empty FN falls back") << QByteArray("FN:\r\nN:;Bo\r\n") << "Bo";
    QTest::newRow("nothing for the name") << QByteArray("NOTE:only a note\r\n") << "<新名片>";
}

void TestVCardImport::nameFallbacks()
{
    QFETCH(QByteArray, properties);
    QFETCH(QString, name);
    const QByteArray file = "BEGIN:VCARD\r\nVERSION:3.0\r\n" + properties + "END:VCARD\r\n";
    const ImportResult result = ImportCards(file);
    QCOMPARE(result.cards.size(), size_t(1));
    QCOMPARE(FieldsOf(result.cards[0]).at(0), name);
    QCOMPARE(gb18030::decode(result.cards[0].label), name);
    QCOMPARE(result.cards[0].data->Kind, Kind::Card);
    QCOMPARE(result.cards[0].displayIndexes, (std::array<std::int32_t, 4>{1, 1, 1, 1}));
}

void TestVCardImport::addresses_data()
{
    QTest::addColumn<QByteArray>("properties");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("postcode");
    QTest::addColumn<QString>("other");

    QTest::newRow("Western order with blanks")
        << QByteArray("ADR;TYPE=WORK:PO Box 7;Suite 3;1 Main St;Springfield;IL;62701;USA\r\n")
        << "PO Box 7 Suite 3 1 Main St Springfield IL USA"
        << "62701"
        << "";
    QTest::newRow("CJK order without blanks")
        << QByteArray("ADR:;;\xE4\xB8\xAD\xE5\x85\xB3\xE6\x9D\x91\xE5\xA4\xA7\xE8\xA1\x97 1\xE5\x8F\xB7;"
                      "\xE5\x8C\x97\xE4\xBA\xAC\xE5\xB8\x82;;100080;\xE4\xB8\xAD\xE5\x9B\xBD\r\n")
        << "中国北京市中关村大街 1号"
        << "100080"
        << "";
    QTest::newRow("work before home, home kept")
        << QByteArray("ADR;TYPE=HOME:;;1 Home Rd;;;111;\r\nADR;TYPE=WORK:;;2 Office St;;;222;\r\n") << "2 Office St"
        << "222"
        << "ADR: 1 Home Rd 111";
    QTest::newRow("LABEL without ADR") << QByteArray("LABEL;TYPE=WORK:2 Office St\\nSpringfield\r\n")
                                       << "2 Office St Springfield"
                                       << ""
                                       << "";
    QTest::newRow("LABEL beside ADR is passed over")
        << QByteArray("LABEL:somewhere else\r\nADR:;;2 Office St;;;;\r\n") << "2 Office St"
        << ""
        << "";
    QTest::newRow("postcode only") << QByteArray("ADR:;;;;;62701;\r\n") << ""
                                   << "62701"
                                   << "";
}

void TestVCardImport::addresses()
{
    QFETCH(QByteArray, properties);
    QFETCH(QString, address);
    QFETCH(QString, postcode);
    QFETCH(QString, other);
    const QByteArray file = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:X\r\n" + properties + "END:VCARD\r\n";
    QCOMPARE(OnlyCard(ImportCards(file)), Fields({{1, "X"}, {4, address}, {8, postcode}, {13, other}}));
}

void TestVCardImport::titleOrRole()
{
    QCOMPARE(OnlyCard(ImportCards(crlf("BEGIN:VCARD\nFN:X\nROLE:Manager\nEND:VCARD\n"))),
             Fields({{1, "X"}, {2, "Manager"}}));
    QCOMPARE(OnlyCard(ImportCards(crlf("BEGIN:VCARD\nFN:X\nROLE:Manager\nTITLE:CEO\nEND:VCARD\n"))),
             Fields({{1, "X"}, {2, "CEO"}, {13, "ROLE: Manager"}}));
}

void TestVCardImport::extraValuesGoToOtherWhileTheyFit()
{
    const QByteArray file = crlf("BEGIN:VCARD\nVERSION:3.0\nFN:X\nNOTE:met at the fair\nNICKNAME:Xo\n"
                                 "BDAY:1990-01-02\nNOTE:second note\nEND:VCARD\n");
    QCOMPARE(OnlyCard(ImportCards(file)),
             Fields({{1, "X"}, {13, "met at the fair; NICKNAME: Xo; BDAY: 1990-01-02; NOTE: second note"}}));

    // 60 e-mail addresses: the first takes field 12, the others fill field
    // 13 while it has room; each one that does not fit is reported.
    QByteArray many = "\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nFN:Many\r\n";
    for (int i = 0; i < 60; ++i)
        many += QStringLiteral("EMAIL:user%1@example.com\r\n").arg(i, 2, 10, QLatin1Char('0')).toLatin1();
    many += "END:VCARD\r\n";
    const ImportResult result = ImportCards(many);
    const QStringList fields = OnlyCard(result);
    QCOMPARE(fields.at(11), QStringLiteral("user00@example.com"));
    // "EMAIL: userNN@example.com" is 25 bytes, "; " joins: 9 fit in 255.
    QCOMPARE(fields.at(12).count(QStringLiteral("EMAIL: ")), 9);
    QVERIFY(fields.at(12).toUtf8().size() <= 255);
    QVERIFY(fields.at(12).endsWith(QStringLiteral("EMAIL: user09@example.com")));
    const QStringList messages = MessagesOf(result);
    QVERIFY(!messages.isEmpty());
    QCOMPARE(messages.first(),
             QStringLiteral("2: EMAIL \"user10@example.com\" dropped: no room left in field 13 (other)"));
    // The report stays short: per-card lines are bounded, the rest counted.
    QVERIFY(messages.size() <= 32);
    QVERIFY(messages.last().contains(QStringLiteral("more values dropped")));
}

void TestVCardImport::cutFieldsAreReportedWithTheCardLine()
{
    // 100 Chinese characters are 200 bytes of GB18030 and 300 of UTF-8;
    // 130 are 260 bytes: cut after 127 whole characters.
    const QString longName = QString(130, QChar(0x5F20));
    const QByteArray file = "BEGIN:VCARD\r\nFN:short\r\nEND:VCARD\r\n\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nFN:"
        + longName.toUtf8() + "\r\nNOTE:" + QString(100, QChar(0x5F20)).toUtf8() + "\r\nEND:VCARD\r\n";
    const ImportResult result = ImportCards(file);
    QCOMPARE(result.cards.size(), size_t(2));
    QCOMPARE(result.cards[1].data->field(Field::Name).size(), 254);
    QCOMPARE(FieldsOf(result.cards[1]).at(0), QString(127, QChar(0x5F20)));
    QCOMPARE(result.cards[1].label, result.cards[1].data->field(Field::Name).toByteArray());
    QCOMPARE(FieldsOf(result.cards[1]).at(12), QString(100, QChar(0x5F20)));
    QCOMPARE(MessagesOf(result), QStringList({"5: field 1 (name) cut at 255 bytes"}));
}

void TestVCardImport::cardBoundaries()
{
    // A missing END:VCARD in the middle and at the end; text outside cards;
    // a vCard 2.1 AGENT card inside a card.
    const QByteArray file = crlf("garbage before\nBEGIN:VCARD\nFN:One\nBEGIN:VCARD\nFN:Two\nAGENT:\nBEGIN:VCARD\n"
                                 "FN:Agent\nEND:VCARD\nTEL:2\nEND:VCARD\nbetween\nBEGIN:VCARD\nFN:Three\n");
    const ImportResult result = ImportCards(file);
    QCOMPARE(result.cards.size(), size_t(3));
    QCOMPARE(FieldsOf(result.cards[0]), Fields({{1, "One"}}));
    QCOMPARE(FieldsOf(result.cards[1]), Fields({{1, "Two"}, {5, "2"}}));
    QCOMPARE(FieldsOf(result.cards[2]), Fields({{1, "Three"}}));
}

void TestVCardImport::unreadableAndEmptyCardsAreSkipped()
{
    QByteArray file = crlf("BEGIN:VCARD\nVERSION:3.0\nFN:Kept\nEND:VCARD\nBEGIN:VCARD\nVERSION:3.0\nUID:1\n"
                           "CATEGORIES:x\nEND:VCARD\nBEGIN:VCARD\nVERSION:3.0\nFN:Long\nNOTE:");
    file += QByteArray((1 << 20) + 10, 'x');
    file += "\r\nEND:VCARD\r\nBEGIN:VCARD\r\nFN:After\r\nEND:VCARD\r\n";
    const ImportResult result = ImportCards(file);
    QVERIFY(result.ok());
    QCOMPARE(result.cards.size(), size_t(2));
    QCOMPARE(FieldsOf(result.cards[0]).at(0), QStringLiteral("Kept"));
    QCOMPARE(FieldsOf(result.cards[1]).at(0), QStringLiteral("After"));
    QCOMPARE(result.skipped, 2);
    QCOMPARE(MessagesOf(result),
             QStringList({"5: card skipped: it holds no text for any field",
                          "10: card skipped: line 13 is longer than 1 MB after unfolding"}));

    const ImportResult none = ImportCards("just text\r\nno cards\r\n");
    QVERIFY(!none.ok()); // read as CSV: a header without records
    const ImportResult emptyCard = ImportCards("BEGIN:VCARD\r\nEND:VCARD\r\n");
    QVERIFY(emptyCard.ok());
    QCOMPARE(emptyCard.skipped, 1);
    QVERIFY(emptyCard.cards.empty());
}

void TestVCardImport::utf16File()
{
    const QString text =
        QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:张三\r\nNOTE;CHARSET=UTF-8:你好\r\nEND:VCARD\r\n");
    QByteArray le("\xFF\xFE");
    QByteArray be("\xFE\xFF");
    for (QChar c : text) {
        le.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
        be.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xFF));
    }
    QCOMPARE(DetectExchangeFormat(le), ExchangeFormat::VCard);
    QCOMPARE(OnlyCard(ImportCards(le)), Fields({{1, "张三"}, {13, "你好"}}));
    QCOMPARE(OnlyCard(ImportCards(be)), Fields({{1, "张三"}, {13, "你好"}}));
    // Without its mark too.
    QCOMPARE(OnlyCard(ImportCards(le.sliced(2))), Fields({{1, "张三"}, {13, "你好"}}));

    // GB18030's own mark: values without a CHARSET are GB18030.
    const QByteArray gb("\x84\x31\x95\x33"
                        "BEGIN:VCARD\r\nFN:\xD5\xC5\xC8\xFD\r\nEND:VCARD\r\n");
    QCOMPARE(DetectExchangeFormat(gb), ExchangeFormat::VCard);
    QCOMPARE(OnlyCard(ImportCards(gb)), Fields({{1, "张三"}}));

    // Inside the file, U+FEFF is a character of its value.
    QCOMPARE(OnlyCard(ImportCards(QByteArray("BEGIN:VCARD\r\nFN:\xEF\xBB\xBF"
                                             "Ann\r\nEND:VCARD\r\n"))),
             Fields({{1, QStringLiteral("\uFEFFAnn")}}));
}

QTEST_GUILESS_MAIN(TestVCardImport)
#include "tst_vcardimport.moc"
