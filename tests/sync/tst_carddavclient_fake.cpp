// The protocol client against a fake server, for the answers no real server
// gives on request: redirect chains, 207 to PUT, 413, 429/503 with
// Retry-After, Digest challenges, endless or hostile bodies, silence.
#include "CardDavClient.h"
#include "FakeHttpServer.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvo::sync;
using kelvo::test::FakeHttpServer;
using kelvo::test::FakeRequest;

Q_DECLARE_METATYPE(kelvo::sync::RemoteStatus)

namespace {

// The error's text for a failed check (QVERIFY2 builds its message eagerly).
template<typename T>
QString why(const RemoteResult<T> &result)
{
    return result ? QString() : result.error().text;
}

const QByteArray kBookAnswer =
    "<?xml version=\"1.0\"?><multistatus xmlns=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:carddav\"><response>"
    "<href>/book/</href><propstat><prop><resourcetype><collection/><C:addressbook/></resourcetype>"
    "<C:supported-address-data><C:address-data-type content-type=\"text/vcard\" version=\"3.0\"/>"
    "<C:address-data-type content-type=\"text/vcard\" version=\"4.0\"/></C:supported-address-data>"
    "</prop><status>HTTP/1.1 200 OK</status></propstat></response></multistatus>";

const QByteArray kListing =
    "<?xml version=\"1.0\"?><D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>/book/</D:href><D:propstat><D:prop>"
    "<D:resourcetype><D:collection/></D:resourcetype><D:sync-token>full-token</D:sync-token></D:prop>"
    "<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response><D:response><D:href>/book/a.vcf</D:href>"
    "<D:propstat><D:prop><D:getetag>\"a1\"</D:getetag><D:resourcetype/></D:prop><D:status>HTTP/1.1 200 OK"
    "</D:status></D:propstat></D:response></D:multistatus>";

CardDavSettings settingsFor(const FakeHttpServer &server, const QString &path = QStringLiteral("/book/"))
{
    CardDavSettings settings;
    settings.url = server.url(path);
    settings.user = QStringLiteral("anna");
    settings.password = QStringLiteral("pa55-word");
    settings.requestTimeoutMs = 5000;
    return settings;
}

// A client with the fake's /book/ open without discovery.
std::unique_ptr<CardDavClient> openClient(const FakeHttpServer &server, CardDavSettings settings = {})
{
    if (settings.url.isEmpty())
        settings = settingsFor(server);
    auto client = std::make_unique<CardDavClient>(settings);
    client->useAddressBook({server.url(QStringLiteral("/book/")), QString(), 3});
    return client;
}

QByteArray md5Hex(const QByteArray &text)
{
    return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex();
}

} // namespace

class TestCardDavClientFake : public QObject
{
    Q_OBJECT
private slots:
    void redirectKeepsMethodAndBody();
    void redirectLimits_data();
    void redirectLimits();
    void putAnswers_data();
    void putAnswers();
    void deleteAnswers_data();
    void deleteAnswers();
    void retryAfter_data();
    void retryAfter();
    void tokenRefused_data();
    void tokenRefused();
    void badBodies_data();
    void badBodies();
    void wholeBookQueryRefused_data();
    void wholeBookQueryRefused();
    void silentServerTimesOut();
    void digestAuthentication();
    void certificates();
    void urlRules_data();
    void urlRules();
};

void TestCardDavClientFake::redirectKeepsMethodAndBody()
{
    FakeHttpServer server;
    server.handler = [](const FakeRequest &request) {
        if (request.target == "/start")
            return FakeHttpServer::reply(301, {}, {{"Location", "/middle"}});
        if (request.target == "/middle")
            return FakeHttpServer::reply(307, {}, {{"Location", "/book/"}});
        return FakeHttpServer::reply(207, kBookAnswer, {{"Content-Type", "application/xml"}});
    };
    CardDavClient client(settingsFor(server, QStringLiteral("/start")));
    auto opened = client.open();
    QVERIFY2(opened, qPrintable(why(opened)));
    QCOMPARE(client.collectionUrl(), server.url(QStringLiteral("/book/")));
    QCOMPARE(client.vcardVersion(), 4);
    QCOMPARE(server.requests.size(), 3);
    for (const FakeRequest &request : server.requests) {
        QCOMPARE(request.method, QByteArray("PROPFIND"));
        QCOMPARE(request.body, server.requests.first().body);
        QCOMPARE(request.header("Depth"), QByteArray("0"));
    }
    QVERIFY(server.requests.first().body.contains("addressbook-home-set"));
}

