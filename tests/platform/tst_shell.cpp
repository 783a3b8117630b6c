// Links become valid URIs once, in the shell layer; the test doubles record
// what the windows asked for.

#include "RecordingShell.h"
#include "ScriptedDialogs.h"

#include <QDir>
#include <QTest>

using namespace kelvo;

class TestShell : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void linkToUrl_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("encoded");
        QTest::newRow("plain web address") << "http://www.example.com/a/b.html"
                                           << "http://www.example.com/a/b.html";
        QTest::newRow("mail link") << "MailTo:zhang@example.com"
                                   << "mailto:zhang@example.com";
        QTest::newRow("chinese subject")
            << "Mailto:?Subject=查找到的名片&Body="
            << "mailto:?Subject=%E6%9F%A5%E6%89%BE%E5%88%B0%E7%9A%84%E5%90%8D%E7%89%87&Body=";
        QTest::newRow("line breaks in body") << "mailto:?Body=a\r\nb"
                                             << "mailto:?Body=a%0D%0Ab";
        QTest::newRow("existing escape kept") << "mailto:?Body=100%25%20ok"
                                              << "mailto:?Body=100%25%20ok";
        QTest::newRow("lone percent") << "mailto:?Body=50% off"
                                      << "mailto:?Body=50%25%20off";
        QTest::newRow("space") << "http://example.com/a b"
                               << "http://example.com/a%20b";
        QTest::newRow("tab and nul") << QStringLiteral("mailto:?Body=a\tb") + QChar(0) << "mailto:?Body=a%09b%00";
    }

    void linkToUrl()
    {
        QFETCH(QString, link);
        QFETCH(QString, encoded);
        const QUrl url = kelvo::linkToUrl(link);
        QVERIFY2(url.isValid(), qPrintable(url.errorString()));
        QCOMPARE(QString::fromLatin1(url.toEncoded()), encoded);
    }

    void fileToUrlIsAbsolute()
    {
        const QUrl url = kelvo::fileToUrl(QStringLiteral("bz.txt"));
        QVERIFY(url.isLocalFile());
        QCOMPARE(url.toLocalFile(), QDir::current().absoluteFilePath(QStringLiteral("bz.txt")));
        QCOMPARE(kelvo::fileToUrl(QStringLiteral("/opt/kelvo/帮助 1.txt")).toLocalFile(),
                 QStringLiteral("/opt/kelvo/帮助 1.txt"));
    }

    void recordingShellKeepsTextAndUrl()
    {
        RecordingShell shell;
        shell.openLink(QStringLiteral("MailTo:李@example.com"));
        shell.openFile(QStringLiteral("/tmp/bz.txt"));
        QCOMPARE(shell.opened().size(), 2);
        QCOMPARE(shell.opened().at(0).text, QStringLiteral("MailTo:李@example.com"));
        QVERIFY(!shell.opened().at(0).isFile);
        QCOMPARE(shell.opened().at(0).url.toEncoded(), QByteArray("mailto:%E6%9D%8E@example.com"));
        QVERIFY(shell.opened().at(1).isFile);
        QCOMPARE(shell.opened().at(1).url, QUrl::fromLocalFile(QStringLiteral("/tmp/bz.txt")));
    }

    void scriptedDialogsAnswerInOrder()
    {
        ScriptedDialogs dialogs;
        dialogs.answerQuestion(true);
        dialogs.answerSaveFile(QStringLiteral("/tmp/out.txt"));
        dialogs.cancelSaveFile();
        dialogs.notice(nullptr, QStringLiteral("名片下不能有类别哦"));
        QVERIFY(dialogs.question(nullptr, QStringLiteral("确定要删除吗？"), QStringLiteral("重要提示")));
        QCOMPARE(dialogs.saveFileName(nullptr, QStringLiteral("保存"), QStringLiteral("*.txt"), QStringLiteral("txt"),
                                      QString()),
                 std::optional<QString>(QStringLiteral("/tmp/out.txt")));
        QCOMPARE(dialogs.saveFileName(nullptr, QStringLiteral("保存"), QStringLiteral("*.txt"), QStringLiteral("txt"),
                                      QString()),
                 std::nullopt);
        QCOMPARE(dialogs.unscriptedCount(), 0);
        QCOMPARE(dialogs.pendingAnswers(), 0);

        // Out of answers: No, and the slip is counted.
        QVERIFY(!dialogs.question(nullptr, QStringLiteral("again?"), QStringLiteral("提示")));
        QCOMPARE(dialogs.unscriptedCount(), 1);

        QCOMPARE(dialogs.shown().size(), 5);
        QCOMPARE(dialogs.shown().at(0).caption, QStringLiteral("Kelvo"));
        QCOMPARE(dialogs.shown().at(1).caption, QStringLiteral("重要提示"));
        QCOMPARE(dialogs.texts(ScriptedDialogs::Kind::Question),
                 QStringList({QStringLiteral("确定要删除吗？"), QStringLiteral("again?")}));
    }

    void scriptedAnswerOfTheWrongKindIsNotTaken()
    {
        ScriptedDialogs dialogs;
        dialogs.answerSaveFile(QStringLiteral("/tmp/x"));
        QVERIFY(!dialogs.question(nullptr, QStringLiteral("q"), QStringLiteral("c")));
        QCOMPARE(dialogs.unscriptedCount(), 1);
        QCOMPARE(dialogs.pendingAnswers(), 1);
    }
};

QTEST_GUILESS_MAIN(TestShell)
#include "tst_shell.moc"
