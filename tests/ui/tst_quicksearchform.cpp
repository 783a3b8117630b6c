// The search window driven through its controls: conditions typed into the
// box, the find button and Enter, the field ticks, the result list and what
// happens to it when the tree changes afterwards.

#include "EventLoopPump.h"
#include "FieldCheckList.h"
#include "QuickSearchForm.h"
#include "RecordingShell.h"
#include "RecordingSpreadsheet.h"
#include "SearchResultModel.h"
#include "tst_searchsupport.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace kelvo;
using namespace kelvo::testing;

namespace {

struct Fixture
{
    CardTree tree;
    RecordingDialogs dialogs;
    RecordingShell shell;
    RecordingSpreadsheet spreadsheet;
    EventLoopPump pump{0};
    QuickSearchForm form{tree, dialogs, shell, spreadsheet, pump};
    // The named controls.
    QComboBox *cmbConStr = form.findChild<QComboBox *>(QStringLiteral("cmbConStr"));
    QToolButton *SpeedButton1 = form.findChild<QToolButton *>(QStringLiteral("SpeedButton1"));
    QLabel *Label2 = form.findChild<QLabel *>(QStringLiteral("Label2"));
    FieldCheckList *clb1 = form.findChild<FieldCheckList *>(QStringLiteral("clb1"));
    QAction *N4 = form.findChild<QAction *>(QStringLiteral("N4"));
    QAction *N5 = form.findChild<QAction *>(QStringLiteral("N5"));
    QTableView *lv1 = form.findChild<QTableView *>(QStringLiteral("lv1"));
    QPushButton *Button1 = form.findChild<QPushButton *>(QStringLiteral("Button1"));
    QPushButton *Button3 = form.findChild<QPushButton *>(QStringLiteral("Button3"));

    void type(const QString &text)
    {
        // Typed key by key; characters without a key of their own arrive as
        // text, as an input method delivers them.
        QLineEdit *edit = cmbConStr->lineEdit();
        edit->clear();
        for (const QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, c.unicode() < 0x80 ? int(c.toUpper().unicode()) : 0, Qt::NoModifier,
                            QString(c));
            QCoreApplication::sendEvent(edit, &press);
        }
    }

    void search(const QString &text)
    {
        type(text);
        QTest::mouseClick(SpeedButton1, Qt::LeftButton);
    }

    // What the list shows, row by row, first column only.
    QStringList names() const
    {
        QStringList shown;
        const QAbstractItemModel *model = lv1->model();
        for (int row = 0; row < model->rowCount(); ++row)
            shown << model->index(row, 0).data().toString();
        return shown;
    }

    QStringList historyShown() const
    {
        QStringList entries;
        for (int i = 0; i < cmbConStr->count(); ++i)
            entries << cmbConStr->itemText(i);
        return entries;
    }

    QList<bool> ticks() const
    {
        QList<bool> result;
        for (int i = 0; i < clb1->count(); ++i)
            result << clb1->isChecked(i);
        return result;
    }
};

QList<bool> onlyFirst()
{
    QList<bool> ticks(13, false);
    ticks[0] = true;
    return ticks;
}

} // namespace

class TestQuickSearchForm : public QObject
{
    Q_OBJECT

private slots:
    void startsWithNameTickedAndNamedControls();
    void findsByNameWithoutRegardToCase();
    void enterRunsTheSearch_data();
    void enterRunsTheSearch();
    void emptyConditionShowsTheMessage();
    void tickAllAndNone();
    void keepsEverythingWhenShownAgain();
    void searchesTheTreeAsItIsNow();
    void keepsTheSearchTimeTextsThroughEdits();
    void dropsRowsOfDeletedCards();
    void dropsManyScatteredRowsAtOnce();
    void refusesASecondRunMeanwhile();
};