void TestCardDavClientFake::redirectLimits_data()
{
    QTest::addColumn<QByteArray>("location"); // "" = redirect to itself, again and again
    QTest::addColumn<RemoteStatus>("status");
    QTest::addColumn<int>("requests");
    QTest::newRow("endless chain") << QByteArray() << RemoteStatus::Protocol << 6;
    // Plain http beyond the loopback is refused before anything is sent there.
    QTest::newRow("to remote http") << QByteArray("http://kelvo.invalid/book/") << RemoteStatus::Insecure << 1;
    QTest::newRow("to ftp") << QByteArray("ftp://127.0.0.1/book/") << RemoteStatus::Protocol << 1;
    QTest::newRow("no location") << QByteArray("-") << RemoteStatus::Protocol << 1;
}

void TestCardDavClientFake::redirectLimits()
{
    QFETCH(QByteArray, location);
    QFETCH(RemoteStatus, status);
    QFETCH(int, requests);
    FakeHttpServer server;
    int hop = 0;
    server.handler = [&](const FakeRequest &) {
        if (location == "-")
            return FakeHttpServer::reply(302);
        const QByteArray target = location.isEmpty() ? "/hop" + QByteArray::number(++hop) : location;
        return FakeHttpServer::reply(302, {}, {{"Location", target}});
    };
    auto client = openClient(server);
    const auto listing = client->list({});
    QVERIFY(!listing);
    QCOMPARE(listing.error().status, status);
    QCOMPARE(server.requests.size(), requests);
}

void TestCardDavClientFake::putAnswers_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<RemoteStatus>("status");
    QTest::addColumn<QString>("href");
    QTest::addColumn<QByteArray>("etag");
    QTest::newRow("201 with etag") << FakeHttpServer::reply(201, {}, {{"ETag", "\"e1\""}}).raw << RemoteStatus::Ok
                                   << "/book/n.vcf" << QByteArray("\"e1\"");
    // No ETag: unknown, not an error.
    QTest::newRow("204 without etag") << FakeHttpServer::reply(204).raw << RemoteStatus::Ok << "/book/n.vcf"
                                      << QByteArray();
    // The server chose another name for the new resource.
    QTest::newRow("201 with location")
        << FakeHttpServer::reply(201, {}, {{"Location", "/book/server-named.vcf"}, {"ETag", "W/\"w\""}}).raw
        << RemoteStatus::Ok << "/book/server-named.vcf" << QByteArray("W/\"w\"");
    QTest::newRow("412") << FakeHttpServer::reply(412).raw << RemoteStatus::PreconditionFailed << QString()
                         << QByteArray();
    QTest::newRow("413") << FakeHttpServer::reply(413).raw << RemoteStatus::TooLarge << QString() << QByteArray();
    QTest::newRow("403") << FakeHttpServer::reply(403).raw << RemoteStatus::AuthFailed << QString() << QByteArray();
    QTest::newRow("500") << FakeHttpServer::reply(500).raw << RemoteStatus::Server << QString() << QByteArray();
    // A 207 that says inside that nothing was stored is a failure.
    QTest::newRow("207 inner 500") << FakeHttpServer::reply(207,
                                          "<multistatus xmlns=\"DAV:\"><response><href>/book/n.vcf</href>"
                                          "<status>HTTP/1.1 500 Internal Server Error</status></response>"
                                          "</multistatus>")
                                          .raw
                                   << RemoteStatus::Server << QString() << QByteArray();
    QTest::newRow("207 inner 412") << FakeHttpServer::reply(207,
                                          "<multistatus xmlns=\"DAV:\"><response><href>/book/n.vcf</href>"
                                          "<propstat><prop/><status>HTTP/1.1 412 Precondition Failed</status>"
                                          "</propstat></response></multistatus>")
                                          .raw
                                   << RemoteStatus::PreconditionFailed << QString() << QByteArray();
    QTest::newRow("207 garbage") << FakeHttpServer::reply(207, "<oops").raw << RemoteStatus::Protocol << QString()
                                 << QByteArray();
}

