// kelvo-tool sync as a user runs it, against a real Radicale; a second device
// is played by plain HTTP requests to the same server.

#include "DavTestServer.h"

#include "CardDavClient.h"
#include "CardVCard.h"
#include "SyncBookTrust.h"
#include "SyncState.h"

#include "CardRecords.h"
#include "CardTree.h"
#include "DataFile.h"
#include "DataFiles.h"
#include "Gb18030.h"
#include "StoreFiles.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace kelvo;
using kelvo::test::DavTestServer;

Q_DECLARE_METATYPE(kelvo::test::DavTestServer::Kind)

namespace {

struct ToolRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

class Device
{
public:
    Device()
    {
        dataPath = dir.filePath(QStringLiteral("SavedCard/Card.DB"));
        QDir().mkpath(dir.filePath(QStringLiteral("SavedCard")));
        runtime.setAutoRemove(true);
    }

    QTemporaryDir dir;
    QTemporaryDir runtime;
    QString dataPath;

    ToolRun sync(const QStringList &extra, const QString &password = QStringLiteral("secret"))
    {
        QFile file(dir.filePath(QStringLiteral("password")));
        if (file.open(QIODevice::WriteOnly))
            file.write(password.toUtf8() + '\n');
        file.close();
        QStringList arguments{QStringLiteral("sync"), dataPath, QStringLiteral("--password-file"), file.fileName()};
        arguments += extra;
        return run(arguments);
    }
    ToolRun run(const QStringList &arguments, QProcess *process = nullptr)
    {
        QProcess own;
        QProcess &p = process ? *process : own;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        environment.remove(QStringLiteral("KELVO_SYNC_PASSWORD"));
        p.setProcessEnvironment(environment);
        p.start(QStringLiteral(KELVO_TOOL_PATH), arguments);
        ToolRun result;
        if (process)
            return result;
        p.waitForFinished(120000);
        result.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        result.out = QString::fromUtf8(p.readAllStandardOutput());
        result.err = QString::fromUtf8(p.readAllStandardError());
        return result;
    }

    // Writes the data file: cards by name in the class 公司, with a phone each.
    void write(const QStringList &names)
    {
        CardTree tree;
        CreateDefaultTree(tree);
        auto record = MakeCardClassRecord();
        record->setField(Field::Name, gb18030::encode(QStringLiteral("公司")));
        CardNode *company = tree.addTopLevel(gb18030::encode(QStringLiteral("公司")), std::move(record));
        for (const QString &name : names) {
            auto card = MakeCardRecord();
            card->setField(Field::Name, gb18030::encode(name));
            card->setField(Field::DH, gb18030::encode(QStringLiteral("010-") + QString::number(qHash(name) % 10000)));
            tree.addChild(company, gb18030::encode(name), std::move(card));
        }
        QVERIFY(SaveTreeViewWithData(DataFiles::forDataFile(dataPath), tree).ok());
    }
    // The cards of the data file: name -> phone.
    QMap<QString, QString> cards(int *count = nullptr) const
    {
        CardTree tree;
        QString error;
        QMap<QString, QString> found;
        if (!tool::ReadDataFile(dataPath, tree, &error))
            return {{QStringLiteral("<unreadable>"), error}};
        int n = 0;
        tree.forEach([&](CardNode *node) {
            if (node->isCard()) {
                ++n;
                found.insert(gb18030::decode(node->label()), gb18030::decode(node->data()->field(Field::DH)));
            }
        });
        if (count)
            *count = n;
        return found;
    }
    void edit(const QString &name, int n, const QString &text)
    {
        CardTree tree;
        QString error;
        QVERIFY(tool::ReadDataFile(dataPath, tree, &error));
        tree.forEach([&](CardNode *node) {
            if (node->isCard() && gb18030::decode(node->label()) == name)
                tree.setField(node, n, gb18030::encode(text));
        });
        QVERIFY(SaveTreeViewWithData(DataFiles::forDataFile(dataPath), tree).ok());
    }
};

// The server's cards: href -> vCard, by a PROPFIND and GETs.
// The number of cards the server lists (no card fetched).
int serverCardCount(const DavTestServer &server)
{
    const auto listing = server.request("PROPFIND", server.bookPath(),
                                        "<?xml version=\"1.0\"?><propfind xmlns=\"DAV:\"><prop><getetag/></prop></propfind>",
                                        {{"Depth", "1"}, {"Content-Type", "application/xml"}});
    return int(listing.body.count(".vcf<"));
}

QMap<QString, QByteArray> serverCards(const DavTestServer &server)
{
    QMap<QString, QByteArray> cards;
    const auto listing = server.request("PROPFIND", server.bookPath(),
                                        "<?xml version=\"1.0\"?><propfind xmlns=\"DAV:\"><prop><getetag/></prop></propfind>",
                                        {{"Depth", "1"}, {"Content-Type", "application/xml"}});
    static const QRegularExpression href(QStringLiteral("<[A-Za-z0-9]*:?href>([^<]+\\.vcf)</"));
    auto it = href.globalMatch(QString::fromUtf8(listing.body));
    while (it.hasNext()) {
        const QString path = it.next().captured(1);
        cards.insert(path, server.request("GET", path).body);
    }
    return cards;
}

QString nameOf(const QByteArray &vcard)
{
    return sync::ReadServerCard(vcard, {}).content.fields[0];
}

int countNamed(const QMap<QString, QByteArray> &cards, const QString &name)
{
    int n = 0;
    for (const QByteArray &card : cards)
        n += nameOf(card) == name;
    return n;
}

} // namespace

