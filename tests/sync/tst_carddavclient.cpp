// The protocol client against real servers: Debian's radicale and xandikos,
// each started on a loopback port for the test (DavTestServer). A second
// device is played by plain HTTP requests to the same server.
#include "CardDavClient.h"
#include "DavTestServer.h"

#include <QElapsedTimer>
#include <QSet>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

using namespace kelvo::sync;
using kelvo::test::DavTestServer;

Q_DECLARE_METATYPE(kelvo::test::DavTestServer::Kind)

namespace {

// The error's text for a failed check (QVERIFY2 builds its message eagerly).
template<typename T>
QString why(const RemoteResult<T> &result)
{
    return result ? QString() : result.error().text;
}

CardDavSettings settingsFor(const DavTestServer &server, const QString &url)
{
    CardDavSettings settings;
    settings.url = url;
    settings.user = server.user();
    settings.password = server.password();
    settings.requestTimeoutMs = 20000;
    return settings;
}

#define START_SERVER(server)                                                                                        \
    do {                                                                                                            \
        if (DavTestServer::program((server).kind()).isEmpty())                                                      \
            QSKIP(qPrintable(DavTestServer::name((server).kind()) + QStringLiteral(" is not installed")));          \
        QVERIFY2((server).start(), qPrintable((server).errorString()));                                            \
    } while (false)

// A client with the server's address book open (found from the book's url).
#define OPEN_CLIENT(client, server)                                                                                 \
    CardDavClient client(settingsFor(server, (server).bookUrl()));                                                  \
    do {                                                                                                            \
        const auto opened = client.open();                                                                          \
        QVERIFY2(opened, qPrintable(why(opened)));                                                          \
    } while (false)

QSet<QString> hrefsOf(const RemoteListing &listing)
{
    QSet<QString> out;
    for (const RemoteItem &item : listing.items)
        out.insert(item.href);
    return out;
}

void addServerRows()
{
    QTest::addColumn<DavTestServer::Kind>("kind");
    QTest::newRow("radicale") << DavTestServer::Kind::Radicale;
    QTest::newRow("xandikos") << DavTestServer::Kind::Xandikos;
}

} // namespace

class TestCardDavClient : public QObject
{
    Q_OBJECT
private slots:
    void discovery_data();
    void discovery();
    void createUpdateDelete_data() { addServerRows(); }
    void createUpdateDelete();
    void tokenListing_data() { addServerRows(); }
    void tokenListing();
    void fetchMany_data();
    void fetchMany();
    void wrongPassword();
    void httpToRemoteHostRefused();
    void httpsCertificate_data();
    void httpsCertificate();
    void serverKilledMidRequest_data() { addServerRows(); }
    void serverKilledMidRequest();
};


void TestCardDavClient::discovery_data()
{
    QTest::addColumn<DavTestServer::Kind>("kind");
    QTest::addColumn<bool>("fromRoot");
    QTest::newRow("radicale root") << DavTestServer::Kind::Radicale << true;
    QTest::newRow("radicale book") << DavTestServer::Kind::Radicale << false;
    QTest::newRow("xandikos root") << DavTestServer::Kind::Xandikos << true;
    QTest::newRow("xandikos book") << DavTestServer::Kind::Xandikos << false;
}

void TestCardDavClient::discovery()
{
    QFETCH(DavTestServer::Kind, kind);
    QFETCH(bool, fromRoot);
    DavTestServer server(kind);
    START_SERVER(server);
    // Typed as a user would: no trailing slash on the book.
    QString typed = fromRoot ? server.rootUrl() : server.bookUrl();
    if (!fromRoot)
        typed.chop(1);
    CardDavClient client(settingsFor(server, typed));
    const auto books = client.discover();
    QVERIFY2(books, qPrintable(why(books)));
    QCOMPARE(books.value().size(), 1);
    QCOMPARE(books.value().first().url, server.bookUrl());
    QCOMPARE(books.value().first().vcardVersion, 3); // neither offers 4.0
    const auto opened = client.open();
    QVERIFY(opened);
    QCOMPARE(client.collectionUrl(), server.bookUrl());
    QCOMPARE(client.vcardVersion(), 3);
}