void TestQuickSearchForm::startsWithNameTickedAndNamedControls()
{
    Fixture f;
    QCOMPARE(f.ticks(), onlyFirst());
    QCOMPARE(f.clb1->count(), 13);
    QCOMPARE(f.clb1->item(11)->text(), QStringLiteral("E_MAIL"));
    QVERIFY(f.form.statusText().isEmpty());

    const QStringList names = {"cmbConStr", "SpeedButton1", "GroupBox1", "Label2",  "clb1",    "GroupBox2",
                               "lv1",       "Button1",      "Button2",   "Button3", "Button4", "sb1"};
    for (const QString &name : names)
        QVERIFY2(f.form.findChild<QWidget *>(name), qPrintable(name));
    for (const char *name : {"cmbConStr", "SpeedButton1", "clb1", "lv1", "Button1", "Button2", "Button3", "Button4"})
        QVERIFY2(!f.form.findChild<QWidget *>(name)->accessibleName().isEmpty(), name);
    QCOMPARE(f.form.findChild<QMenu *>("pmCLB")->actions().size(), 2);
    QCOMPARE(f.Label2->text(), QStringLiteral("如果您要按电话查找,请把下面\"电话\"选中;其他类似"));

    const QAbstractItemModel *model = f.lv1->model();
    QCOMPARE(model->columnCount(), 13);
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("姓名"));
    QCOMPARE(model->headerData(11, Qt::Horizontal).toString(), QStringLiteral("E_MAIL"));
    QCOMPARE(model->headerData(12, Qt::Horizontal).toString(), QStringLiteral("其他信息"));
    QVERIFY(f.lv1->editTriggers() == QAbstractItemView::NoEditTriggers);
    QVERIFY(f.lv1->selectionBehavior() == QAbstractItemView::SelectRows);

    // All thirteen items are in sight, in three columns filled one after the other.
    f.form.resize(416, 360);
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    const QRect shown = f.clb1->viewport()->rect();
    QSet<int> columns;
    for (int i = 0; i < 13; ++i) {
        const QRect item = f.clb1->visualItemRect(f.clb1->item(i));
        QVERIFY2(shown.contains(item), qPrintable(f.clb1->item(i)->text()));
        columns.insert(item.left());
    }
    QCOMPARE(columns.size(), 3);
    QCOMPARE(f.clb1->visualItemRect(f.clb1->item(1)).left(), f.clb1->visualItemRect(f.clb1->item(0)).left());
}

void TestQuickSearchForm::findsByNameWithoutRegardToCase()
{
    Fixture f;
    CardNode *group = addClass(f.tree, nullptr, QStringLiteral("abc 类"));
    addCard(f.tree, group, {{Field::Name, "xABCy"}, {Field::DW, "abc"}});
    addCard(f.tree, group, {{Field::Name, "Zed"}, {Field::TouXian, "abc"}});
    addCard(f.tree, nullptr, {{Field::Name, "Abc Ltd"}, {Field::DZ, "  road 1  "}});
    addCard(f.tree, nullptr, {{Field::Name, "abc"}});

    f.search(QStringLiteral("  abc "));
    QCOMPARE(f.names(), (QStringList{"ABC", "ABC LTD", "XABCY"}));
    QCOMPARE(f.form.statusText(), QStringLiteral("共找到3张名片。"));
    QCOMPARE(f.historyShown(), QStringList{"ABC"});
    QCOMPARE(f.cmbConStr->currentText(), QStringLiteral("  abc ")); // the typed text stays
    // Folded values everywhere in the row: the address lost its blanks.
    QCOMPARE(f.lv1->model()->index(1, 3).data().toString(), QStringLiteral("ROAD 1"));
    QCOMPARE(f.lv1->model()->index(2, 2).data().toString(), QStringLiteral("ABC"));
    QCOMPARE(f.lv1->model()->index(0, 0).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignLeft | Qt::AlignVCenter));
    QCOMPARE(f.lv1->model()->index(0, 5).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
    for (int column = 0; column < 13; ++column)
        QVERIFY(f.lv1->horizontalHeader()->sectionSize(column) >= 50);

    f.search(QStringLiteral("Abc"));
    QCOMPARE(f.names().size(), 3);
    QCOMPARE(f.historyShown(), QStringList{"ABC"});

    f.search(QStringLiteral("zed"));
    QCOMPARE(f.names(), QStringList{"ZED"});
    QCOMPARE(f.historyShown(), (QStringList{"ABC", "ZED"}));
}