void TestCardDavClientFake::putAnswers()
{
    QFETCH(QByteArray, answer);
    QFETCH(RemoteStatus, status);
    QFETCH(QString, href);
    QFETCH(QByteArray, etag);
    FakeHttpServer server;
    server.handler = [&](const FakeRequest &) { return FakeHttpServer::Answer{answer}; };
    auto client = openClient(server);
    const QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:n\r\nFN:N\r\nEND:VCARD\r\n";
    const auto created = client->create(QStringLiteral("n.vcf"), card);
    QCOMPARE(server.requests.size(), 1);
    const FakeRequest &sent = server.requests.first();
    QCOMPARE(sent.method, QByteArray("PUT"));
    QCOMPARE(sent.target, QByteArray("/book/n.vcf"));
    QCOMPARE(sent.header("If-None-Match"), QByteArray("*"));
    QVERIFY(sent.header("If-Match").isEmpty());
    QCOMPARE(sent.body, card);
    QVERIFY(sent.header("Content-Type").startsWith("text/vcard"));
    if (status == RemoteStatus::Ok) {
        QVERIFY2(created, qPrintable(why(created)));
        QCOMPARE(created.value().href, href);
        QCOMPARE(created.value().etag, etag);
    } else {
        QVERIFY(!created);
        QCOMPARE(created.error().status, status);
        QVERIFY(!created.error().text.contains(QLatin1String("pa55-word")));
    }

    // The same answers to an update, which sends If-Match.
    server.requests.clear();
    const auto updated = client->update(QStringLiteral("/book/n.vcf"), "\"old\"", card);
    QCOMPARE(server.requests.size(), 1);
    QCOMPARE(server.requests.first().header("If-Match"), QByteArray("\"old\""));
    QVERIFY(server.requests.first().header("If-None-Match").isEmpty());
    QCOMPARE(bool(updated), status == RemoteStatus::Ok);
}

void TestCardDavClientFake::deleteAnswers_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<RemoteStatus>("status");
    QTest::newRow("204") << FakeHttpServer::reply(204).raw << RemoteStatus::Ok;
    QTest::newRow("412") << FakeHttpServer::reply(412).raw << RemoteStatus::PreconditionFailed;
    QTest::newRow("404") << FakeHttpServer::reply(404).raw << RemoteStatus::NotFound;
    QTest::newRow("207 inner 423") << FakeHttpServer::reply(207,
                                          "<multistatus xmlns=\"DAV:\"><response><href>/book/a.vcf</href>"
                                          "<status>HTTP/1.1 423 Locked</status></response></multistatus>")
                                          .raw
                                   << RemoteStatus::Server;
}

void TestCardDavClientFake::deleteAnswers()
{
    QFETCH(QByteArray, answer);
    QFETCH(RemoteStatus, status);
    FakeHttpServer server;
    server.handler = [&](const FakeRequest &) { return FakeHttpServer::Answer{answer}; };
    auto client = openClient(server);
    const auto removed = client->remove(QStringLiteral("/book/a.vcf"), "\"a1\"");
    QCOMPARE(server.requests.size(), 1);
    QCOMPARE(server.requests.first().method, QByteArray("DELETE"));
    QCOMPARE(server.requests.first().header("If-Match"), QByteArray("\"a1\""));
    QCOMPARE(removed ? RemoteStatus::Ok : removed.error().status, status);
}

void TestCardDavClientFake::retryAfter_data()
{
    QTest::addColumn<int>("busyAnswers"); // how many 429/503 before the 201
    QTest::addColumn<QByteArray>("retryAfter");
    QTest::addColumn<RemoteStatus>("status");
    QTest::addColumn<int>("requests");
    QTest::newRow("429 once, 1 s") << 1 << QByteArray("1") << RemoteStatus::Ok << 2;
    QTest::newRow("503 twice, date") << 2 << QByteArray("Thu, 01 Jan 1970 00:00:00 GMT") << RemoteStatus::Ok << 3;
    // Waits are bounded in number (3) and in length (a day is cut to the cap).
    QTest::newRow("always busy") << 100 << QByteArray("86400") << RemoteStatus::Busy << 4;
}

