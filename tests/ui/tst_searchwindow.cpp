// The search window as the program has it: inside the session, over the
// main window's card tree, with the main window's mail, web, help and about
// commands next to it.

#include "FakeTrayIcon.h"
#include "MainState.h"
#include "QuickSearchForm.h"
#include "RecordingShell.h"
#include "Session.h"
#include "TfrmMain.h"
#include "TfrmQuickSearch.h"
#include "XlsxSpreadsheet.h"
#include "tst_searchsupport.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace kelvo;
using namespace kelvo::testing;

namespace {

struct Fixture
{
    QTemporaryDir folder;
    RecordingDialogs dialogs;
    RecordingShell shell;
    // Workbooks as the program writes them, shown through the shell.
    XlsxSpreadsheet spreadsheet{[this](const QString &path) { shell.openFile(path); }};
    FakeTrayIcon tray{true};
    Session session{Session::Services{dialogs, shell, tray, spreadsheet, DataFiles::inFolder(folder.path())}};
    TfrmMain &main = *session.mainWindow();
    TfrmQuickSearch &window = *session.quickSearch();
    QuickSearchForm &form = *window.searchForm();

    template<typename T = QAction>
    T *child(const QObject *parent, const char *name) const
    {
        return parent->findChild<T *>(QLatin1String(name));
    }
    QAction *command(const char *name) const { return child(&main, name); }

    Fixture()
    {
        session.showMainWindow();
        main.cardTree().clear();
    }

    void search(const QString &text)
    {
        QLineEdit *edit = child<QComboBox>(&form, "cmbConStr")->lineEdit();
        edit->clear();
        for (const QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(edit, &press);
        }
        QTest::keyClick(edit, Qt::Key_Return);
    }

    QStringList names() const
    {
        QStringList shown;
        const QAbstractItemModel *rows = child<QTableView>(&form, "lv1")->model();
        for (int row = 0; row < rows->rowCount(); ++row)
            shown << rows->index(row, 0).data().toString();
        return shown;
    }
};

} // namespace

class TestSearchWindow : public QObject
{
    Q_OBJECT

private slots:
    void searchesWithTheMainWindowHidden();
    void commandsOfTheMainWindow();
    void workbookIsWrittenAndShown();
    void savesAPictureOfTheWindow();
};

void TestSearchWindow::searchesWithTheMainWindowHidden()
{
    Fixture f;
    CardNode *group = addClass(f.main.cardTree(), nullptr, QStringLiteral("abc"));
    CardNode *deep = addClass(f.main.cardTree(), group, QStringLiteral("内"));
    addCard(f.main.cardTree(), deep, {{Field::Name, "xABCy"}});
    addCard(f.main.cardTree(), nullptr, {{Field::Name, "Abc Ltd"}});
    f.main.close(); // to the notification area
    QVERIFY(!f.main.isVisible());

    f.main.showSearchWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&f.window));
    QCOMPARE(f.window.size(), QSize(416, 360));
    QVERIFY((f.window.frameGeometry().center() - f.main.frameGeometry().center()).manhattanLength() <= 2);

    f.search(QStringLiteral("abc"));
    QCOMPARE(f.names(), (QStringList{"ABC LTD", "XABCY"}));

    // A card deleted in the main window leaves the list at once.
    f.main.cardTree().deleteNode(group);
    QCOMPARE(f.names(), QStringList{"ABC LTD"});
}

void TestSearchWindow::commandsOfTheMainWindow()
{
    Fixture f;
    CardNode *group = addClass(f.main.cardTree(), nullptr, QStringLiteral("客户"));
    CardNode *card = addCard(f.main.cardTree(), group,
                             {{Field::Name, QStringLiteral("王 五")}, {Field::EMail, "w@x.cn"}, {Field::WZ, "x.cn"}});
    for (QAction *action : {f.command("actSendMail"), f.command("actOpenMainPage"), f.command("actSoftHelp"),
                            f.command("actAuthorMainPage"), f.command("actMailToAuthor"), f.command("actAbout")})
        QVERIFY2(action->isEnabled(), qPrintable(action->objectName()));

    f.main.selectNode(card);
    f.command("actSendMail")->trigger();
    f.command("actOpenMainPage")->trigger();
    f.main.selectNode(group);
    f.command("actSendMail")->trigger();
    f.command("actOpenMainPage")->trigger();
    f.command("actSoftHelp")->trigger();
    f.command("actAuthorMainPage")->trigger();
    f.command("actMailToAuthor")->trigger();
    f.command("actAbout")->trigger();

    QStringList opened;
    for (const RecordingShell::Opened &item : f.shell.opened())
        opened << item.text;
    QCOMPARE(opened,
             (QStringList{QStringLiteral("MailTo:w@x.cn?Subject=王 五您好!"), "http://x.cn",
                          QDir(QCoreApplication::applicationDirPath()).filePath("bz.txt"), "https://kelvo.example.org/",
                          "Mailto:kelvo@example.org?"}));
    QVERIFY(f.shell.opened().at(2).isFile);
    QCOMPARE(f.dialogs.notices,
             (QStringList{QStringLiteral("暂不支持按类别发送。"), QStringLiteral("请选择名片"), "Kelvo V2.1"}));
}

void TestSearchWindow::workbookIsWrittenAndShown()
{
    Fixture f;
    addCard(f.main.cardTree(), nullptr, {{Field::Name, "Adam"}});
    f.main.showSearchWindow();
    f.search(QStringLiteral("a"));
    QTemporaryDir target;
    const QString path = target.filePath(QStringLiteral("out.xlsx"));
    f.dialogs.saveAnswers.enqueue(path);
    QTest::mouseClick(f.child<QPushButton>(&f.form, "Button4"), Qt::LeftButton);

    QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'\n')));
    QVERIFY(QFile::exists(path));
    QCOMPARE(f.shell.opened().size(), 1);
    QCOMPARE(f.shell.opened().at(0).text, path);
    QVERIFY(f.shell.opened().at(0).isFile);
}

void TestSearchWindow::savesAPictureOfTheWindow()
{
#ifndef KELVO_TEST_OUTPUT_DIR
    QSKIP("no folder for pictures");
#else
    Fixture f;
    CardNode *group = addClass(f.main.cardTree(), nullptr, QStringLiteral("同事"));
    addCard(f.main.cardTree(), group,
            {{Field::Name, QStringLiteral("张三")},
             {Field::TouXian, QStringLiteral("经理")},
             {Field::DW, QStringLiteral("Abc Ltd")},
             {Field::DH, "010-12345678"},
             {Field::EMail, "zs@abc.cn"}});
    addCard(f.main.cardTree(), group, {{Field::Name, QStringLiteral("李四")}, {Field::DW, QStringLiteral("abc 公司")}});
    addCard(f.main.cardTree(), nullptr, {{Field::Name, "xABCy"}, {Field::QQ, "12345"}});
    f.main.showSearchWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&f.window));
    f.child(&f.form, "N4")->trigger();
    f.search(QStringLiteral("abc"));
    const QString picture = QStringLiteral(KELVO_TEST_OUTPUT_DIR "/search-window.png");
    QVERIFY(f.window.grab().save(picture));
    qInfo("picture of the search window: %s", qPrintable(picture));
#endif
}

QTEST_MAIN(TestSearchWindow)
#include "tst_searchwindow.moc"