void TestQuickSearchForm::enterRunsTheSearch_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("runs");
    QTest::newRow("Enter") << int(Qt::Key_Return) << int(Qt::NoModifier) << true;
    QTest::newRow("Shift+Enter") << int(Qt::Key_Return) << int(Qt::ShiftModifier) << true;
    QTest::newRow("Ctrl+Enter") << int(Qt::Key_Return) << int(Qt::ControlModifier) << true;
    QTest::newRow("Alt+Enter") << int(Qt::Key_Return) << int(Qt::AltModifier) << true;
    QTest::newRow("Shift+Ctrl+Alt+Enter")
        << int(Qt::Key_Return) << int(Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier) << true;
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << true;
    QTest::newRow("Tab") << int(Qt::Key_Tab) << int(Qt::NoModifier) << false;
    QTest::newRow("Escape") << int(Qt::Key_Escape) << int(Qt::NoModifier) << false;
}

void TestQuickSearchForm::enterRunsTheSearch()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, runs);
    Fixture f;
    addCard(f.tree, nullptr, {{Field::Name, QStringLiteral("张三")}});
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    f.type(QStringLiteral("张"));
    QTest::keyClick(f.cmbConStr->lineEdit(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(f.names(), runs ? QStringList{QStringLiteral("张三")} : QStringList());
    QCOMPARE(f.form.statusText(), runs ? QStringLiteral("共找到1张名片。") : QString());
    QCOMPARE(f.cmbConStr->currentText(), QStringLiteral("张"));
}

void TestQuickSearchForm::emptyConditionShowsTheMessage()
{
    Fixture f;
    addCard(f.tree, nullptr, {{Field::Name, "Ann"}});
    f.search(QStringLiteral("an"));
    QCOMPARE(f.names(), QStringList{"ANN"});

    f.search(QStringLiteral(" \t "));
    QCOMPARE(f.dialogs.notices, QStringList{QStringLiteral("请输入查找条件!")});
    QVERIFY(f.names().isEmpty());                                     // the list is cleared
    QCOMPARE(f.form.statusText(), QStringLiteral("共找到1张名片。")); // the status keeps its text
    QCOMPARE(f.historyShown(), QStringList{"AN"});
}

void TestQuickSearchForm::tickAllAndNone()
{
    Fixture f;
    addCard(f.tree, nullptr, {{Field::Name, "Ann"}, {Field::DH, "12345"}});
    addCard(f.tree, nullptr, {{Field::Name, "Bob"}, {Field::SJ, "99123"}});

    f.N4->trigger();
    QCOMPARE(f.ticks(), QList<bool>(13, true));
    f.search(QStringLiteral("123"));
    QCOMPARE(f.names(), (QStringList{"ANN", "BOB"}));

    f.N5->trigger();
    QCOMPARE(f.ticks(), QList<bool>(13, false));
    f.search(QStringLiteral("ann"));
    QVERIFY(f.names().isEmpty());
    QCOMPARE(f.form.statusText(), QStringLiteral("共找到0张名片。"));
    QCOMPARE(f.historyShown(), (QStringList{"123", "ANN"})); // added although nothing was ticked
    QVERIFY(f.dialogs.notices.isEmpty());

    // Phone and mobile ticked: either one matching is enough.
    f.clb1->setChecked(Field::DH - 1, true);
    f.clb1->setChecked(Field::SJ - 1, true);
    f.search(QStringLiteral("123"));
    QCOMPARE(f.names(), (QStringList{"ANN", "BOB"}));
}

void TestQuickSearchForm::keepsEverythingWhenShownAgain()
{
    Fixture f;
    addCard(f.tree, nullptr, {{Field::Name, "Ann"}});
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    f.clb1->setChecked(Field::QQ - 1, true);
    f.search(QStringLiteral("a"));
    f.type(QStringLiteral("typed but not searched"));

    QTest::mouseClick(f.Button3, Qt::LeftButton);
    QVERIFY(!f.form.isVisible());
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));

    QCOMPARE(f.cmbConStr->currentText(), QStringLiteral("typed but not searched"));
    QCOMPARE(f.historyShown(), QStringList{"A"});
    QList<bool> expectedTicks = onlyFirst();
    expectedTicks[Field::QQ - 1] = true;
    QCOMPARE(f.ticks(), expectedTicks);
    QCOMPARE(f.names(), QStringList{"ANN"});
    QCOMPARE(f.form.statusText(), QStringLiteral("共找到1张名片。"));
}