class TestToolSync : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DavTestServer> startServer(bool password = false,
                                               DavTestServer::Kind kind = DavTestServer::Kind::Radicale)
    {
        auto server = std::make_unique<DavTestServer>(kind);
        if (DavTestServer::program(kind).isEmpty())
            return nullptr;
        if (password)
            server->requirePassword(QStringLiteral("kelvo"), QStringLiteral("secret"));
        if (!server->start())
            qWarning("%s", qPrintable(server->errorString()));
        return server;
    }

private slots:
    // What the window allowed for the kept book (its book_trust table) reaches
    // the client kelvo-tool sync makes; nothing of it reaches another address.
    void windowTrustReachesTheClient_data()
    {
        QTest::addColumn<bool>("keepBook");
        QTest::addColumn<bool>("saveTrust");
        QTest::addColumn<QByteArray>("certificate");
        QTest::addColumn<bool>("trustHttp");
        QTest::addColumn<QString>("typedUrl");
        QTest::addColumn<bool>("typedHttp");
        QTest::addColumn<QByteArray>("wantCertificate");
        QTest::addColumn<bool>("wantHttp");
        const QString kept = QStringLiteral("https://cards.example.com/dav/me/book/");
        const QByteArray fp = "9F:86:D0:81:88:4C:7D:65:9A:2F:EA:A0:C5:5A:D0:15:A3:BF:4F:1B:2B:0B:82:2C:D1:5D:6C:15:B0:F0:0A:08";
        QTest::newRow("no table") << true << false << QByteArray() << false << QString() << false << QByteArray() << false;
        QTest::newRow("certificate") << true << true << fp << false << QString() << false << fp << false;
        QTest::newRow("plain http") << true << true << QByteArray() << true << QString() << false << QByteArray() << true;
        QTest::newRow("both, kept url typed") << true << true << fp << true << kept << false << fp << true;
        QTest::newRow("typed --insecure-http stays") << true << true << fp << false << QString() << true << fp << true;
        QTest::newRow("another url") << true << true << fp << true << QStringLiteral("https://other.example.com/book/")
                                     << false << QByteArray() << false;
        QTest::newRow("no book kept") << false << true << fp << true << kept << false << QByteArray() << false;
    }
    void windowTrustReachesTheClient()
    {
        QFETCH(bool, keepBook);
        QFETCH(bool, saveTrust);
        QFETCH(QByteArray, certificate);
        QFETCH(bool, trustHttp);
        QFETCH(QString, typedUrl);
        QFETCH(bool, typedHttp);
        QFETCH(QByteArray, wantCertificate);
        QFETCH(bool, wantHttp);
        const QString kept = QStringLiteral("https://cards.example.com/dav/me/book/");
        QTemporaryDir dir;
        const QString statePath = dir.filePath(QStringLiteral("Card.sync"));
        std::optional<sync::BookSettings> book;
        {
            auto state = sync::SyncState::open(statePath);
            QVERIFY(state);
            if (keepBook) {
                QVERIFY(state.value()->setBook({kept, QStringLiteral("me"), QByteArray(), 3}));
                book = state.value()->book();
            }
        }
        if (saveTrust)
            QVERIFY(sync::SaveSyncBookTrust(statePath, {certificate, trustHttp}));
        // As SyncCommand builds them: the typed address, else the kept one.
        sync::CardDavSettings settings;
        settings.url = typedUrl.isEmpty() ? (book ? book->url : QString()) : typedUrl;
        settings.allowInsecureHttp = typedHttp;
        sync::CardDavClient client(
            sync::WithKeptBookTrust(std::move(settings), statePath, book ? book->url : QString()));
        QCOMPARE(client.settings().trustedCertificateSha256, wantCertificate);
        QCOMPARE(client.settings().allowInsecureHttp, wantHttp);
    }

    void bothWaysEditsAndALostState_data()
    {
        QTest::addColumn<DavTestServer::Kind>("kind");
        QTest::addColumn<bool>("password");
        QTest::newRow("radicale, with a password") << DavTestServer::Kind::Radicale << true;
        QTest::newRow("xandikos") << DavTestServer::Kind::Xandikos << false;
    }

    void bothWaysEditsAndALostState()
    {
        QFETCH(DavTestServer::Kind, kind);
        QFETCH(bool, password);
        auto server = startServer(password, kind);
        if (!server)
            QSKIP("the server program is not installed");
        QVERIFY(server->isRunning());
        Device kelvo;
        kelvo.write({QStringLiteral("张三"), QStringLiteral("李四"), QStringLiteral("王五")});
        // A phone-made card with what Kelvo has no field for.
        const QByteArray phone = DavTestServer::vcard(
            QStringLiteral("phone-1"), QStringLiteral("钱七"),
            QStringLiteral("item1.TEL;type=CELL:+86 139 0000 0001\r\nitem1.X-ABLabel:_$!<Mobile>!$_\r\n"
                           "BDAY:1990-01-02\r\nPHOTO;ENCODING=b;TYPE=PNG:iVBORw0KGgoAAAANSUhEUgAA\r\n"));
        QCOMPARE(server->request("PUT", server->bookPath() + QStringLiteral("phone-1.vcf"), phone,
                                 {{"Content-Type", "text/vcard"}, {"If-None-Match", "*"}})
                     .status,
                 201);

        ToolRun run = kelvo.sync({QStringLiteral("--url"), server->bookUrl(), QStringLiteral("--user"), QStringLiteral("kelvo")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(run.out, QStringLiteral("uploaded 3, downloaded 1, updated 0, deleted 0, conflicts 0\n"));
        QVERIFY(kelvo.cards().contains(QStringLiteral("钱七")));
        QCOMPARE(serverCards(*server).size(), 4);
        // The state file holds no password.
        QFile state(kelvo.dataPath + QStringLiteral(".sync"));
        QVERIFY(state.open(QIODevice::ReadOnly));
        QVERIFY(!state.readAll().contains("secret"));

        // Later runs need only the data file; nothing changed, nothing done.
        run = kelvo.sync({});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(run.out, QStringLiteral("uploaded 0, downloaded 0, updated 0, deleted 0, conflicts 0\n"));

        // Edits on each side: the other device deletes one card and edits the
        // phone card; here a card is edited and the phone card gets a title.
        QMap<QString, QByteArray> cards = serverCards(*server);
        QString wangHref;
        for (auto it = cards.cbegin(); it != cards.cend(); ++it) {
            if (nameOf(it.value()) == QStringLiteral("王五"))
                wangHref = it.key();
        }
        QVERIFY(server->request("DELETE", wangHref).status < 300);
        QByteArray edited = server->request("GET", server->bookPath() + QStringLiteral("phone-1.vcf")).body;
        edited.replace("BDAY:1990-01-02", "BDAY:1990-01-02\r\nORG:新公司");
        QVERIFY(server->request("PUT", server->bookPath() + QStringLiteral("phone-1.vcf"), edited,
                                {{"Content-Type", "text/vcard"}})
                    .status
                < 300);
        kelvo.edit(QStringLiteral("张三"), Field::DH, QStringLiteral("020-2222"));
        kelvo.edit(QStringLiteral("钱七"), Field::TouXian, QStringLiteral("总监"));
        run = kelvo.sync({});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(run.out, QStringLiteral("uploaded 0, downloaded 0, updated 2, deleted 1, conflicts 0\n"));
        int count = 0;
        const QMap<QString, QString> here = kelvo.cards(&count);
        QCOMPARE(count, 3);
        QVERIFY(!here.contains(QStringLiteral("王五")));
        const QByteArray phoneNow = server->request("GET", server->bookPath() + QStringLiteral("phone-1.vcf")).body;
        QVERIFY(phoneNow.contains("TITLE:总监"));
        QVERIFY(phoneNow.contains("ORG:新公司"));
        // A server may write property names in capitals; the label and its phone stay.
        QVERIFY2(phoneNow.toUpper().contains("ITEM1.X-ABLABEL:_$!<MOBILE>!$_"), phoneNow.constData());
        QVERIFY(phoneNow.toUpper().contains("ITEM1.TEL;TYPE=CELL:+86 139 0000 0001"));
        QVERIFY(phoneNow.contains("PHOTO;ENCODING=b;TYPE=PNG:iVBORw0KGgoAAAANSUhEUgAA"));
        QVERIFY(phoneNow.contains("BDAY:1990-01-02"));
        cards = serverCards(*server);
        QCOMPARE(cards.size(), 3);
        QCOMPARE(sync::ReadServerCard(cards.value(cards.keys().value(0)), {}).readable, true);
        QCOMPARE(countNamed(cards, QStringLiteral("张三")), 1);
        for (const QByteArray &card : cards) {
            if (nameOf(card) == QStringLiteral("张三"))
                QVERIFY(card.contains("020-2222"));
        }

        // The state file goes: the next run links every card again.
        QVERIFY(QFile::remove(kelvo.dataPath + QStringLiteral(".sync")));
        run = kelvo.sync({QStringLiteral("--url"), server->bookUrl(), QStringLiteral("--user"), QStringLiteral("kelvo")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(run.out, QStringLiteral("uploaded 0, downloaded 0, updated 0, deleted 0, conflicts 0\n"));
        QCOMPARE(serverCards(*server).size(), 3);
        kelvo.cards(&count);
        QCOMPARE(count, 3);
    }

    void aCardDeletedElsewhereRightAfterItsUpload_data()
    {
        QTest::addColumn<DavTestServer::Kind>("kind");
        QTest::newRow("radicale") << DavTestServer::Kind::Radicale;
        QTest::newRow("xandikos") << DavTestServer::Kind::Xandikos;
    }

    // The token of the run that uploaded a card predates it: a change list
    // from that token does not name the card when another device deletes it
    // (Xandikos), so the deletion must still be seen.
    void aCardDeletedElsewhereRightAfterItsUpload()
    {
        QFETCH(DavTestServer::Kind, kind);
        auto server = startServer(false, kind);
        if (!server)
            QSKIP("the server program is not installed");
        QVERIFY(server->isRunning());
        Device kelvo;
        kelvo.write({QStringLiteral("张三"), QStringLiteral("李四"), QStringLiteral("王五")});
        ToolRun run = kelvo.sync({QStringLiteral("--url"), server->bookUrl(), QStringLiteral("--user"), QStringLiteral("kelvo")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        const QMap<QString, QByteArray> cards = serverCards(*server);
        QCOMPARE(cards.size(), 3);
        for (auto it = cards.cbegin(); it != cards.cend(); ++it) {
            if (nameOf(it.value()) == QStringLiteral("王五"))
                QVERIFY(server->request("DELETE", it.key()).status < 300);
        }
        run = kelvo.sync({});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(run.out, QStringLiteral("uploaded 0, downloaded 0, updated 0, deleted 1, conflicts 0\n"));
        QCOMPARE(kelvo.cards().keys(), (QStringList{QStringLiteral("张三"), QStringLiteral("李四")}));
        // The full listing of that run gave a token that holds: nothing more.
        run = kelvo.sync({});
        QCOMPARE(run.out, QStringLiteral("uploaded 0, downloaded 0, updated 0, deleted 0, conflicts 0\n"));
    }

    void wrongPasswordChangesNothing()
    {
        auto server = startServer(true);
        if (!server)
            QSKIP("radicale is not installed");
        Device kelvo;
        kelvo.write({QStringLiteral("张三")});
        QFile data(kelvo.dataPath);
        QVERIFY(data.open(QIODevice::ReadOnly));
        const QByteArray before = data.readAll();
        data.close();
        const ToolRun run = kelvo.sync({QStringLiteral("--url"), server->bookUrl(), QStringLiteral("--user"),
                                        QStringLiteral("kelvo")},
                                       QStringLiteral("wrong-password"));
        QCOMPARE(run.exitCode, 4);
        QVERIFY(!run.err.contains(QStringLiteral("wrong-password")));
        QVERIFY(data.open(QIODevice::ReadOnly));
        QCOMPARE(data.readAll(), before);
        QCOMPARE(serverCards(*server).size(), 0);
    }

    void serverKilledMidRunThenRerun_data()
    {
        QTest::addColumn<DavTestServer::Kind>("kind");
        QTest::newRow("radicale") << DavTestServer::Kind::Radicale;
        QTest::newRow("xandikos") << DavTestServer::Kind::Xandikos;
    }

    void serverKilledMidRunThenRerun()
    {
        QFETCH(DavTestServer::Kind, kind);
        auto server = startServer(false, kind);
        if (!server)
            QSKIP("the server is not installed");
        QVERIFY2(server->isRunning(), qPrintable(server->errorString()));
        Device kelvo;
        QStringList names;
        for (int i = 0; i < 120; ++i)
            names << QStringLiteral("名片%1").arg(i);
        kelvo.write(names);
        QProcess process;
        QFile file(kelvo.dir.filePath(QStringLiteral("password")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x\n");
        file.close();
        kelvo.run({QStringLiteral("sync"), kelvo.dataPath, QStringLiteral("--url"), server->bookUrl(),
                   QStringLiteral("--user"), QStringLiteral("kelvo"), QStringLiteral("--password-file"), file.fileName()},
                  &process);
        // Kill the server once some of the cards are on it.
        QElapsedTimer waited;
        waited.start();
        while (serverCardCount(*server) < 10 && waited.elapsed() < 60000 && process.state() != QProcess::NotRunning)
            QThread::msleep(20);
        server->kill();
        QVERIFY(process.waitForFinished(120000));
        if (process.exitCode() == 0)
            QSKIP("the run finished before the server could be killed");
        QCOMPARE(process.exitCode(), 4);

        // The same server again, on its folder and port.
        QVERIFY2(server->restart(), qPrintable(server->errorString()));
        const int stored = serverCardCount(*server);
        QVERIFY2(stored > 0 && stored < 120, qPrintable(QString::number(stored)));
        const ToolRun rerun = kelvo.sync({}, QStringLiteral("x"));
        QVERIFY2(rerun.exitCode == 0, qPrintable(rerun.err));
        const QMap<QString, QByteArray> cards = serverCards(*server);
        QCOMPARE(cards.size(), 120);
        QSet<QString> uids;
        for (const QByteArray &card : cards)
            uids.insert(sync::ReadServerCard(card, {}).uid);
        QCOMPARE(uids.size(), 120);
        int count = 0;
        kelvo.cards(&count);
        QCOMPARE(count, 120);
    }
};

QTEST_GUILESS_MAIN(TestToolSync)
#include "tst_toolsync.moc"
