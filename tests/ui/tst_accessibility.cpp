// What a screen reader reads of the texts that change while a window is up:
// the search window's status line and the progress window's text, caption
// and bar, read through Qt's accessibility interfaces.

#include "FakeTrayIcon.h"
#include "QuickSearchForm.h"
#include "RecordingShell.h"
#include "RecordingSpreadsheet.h"
#include "Session.h"
#include "TGauge.h"
#include "TfrmMain.h"
#include "TfrmProgress.h"
#include "TfrmQuickSearch.h"
#include "tst_searchsupport.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace kelvo;
using namespace kelvo::testing;

namespace {

// Walks the accessible tree below `root` as a screen reader's review mode
// does, collecting the names of the static texts.
void collectStaticTexts(QAccessibleInterface *root, QStringList &names, int depth = 0)
{
    if (!root || depth > 32)
        return;
    if (root->role() == QAccessible::StaticText && !root->state().invisible)
        names.append(root->text(QAccessible::Name));
    for (int i = 0; i < root->childCount(); ++i)
        collectStaticTexts(root->child(i), names, depth + 1);
}

QStringList staticTextsOf(QWidget *window)
{
    QStringList names;
    collectStaticTexts(QAccessible::queryAccessibleInterface(window), names);
    return names;
}

struct SearchFixture
{
    QTemporaryDir folder;
    RecordingDialogs dialogs;
    RecordingShell shell;
    RecordingSpreadsheet spreadsheet;
    FakeTrayIcon tray{true};
    Session session{Session::Services{dialogs, shell, tray, spreadsheet, DataFiles::inFolder(folder.path())}};
    TfrmMain &main = *session.mainWindow();
    TfrmQuickSearch &window = *session.quickSearch();
    QuickSearchForm &form = *window.searchForm();

    SearchFixture()
    {
        session.showMainWindow();
        main.cardTree().clear();
    }

    void search(const QString &condition)
    {
        form.findChild<QComboBox *>(QStringLiteral("cmbConStr"))->setEditText(condition);
        form.SpeedButton1Click();
    }
};

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void searchStatusIsReadAsItsText();
    void progressWindowIsReadAsShown();
    void gaugeIsAProgressBarWithItsPercentage();
};

void TestAccessibility::searchStatusIsReadAsItsText()
{
    SearchFixture f;
    addCard(f.main.cardTree(), nullptr, {{Field::Name, QStringLiteral("张三")}});
    addCard(f.main.cardTree(), nullptr, {{Field::Name, QStringLiteral("张四")}});
    addCard(f.main.cardTree(), nullptr, {{Field::Name, QStringLiteral("李五")}});
    f.main.showSearchWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&f.window));

    auto *status = f.form.findChild<QLabel *>(QStringLiteral("sb1Text"));
    QVERIFY(status);
    QAccessibleInterface *read = QAccessible::queryAccessibleInterface(status);
    QVERIFY(read);
    QCOMPARE(read->role(), QAccessible::StaticText);
    QCOMPARE(read->text(QAccessible::Description), QStringLiteral("查找结果"));

    f.search(QStringLiteral("张"));
    QCOMPARE(f.form.statusText(), QStringLiteral("共找到2张名片。"));
    QCOMPARE(read->text(QAccessible::Name), QStringLiteral("共找到2张名片。"));
    // Found the way a screen reader's review finds it: inside the window.
    QVERIFY2(staticTextsOf(&f.window).contains(QStringLiteral("共找到2张名片。")),
             qPrintable(staticTextsOf(&f.window).join(u" | ")));

    f.search(QStringLiteral("王"));
    QCOMPARE(read->text(QAccessible::Name), QStringLiteral("共找到0张名片。"));

    // An empty condition keeps the previous status, and so does what is read.
    f.search(QStringLiteral("  "));
    QCOMPARE(f.dialogs.notices, QStringList{QStringLiteral("请输入查找条件!")});
    QCOMPARE(read->text(QAccessible::Name), QStringLiteral("共找到0张名片。"));
}

void TestAccessibility::progressWindowIsReadAsShown()
{
    TfrmProgress window;
    QAccessibleInterface *readWindow = QAccessible::queryAccessibleInterface(&window);
    QAccessibleInterface *readLabel =
        QAccessible::queryAccessibleInterface(window.findChild<QLabel *>(QStringLiteral("Label1")));
    QAccessibleInterface *readBar =
        QAccessible::queryAccessibleInterface(window.findChild<TGauge *>(QStringLiteral("gg1")));
    QVERIFY(readWindow && readLabel && readBar);

    window.ShowSaveProgress(3);
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(readWindow->text(QAccessible::Name), QStringLiteral("正在保存数据,请稍候....."));
    QCOMPARE(readLabel->text(QAccessible::Name),
             QStringLiteral("Warning：必须在保存完数据后才能关闭,否则数据会丢失！"));
    QVERIFY(staticTextsOf(&window).contains(QStringLiteral("Warning：必须在保存完数据后才能关闭,否则数据会丢失！")));
    QCOMPARE(readBar->text(QAccessible::Value), QStringLiteral("0%"));
    QVERIFY(!readBar->state().invisible);

    window.StepProgress();
    QCOMPARE(readBar->text(QAccessible::Value), QStringLiteral("33%"));
    window.StepProgress();
    window.StepProgress();
    QCOMPARE(readBar->text(QAccessible::Value), QStringLiteral("100%"));
    window.CloseProgress();

    window.ShowLoadProgress();
    QCOMPARE(readLabel->text(QAccessible::Name), QStringLiteral("正在初始化数据，请稍候..."));
    QCOMPARE(readWindow->text(QAccessible::Name), QString());
    QVERIFY(readBar->state().invisible); // no bar while loading
    window.CloseProgress();
}

void TestAccessibility::gaugeIsAProgressBarWithItsPercentage()
{
    TGauge gauge;
    gauge.setAccessibleName(QStringLiteral("进度"));
    QAccessibleInterface *read = QAccessible::queryAccessibleInterface(&gauge);
    QVERIFY(read);
    QCOMPARE(read->role(), QAccessible::ProgressBar);
    QCOMPARE(read->text(QAccessible::Name), QStringLiteral("进度"));
    QAccessibleValueInterface *value = read->valueInterface();
    QVERIFY(value);

    gauge.setRange(10, 20);
    gauge.setProgress(15);
    QCOMPARE(value->minimumValue().toInt(), 10);
    QCOMPARE(value->maximumValue().toInt(), 20);
    QCOMPARE(value->currentValue().toInt(), 15);
    QCOMPARE(read->text(QAccessible::Value), QStringLiteral("50%"));

    // Only the program moves the bar.
    value->setCurrentValue(12);
    QCOMPARE(gauge.progress(), 15);

    gauge.setMaxValue(12); // the position comes down with the maximum
    QCOMPARE(value->currentValue().toInt(), 12);
    QCOMPARE(read->text(QAccessible::Value), QStringLiteral("100%"));
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