void TestQuickSearchForm::searchesTheTreeAsItIsNow()
{
    Fixture f;
    CardNode *ann = addCard(f.tree, nullptr, {{Field::Name, "Ann"}});
    addCard(f.tree, nullptr, {{Field::Name, "Anna"}});
    f.search(QStringLiteral("ann"));
    QCOMPARE(f.names(), (QStringList{"ANN", "ANNA"}));

    f.tree.setField(ann, Field::Name, "Bea");
    f.tree.setLabel(ann, "Bea");
    addCard(f.tree, nullptr, {{Field::Name, "Joanne"}});
    // The list shows the values of the search time until the next search.
    QCOMPARE(f.names(), (QStringList{"ANN", "ANNA"}));
    f.search(QStringLiteral("ann"));
    QCOMPARE(f.names(), (QStringList{"ANNA", "JOANNE"}));
}

void TestQuickSearchForm::keepsTheSearchTimeTextsThroughEdits()
{
    // The list folds a row's texts from its card when it shows them, and
    // copies them the moment before a field of the card changes: every
    // column keeps the search's values, through any number of edits.
    Fixture f;
    CardNode *ann = addCard(f.tree, nullptr, {{Field::Name, "Ann"}, {Field::DW, "acme"}, {Field::EMail, "ann@x.com"}});
    CardNode *bob = addCard(f.tree, nullptr, {{Field::Name, "Bob"}, {Field::DW, "acme tools"}});
    f.N4->trigger();
    f.search(QStringLiteral("acme"));
    const QAbstractItemModel *model = f.lv1->model();
    QCOMPARE(model->rowCount(), 2);
    const auto row = [&](int r) {
        QStringList cells;
        for (int c = 0; c < model->columnCount(); ++c)
            cells << model->index(r, c).data().toString();
        return cells;
    };
    const QStringList annAtSearch = row(0);
    const QStringList bobAtSearch = row(1);
    QCOMPARE(annAtSearch.at(Field::DW - 1), QStringLiteral("ACME"));
    QCOMPARE(annAtSearch.at(Field::EMail - 1), QStringLiteral("ANN@X.COM"));

    f.tree.setField(ann, Field::DW, "other");
    f.tree.setField(ann, Field::DW, "still other");
    f.tree.setField(ann, Field::EMail, "new@x.com");
    f.tree.setField(bob, Field::Other, "a note");
    QCOMPARE(row(0), annAtSearch);
    QCOMPARE(row(1), bobAtSearch);
    QCOMPARE(model->index(0, Field::DW - 1).data(Qt::ToolTipRole).toString(), QStringLiteral("ACME"));
    // The exports' rows carry the same texts, and the cards as they are now.
    const std::vector<TResultRow> &rows = f.form.resultRows();
    QCOMPARE(rows.size(), size_t(2));
    QCOMPARE(rows[0].Texts[Field::DW - 1], QByteArray("ACME"));
    QCOMPARE(rows[0].Texts[Field::EMail - 1], QByteArray("ANN@X.COM"));
    QCOMPARE(rows[1].Texts[Field::Other - 1], QByteArray());
    QCOMPARE(rows[0].Card->field(Field::DW).toByteArray(), QByteArray("still other"));
    // Exports made one after the other, with edits between them: each has
    // the search's texts (the rows an export takes are made for it and
    // given back after it).
    QPushButton *Button4 = f.form.findChild<QPushButton *>(QStringLiteral("Button4"));
    for (const char *note : {"first note", "second note"}) {
        f.spreadsheet.cells.clear();
        f.dialogs.saveAnswers.enqueue(QStringLiteral("/tmp/rows.xlsx"));
        QTest::mouseClick(Button4, Qt::LeftButton);
        QCOMPARE(f.spreadsheet.cell(2, Field::DW), QStringLiteral("ACME"));
        QCOMPARE(f.spreadsheet.cell(2, Field::EMail), QStringLiteral("ANN@X.COM"));
        QCOMPARE(f.spreadsheet.cell(3, Field::DW), QStringLiteral("ACME TOOLS"));
        QCOMPARE(f.spreadsheet.cell(3, Field::Other), QString());
        f.tree.setField(bob, Field::DW, note);
    }
    QCOMPARE(f.form.resultRows()[1].Texts[Field::DW - 1], QByteArray("ACME TOOLS"));
    // A new search shows the cards as they are.
    f.search(QStringLiteral("acme"));
    QCOMPARE(f.names(), QStringList());
    f.search(QStringLiteral("note"));
    QCOMPARE(f.names(), QStringList{"BOB"});
    QCOMPARE(row(0).at(Field::Other - 1), QStringLiteral("A NOTE"));
}

