// The window's side of the sync: the menu entry, the dialog against a real
// Radicale or Xandikos (DavTestServer), background runs after a save, a failure told
// once, the keyring or the prompt for the password, and a state file that
// never holds it.

#include "CardRecords.h"
#include "CardTreeModel.h"
#include "DataFile.h"
#include "DavTestServer.h"
#include "FakePasswordStore.h"
#include "FakeTrayIcon.h"
#include "Gb18030.h"
#include "RecordingShell.h"
#include "RecordingSpreadsheet.h"
#include "ScriptedDialogs.h"
#include "Session.h"
#include "SyncState.h"
#include "SyncTexts.h"
#include "TfrmMain.h"
#include "TfrmSync.h"
#include "WindowSync.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTreeView>
#include <QTest>

using namespace kelvo;
using kelvo::test::DavTestServer;

namespace {

int countCards(const CardTree &tree, const QString &name)
{
    int n = 0;
    tree.forEach([&](CardNode *node) { n += node->isCard() && gb18030::decode(node->label()) == name; });
    return n;
}

CardNode *addCard(CardTree &tree, const QString &name)
{
    auto record = MakeCardRecord();
    record->setField(Field::Name, gb18030::encode(name));
    return tree.addChild(tree.firstTopLevel(), gb18030::encode(name), std::move(record));
}

// The .vcf resources of the server's address book.
// The server the suite runs against: Radicale, or Xandikos when
// KELVO_TEST_DAV_SERVER says so (CTest runs the suite once with each).
DavTestServer::Kind serverKind()
{
    return qgetenv("KELVO_TEST_DAV_SERVER") == "xandikos" ? DavTestServer::Kind::Xandikos
                                                         : DavTestServer::Kind::Radicale;
}

int serverCardCount(const DavTestServer &server)
{
    const DavTestServer::Reply reply =
        server.request("PROPFIND", server.bookPath(), QByteArray(), {{"Depth", "1"}});
    return static_cast<int>(reply.body.count(".vcf</"));
}

} // namespace

