// The reading of WebDAV/CardDAV answers: crafted multistatus bodies as real
// servers write them (other prefixes, default namespaces, properties split over
// several propstats, status after the properties) and hostile ones.
#include "DavXml.h"

#include <QTest>

using namespace kelvo::sync;

class TestDavXml : public QObject
{
    Q_OBJECT
private slots:
    void multistatus_data();
    void multistatus();
    void refused_data();
    void refused();
    void deepAndLarge();
    void statusLine_data();
    void statusLine();
    void errorConditions_data();
    void errorConditions();
};

namespace {

// A response written with one set of prefixes, for the rows.
QByteArray wrap(const QByteArray &inner, const QByteArray &root = "<D:multistatus xmlns:D=\"DAV:\" "
                                                                   "xmlns:C=\"urn:ietf:params:xml:ns:carddav\">")
{
    QByteArray closing = "</D:multistatus>";
    if (!root.startsWith("<D:")) {
        const QByteArray name = root.mid(1, root.indexOf(' ') - 1);
        closing = "</" + name + ">";
    }
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>" + root + inner + closing;
}

} // namespace

void TestDavXml::multistatus_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<int>("responses");
    QTest::addColumn<QString>("href");      // of the first response
    QTest::addColumn<QByteArray>("etag");   // of the first response
    QTest::addColumn<int>("status");        // the first response's own status
    QTest::addColumn<QByteArray>("data");   // its address data
    QTest::addColumn<QByteArray>("token");  // the top-level sync token
    QTest::addColumn<bool>("addressBook");

    QTest::newRow("D prefix, etag and data") << wrap(
        "<D:response><D:href>/u/b/a.vcf</D:href><D:propstat><D:prop><D:getetag>\"1\"</D:getetag>"
        "<C:address-data>BEGIN:VCARD\nEND:VCARD\n</C:address-data></D:prop>"
        "<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>")
                                             << 1 << "/u/b/a.vcf" << QByteArray("\"1\"") << 0
                                             << QByteArray("BEGIN:VCARD\nEND:VCARD\n") << QByteArray() << false;
    // Xandikos writes ns0/ns1 and the status before the properties.
    QTest::newRow("ns0 prefix, status first") << wrap(
        "<ns0:response><ns0:href>/x.vcf</ns0:href><ns0:propstat><ns0:status>HTTP/1.1 200 OK</ns0:status>"
        "<ns0:prop><ns0:getetag>W/\"z\"</ns0:getetag></ns0:prop></ns0:propstat></ns0:response>",
        "<ns0:multistatus xmlns:ns0=\"DAV:\" xmlns:ns1=\"urn:ietf:params:xml:ns:carddav\">")
                                               << 1 << "/x.vcf" << QByteArray("W/\"z\"") << 0 << QByteArray()
                                               << QByteArray() << false;
    // Radicale: DAV: as the default namespace.
    QTest::newRow("default namespace") << wrap(
        "<response><href>/b/</href><propstat><prop><resourcetype><CR:addressbook/><collection/></resourcetype>"
        "</prop><status>HTTP/1.1 200 OK</status></propstat></response><sync-token>tok-9</sync-token>",
        "<multistatus xmlns=\"DAV:\" xmlns:CR=\"urn:ietf:params:xml:ns:carddav\">")
                                        << 1 << "/b/" << QByteArray() << 0 << QByteArray() << QByteArray("tok-9")
                                        << true;
    // The same local names in another namespace are not DAV's.
    QTest::newRow("foreign namespace ignored") << wrap(
        "<D:response><D:href>/a</D:href><D:propstat><D:prop><X:getetag xmlns:X=\"urn:other\">\"no\"</X:getetag>"
        "<X:addressbook xmlns:X=\"DAV:\"/></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>")
                                                << 1 << "/a" << QByteArray() << 0 << QByteArray() << QByteArray()
                                                << false;
    QTest::newRow("removed member") << wrap(
        "<D:response><D:href>/gone.vcf</D:href><D:status>HTTP/1.1 404 Not Found</D:status></D:response>"
        "<D:sync-token>http://example/ns/sync/2</D:sync-token>")
                                     << 1 << "/gone.vcf" << QByteArray() << 404 << QByteArray()
                                     << QByteArray("http://example/ns/sync/2") << false;
    // Properties under a 404 propstat are not there.
    QTest::newRow("404 propstat") << wrap(
        "<D:response><D:href>/a</D:href><D:propstat><D:prop><D:getetag>\"1\"</D:getetag></D:prop>"
        "<D:status>HTTP/1.1 404 Not Found</D:status></D:propstat></D:response>")
                                   << 1 << "/a" << QByteArray() << 0 << QByteArray() << QByteArray() << false;
    QTest::newRow("missing fields") << wrap("<D:response><D:href>/a</D:href></D:response><D:response>"
                                            "<D:href>/b</D:href><D:propstat/></D:response>")
                                     << 2 << "/a" << QByteArray() << 0 << QByteArray() << QByteArray() << false;
    QTest::newRow("empty multistatus") << wrap("") << 0 << QString() << QByteArray() << 0 << QByteArray()
                                        << QByteArray() << false;
    // Escaped markup and CDATA in address data; the entities XML itself
    // defines are expanded.
    QTest::newRow("entities and CDATA") << wrap(
        "<D:response><D:href>/a%20b.vcf</D:href><D:propstat><D:prop><C:address-data>NOTE:a&amp;b&lt;c&gt;"
        "<![CDATA[&x;]]></C:address-data></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>"
        "</D:response>")
                                         << 1 << "/a%20b.vcf" << QByteArray() << 0 << QByteArray("NOTE:a&b<c>&x;")
                                         << QByteArray() << false;
    QTest::newRow("chinese text") << wrap(QStringLiteral(
        "<D:response><D:href>/名片.vcf</D:href><D:propstat><D:prop><C:address-data>FN:张三</C:address-data>"
        "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>").toUtf8())
                                   << 1 << QStringLiteral("/名片.vcf") << QByteArray() << 0
                                   << QStringLiteral("FN:张三").toUtf8() << QByteArray() << false;
    // A property split over two propstats (one found, one not).
    QTest::newRow("split propstats") << wrap(
        "<D:response><D:href>/b/</D:href><D:propstat><D:prop><D:resourcetype><D:collection/></D:resourcetype>"
        "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat><D:propstat><D:prop><C:addressbook/>"
        "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat><D:propstat><D:prop><D:getetag/></D:prop>"
        "<D:status>HTTP/1.1 404 Not Found</D:status></D:propstat></D:response>")
                                      << 1 << "/b/" << QByteArray() << 0 << QByteArray() << QByteArray() << false;
}