void TestQuickSearchForm::dropsRowsOfDeletedCards()
{
    Fixture f;
    CardNode *group = addClass(f.tree, nullptr, QStringLiteral("组"));
    CardNode *inner = addClass(f.tree, group, QStringLiteral("子组"));
    addCard(f.tree, inner, {{Field::Name, "Amy"}});
    CardNode *adam = addCard(f.tree, nullptr, {{Field::Name, "Adam"}});
    CardNode *abe = addCard(f.tree, nullptr, {{Field::Name, "Abe"}});
    CardNode *ada = addCard(f.tree, nullptr, {{Field::Name, "Ada"}});
    addCard(f.tree, nullptr, {{Field::Name, "Al"}});
    f.search(QStringLiteral("a"));
    QCOMPARE(f.names(), (QStringList{"ABE", "ADA", "ADAM", "AL", "AMY"}));

    f.tree.deleteNode(adam);
    QCOMPARE(f.names(), (QStringList{"ABE", "ADA", "AL", "AMY"}));
    f.tree.deleteNode(group); // a card two levels below the deleted class
    QCOMPARE(f.names(), (QStringList{"ABE", "ADA", "AL"}));
    f.tree.releaseRecord(abe); // the node stays, its record is gone
    QCOMPARE(f.names(), (QStringList{"ADA", "AL"}));
    f.tree.attachRecord(ada, makeRecord(Kind::Card, {{Field::Name, "Ada"}})); // record replaced
    QCOMPARE(f.names(), QStringList{"AL"});

    // The exports that read cards never see a removed one.
    QTest::mouseClick(f.Button1, Qt::LeftButton);
    QCOMPARE(f.shell.opened().size(), 1);
    QVERIFY(f.shell.opened().at(0).text.contains(QStringLiteral(" 姓名:Al\r\n")));
    QVERIFY(!f.shell.opened().at(0).text.contains(QStringLiteral("Ad")));

    f.tree.clear();
    QVERIFY(f.names().isEmpty());
    QCOMPARE(f.form.resultRows().size(), size_t(0));
}

void TestQuickSearchForm::dropsManyScatteredRowsAtOnce()
{
    Fixture f;
    // Names interleave in the list: every other row belongs to the class.
    CardNode *group = addClass(f.tree, nullptr, QStringLiteral("组"));
    QStringList kept;
    for (int i = 0; i < 40; ++i) {
        const QString name = QStringLiteral("N%1").arg(i, 2, 10, QLatin1Char('0'));
        addCard(f.tree, i % 2 ? nullptr : group, {{Field::Name, name}});
        if (i % 2)
            kept << name;
    }
    f.search(QStringLiteral("n"));
    QCOMPARE(f.names().size(), 40);
    QSignalSpy removed(f.lv1->model(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(f.lv1->model(), &QAbstractItemModel::modelReset);
    f.tree.deleteNode(group);
    QCOMPARE(f.names(), kept);
    QCOMPARE(removed.size() + reset.size(), 1); // announced once, not per row
    for (const TResultRow &row : f.form.resultRows())
        QVERIFY(row.Card && row.Node && row.Node->data() == row.Card);
}

void TestQuickSearchForm::refusesASecondRunMeanwhile()
{
    Fixture f;
    for (int i = 0; i < 50; ++i)
        addCard(f.tree, nullptr, {{Field::Name, QStringLiteral("Card %1").arg(i)}});
    f.type(QStringLiteral("card"));

    // Queued while the search runs: the pump delivers them in its middle.
    bool seenBusy = false;
    QTimer::singleShot(0, &f.form, [&f, &seenBusy] {
        seenBusy = f.form.isBusy();
        f.form.Button1Click();      // the mail export
        f.form.SpeedButton1Click(); // a second search
    });
    f.form.SpeedButton1Click();
    QVERIFY(seenBusy);
    QVERIFY(f.shell.opened().isEmpty());
    QCOMPARE(f.names().size(), 50);
    QVERIFY(!f.form.isBusy());
    QVERIFY(f.pump.runs() > 0);
    f.form.Button1Click(); // accepted once the search is over
    QCOMPARE(f.shell.opened().size(), 1);
}

QTEST_MAIN(TestQuickSearchForm)
#include "tst_quicksearchform.moc"