class TestWindowSync : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    DataFiles m_files;
    ScriptedDialogs m_dialogs;
    RecordingShell m_shell;
    RecordingSpreadsheet m_spreadsheet;
    std::unique_ptr<FakeTrayIcon> m_tray;
    std::unique_ptr<FakePasswordStore> m_passwords;
    ScriptedPasswordPrompt m_prompt;
    std::unique_ptr<Session> m_session;
    std::unique_ptr<DavTestServer> m_server;

    TfrmMain *main() const { return m_session->mainWindow(); }
    WindowSync &sync() const { return main()->windowSync(); }

    void startSession(bool keyring = true)
    {
        m_tray = std::make_unique<FakeTrayIcon>(true);
        if (!m_passwords)
            m_passwords = std::make_unique<FakePasswordStore>(keyring);
        m_session = std::make_unique<Session>(Session::Services{m_dialogs, m_shell, *m_tray, m_spreadsheet, m_files});
        main()->setSyncServices(m_passwords.get(), &m_prompt);
        m_session->showMainWindow();
        QVERIFY(main()->isLoaded());
    }

    bool startServer()
    {
        m_server = std::make_unique<DavTestServer>(serverKind());
        if (DavTestServer::program(serverKind()).isEmpty())
            return false;
        if (serverKind() == DavTestServer::Kind::Radicale) // xandikos checks no passwords
            m_server->requirePassword(QStringLiteral("kelvo"), QStringLiteral("pa55-w0rd-xyz"));
        return m_server->start();
    }

    // Fills the dialog and runs one of its commands to its end.
    bool runDialog(TfrmSync &dialog, const QString &url, const QString &user, const QString &password, bool start)
    {
        dialog.findChild<QLineEdit *>(QStringLiteral("edtUrl"))->setText(url);
        dialog.findChild<QLineEdit *>(QStringLiteral("edtUser"))->setText(user);
        dialog.findChild<QLineEdit *>(QStringLiteral("edtPassword"))->setText(password);
        QSignalSpy finished(&dialog, &TfrmSync::workFinished);
        dialog.findChild<QPushButton *>(start ? QStringLiteral("btnStart") : QStringLiteral("btnTest"))->click();
        if (!dialog.isWorking())
            return true; // refused before any request
        return finished.wait(60000);
    }

    // Sets the sync up through the dialog with the server's book and runs
    // the first sync.
    void setUpThroughDialog()
    {
        TfrmSync dialog(sync(), m_dialogs, main());
        QSignalSpy progress(&sync(), &WindowSync::runProgress);
        int cards = 0;
        main()->cardTree().forEach([&](CardNode *node) { cards += node->isCard(); });
        QVERIFY(runDialog(dialog, m_server->rootUrl(), m_server->user(), m_server->password(), true));
        QVERIFY2(dialog.reportText().startsWith(QStringLiteral("上传 ")), qPrintable(dialog.reportText()));
        QVERIFY(sync().isSetUp());
        // The run told how far it was: the listing, the fetch, then a step a
        // card, the last at its end; the bar stands full.
        QVERIFY(!progress.isEmpty());
        const int total = progress.last().at(1).toInt();
        QCOMPARE(progress.last().at(0).toInt(), total);
        QVERIFY2(total >= 2 + cards, qPrintable(QString::number(total)));
        const auto *bar = dialog.findChild<QProgressBar *>(QStringLiteral("prgSync"));
        QCOMPARE(bar->value(), bar->maximum());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.grab().save(QStringLiteral(KELVO_TEST_OUTPUT_DIR "/sync-dialog-report.png"));
    }

    bool waitForRun(int timeoutMs = 60000)
    {
        QSignalSpy finished(&sync(), &WindowSync::runFinished);
        if (!sync().isRunning())
            return false;
        return finished.wait(timeoutMs);
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_files = DataFiles::inFolder(m_dir->path());
        m_dialogs.clear();
        m_prompt.texts.clear();
    }

    void cleanup()
    {
        m_session.reset();
        m_tray.reset();
        m_passwords.reset();
        m_server.reset();
        m_dir.reset();
    }

    void syncStandsInToolsBeforeHelp()
    {
        startSession();
        const QList<QAction *> menus = main()->menuBar()->actions();
        QStringList titles;
        for (QAction *menu : menus)
            titles.append(menu->text());
        QCOMPARE(titles, QStringList({QStringLiteral("名片管理"), QStringLiteral("编辑"), QStringLiteral("工具"),
                                      QStringLiteral("帮助")}));
        QMenu *tools = main()->findChild<QMenu *>(QStringLiteral("mnuTools"));
        QVERIFY(tools);
        QCOMPARE(tools->menuAction(), menus.at(2));
        QStringList entries;
        for (QAction *entry : tools->actions())
            entries.append(entry->text());
        QVERIFY(entries.contains(QStringLiteral("同步...")));
        // Without an address book set up nothing is synced and the status
        // bar stays empty.
        QVERIFY(!sync().isSetUp());
        QVERIFY(!QFile::exists(sync().statePath()));
        QVERIFY(main()->findChild<QStatusBar *>(QStringLiteral("StatusBar1"))->currentMessage().isEmpty());
    }

    void dialogControlsHaveNamesAndAccessibleNames()
    {
        startSession();
        TfrmSync dialog(sync(), m_dialogs, main());
        for (const char *name : {"edtUrl", "edtUser", "edtPassword", "btnTest", "btnStart", "btnClose", "prgSync",
                                 "memReport"}) {
            QWidget *control = dialog.findChild<QWidget *>(QLatin1String(name));
            QVERIFY2(control, name);
            QVERIFY2(!control->accessibleName().isEmpty(), name);
        }
        QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("edtPassword"))->echoMode(), QLineEdit::Password);
    }

    void plainHttpToAnotherHostIsAsked_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("asked");
        QTest::newRow("remote http") << "http://192.0.2.7/dav/" << true;
        QTest::newRow("remote http, no scheme given is https") << "192.0.2.7/dav/" << false;
        QTest::newRow("loopback http") << "http://127.0.0.1:1/" << false;
    }
    void plainHttpToAnotherHostIsAsked()
    {
        QFETCH(QString, url);
        QFETCH(bool, asked);
        startSession();
        TfrmSync dialog(sync(), m_dialogs, main());
        // Answered No: nothing is sent.
        m_dialogs.answerQuestion(false);
        QVERIFY(runDialog(dialog, url, QStringLiteral("u"), QStringLiteral("p"), false));
        const QStringList questions = m_dialogs.texts(ScriptedDialogs::Kind::Question);
        QCOMPARE(questions.size(), asked ? 1 : 0);
        if (asked)
            QVERIFY(questions.first().contains(QStringLiteral("不加密的 http")));
        else
            QCOMPARE(m_dialogs.pendingAnswers(), 1);
    }

    void connectionTest_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("expected");
        QTest::newRow("server root") << "root" << QStringLiteral("连接成功，找到 1 个通讯录");
        QTest::newRow("address book's own url") << "book" << QStringLiteral("连接成功，找到 1 个通讯录");
        QTest::newRow("wrong password") << "wrong" << QStringLiteral("用户名或密码不对");
        QTest::newRow("nothing listening") << "closed" << QStringLiteral("连接不上服务器");
    }
    void connectionTest()
    {
        QFETCH(QString, what);
        QFETCH(QString, expected);
        if (what == QLatin1String("wrong") && serverKind() != DavTestServer::Kind::Radicale)
            QSKIP("only radicale checks passwords here");
        if (!startServer())
            QSKIP("the server is not available");
        startSession();
        TfrmSync dialog(sync(), m_dialogs, main());
        const QString url = what == QLatin1String("book") ? m_server->bookUrl() : m_server->rootUrl();
        const QString password = what == QLatin1String("wrong") ? QStringLiteral("nope") : m_server->password();
        if (what == QLatin1String("closed"))
            m_server->kill();
        QVERIFY(runDialog(dialog, url, m_server->user(), password, false));
        QVERIFY2(dialog.reportText().contains(expected), qPrintable(dialog.reportText()));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.grab().save(QStringLiteral(KELVO_TEST_OUTPUT_DIR "/sync-dialog-%1.png").arg(what));
        if (what == QLatin1String("root") || what == QLatin1String("book"))
            QVERIFY(dialog.reportText().contains(m_server->bookPath()));
        // A test sets nothing up and keeps no password.
        QVERIFY(!sync().isSetUp());
        QVERIFY(m_passwords->entries.isEmpty());
        QVERIFY(!dialog.reportText().contains(m_server->password()));
    }

    void fullSyncFromTheDialogKeepsThePasswordOutOfTheStateFile()
    {
        if (!startServer())
            QSKIP("the server is not available");
        startSession();
        addCard(main()->cardTree(), QStringLiteral("王小明"));
        addCard(main()->cardTree(), QStringLiteral("李四"));
        main()->actSaveAllExecute();
        m_server->request("PUT", m_server->bookPath() + QStringLiteral("phone-1.vcf"),
                          DavTestServer::vcard(QStringLiteral("phone-1"), QStringLiteral("手机上的张三")),
                          {{"Content-Type", "text/vcard"}, {"If-None-Match", "*"}});

        setUpThroughDialog();
        QCOMPARE(serverCardCount(*m_server), 3);
        QCOMPARE(countCards(main()->cardTree(), QStringLiteral("手机上的张三")), 1);
        QVERIFY(!main()->isModified()); // the run's changes were saved
        QVERIFY(main()->findChild<QStatusBar *>(QStringLiteral("StatusBar1"))->currentMessage().contains(
            QStringLiteral("同步完成")));
        // The keyring has the password; the state file does not.
        QCOMPARE(m_passwords->entries.size(), 1);
        QCOMPARE(m_passwords->entries.cbegin().value(), m_server->password());
        QFile state(sync().statePath());
        QVERIFY(state.open(QIODevice::ReadOnly));
        const QByteArray bytes = state.readAll();
        QVERIFY(!bytes.isEmpty());
        QVERIFY(!bytes.contains(m_server->password().toUtf8()));
        QVERIFY(!bytes.contains(m_server->password().toUtf8().toBase64()));

        // A new start of the program syncs after its load, with the keyring's
        // password and nothing asked.
        m_session.reset();
        startSession();
        QVERIFY(sync().isSetUp());
        QVERIFY(waitForRun());
        QVERIFY2(sync().statusText().contains(QStringLiteral("同步完成")), qPrintable(sync().statusText()));
        QCOMPARE(countCards(main()->cardTree(), QStringLiteral("手机上的张三")), 1);
        QCOMPARE(serverCardCount(*m_server), 3);
        QVERIFY(m_prompt.texts.isEmpty());
    }

    void backgroundSyncAfterASaveBringsTheServersCard()
    {
        if (!startServer())
            QSKIP("the server is not available");
        startSession();
        setUpThroughDialog();

        // A second device adds a card on the server.
        const DavTestServer::Reply put =
            m_server->request("PUT", m_server->bookPath() + QStringLiteral("second-device.vcf"),
                              DavTestServer::vcard(QStringLiteral("second-device"), QStringLiteral("赵六")),
                              {{"Content-Type", "text/vcard"}, {"If-None-Match", "*"}});
        QVERIFY2(put.status == 201 || put.status == 204, QByteArray::number(put.status));

        // Watches the card arrive: announced (the model shows it) with
        // Modified raised, as any edit.
        bool modifiedWhenApplied = false;
        int shownInModel = 0;
        connect(&sync(), &WindowSync::changesApplied, this, [&] { modifiedWhenApplied = main()->isModified(); });
        auto *model = qobject_cast<CardTreeModel *>(main()->treeView()->model());
        QVERIFY(model);
        connect(model, &QAbstractItemModel::rowsInserted, this, [&](const QModelIndex &parent, int first, int last) {
            for (int row = first; row <= last; ++row) {
                if (model->index(row, 0, parent).data().toString() == QStringLiteral("赵六")) {
                    ++shownInModel;
                }
            }
        });

        addCard(main()->cardTree(), QStringLiteral("本机的新名片"));
        main()->actSaveAllExecute(); // a save starts a run in the background
        QVERIFY(sync().isRunning());
        QVERIFY(waitForRun());
        QCOMPARE(shownInModel, 1);
        QVERIFY(modifiedWhenApplied);
        QCOMPARE(countCards(main()->cardTree(), QStringLiteral("赵六")), 1);
        QCOMPARE(serverCardCount(*m_server), 2);
        // Saved as usual: the card is in the data file.
        QVERIFY(!main()->isModified());
        CardTree reread;
        QVERIFY(LoadTreeViewWithData(m_files, reread).ok());
        QCOMPARE(countCards(reread, QStringLiteral("赵六")), 1);
    }

    void aCardEditedDuringARunGoesOutWithTheNextRun()
    {
        if (!startServer())
            QSKIP("the server is not available");
        const QString href = m_server->bookPath() + QStringLiteral("phone-2.vcf");
        m_server->request("PUT", href, DavTestServer::vcard(QStringLiteral("phone-2"), QStringLiteral("钱七")),
                          {{"Content-Type", "text/vcard"}});
        startSession();
        setUpThroughDialog();
        CardTree &tree = main()->cardTree();
        CardNode *card = nullptr;
        tree.forEach([&](CardNode *node) {
            if (node->isCard() && gb18030::decode(node->label()) == QStringLiteral("钱七"))
                card = node;
        });
        QVERIFY(card);

        // The phone adds a mail address; meanwhile the card's company is
        // typed here while the run that fetches the mail address is in flight.
        m_server->request("PUT", href,
                          DavTestServer::vcard(QStringLiteral("phone-2"), QStringLiteral("钱七"),
                                               QStringLiteral("EMAIL:qian@example.com")),
                          {{"Content-Type", "text/vcard"}});
        QSignalSpy finished(&sync(), &WindowSync::runFinished);
        main()->raiseModifiedWithoutChange();
        main()->actSaveAllExecute();
        QVERIFY(sync().isRunning());
        tree.setField(card, Field::DW, gb18030::encode(QStringLiteral("本地公司")));
        main()->actSaveAllExecute(); // one more run after the one in flight
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!sync().isRunning(), 60000);

        // Both changes on both sides, nothing lost.
        QCOMPARE(gb18030::decode(card->data()->field(Field::DW)), QStringLiteral("本地公司"));
        QCOMPARE(gb18030::decode(card->data()->field(Field::EMail)), QStringLiteral("qian@example.com"));
        const QByteArray server = m_server->request("GET", href).body;
        QVERIFY2(server.contains("qian@example.com"), server.constData());
        QVERIFY2(server.contains(QStringLiteral("本地公司").toUtf8()), server.constData());
    }

    void aSaveDuringARunIsFollowedByOneMoreRun()
    {
        if (!startServer())
            QSKIP("the server is not available");
        startSession();
        setUpThroughDialog();
        QSignalSpy finished(&sync(), &WindowSync::runFinished);
        addCard(main()->cardTree(), QStringLiteral("第一张"));
        main()->actSaveAllExecute();
        QVERIFY(sync().isRunning());
        addCard(main()->cardTree(), QStringLiteral("第二张"));
        main()->actSaveAllExecute();
        main()->actSaveAllExecute();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!sync().isRunning(), 60000);
        QTest::qWait(200);
        QCOMPARE(finished.count(), 2); // never two at once, and one follow-up
        QCOMPARE(serverCardCount(*m_server), 2);
    }

    void theDialogsStartWaitsForABackgroundRun()
    {
        if (!startServer())
            QSKIP("the server is not available");
        startSession();
        setUpThroughDialog();
        addCard(main()->cardTree(), QStringLiteral("后台的名片"));
        main()->actSaveAllExecute();
        QVERIFY(sync().isRunning());
        QSignalSpy finished(&sync(), &WindowSync::runFinished);
        TfrmSync dialog(sync(), m_dialogs, main());
        QVERIFY(runDialog(dialog, m_server->rootUrl(), m_server->user(), m_server->password(), true));
        QVERIFY2(dialog.reportText().startsWith(QStringLiteral("上传 ")), qPrintable(dialog.reportText()));
        QCOMPARE(finished.count(), 2); // the background run, then the dialog's
        QVERIFY(!finished.at(0).at(1).toBool());
        QVERIFY(finished.at(1).at(1).toBool());
        QCOMPARE(serverCardCount(*m_server), 1);
    }

    void massDeleteIsAskedInTheDialog_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("deletes when confirmed") << true;
        QTest::newRow("keeps the cards otherwise") << false;
    }
    void massDeleteIsAskedInTheDialog()
    {
        QFETCH(bool, yes);
        if (!startServer())
            QSKIP("the server is not available");
        startSession();
        const QStringList names = {QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丙"),
                                   QStringLiteral("丁")};
        for (const QString &name : names)
            addCard(main()->cardTree(), name);
        setUpThroughDialog();
        QCOMPARE(serverCardCount(*m_server), 4);

        // Another device deletes three of the four.
        const DavTestServer::Reply listing =
            m_server->request("PROPFIND", m_server->bookPath(), QByteArray(), {{"Depth", "1"}});
        QRegularExpression href(QStringLiteral("<[^>]*href>([^<]+\\.vcf)</"));
        QStringList hrefs;
        for (auto it = href.globalMatch(QString::fromUtf8(listing.body)); it.hasNext();)
            hrefs.append(it.next().captured(1));
        QCOMPARE(hrefs.size(), 4);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(m_server->request("DELETE", hrefs.at(i)).status / 100, 2);

        // The run after a save deletes nothing and says so once.
        m_dialogs.clear();
        main()->raiseModifiedWithoutChange();
        main()->actSaveAllExecute();
        QVERIFY(waitForRun());
        int cards = 0;
        main()->cardTree().forEach([&](CardNode *node) { cards += node->isCard(); });
        QCOMPARE(cards, 4);
        QCOMPARE(m_dialogs.texts(ScriptedDialogs::Kind::Notice).size(), 1);
        QVERIFY(m_dialogs.texts(ScriptedDialogs::Kind::Notice).first().contains(QStringLiteral("同步...")));

        // The dialog asks, and deletes only when told to.
        m_dialogs.answerQuestion(yes);
        TfrmSync dialog(sync(), m_dialogs, main());
        QVERIFY(runDialog(dialog, m_server->rootUrl(), m_server->user(), m_server->password(), true));
        if (dialog.isWorking()) {
            QSignalSpy finished(&dialog, &TfrmSync::workFinished);
            QVERIFY(finished.wait(60000));
        }
        QCOMPARE(m_dialogs.texts(ScriptedDialogs::Kind::Question).size(), 1);
        cards = 0;
        main()->cardTree().forEach([&](CardNode *node) { cards += node->isCard(); });
        QCOMPARE(cards, yes ? 1 : 4);
        QVERIFY2(dialog.reportText().contains(yes ? QStringLiteral("删除 3") : QStringLiteral("同步中止")),
                 qPrintable(dialog.reportText()));
    }

    void aFailureIsToldOnceAcrossSaves()
    {
        if (!startServer())
            QSKIP("the server is not available");
        startSession();
        setUpThroughDialog();
        m_server->kill();
        m_dialogs.clear();
        for (int save = 0; save < 2; ++save) {
            addCard(main()->cardTree(), QStringLiteral("离线名片%1").arg(save));
            main()->actSaveAllExecute();
            QVERIFY(waitForRun());
            QVERIFY2(sync().statusText().contains(QStringLiteral("同步失败")), qPrintable(sync().statusText()));
        }
        const QStringList notices = m_dialogs.texts(ScriptedDialogs::Kind::Notice);
        QCOMPARE(notices.size(), 1);
        QVERIFY(notices.first().contains(QStringLiteral("名片同步没有完成")));
        QCOMPARE(sync().failureNotices(), 1);
        QVERIFY(main()->findChild<QStatusBar *>(QStringLiteral("StatusBar1"))->currentMessage().contains(
            QStringLiteral("同步失败")));
        // Nothing was lost: the cards are in the data file.
        CardTree reread;
        QVERIFY(LoadTreeViewWithData(m_files, reread).ok());
        QCOMPARE(countCards(reread, QStringLiteral("离线名片1")), 1);
    }

    void withoutAKeyringThePasswordIsAskedOncePerRun()
    {
        if (!startServer())
            QSKIP("the server is not available");
        m_passwords = std::make_unique<FakePasswordStore>(false);
        startSession(false);
        setUpThroughDialog();
        // The user is told why the password cannot be kept.
        const QStringList notices = m_dialogs.texts(ScriptedDialogs::Kind::Notice);
        QCOMPARE(notices.size(), 1);
        QVERIFY(notices.first().contains(QStringLiteral("密钥环")));
        // Later runs of this program use the password kept in memory.
        addCard(main()->cardTree(), QStringLiteral("内存里的密码"));
        main()->actSaveAllExecute();
        QVERIFY(waitForRun());
        QVERIFY2(sync().statusText().contains(QStringLiteral("同步完成")), qPrintable(sync().statusText()));
        QVERIFY(m_prompt.texts.isEmpty());

        // The next start asks once, saying why, and not again on a save.
        m_session.reset();
        m_prompt.answer(m_server->password());
        startSession(false);
        QVERIFY(waitForRun());
        QCOMPARE(m_prompt.texts.size(), 1);
        QVERIFY(m_prompt.texts.first().contains(QStringLiteral("密钥环")));
        addCard(main()->cardTree(), QStringLiteral("再一张"));
        main()->actSaveAllExecute();
        QVERIFY(waitForRun());
        QCOMPARE(m_prompt.texts.size(), 1);
        QVERIFY2(sync().statusText().contains(QStringLiteral("同步完成")), qPrintable(sync().statusText()));
        QCOMPARE(serverCardCount(*m_server), 2);
    }

    void closingDuringARunDoesNotHang()
    {
        if (!startServer())
            QSKIP("the server is not available");
        startSession();
        setUpThroughDialog();
        m_server->freeze(); // connections accepted, nothing answered
        addCard(main()->cardTree(), QStringLiteral("退出前的名片"));
        main()->actSaveAllExecute();
        QVERIFY(sync().isRunning());
        addCard(main()->cardTree(), QStringLiteral("最后一张"));
        QElapsedTimer clock;
        clock.start();
        main()->state().ExitRequested = true;
        m_dialogs.answerQuestion(true);
        QVERIFY(main()->FormCloseQuery());
        QVERIFY(clock.elapsed() < 20000); // bounded wait, not the request's timeout
        CardTree reread;
        QVERIFY(LoadTreeViewWithData(m_files, reread).ok());
        QCOMPARE(countCards(reread, QStringLiteral("最后一张")), 1);
        m_session.reset();
        m_server->resume();
    }

    void reportTexts_data()
    {
        QTest::addColumn<int>("conflicts");
        QTest::addColumn<QString>("stopped");
        QTest::addColumn<QString>("expected");
        QTest::newRow("clean") << 0 << QString() << QStringLiteral("上传 1，下载 2，更新 3，删除 4，冲突 0");
        QTest::newRow("conflict line") << 1 << QString()
                                       << QStringLiteral("上传 1，下载 2，更新 3，删除 4，冲突 1\n冲突：王五\n失败：坏名片");
        QTest::newRow("stopped") << 0 << QStringLiteral("listing: 503")
                                 << QStringLiteral("同步中止：服务器正忙，请稍后再试（listing: 503）\n"
                                                   "上传 1，下载 2，更新 3，删除 4，冲突 0");
    }
    void reportTexts()
    {
        QFETCH(int, conflicts);
        QFETCH(QString, stopped);
        QFETCH(QString, expected);
        sync::SyncReport report;
        report.uploaded = 1;
        report.downloaded = 2;
        report.updated = 3;
        report.deleted = 4;
        report.conflicts = conflicts;
        if (conflicts) {
            report.conflictLines = {QStringLiteral("王五")};
            report.failureLines = {QStringLiteral("坏名片")};
        }
        report.stopped = stopped;
        if (!stopped.isEmpty())
            report.stopStatus = sync::RemoteStatus::Busy;
        QCOMPARE(SyncReportText(report), expected);
    }

    void certificateFingerprintIsFound_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("fingerprint");
        const QByteArray fp = QByteArray("AB:").repeated(31) + "CD";
        QTest::newRow("named") << QStringLiteral("the server's certificate is not trusted (self signed); "
                                                 "SHA-256 fingerprint %1")
                                      .arg(QString::fromLatin1(fp))
                               << fp;
        QTest::newRow("unknown") << QStringLiteral("not trusted (x); SHA-256 fingerprint unknown") << QByteArray();
        QTest::newRow("too short") << QStringLiteral("SHA-256 fingerprint AB:CD") << QByteArray();
    }
    void certificateFingerprintIsFound()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, fingerprint);
        QCOMPARE(FingerprintOfCertificateError(text), fingerprint);
    }
};

QTEST_MAIN(TestWindowSync)
#include "tst_windowsync.moc"