void TestCardDavClient::createUpdateDelete()
{
    QFETCH(DavTestServer::Kind, kind);
    DavTestServer server(kind);
    START_SERVER(server);
    OPEN_CLIENT(client, server);
    const QString href = server.bookPath() + QStringLiteral("4f2c1c1e-0000-4000-8000-000000000001.vcf");

    const auto created = client.create(href, DavTestServer::vcard(QStringLiteral("u1"), QStringLiteral("张三")));
    QVERIFY2(created, qPrintable(why(created)));
    QCOMPARE(created.value().href, href);
    // A second create at the same href is refused (If-None-Match: *).
    const auto again = client.create(href, DavTestServer::vcard(QStringLiteral("u1"), QStringLiteral("李四")));
    QVERIFY(!again);
    QCOMPARE(again.error().status, RemoteStatus::PreconditionFailed);

    auto listing = client.list({});
    QVERIFY2(listing, qPrintable(why(listing)));
    QVERIFY(listing.value().full);
    QCOMPARE(listing.value().items.size(), 1);
    QCOMPARE(listing.value().items.first().href, href);
    const QByteArray etag1 = listing.value().items.first().etag;
    QVERIFY(!etag1.isEmpty());
    if (!created.value().etag.isEmpty())
        QCOMPARE(created.value().etag, etag1);

    const auto updated = client.update(href, etag1, DavTestServer::vcard(QStringLiteral("u1"), QStringLiteral("王五")));
    QVERIFY2(updated, qPrintable(why(updated)));
    QCOMPARE(updated.value().href, href);
    const auto relisted = client.list({});
    QVERIFY(relisted);
    const QByteArray etag2 = relisted.value().items.first().etag;
    QVERIFY(etag2 != etag1);

    // The ETag of before: someone else's edit came in between.
    const auto stale = client.update(href, etag1, DavTestServer::vcard(QStringLiteral("u1"), QStringLiteral("赵六")));
    QVERIFY(!stale);
    QCOMPARE(stale.error().status, RemoteStatus::PreconditionFailed);
    const auto staleDelete = client.remove(href, etag1);
    QVERIFY(!staleDelete);
    QCOMPARE(staleDelete.error().status, RemoteStatus::PreconditionFailed);

    const auto fetched = client.fetch({href});
    QVERIFY2(fetched, qPrintable(why(fetched)));
    QCOMPARE(fetched.value().size(), 1);
    QCOMPARE(fetched.value().first().href, href);
    QCOMPARE(fetched.value().first().etag, etag2);
    QVERIFY(QString::fromUtf8(fetched.value().first().vcard).contains(QStringLiteral("FN:王五")));

    const auto removed = client.remove(href, etag2);
    QVERIFY2(removed, qPrintable(why(removed)));
    const auto empty = client.list({});
    QVERIFY(empty);
    QVERIFY(empty.value().items.isEmpty());
    const auto gone = client.remove(href, etag2);
    QVERIFY(!gone);
    QVERIFY(gone.error().status == RemoteStatus::NotFound || gone.error().status == RemoteStatus::PreconditionFailed);
}

void TestCardDavClient::tokenListing()
{
    QFETCH(DavTestServer::Kind, kind);
    DavTestServer server(kind);
    START_SERVER(server);
    OPEN_CLIENT(client, server);
    const QString a = server.bookPath() + QStringLiteral("a.vcf");
    const QString b = server.bookPath() + QStringLiteral("b.vcf");
    QVERIFY(client.create(a, DavTestServer::vcard(QStringLiteral("a"), QStringLiteral("A"))));

    const auto first = client.list({});
    QVERIFY2(first, qPrintable(why(first)));
    QVERIFY(first.value().full);
    const QByteArray token = first.value().syncToken;
    QVERIFY(!token.isEmpty());

    // The phone adds b and deletes a.
    QCOMPARE(server.request("PUT", b, DavTestServer::vcard(QStringLiteral("b"), QStringLiteral("B")),
                            {{"Content-Type", "text/vcard"}})
                 .status,
             201);
    QVERIFY(server.request("DELETE", a).status / 100 == 2);

    const auto changes = client.list(token);
    QVERIFY2(changes, qPrintable(why(changes)));
    QVERIFY(!changes.value().full);
    QCOMPARE(hrefsOf(changes.value()), QSet<QString>{b});
    QCOMPARE(changes.value().removed, QStringList{a});
    QVERIFY(!changes.value().syncToken.isEmpty());
    QVERIFY(changes.value().syncToken != token);

    // Nothing changed since: an empty answer.
    const auto nothing = client.list(changes.value().syncToken);
    QVERIFY(nothing);
    QVERIFY(!nothing.value().full);
    QVERIFY(nothing.value().items.isEmpty());
    QVERIFY(nothing.value().removed.isEmpty());

    // A token the server does not know (radicale: 403, xandikos: 500): the
    // whole listing instead.
    for (const QByteArray &garbage : {QByteArray("garbage-token"), token + "x",
                                      QByteArray("http://radicale.org/ns/sync/0000")}) {
        const auto fallback = client.list(garbage);
        QVERIFY2(fallback, qPrintable(why(fallback)));
        QVERIFY(fallback.value().full);
        QCOMPARE(hrefsOf(fallback.value()), QSet<QString>{b});
        QVERIFY(fallback.value().removed.isEmpty());
    }
}

