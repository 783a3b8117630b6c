// The windows with a large card tree (1,000,000 generated cards; set
// KELVO_BENCH_CARDS for another number): one user action per figure, from the
// action to the windows repainted. Offscreen, with the tests' doubles for the
// desktop services. Figures only: nothing here asserts a time.
#include "CardGenerator.h"
#include "CardTree.h"
#include "DataFile.h"
#include "FakeTrayIcon.h"
#include "QuickSearchForm.h"
#include "RecordingShell.h"
#include "RecordingSpreadsheet.h"
#include "ScriptedDialogs.h"
#include "SearchResultModel.h"
#include "Session.h"
#include "TfrmMain.h"
#include "TfrmQuickSearch.h"
#include "TypedField.h"

#include "CardRecords.h"

#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>

#include <cstdio>
#include <memory>

using namespace kelvo;

namespace {

int cardsWanted()
{
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("KELVO_BENCH_CARDS", &ok);
    return ok && n > 0 ? n : 1000000;
}

// The program as it runs: a session that loaded a generated data file.
struct Windows
{
    QTemporaryDir folder;
    ScriptedDialogs dialogs;
    RecordingShell shell;
    RecordingSpreadsheet spreadsheet;
    FakeTrayIcon tray{true};
    std::unique_ptr<Session> session;

    Windows()
    {
        const DataFiles files = DataFiles::inFolder(folder.path());
        {
            CardTree tree;
            tool::GenerateCardTree(tree, cardsWanted(), 2024);
            QDir().mkpath(QFileInfo(files.dataFile).path());
            QFile file(files.dataFile);
            const QByteArray bytes = SerializeTree(tree);
            if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
                std::fprintf(stderr, "cannot write %s\n", qPrintable(files.dataFile));
        }
        session = std::make_unique<Session>(Session::Services{dialogs, shell, tray, spreadsheet, files});
        session->showMainWindow();
        session->quickSearch()->show();
        form().N4Click(); // every field ticked
        settle();
    }

    QuickSearchForm &form() { return *session->quickSearch()->searchForm(); }
    CardTree &tree() { return session->cardTree(); }
    QTableView &results() { return *form().findChild<QTableView *>(QStringLiteral("lv1")); }
    QTreeView &treeView() { return *session->mainWindow()->findChild<QTreeView *>(QStringLiteral("tvCard")); }
    void run(const char *command) { session->mainWindow()->findChild<QAction *>(QLatin1String(command))->trigger(); }
    int rows() { return form().resultModel()->rowCount(); }

    void search(const QString &condition)
    {
        form().findChild<QComboBox *>(QStringLiteral("cmbConStr"))->setEditText(condition);
        form().SpeedButton1Click();
        settle();
    }