void TestCardDavClientFake::retryAfter()
{
    QFETCH(int, busyAnswers);
    QFETCH(QByteArray, retryAfter);
    QFETCH(RemoteStatus, status);
    QFETCH(int, requests);
    FakeHttpServer server;
    int busy = 0;
    server.handler = [&](const FakeRequest &) {
        if (busy++ < busyAnswers)
            return FakeHttpServer::reply(busy % 2 ? 429 : 503, {}, {{"Retry-After", retryAfter}});
        return FakeHttpServer::reply(201, {}, {{"ETag", "\"x\""}});
    };
    CardDavSettings settings = settingsFor(server);
    settings.maxRetryAfterSeconds = 1;
    auto client = openClient(server, settings);
    QElapsedTimer clock;
    clock.start();
    const auto created = client->create(QStringLiteral("n.vcf"), "BEGIN:VCARD\r\nEND:VCARD\r\n");
    QCOMPARE(created ? RemoteStatus::Ok : created.error().status, status);
    QCOMPARE(server.requests.size(), requests);
    QVERIFY(clock.elapsed() < 10000);
    if (retryAfter == "1")
        QVERIFY(clock.elapsed() >= 900); // the wait was honoured
}

void TestCardDavClientFake::tokenRefused_data()
{
    QTest::addColumn<QByteArray>("reportAnswer");
    QTest::newRow("403 valid-sync-token")
        << FakeHttpServer::reply(403, "<error xmlns=\"DAV:\"><valid-sync-token/></error>").raw;
    QTest::newRow("409") << FakeHttpServer::reply(409).raw;
    QTest::newRow("500") << FakeHttpServer::reply(500).raw;
    QTest::newRow("507") << FakeHttpServer::reply(507).raw;
    QTest::newRow("501 no sync-collection") << FakeHttpServer::reply(501).raw;
    // A truncated answer: the collection itself with 507 inside.
    QTest::newRow("207 truncated") << FakeHttpServer::reply(207,
                                          "<D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>/book/a.vcf</D:href>"
                                          "<D:propstat><D:prop><D:getetag>\"a1\"</D:getetag></D:prop><D:status>"
                                          "HTTP/1.1 200 OK</D:status></D:propstat></D:response><D:response>"
                                          "<D:href>/book/</D:href><D:status>HTTP/1.1 507 Insufficient Storage"
                                          "</D:status></D:response><D:sync-token>t2</D:sync-token>"
                                          "</D:multistatus>")
                                          .raw;
}

void TestCardDavClientFake::tokenRefused()
{
    QFETCH(QByteArray, reportAnswer);
    FakeHttpServer server;
    server.handler = [&](const FakeRequest &request) {
        if (request.method == "REPORT")
            return FakeHttpServer::Answer{reportAnswer};
        return FakeHttpServer::reply(207, kListing);
    };
    auto client = openClient(server);
    const auto listing = client->list("old-token");
    QVERIFY2(listing, qPrintable(why(listing)));
    QVERIFY(listing.value().full);
    QCOMPARE(listing.value().items.size(), 1);
    QCOMPARE(listing.value().items.first().href, QStringLiteral("/book/a.vcf"));
    QCOMPARE(listing.value().items.first().etag, QByteArray("\"a1\""));
    QCOMPARE(listing.value().syncToken, QByteArray("full-token"));
    QCOMPARE(server.requests.size(), 2);
    QVERIFY(server.requests.first().body.contains("<D:sync-token>old-token</D:sync-token>"));
    QCOMPARE(server.requests.last().method, QByteArray("PROPFIND"));
    QCOMPARE(server.requests.last().header("Depth"), QByteArray("1"));
}

// Cards a/b/c as a multistatus with address data, as both reports answer.
QByteArray cardsAnswer(const QList<QByteArray> &names)
{
    QByteArray body = "<?xml version=\"1.0\"?><D:multistatus xmlns:D=\"DAV:\" "
                      "xmlns:C=\"urn:ietf:params:xml:ns:carddav\">";
    for (const QByteArray &name : names)
        body += "<D:response><D:href>/book/" + name + ".vcf</D:href><D:propstat><D:prop><D:getetag>\"" + name
              + "\"</D:getetag><C:address-data>BEGIN:VCARD&#13;\nVERSION:3.0&#13;\nUID:" + name
              + "&#13;\nFN:" + name + "&#13;\nEND:VCARD&#13;\n</C:address-data></D:prop>"
                "<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>";
    return body + "</D:multistatus>";
}