void TestDavXml::multistatus()
{
    QFETCH(QByteArray, xml);
    QFETCH(int, responses);
    QFETCH(QString, href);
    QFETCH(QByteArray, etag);
    QFETCH(int, status);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, token);
    QFETCH(bool, addressBook);
    QString error;
    const auto parsed = parseMultistatus(xml, &error);
    QVERIFY2(parsed, qPrintable(error));
    QCOMPARE(parsed->responses.size(), responses);
    QCOMPARE(parsed->syncToken, token);
    QCOMPARE(parsed->hasSyncToken, !token.isEmpty());
    if (responses == 0)
        return;
    const DavResponse &r = parsed->responses.first();
    QCOMPARE(r.href, href);
    QCOMPARE(r.etag, etag);
    QCOMPARE(r.hasEtag, !etag.isEmpty());
    QCOMPARE(r.status, status);
    QCOMPARE(r.addressData, data);
    QCOMPARE(r.isAddressBook, addressBook);
}

void TestDavXml::refused_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not xml") << QByteArray("<html><body>Bad Gateway</body></html>");
    QTest::newRow("unclosed") << QByteArray("<D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>/a</D:href>");
    QTest::newRow("prefix without namespace") << QByteArray("<D:multistatus><D:response/></D:multistatus>");
    QTest::newRow("wrong root namespace") << QByteArray("<D:multistatus xmlns:D=\"urn:x\"/>");
    QTest::newRow("response without href")
        << wrap("<D:response><D:status>HTTP/1.1 200 OK</D:status></D:response>");
    // Entity expansion ("billion laughs") and external entities: no document
    // type is accepted at all.
    QTest::newRow("entity bomb") << QByteArray(
        "<?xml version=\"1.0\"?><!DOCTYPE m [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]><D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>&c;"
        "</D:href></D:response></D:multistatus>");
    QTest::newRow("external entity") << QByteArray(
        "<?xml version=\"1.0\"?><!DOCTYPE m [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
        "<D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>&x;</D:href></D:response></D:multistatus>");
    QTest::newRow("undeclared entity") << wrap("<D:response><D:href>&nbsp;</D:href></D:response>");
    QTest::newRow("two roots") << QByteArray("<D:multistatus xmlns:D=\"DAV:\"/><D:multistatus xmlns:D=\"DAV:\"/>");
}

