// The mail, web, help and about commands: the links they build and what
// reaches the shell, for every kind of selection.

#include "LinkCommands.h"
#include "MailUri.h"
#include "RecordingShell.h"
#include "tst_searchsupport.h"

#include <QTest>

using namespace kelvo;
using namespace kelvo::testing;

class TestLinkCommands : public QObject
{
    Q_OBJECT

private slots:
    void cardMailLink_data();
    void cardMailLink();
    void cardMailReachesTheMailProgramIntact_data();
    void cardMailReachesTheMailProgramIntact();
    void webSiteLink_data();
    void webSiteLink();
    void sendMailCommand();
    void openMainPageCommand();
    void fixedCommands();
};

void TestLinkCommands::cardMailLink_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("link");
    QTest::newRow("plain") << "a@b.cn"
                           << "Wang"
                           << "MailTo:a@b.cn?Subject=Wang您好!";
    QTest::newRow("blanks and Chinese kept as they are") << "zs@example.com"
                                                         << "张 三 Ltd"
                                                         << "MailTo:zs@example.com?Subject=张 三 Ltd您好!";
    QTest::newRow("no address") << ""
                                << "李四"
                                << "MailTo:?Subject=李四您好!";
    QTest::newRow("no name") << "x@y.z"
                             << ""
                             << "MailTo:x@y.z?Subject=您好!";
    QTest::newRow("characters with a meaning in links are escaped")
        << "a&b@c.d"
        << "50%?&x=+#"
        << "MailTo:a%26b@c.d?Subject=50%25%3F%26x%3D%2B%23您好!";
}

void TestLinkCommands::cardMailLink()
{
    QFETCH(QString, email);
    QFETCH(QString, name);
    QFETCH(QString, link);
    const auto card = makeRecord(Kind::Card, {{Field::EMail, email}, {Field::Name, name}});
    QCOMPARE(links::CardMailLink(*card), link);
}

void TestLinkCommands::cardMailReachesTheMailProgramIntact_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << "zs@example.cn"
                           << "张三";
    QTest::newRow("ampersand in the name") << "pg@example.cn"
                                           << "P&G 张三";
    QTest::newRow("added recipient in the address") << "a@b.cn?bcc=spy@example.org"
                                                    << "李四";
    QTest::newRow("added parameters in the name") << "a@b.cn"
                                                  << "x&cc=spy@example.org&attach=/etc/passwd";
    QTest::newRow("hash") << "a#b@c.cn"
                          << "No.#1";
    QTest::newRow("percent") << "a@b.cn"
                             << "100% %41 %0d %zz";
    QTest::newRow("equals and plus") << "a+b@c.cn"
                                     << "1+1=2";
    QTest::newRow("question mark") << "a@b.cn"
                                   << "谁?";
    QTest::newRow("other punctuation") << "a@b.cn"
                                       << "/:@;,[]<>\"'\\^`{|}~!$*()";
    QTest::newRow("blanks and tab") << "a@b.cn"
                                    << " 张  三\t";
    QTest::newRow("line break inside") << "a@b.cn"
                                       << "上\r\n下";
    QTest::newRow("empty address") << ""
                                   << "王五";
    QTest::newRow("empty name") << "x@y.z"
                                << "";
}

// The link as the desktop is handed it, read the way a mail program reads
// it: the recipient is the card's address, the subject its name and the
// greeting, and nothing else.
void TestLinkCommands::cardMailReachesTheMailProgramIntact()
{
    QFETCH(QString, email);
    QFETCH(QString, name);
    CardTree tree;
    CardNode *card = addCard(tree, nullptr, {{Field::Name, name}, {Field::EMail, email}});
    RecordingDialogs dialogs;
    RecordingShell shell;
    LinkCommands commands(dialogs, shell, nullptr, QStringLiteral("/opt/kelvo"));
    commands.actSendMailExecute(card);
    QCOMPARE(shell.opened().size(), 1);
    const QUrl &url = shell.opened().constFirst().url;
    QVERIFY2(url.isValid(), qPrintable(url.errorString()));

    const MailUri mail = ReadMailUri(url.toEncoded());
    QCOMPARE(mail.scheme, QStringLiteral("mailto"));
    QCOMPARE(mail.to, email);
    QCOMPARE(mail.fieldNames(), QStringList{QStringLiteral("subject")});
    QCOMPARE(mail.field(QStringLiteral("Subject")), name + QStringLiteral("您好!"));
    QVERIFY(!mail.hasFragment);
}