    // What the user sees after an action: pending events run, windows painted.
    void settle()
    {
        QCoreApplication::processEvents();
        session->mainWindow()->repaint();
        session->quickSearch()->repaint();
    }
};

Windows &windows()
{
    static Windows made;
    return made;
}

const char16_t *const Conditions[] = {u"张伟", u"1385", u".com"};

void BM_SearchAllFields(benchmark::State &state)
{
    Windows &w = windows();
    const QString condition = QString::fromUtf16(Conditions[state.range(0)]);
    for (auto _ : state)
        w.search(condition);
    state.SetLabel(condition.toStdString());
    state.counters["rows"] = double(w.form().resultModel()->rowCount());
    state.counters["cards"] = cardsWanted();
}
BENCHMARK(BM_SearchAllFields)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// With the many rows of ".com" in the list: a card deleted in the tree, a
// card's field changed, the list scrolled to its end.
void BM_DeleteCardWithManyRows(benchmark::State &state)
{
    Windows &w = windows();
    w.search(QStringLiteral(".com"));
    int at = w.tree().count() / 2;
    for (auto _ : state) {
        CardNode *node = w.tree().nodeAt(at++);
        while (node && !node->isCard())
            node = w.tree().nodeAt(at++);
        w.tree().deleteNode(node);
        w.settle();
    }
    state.counters["rows"] = double(w.form().resultModel()->rowCount());
}
BENCHMARK(BM_DeleteCardWithManyRows)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_EditCardWithManyRows(benchmark::State &state)
{
    Windows &w = windows();
    w.search(QStringLiteral(".com"));
    int n = 0;
    for (auto _ : state) {
        CardNode *node = w.tree().nodeAt(w.tree().count() / 3);
        w.tree().setField(node, Field::Other, "note " + QByteArray::number(n++));
        w.settle();
    }
    state.counters["rows"] = double(w.form().resultModel()->rowCount());
}
BENCHMARK(BM_EditCardWithManyRows)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_ScrollManyRows(benchmark::State &state)
{
    Windows &w = windows();
    w.search(QStringLiteral(".com"));
    bool down = true;
    for (auto _ : state) {
        if (down)
            w.results().scrollToBottom();
        else
            w.results().scrollToTop();
        down = !down;
        w.settle();
    }
}
BENCHMARK(BM_ScrollManyRows)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

void BM_AddCardToTree(benchmark::State &state)
{
    Windows &w = windows();
    for (auto _ : state) {
        CardNode *cardClass = w.tree().topLevel(w.tree().topLevelCount() - 1);
        w.tree().addChild(cardClass, "new", std::make_unique<TCardData>());
        w.settle();
    }
}
BENCHMARK(BM_AddCardToTree)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// A card class of `cards` cards at the end of the top level, each with an
// e-mail address that ".com" finds.
CardNode *addLargeClass(CardTree &tree, int cards)
{
    CardNode *cardClass = tree.addTopLevel("large class", MakeCardClassRecord());
    std::vector<NewCardNode> nodes(static_cast<size_t>(cards));
    for (int i = 0; i < cards; ++i) {
        NewCardNode &node = nodes[static_cast<size_t>(i)];
        node.data = MakeCardRecord();
        node.label = "card " + QByteArray::number(i % 5000);
        node.data->setField(Field::Name, node.label);
        node.data->setField(Field::EMail, "someone" + QByteArray::number(i) + "@example.com");
        node.displayIndexes = {1, 1, 1, 1};
    }
    tree.addChildren(cardClass, std::move(nodes));
    return cardClass;
}

// The delete command on a card class of 100,000 cards (answered yes) while
// the list shows the 829,256 rows of ".com", its 100,000 among them.
void BM_DeleteLargeClassWithManyRows(benchmark::State &state)
{
    Windows &w = windows();
    for (auto _ : state) {
        state.PauseTiming();
        CardNode *cardClass = addLargeClass(w.tree(), 100000);
        w.search(QStringLiteral(".com"));
        w.session->mainWindow()->selectNode(cardClass);
        w.settle();
        w.dialogs.answerQuestion(true);
        state.ResumeTiming();
        w.run("actDeleteSomething");
        w.settle();
    }
    state.counters["rows"] = w.rows();
}
BENCHMARK(BM_DeleteLargeClassWithManyRows)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// A card class of 100,000 cards moved (as a drop moves it) to the top of the
// tree and back, expanded in the tree and with the many rows shown.
void BM_MoveLargeClassWithManyRows(benchmark::State &state)
{
    Windows &w = windows();
    CardNode *cardClass = addLargeClass(w.tree(), 100000);
    w.search(QStringLiteral(".com"));
    w.treeView().expand(w.session->mainWindow()->indexOfNode(cardClass));
    w.settle();
    bool up = true;
    for (auto _ : state) {
        if (up)
            w.tree().moveNode(cardClass, w.tree().topLevel(0), CardTree::MoveMode::BeforeTarget);
        else
            w.tree().moveNode(cardClass, w.tree().topLevel(0), CardTree::MoveMode::AsLastSibling);
        up = !up;
        w.settle();
    }
    w.tree().deleteNode(cardClass); // after the timed loop
    w.settle();
}
BENCHMARK(BM_MoveLargeClassWithManyRows)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

// A card's name typed anew (the label edit's path: the field and the label)
// while the card is one of the many rows.
void BM_RenameCardWithManyRows(benchmark::State &state)
{
    Windows &w = windows();
    w.search(QStringLiteral(".com"));
    CardNode *node = w.tree().nodeAt(w.tree().count() / 2);
    while (node && !node->isCard())
        node = w.tree().nodeAt(w.tree().absoluteIndexOf(node) + 1);
    int n = 0;
    for (auto _ : state) {
        StoreTypedField(w.tree(), node, Field::Name, QStringLiteral("新名字%1").arg(n++));
        w.settle();
    }
    state.counters["rows"] = w.rows();
}
BENCHMARK(BM_RenameCardWithManyRows)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// A search that replaces the 729,256 rows of ".com" by the few of 张伟.
void BM_FewRowsReplaceManyRows(benchmark::State &state)
{
    Windows &w = windows();
    for (auto _ : state) {
        state.PauseTiming();
        w.search(QStringLiteral(".com"));
        state.ResumeTiming();
        w.search(QStringLiteral("张伟"));
    }
    state.counters["rows"] = w.rows();
}
BENCHMARK(BM_FewRowsReplaceManyRows)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The search window closed ("关闭") and shown again by the search command,
// with the many rows in its list.
void BM_CloseAndShowSearchWindowWithManyRows(benchmark::State &state)
{
    Windows &w = windows();
    w.search(QStringLiteral(".com"));
    for (auto _ : state) {
        w.form().findChild<QPushButton *>(QStringLiteral("Button3"))->click();
        w.settle();
        w.run("actSearchCard");
        w.settle();
    }
    state.counters["rows"] = w.rows();
}
BENCHMARK(BM_CloseAndShowSearchWindowWithManyRows)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

// A row of the many selected, far down the list and then near its top.
void BM_SelectRowOfManyRows(benchmark::State &state)
{
    Windows &w = windows();
    w.search(QStringLiteral(".com"));
    int row = 0;
    for (auto _ : state) {
        row = row == 10 ? w.rows() - 10 : 10;
        w.results().selectRow(row);
        w.results().scrollTo(w.form().resultModel()->index(row, 0));
        w.settle();
    }
}
BENCHMARK(BM_SelectRowOfManyRows)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

// A card class of 100,000 cards expanded and collapsed in the tree.
void BM_ExpandLargeClass(benchmark::State &state)
{
    Windows &w = windows();
    CardNode *cardClass = addLargeClass(w.tree(), 100000);
    w.settle();
    const QModelIndex index = w.session->mainWindow()->indexOfNode(cardClass);
    bool expand = true;
    for (auto _ : state) {
        w.treeView().setExpanded(index, expand);
        expand = !expand;
        w.settle();
    }
    w.tree().deleteNode(cardClass); // after the timed loop
    w.settle();
}
BENCHMARK(BM_ExpandLargeClass)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

// A card selected in the tree, far from the last selection, and its
// detail panel filled (the change delay of the tree left out).
void BM_SelectCardInTree(benchmark::State &state)
{
    Windows &w = windows();
    int at = 0;
    for (auto _ : state) {
        at = (at + w.tree().count() / 3) % w.tree().count();
        CardNode *node = w.tree().nodeAt(at);
        w.session->mainWindow()->selectNode(node);
        Q_EMIT w.session->mainWindow()->tvCardChange(node);
        w.settle();
    }
}
BENCHMARK(BM_SelectCardInTree)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

// The many rows saved to a text file, and the next search after it.
void BM_SaveManyRowsToFile(benchmark::State &state)
{
    Windows &w = windows();
    w.search(QStringLiteral(".com"));
    const QString path = w.folder.filePath(QStringLiteral("rows.txt"));
    for (auto _ : state) {
        w.dialogs.answerSaveFile(path);
        w.form().findChild<QPushButton *>(QStringLiteral("Button2"))->click();
        w.settle();
    }
    state.counters["rows"] = w.rows();
}
BENCHMARK(BM_SaveManyRowsToFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void BM_SearchAfterSavingManyRows(benchmark::State &state)
{
    Windows &w = windows();
    const QString path = w.folder.filePath(QStringLiteral("rows.txt"));
    for (auto _ : state) {
        state.PauseTiming();
        w.search(QStringLiteral(".com"));
        w.dialogs.answerSaveFile(path);
        w.form().findChild<QPushButton *>(QStringLiteral("Button2"))->click();
        w.settle();
        state.ResumeTiming();
        w.search(QStringLiteral("张伟"));
    }
    state.counters["rows"] = w.rows();
}
BENCHMARK(BM_SearchAfterSavingManyRows)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
