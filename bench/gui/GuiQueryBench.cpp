// Run: build/<preset>/bench/gui/gui_query_bench PORT [RUNS]
// The window's own study query of everything a node at 127.0.0.1:PORT holds
// (the replay node of bench/replay, say), as the operator presses
// "C-Find Study/Study": the blocks shown as they arrive, the listing handed
// to the list at the end. Prints one line per run: the wall time from the
// press to the listing shown, the rows shown, and the peak resident memory
// of the process so far (VmHWM). The settings store and the program's folder
// point at a temporary folder; the offscreen platform unless one is chosen.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <QApplication>

#include "app/gui/LinesView.h"
#include "app/gui/MainWindow.h"
#include "support/Application.h"

namespace {

// The peak resident memory of this process, in KiB.
long PeakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: gui_query_bench PORT [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 1;
    char pattern[] = "/tmp/lumo4410-guiquery-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    lumo::SetApplicationTitle("Test Worklist");
    lumo::SetProgramFileName(folder + "/lumo4410");
    int status = 0;
    {
        auto window = std::make_unique<lumo::gui::MainWindow>();
        window->show();
        QCoreApplication::processEvents();
        auto& form = window->Form();
        form.EditIP.Text = "127.0.0.1";
        form.EditPort.Text = argv[1];
        form.EditDate.Text.clear();
        const auto* view = window->findChild<lumo::gui::LinesView*>("ListBoxResult");
        for (int run = 0; run < runs; ++run) {
            const auto start = std::chrono::steady_clock::now();
            form.RunHandler([&] { form.ButtonCFindStudyStudy.Click(); });
            window->Refresh();
            QCoreApplication::processEvents();
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
            const int rows = view->model()->rowCount();
            std::printf("%.0f ms\t%d rows\t%ld KiB peak\n", ms, rows, PeakKiB());
            std::fflush(stdout);
            if (!form.LastQuery().Answered()) status = 1;
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return status;
}
