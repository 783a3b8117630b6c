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
#include "SearchResultModel.h"
#include "ScriptedDialogs.h"
#include "Session.h"
#include "TfrmMain.h"
#include "TfrmQuickSearch.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QTableView>
#include <QTemporaryDir>

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