void TestCardDavClientFake::wholeBookQueryRefused_data()
{
    QTest::addColumn<QByteArray>("queryAnswer");
    QTest::addColumn<bool>("fallsBack");
    QTest::newRow("403") << FakeHttpServer::reply(403).raw << true;
    QTest::newRow("501") << FakeHttpServer::reply(501).raw << true;
    QTest::newRow("html 207") << FakeHttpServer::reply(207, "<html><body>hi</body></html>").raw << true;
    QTest::newRow("over the cap") << QByteArray("HTTP/1.1 207 Multi-Status\r\nContent-Length: 99999999999\r\n\r\n")
                                  << true;
    QTest::newRow("part of the book") << FakeHttpServer::reply(207, cardsAnswer({"b"})).raw << true;
    QTest::newRow("the whole book") << FakeHttpServer::reply(207, cardsAnswer({"a", "b", "c", "d"})).raw << false;
    QTest::newRow("503 without end") << FakeHttpServer::reply(503, {}, {{"Retry-After", "0"}}).raw << false;
}

void TestCardDavClientFake::wholeBookQueryRefused()
{
    QFETCH(QByteArray, queryAnswer);
    QFETCH(bool, fallsBack);
    FakeHttpServer server;
    server.handler = [&](const FakeRequest &request) {
        if (request.body.contains("addressbook-query"))
            return FakeHttpServer::Answer{queryAnswer};
        QList<QByteArray> names;
        for (const QByteArray name : {"a", "b", "c", "d"}) {
            if (request.body.contains("/book/" + name + ".vcf"))
                names.append(name);
        }
        return FakeHttpServer::reply(207, cardsAnswer(names));
    };
    CardDavSettings settings = settingsFor(server);
    settings.fetchProbe = 1;
    settings.wholeBookFetchAt = 1;
    settings.maxRetryWaits = 1;
    auto client = openClient(server, settings);
    const auto fetched = client->fetch({QStringLiteral("/book/a.vcf"), QStringLiteral("/book/b.vcf"),
                                        QStringLiteral("/book/c.vcf")});
    const bool busy = queryAnswer.startsWith("HTTP/1.1 503");
    QCOMPARE(bool(fetched), !busy); // a busy server is not asked again
    if (busy)
        return;
    QStringList hrefs;
    for (const RemoteCard &card : fetched.value())
        hrefs.append(card.href);
    hrefs.sort();
    // Never d, which the query's answer may hold but nobody asked for.
    QCOMPARE(hrefs, (QStringList{QStringLiteral("/book/a.vcf"), QStringLiteral("/book/b.vcf"),
                                 QStringLiteral("/book/c.vcf")}));
    const bool multigetAfter = server.requests.last().body.contains("addressbook-multiget");
    QCOMPARE(multigetAfter, fallsBack);
}

void TestCardDavClientFake::badBodies_data()
{
    QTest::addColumn<int>("kind"); // 0 raw answer, 1 endless body
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("endless") << 1 << QByteArray();
    QTest::newRow("oversized length") << 0
                                      << QByteArray("HTTP/1.1 207 Multi-Status\r\nContent-Length: 99999999999\r\n\r\n");
    QTest::newRow("entity bomb") << 0
                                 << FakeHttpServer::reply(207,
                                        "<?xml version=\"1.0\"?><!DOCTYPE m [<!ENTITY a \"aaaaaaaa\">"
                                        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
                                        "<D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>&b;</D:href>"
                                        "</D:response></D:multistatus>")
                                        .raw;
    QTest::newRow("html 207") << 0 << FakeHttpServer::reply(207, "<html><body>hi</body></html>").raw;
    QTest::newRow("200 instead of 207") << 0 << FakeHttpServer::reply(200, kListing).raw;
}