void TestDavXml::refused()
{
    QFETCH(QByteArray, xml);
    QString error;
    QVERIFY(!parseMultistatus(xml, &error));
    QVERIFY(!error.isEmpty());
}

void TestDavXml::deepAndLarge()
{
    // Nesting far deeper than any answer: refused, without running out of stack.
    QByteArray deep = "<D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>/a</D:href>";
    for (int i = 0; i < 100000; ++i)
        deep += "<x>";
    QString error;
    QVERIFY(!parseMultistatus(deep, &error));
    QVERIFY(error.contains(QLatin1String("deep")));

    // Many responses: all read, in order.
    QByteArray many = "<D:multistatus xmlns:D=\"DAV:\">";
    for (int i = 0; i < 20000; ++i)
        many += "<D:response><D:href>/b/" + QByteArray::number(i)
                + ".vcf</D:href><D:propstat><D:prop><D:getetag>\"" + QByteArray::number(i)
                + "\"</D:getetag></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>";
    many += "</D:multistatus>";
    const auto parsed = parseMultistatus(many, &error);
    QVERIFY2(parsed, qPrintable(error));
    QCOMPARE(parsed->responses.size(), 20000);
    QCOMPARE(parsed->responses.at(12345).href, QStringLiteral("/b/12345.vcf"));
    QCOMPARE(parsed->responses.at(12345).etag, QByteArray("\"12345\""));

    // One huge text (a card with a large photo) is kept whole.
    const QByteArray photo(8 << 20, 'A');
    const auto big = parseMultistatus(
        wrap("<D:response><D:href>/p.vcf</D:href><D:propstat><D:prop><C:address-data>" + photo
             + "</C:address-data></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>"),
        &error);
    QVERIFY2(big, qPrintable(error));
    QCOMPARE(big->responses.first().addressData.size(), photo.size());
}

void TestDavXml::statusLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("status");
    QTest::newRow("ok") << "HTTP/1.1 200 OK" << 200;
    QTest::newRow("no reason") << "HTTP/1.1 404" << 404;
    QTest::newRow("spaces") << "  HTTP/1.1 507 Insufficient Storage \n" << 507;
    QTest::newRow("http2") << "HTTP/2 412 Precondition Failed" << 412;
    QTest::newRow("garbage") << "OK" << 0;
    QTest::newRow("four digits") << "HTTP/1.1 2000 OK" << 0;
    QTest::newRow("letters") << "HTTP/1.1 2x0 OK" << 0;
    QTest::newRow("out of range") << "HTTP/1.1 999 What" << 0;
    QTest::newRow("empty") << "" << 0;
}

void TestDavXml::statusLine()
{
    QFETCH(QString, line);
    QFETCH(int, status);
    QCOMPARE(parseStatusLine(line), status);
}

void TestDavXml::errorConditions_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QStringList>("conditions");
    QTest::newRow("valid-sync-token") << QByteArray("<?xml version=\"1.0\"?><error xmlns=\"DAV:\"><valid-sync-token/>"
                                                    "</error>")
                                      << QStringList{QStringLiteral("{DAV:}valid-sync-token")};
    QTest::newRow("prefixed, two") << QByteArray("<x:error xmlns:x=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:carddav\">"
                                                 "<c:no-uid-conflict><x:href>/a</x:href></c:no-uid-conflict>"
                                                 "<x:number-of-matches-within-limits/></x:error>")
                                   << QStringList{QStringLiteral("{urn:ietf:params:xml:ns:carddav}no-uid-conflict"),
                                                  QStringLiteral("{DAV:}number-of-matches-within-limits")};
    QTest::newRow("not DAV error") << QByteArray("<error><valid-sync-token/></error>") << QStringList();
    QTest::newRow("html") << QByteArray("<html>500</html>") << QStringList();
    QTest::newRow("plain text") << QByteArray("Internal Server Error") << QStringList();
}

void TestDavXml::errorConditions()
{
    QFETCH(QByteArray, xml);
    QFETCH(QStringList, conditions);
    QCOMPARE(parseDavErrorConditions(xml), conditions);
}

QTEST_GUILESS_MAIN(TestDavXml)
#include "tst_davxml.moc"
