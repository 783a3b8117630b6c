// What the skin costs: the same painting with Kelvo's skin and with plain
// Fusion, in one run (argument 0 Fusion, 1 the skin). The main window with
// 100,000 generated cards (KELVO_BENCH_CARDS for another number), a menu
// opened and painted, the search's result list of many rows scrolled.
// Offscreen, with the tests' doubles for the desktop services. Figures only.
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
#include "SkinStyle.h"
#include "TfrmMain.h"
#include "TfrmQuickSearch.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QStyleFactory>
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
    return ok && n > 0 ? n : 100000;
}

struct Windows
{
    QTemporaryDir folder;
    ScriptedDialogs dialogs;
    RecordingShell shell;
    RecordingSpreadsheet spreadsheet;
    FakeTrayIcon tray{true};
    std::unique_ptr<Session> session;
    std::unique_ptr<QStyle> fusion;
    std::unique_ptr<SkinStyle> skin;

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
        fusion.reset(QStyleFactory::create(QStringLiteral("Fusion")));
        skin = std::make_unique<SkinStyle>(session->mainWindow()->skinData());
        if (!skin->isSkinned())
            std::fprintf(stderr, "the stored skin did not load: both figures are Fusion's\n");
        session->showMainWindow();
        session->quickSearch()->show();
        form().N4Click(); // every field ticked
        form().findChild<QComboBox *>(QStringLiteral("cmbConStr"))->setEditText(QStringLiteral(".com"));
        form().SpeedButton1Click();
        QCoreApplication::processEvents();
    }

    QuickSearchForm &form() { return *session->quickSearch()->searchForm(); }
    QTableView &results() { return *form().findChild<QTableView *>(QStringLiteral("lv1")); }

    // Both windows and their menus in one look; the styles live as long as
    // the windows.
    void use(int look)
    {
        QStyle *style = look ? static_cast<QStyle *>(skin.get()) : fusion.get();
        for (QWidget *window :
             {static_cast<QWidget *>(session->mainWindow()), static_cast<QWidget *>(session->quickSearch())}) {
            window->setStyle(style);
            for (QWidget *child : window->findChildren<QWidget *>())
                child->setStyle(style);
        }
        QCoreApplication::processEvents();
    }
};

Windows &windows()
{
    static Windows made;
    return made;
}

const char *lookName(int look)
{
    return look ? "skin" : "fusion";
}

void BM_PaintMainWindow(benchmark::State &state)
{
    Windows &w = windows();
    w.use(int(state.range(0)));
    for (auto _ : state)
        w.session->mainWindow()->repaint();
    state.SetLabel(lookName(int(state.range(0))));
    state.counters["cards"] = cardsWanted();
}
BENCHMARK(BM_PaintMainWindow)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(1.0);

void BM_OpenMenu(benchmark::State &state)
{
    Windows &w = windows();
    w.use(int(state.range(0)));
    QMenu *menu = w.session->mainWindow()->menuBar()->actions().first()->menu();
    for (auto _ : state) {
        menu->popup(QPoint(300, 300));
        menu->repaint();
        menu->hide();
    }
    state.SetLabel(lookName(int(state.range(0))));
}
BENCHMARK(BM_OpenMenu)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(1.0);

void BM_ScrollResults(benchmark::State &state)
{
    Windows &w = windows();
    w.use(int(state.range(0)));
    QTableView &list = w.results();
    bool down = true;
    for (auto _ : state) {
        if (down)
            list.scrollToBottom();
        else
            list.scrollToTop();
        down = !down;
        list.viewport()->repaint();
        list.verticalScrollBar()->repaint();
        list.horizontalHeader()->viewport()->repaint();
    }
    state.SetLabel(lookName(int(state.range(0))));
    state.counters["rows"] = double(w.form().resultModel()->rowCount());
}
BENCHMARK(BM_ScrollResults)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(1.0);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