void TestLinkCommands::webSiteLink_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("opened");
    QTest::newRow("bare host") << "www.example.cn"
                               << "http://www.example.cn";
    QTest::newRow("http kept") << "http://www.example.cn/a?b=1"
                               << "http://www.example.cn/a?b=1";
    QTest::newRow("https kept") << "https://example.org"
                                << "https://example.org";
    QTest::newRow("capital scheme kept") << "HTTP://EXAMPLE.ORG"
                                         << "HTTP://EXAMPLE.ORG";
    QTest::newRow("empty") << ""
                           << "http://";
    QTest::newRow("http only further on") << "example.org/?u=http://x"
                                          << "http://example.org/?u=http://x";
    QTest::newRow("other scheme made a web link") << "file:///etc/passwd"
                                                  << "http://file:///etc/passwd";
    QTest::newRow("script scheme made a web link") << "javascript:alert(1)"
                                                   << "http://javascript:alert(1)";
}

void TestLinkCommands::webSiteLink()
{
    QFETCH(QString, stored);
    QFETCH(QString, opened);
    const QString link = links::WebSiteLink(gb18030::encode(stored));
    QCOMPARE(link, opened);
    // Whatever was stored, the desktop only ever gets a web address.
    const QString scheme = linkToUrl(link).scheme().toLower();
    QVERIFY2(scheme == u"http" || scheme == u"https", qPrintable(scheme));
}

void TestLinkCommands::sendMailCommand()
{
    CardTree tree;
    CardNode *group = addClass(tree, nullptr, QStringLiteral("同事"));
    CardNode *card = addCard(tree, group, {{Field::Name, QStringLiteral("王五")}, {Field::EMail, "w@x.cn"}});
    RecordingDialogs dialogs;
    RecordingShell shell;
    LinkCommands commands(dialogs, shell, nullptr, QStringLiteral("/opt/kelvo"));

    commands.actSendMailExecute(nullptr); // nothing selected: nothing at all
    QVERIFY(shell.opened().isEmpty());
    QVERIFY(dialogs.notices.isEmpty());

    commands.actSendMailExecute(group);
    QVERIFY(shell.opened().isEmpty());
    QCOMPARE(dialogs.notices, QStringList{QStringLiteral("暂不支持按类别发送。")});

    commands.actSendMailExecute(card);
    QCOMPARE(shell.opened().size(), 1);
    QVERIFY(!shell.opened().at(0).isFile);
    QCOMPARE(shell.opened().at(0).text, QStringLiteral("MailTo:w@x.cn?Subject=王五您好!"));
    QCOMPARE(dialogs.notices.size(), 1);

    tree.releaseRecord(card); // a node without its record is not read
    commands.actSendMailExecute(card);
    QCOMPARE(shell.opened().size(), 1);
}

void TestLinkCommands::openMainPageCommand()
{
    CardTree tree;
    CardNode *group = addClass(tree, nullptr, QStringLiteral("客户"));
    CardNode *card = addCard(tree, group, {{Field::Name, "A"}, {Field::WZ, "kelvo.example.org"}});
    RecordingDialogs dialogs;
    RecordingShell shell;
    LinkCommands commands(dialogs, shell, nullptr, QStringLiteral("/opt/kelvo"));

    commands.actOpenMainPageExecute(nullptr);
    commands.actOpenMainPageExecute(group);
    QCOMPARE(dialogs.notices, QStringList(2, QStringLiteral("请选择名片")));
    QVERIFY(shell.opened().isEmpty());

    commands.actOpenMainPageExecute(card);
    QCOMPARE(shell.opened().size(), 1);
    QCOMPARE(shell.opened().at(0).text, QStringLiteral("http://kelvo.example.org"));
    QCOMPARE(shell.opened().at(0).url, QUrl(QStringLiteral("http://kelvo.example.org")));
}

void TestLinkCommands::fixedCommands()
{
    RecordingDialogs dialogs;
    RecordingShell shell;
    LinkCommands commands(dialogs, shell, nullptr, QStringLiteral("/opt/kelvo/"));

    commands.actSoftHelpExecute();
    commands.actAuthorMainPageExecute();
    commands.actMailToAuthorExecute();
    commands.actAboutExecute();

    QCOMPARE(shell.opened().size(), 3);
    QVERIFY(shell.opened().at(0).isFile);
    QCOMPARE(shell.opened().at(0).text, QStringLiteral("/opt/kelvo/bz.txt"));
    QCOMPARE(shell.opened().at(1).text, QStringLiteral("https://kelvo.example.org/"));
    QCOMPARE(shell.opened().at(2).text, QStringLiteral("Mailto:kelvo@example.org?"));
    QCOMPARE(shell.opened().at(2).url.scheme().toLower(), QStringLiteral("mailto"));
    QCOMPARE(dialogs.notices, QStringList{QStringLiteral("Kelvo V2.1")});

    // The help text is found by absolute path, even from a relative folder.
    QVERIFY(QFileInfo(links::HelpFilePath(QStringLiteral("."))).isAbsolute());
    QCOMPARE(links::HelpFilePath(QStringLiteral("/opt/kelvo")), QStringLiteral("/opt/kelvo/bz.txt"));
}

QTEST_MAIN(TestLinkCommands)
#include "tst_linkcommands.moc"