void TestCardDavClientFake::badBodies()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, answer);
    FakeHttpServer server;
    server.handler = [&](const FakeRequest &) {
        FakeHttpServer::Answer a{answer};
        a.endless = kind == 1;
        return a;
    };
    CardDavSettings settings = settingsFor(server);
    settings.maxResponseBytes = 2 << 20;
    auto client = openClient(server, settings);
    const auto listing = client->list({});
    QVERIFY(!listing);
    QCOMPARE(listing.error().status, RemoteStatus::Protocol);
    QVERIFY(!listing.error().text.isEmpty());
}

void TestCardDavClientFake::silentServerTimesOut()
{
    FakeHttpServer server;
    server.handler = [](const FakeRequest &) {
        FakeHttpServer::Answer a;
        a.silent = true;
        return a;
    };
    CardDavSettings settings = settingsFor(server);
    settings.requestTimeoutMs = 500;
    auto client = openClient(server, settings);
    QElapsedTimer clock;
    clock.start();
    const auto fetched = client->fetch({QStringLiteral("/book/a.vcf")});
    QVERIFY(!fetched);
    QCOMPARE(fetched.error().status, RemoteStatus::Network);
    QVERIFY(clock.elapsed() < 5000);
}

void TestCardDavClientFake::digestAuthentication()
{
    // A Digest server refuses the Basic credentials sent first; the challenge
    // is answered once with a correct Digest response; a wrong password ends
    // in AuthFailed, not in a loop.
    for (const bool rightPassword : {true, false}) {
        FakeHttpServer server;
        const QByteArray realm = "kelvo";
        const QByteArray nonce = "n0nce";
        server.handler = [&](const FakeRequest &request) {
            const QByteArray authorization = request.header("Authorization");
            if (authorization.startsWith("Digest ")) {
                QMap<QByteArray, QByteArray> fields;
                for (QByteArray part : authorization.mid(7).split(',')) {
                    part = part.trimmed();
                    const qsizetype eq = part.indexOf('=');
                    QByteArray value = part.mid(eq + 1);
                    if (value.startsWith('"'))
                        value = value.mid(1, value.size() - 2);
                    fields.insert(part.left(eq), value);
                }
                const QByteArray ha1 = md5Hex("anna:" + realm + ":pa55-word");
                const QByteArray ha2 = md5Hex(request.method + ":" + fields.value("uri"));
                const QByteArray expected = md5Hex(ha1 + ":" + nonce + ":" + fields.value("nc") + ":"
                                                   + fields.value("cnonce") + ":" + fields.value("qop") + ":" + ha2);
                if (fields.value("username") == "anna" && fields.value("response") == expected)
                    return FakeHttpServer::reply(207, kListing);
            }
            return FakeHttpServer::reply(401, {},
                                         {{"WWW-Authenticate", "Digest realm=\"" + realm + "\", nonce=\"" + nonce
                                                                   + "\", qop=\"auth\", algorithm=MD5"}});
        };
        CardDavSettings settings = settingsFor(server);
        if (!rightPassword)
            settings.password = QStringLiteral("wrong-one");
        auto client = openClient(server, settings);
        const auto listing = client->list({});
        if (rightPassword) {
            QVERIFY2(listing, qPrintable(why(listing)));
            QCOMPARE(listing.value().items.size(), 1);
        } else {
            QVERIFY(!listing);
            QCOMPARE(listing.error().status, RemoteStatus::AuthFailed);
            QVERIFY(!listing.error().text.contains(QLatin1String("wrong-one")));
        }
        QVERIFY2(server.requests.size() <= 3, qPrintable(QString::number(server.requests.size())));
    }
}