void TestCardDavClient::fetchMany_data()
{
    QTest::addColumn<DavTestServer::Kind>("kind");
    QTest::addColumn<bool>("wholeBook");
    QTest::newRow("radicale multiget") << DavTestServer::Kind::Radicale << false;
    QTest::newRow("radicale query") << DavTestServer::Kind::Radicale << true;
    QTest::newRow("xandikos multiget") << DavTestServer::Kind::Xandikos << false;
    QTest::newRow("xandikos query") << DavTestServer::Kind::Xandikos << true;
}

void TestCardDavClient::fetchMany()
{
    QFETCH(DavTestServer::Kind, kind);
    QFETCH(bool, wholeBook);
    DavTestServer server(kind);
    START_SERVER(server);
    CardDavSettings settings = settingsFor(server, server.bookUrl());
    // Either way forced: the choice itself follows the server's pace.
    settings.wholeBookFetchAt = wholeBook ? 1 : 1'000'000;
    settings.wholeBookFetchAfterMs = wholeBook ? 0 : 1e12;
    CardDavClient client(settings);
    QVERIFY(client.open());
    constexpr int kCards = 230;
    QStringList wanted;
    for (int i = 0; i < kCards; ++i) {
        const QString uid = QStringLiteral("card-%1").arg(i);
        const QString href = server.bookPath() + uid + QStringLiteral(".vcf");
        const auto created = client.create(href, DavTestServer::vcard(uid, QStringLiteral("名片 %1").arg(i)));
        QVERIFY2(created, qPrintable(why(created)));
        if (i % 2 == 0)
            wanted.append(href); // the query's answer holds the others too
    }
    const auto listing = client.list({});
    QVERIFY(listing);
    QCOMPARE(listing.value().items.size(), kCards);

    wanted.append(server.bookPath() + QStringLiteral("no-such-card.vcf")); // missing: left out, no error
    const int before = client.requestCount();
    const auto fetched = client.fetch(wanted);
    QVERIFY2(fetched, qPrintable(why(fetched)));
    // 10 to learn the pace, then batches of 100, or the query and a multiget
    // of the one it did not return.
    QCOMPARE(client.requestCount() - before, 3);
    QCOMPARE(fetched.value().size(), kCards / 2);
    QSet<QString> seen;
    for (const RemoteCard &card : fetched.value()) {
        seen.insert(card.href);
        QVERIFY2(wanted.contains(card.href), qPrintable(card.href));
        const QString uid = card.href.section(QLatin1Char('/'), -1).chopped(4);
        const QString number = uid.mid(5);
        QVERIFY2(QString::fromUtf8(card.vcard).contains(QStringLiteral("FN:名片 ") + number), qPrintable(card.href));
        QVERIFY(!card.etag.isEmpty());
    }
    QCOMPARE(seen.size(), kCards / 2);
}

void TestCardDavClient::httpsCertificate_data()
{
    QTest::addColumn<QString>("trust"); // none, right, wrong
    QTest::newRow("self-signed, not trusted") << "none";
    QTest::newRow("its fingerprint trusted") << "right";
    QTest::newRow("another fingerprint trusted") << "wrong";
}

