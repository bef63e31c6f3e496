// Run: build/<preset>/bench/gui/gui_bench (QT_QPA_PLATFORM=offscreen is the
// default when no platform is chosen). Measures, for a study listing of N
// responses (14 lines each) already in the form:
//   ShowListing         the form's change notification, the view's reload and
//                       the first paint of the list;
//   ScrollToEnd         a jump to the last line and its paint;
//   ShowAndScrollToEnd  both, from the listing handed to the list: what the
//                       operator waits for after the query has returned.
// The settings store and the program's folder point at a temporary folder.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include <QApplication>

#include "app/TStrings.h"
#include "app/gui/LinesView.h"
#include "app/gui/MainWindow.h"
#include "support/Application.h"

namespace {

using lumo::gui::MainWindow;

constexpr int kLinesPerStudy = 14;

// A study listing of `responses` blocks, as the lister builds it.
lumo::app::TStrings StudyListing(int responses) {
    lumo::app::TStrings lines;
    for (int i = 1; i <= responses; ++i) {
        const std::string n = std::to_string(i);
        lines.Add("ACC" + n + "     PID" + n + "   ");
        lines.Add("Patient: PATIENT^" + n);
        lines.Add("Dossier: PID" + n);
        lines.Add("Naissance: 1970-01-01");
        lines.Add("Study Date: 2026-12-08");
        lines.Add("Study Time: 09:12:00");
        lines.Add("Visite: ACC" + n);
        lines.Add("StudyUID: 2.25.1234567890." + n);
        lines.Add("Referant: GIRARD^Anne");
        lines.Add("Institution: Centre Hospitalier");
        lines.Add("Nb Series : 2");
        lines.Add("Nb Instances : 5");
        lines.Add("Modalite : CT");
        lines.Add("---------------------");
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
        view = window->findChild<lumo::gui::LinesView*>("ListBoxResult");
    }
    ~Window() {
        window.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::string folder;
    std::unique_ptr<MainWindow> window;
    lumo::gui::LinesView* view = nullptr;
};

// Built on first use, gone before the application object.
std::unique_ptr<Window>& WindowSlot() {
    static std::unique_ptr<Window> window;
    return window;
}

Window& TheWindow() {
    if (!WindowSlot()) WindowSlot() = std::make_unique<Window>();
    return *WindowSlot();
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

// What the operator waits for once a query of N responses has ended: the
// listing handed to the list, the view's reload, the jump to the last line
// and its paint.
void ShowAndScrollToEnd(benchmark::State& state) {
    Window& w = TheWindow();
    auto& lines = w.window->Form().ListBoxResult.Items;
    const int responses = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        lumo::app::TStrings listing = StudyListing(responses);
        // A query starts with an empty list: the last listing is gone by
        // the time this one is shown.
        lines.Clear();
        w.window->Form().Host().Changed();
        w.view->scrollToTop();
        state.ResumeTiming();
        lines.Assign(std::move(listing));
        w.window->Form().Host().Changed();
        w.view->scrollToBottom();
        w.view->viewport()->repaint();
        QCoreApplication::processEvents();
    }
    const int rows = w.view->model()->rowCount();
    const QRect last = w.view->visualRect(w.view->model()->index(rows - 1, 0));
    if (rows != responses * kLinesPerStudy || !w.view->viewport()->rect().contains(last)) {
        state.SkipWithError("the view does not show the last lines");
    }
}

// A million-line listing takes a second to build outside the timing: a few
// runs say enough.
BENCHMARK(ShowListing)->Arg(1'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK(ShowListing)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(ScrollToEnd)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(ShowAndScrollToEnd)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    WindowSlot().reset();
    return 0;
}