void TestCardDavClientFake::certificates()
{
    // A self-signed certificate made for this run.
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty())
        QSKIP("openssl is not installed");
    QTemporaryDir dir;
    QProcess make;
    make.start(openssl, {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                         QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                         QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                         QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"),
                         QStringLiteral("-keyout"), dir.filePath(QStringLiteral("key.pem")), QStringLiteral("-out"),
                         dir.filePath(QStringLiteral("cert.pem"))});
    QVERIFY(make.waitForFinished(60000));
    QCOMPARE(make.exitCode(), 0);
    QFile certFile(dir.filePath(QStringLiteral("cert.pem")));
    QFile keyFile(dir.filePath(QStringLiteral("key.pem")));
    QVERIFY(certFile.open(QIODevice::ReadOnly) && keyFile.open(QIODevice::ReadOnly));
    const QSslCertificate certificate(certFile.readAll(), QSsl::Pem);
    const QSslKey key(keyFile.readAll(), QSsl::Rsa, QSsl::Pem);
    QVERIFY(!certificate.isNull() && !key.isNull());
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(certificate);
    tls.setPrivateKey(key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);

    FakeHttpServer plain;
    plain.handler = [](const FakeRequest &) { return FakeHttpServer::reply(207, kListing); };
    FakeHttpServer server(&tls);
    server.handler = [&](const FakeRequest &request) {
        if (request.target == "/down/")
            return FakeHttpServer::reply(302, {}, {{"Location", plain.url(QStringLiteral("/book/")).toUtf8()}});
        return FakeHttpServer::reply(207, kListing);
    };
    const QByteArray digest = certificate.digest(QCryptographicHash::Sha256);

    CardDavSettings settings = settingsFor(server);
    {
        // Not trusted: stops with the reason and the fingerprint.
        auto client = openClient(server, settings);
        const auto listing = client->list({});
        QVERIFY(!listing);
        QCOMPARE(listing.error().status, RemoteStatus::Certificate);
        QVERIFY2(listing.error().text.contains(QString::fromLatin1(digest.toHex(':').toUpper())),
                 qPrintable(listing.error().text));
        QVERIFY(server.requests.isEmpty());
    }
    {
        // Another certificate's fingerprint does not let it through.
        settings.trustedCertificateSha256 = QByteArray(64, 'a');
        auto client = openClient(server, settings);
        const auto listing = client->list({});
        QVERIFY(!listing);
        QCOMPARE(listing.error().status, RemoteStatus::Certificate);
    }
    {
        // The user trusted this one (written with colons, lower case).
        settings.trustedCertificateSha256 = digest.toHex(':');
        auto client = openClient(server, settings);
        const auto listing = client->list({});
        QVERIFY2(listing, qPrintable(why(listing)));
        QCOMPARE(listing.value().items.size(), 1);
        QCOMPARE(server.requests.size(), 1);
        // https -> http is refused even to a loopback address.
        client->useAddressBook({server.url(QStringLiteral("/down/")), QString(), 3});
        const auto down = client->list({});
        QVERIFY(!down);
        QCOMPARE(down.error().status, RemoteStatus::Insecure);
        QVERIFY(plain.requests.isEmpty());
    }
}

void TestCardDavClientFake::urlRules_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("allowInsecure");
    QTest::addColumn<QString>("normalized"); // "" = refused as an address
    QTest::addColumn<bool>("allowed");
    QTest::newRow("bare host gets https") << "dav.example.com/card" << false << "https://dav.example.com/card" << true;
    QTest::newRow("http remote") << "http://dav.example.com/" << false << "http://dav.example.com/" << false;
    QTest::newRow("http remote confirmed") << "http://dav.example.com/" << true << "http://dav.example.com/" << true;
    QTest::newRow("http loopback") << "http://127.0.0.1:5232/" << false << "http://127.0.0.1:5232/" << true;
    QTest::newRow("http localhost") << "http://localhost:5232" << false << "http://localhost:5232/" << true;
    QTest::newRow("http ipv6 loopback") << "http://[::1]:5232/" << false << "http://[::1]:5232/" << true;
    QTest::newRow("http 127-looking name") << "http://127.0.0.1.example.com/" << false
                                           << "http://127.0.0.1.example.com/" << false;
    QTest::newRow("user info dropped") << "https://anna:pw@dav.example.com/" << false << "https://dav.example.com/"
                                       << true;
    QTest::newRow("ftp") << "ftp://dav.example.com/" << false << "" << false;
    QTest::newRow("empty") << "  " << false << "" << false;
}

void TestCardDavClientFake::urlRules()
{
    QFETCH(QString, typed);
    QFETCH(bool, allowInsecure);
    QFETCH(QString, normalized);
    QFETCH(bool, allowed);
    const QUrl url = CardDavClient::normalizedUrl(typed);
    QCOMPARE(url.toString(), normalized);
    if (!normalized.isEmpty())
        QCOMPARE(CardDavClient::transportAllowed(url, allowInsecure), allowed);
}

QTEST_GUILESS_MAIN(TestCardDavClientFake)
#include "tst_carddavclient_fake.moc"
