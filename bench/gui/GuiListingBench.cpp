// Run: build/<preset>/bench/gui/gui_bench (QT_QPA_PLATFORM=offscreen is the
// default when no platform is chosen). Measures, for a study listing of N
// responses (14 lines each) already in the form:
//   ShowListing   the form's change notification, the view's reload and the
//                 first paint of the list: what the operator waits for after
//                 the query has returned;
//   ScrollToEnd   a jump to the last line and its paint.
// The settings store and the program's folder point at a temporary folder.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QListView>

#include "app/gui/MainWindow.h"
#include "support/Application.h"

namespace {

using lumo::gui::MainWindow;

constexpr int kLinesPerStudy = 14;

std::vector<std::string> StudyListing(int responses) {
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(responses) * kLinesPerStudy);
    for (int i = 1; i <= responses; ++i) {
        const std::string n = std::to_string(i);
        lines.push_back("ACC" + n + "     PID" + n + "   ");
        lines.push_back("Patient: PATIENT^" + n);
        lines.push_back("Dossier: PID" + n);
        lines.push_back("Naissance: 1970-01-01");
        lines.push_back("Study Date: 2026-12-08");
        lines.push_back("Study Time: 09:12:00");
        lines.push_back("Visite: ACC" + n);
        lines.push_back("StudyUID: 2.25.1234567890." + n);
        lines.push_back("Referant: GIRARD^Anne");
        lines.push_back("Institution: Centre Hospitalier");
        lines.push_back("Nb Series : 2");
        lines.push_back("Nb Instances : 5");
        lines.push_back("Modalite : CT");
        lines.push_back("---------------------");
    }
    return lines;
}

// The window of the program, built once, on the offscreen platform.
struct Window {
    Window() {
        char pattern[] = "/tmp/lumo4410-guibench-XXXXXX";
        folder = mkdtemp(pattern);
        setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
        lumo::SetApplicationTitle("Test Worklist");
        lumo::SetProgramFileName(folder + "/lumo4410");
        window = std::make_unique<MainWindow>();
        window->show();
        QCoreApplication::processEvents();
        view = window->findChild<QListView*>("ListBoxResult");
    }
    ~Window() {
        window.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::string folder;
    std::unique_ptr<MainWindow> window;
    QListView* view = nullptr;
};

Window& TheWindow() {
    static Window window;
    return window;
}

void ShowListing(benchmark::State& state) {
    Window& w = TheWindow();
    auto& lines = w.window->Form().ListBoxResult.Items;
    const int responses = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        lines.Assign(StudyListing(responses));
        state.ResumeTiming();
        w.window->Form().Host().Changed();
        w.view->viewport()->repaint();
        QCoreApplication::processEvents();
    }
    if (w.view->model()->rowCount() != responses * kLinesPerStudy) {
        state.SkipWithError("the view does not show every line");
    }
    state.counters["lines"] = static_cast<double>(responses) * kLinesPerStudy;
}

void ScrollToEnd(benchmark::State& state) {
    Window& w = TheWindow();
    const int responses = static_cast<int>(state.range(0));
    w.window->Form().ListBoxResult.Items.Assign(StudyListing(responses));
    w.window->Form().Host().Changed();
    for (auto _ : state) {
        w.view->scrollToTop();
        w.view->viewport()->repaint();
        w.view->scrollToBottom();
        w.view->viewport()->repaint();
    }
}

BENCHMARK(ShowListing)->Arg(1'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK(ScrollToEnd)->Arg(100'000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