// Radicale over https with a certificate of its own: refused with the reason
// and the fingerprint the user would compare, unless that very fingerprint
// is trusted.
void TestCardDavClient::httpsCertificate()
{
    QFETCH(QString, trust);
    DavTestServer server(DavTestServer::Kind::Radicale);
    server.useTls();
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        QSKIP("openssl is not installed");
    START_SERVER(server);
    QVERIFY(server.bookUrl().startsWith(QLatin1String("https://")));
    CardDavSettings settings = settingsFor(server, server.bookUrl());
    const QByteArray fingerprint = server.certificateSha256();
    if (trust == QLatin1String("right"))
        settings.trustedCertificateSha256 = fingerprint.toUpper(); // as a user copies it
    else if (trust == QLatin1String("wrong"))
        settings.trustedCertificateSha256 = QByteArray(64, 'a');
    CardDavClient client(settings);
    const auto opened = client.open();
    if (trust != QLatin1String("right")) {
        QVERIFY(!opened);
        QCOMPARE(opened.error().status, RemoteStatus::Certificate);
        QString text = opened.error().text;
        QVERIFY2(text.remove(u':').contains(QString::fromLatin1(fingerprint), Qt::CaseInsensitive),
                 qPrintable(opened.error().text));
        return;
    }
    QVERIFY2(opened, qPrintable(why(opened)));
    const QString href = server.bookPath() + QStringLiteral("tls-1.vcf");
    const auto created = client.create(href, DavTestServer::vcard(QStringLiteral("tls-1"), QStringLiteral("加密")));
    QVERIFY2(created, qPrintable(why(created)));
    const auto fetched = client.fetch({href});
    QVERIFY2(fetched, qPrintable(why(fetched)));
    QCOMPARE(fetched.value().size(), 1);
    QVERIFY(QString::fromUtf8(fetched.value().first().vcard).contains(QStringLiteral("FN:加密")));
}

void TestCardDavClient::wrongPassword()
{
    // Only radicale checks passwords (htpasswd); xandikos has none.
    DavTestServer server(DavTestServer::Kind::Radicale);
    server.requirePassword(QStringLiteral("anna"), QStringLiteral("right-Pa55"));
    START_SERVER(server);
    {
        OPEN_CLIENT(client, server);
        QVERIFY(client.list({}));
    }
    for (const bool fromRoot : {false, true}) {
        CardDavSettings settings = settingsFor(server, fromRoot ? server.rootUrl() : server.bookUrl());
        settings.password = QStringLiteral("wrong-Pa55");
        CardDavClient client(settings);
        const auto opened = client.open();
        QVERIFY(!opened);
        QCOMPARE(opened.error().status, RemoteStatus::AuthFailed);
        QCOMPARE(opened.error().httpStatus, 401);
        QVERIFY(!opened.error().text.contains(QLatin1String("wrong-Pa55")));
        QVERIFY(client.requestCount() <= 2); // one refusal ends it
        client.useAddressBook({server.bookUrl(), QString(), 3});
        const auto listing = client.list("some-token");
        QVERIFY(!listing);
        QCOMPARE(listing.error().status, RemoteStatus::AuthFailed);
    }
}

void TestCardDavClient::httpToRemoteHostRefused()
{
    // A documentation address (never routed): refused before any request.
    CardDavSettings settings;
    settings.url = QStringLiteral("http://192.0.2.7/dav/");
    settings.user = QStringLiteral("anna");
    settings.password = QStringLiteral("pw");
    CardDavClient client(settings);
    const auto opened = client.open();
    QVERIFY(!opened);
    QCOMPARE(opened.error().status, RemoteStatus::Insecure);
    QCOMPARE(client.requestCount(), 0);
    client.useAddressBook({QStringLiteral("http://192.0.2.7/dav/book/"), QString(), 3});
    const auto listing = client.list({});
    QVERIFY(!listing);
    QCOMPARE(listing.error().status, RemoteStatus::Insecure);
    const auto created = client.create(QStringLiteral("x.vcf"), "BEGIN:VCARD\r\nEND:VCARD\r\n");
    QVERIFY(!created);
    QCOMPARE(created.error().status, RemoteStatus::Insecure);
    QCOMPARE(client.requestCount(), 0);
}

void TestCardDavClient::serverKilledMidRequest()
{
    QFETCH(DavTestServer::Kind, kind);
    DavTestServer server(kind);
    START_SERVER(server);
    OPEN_CLIENT(client, server);
    QVERIFY(client.create(server.bookPath() + QStringLiteral("a.vcf"),
                          DavTestServer::vcard(QStringLiteral("a"), QStringLiteral("A"))));
    // The server stops answering while the request is in flight, then dies.
    server.freeze();
    QTimer::singleShot(300, [&server] { server.kill(); });
    QElapsedTimer clock;
    clock.start();
    const auto listing = client.list({});
    QVERIFY(!listing);
    QCOMPARE(listing.error().status, RemoteStatus::Network);
    QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
    // And with the server gone: refused at once.
    const auto after = client.fetch({server.bookPath() + QStringLiteral("a.vcf")});
    QVERIFY(!after);
    QCOMPARE(after.error().status, RemoteStatus::Network);
}

QTEST_GUILESS_MAIN(TestCardDavClient)
#include "tst_carddavclient.moc"
