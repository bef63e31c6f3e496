#include <algorithm>
#include <string_view>

#include <QApplication>

#include "app/gui/CloseOnSignal.h"
#include "app/gui/MainWindow.h"
#include "support/Application.h"
#include "support/ProgramFiles.h"

// The console's window program: the application title first (the settings
// store keys on it and the window reads its settings while it is created),
// then the window, then the event loop until the window is closed.
// --desktop (the desktop entry's) keeps the saved and exported files in the
// state folder rather than in the current folder, the user's home there.
int main(int argc, char** argv) {
    QApplication application(argc, argv);
    lumo::SetApplicationTitle("Test Worklist");
    QApplication::setApplicationName(QStringLiteral("Test Worklist"));
    // Qt has taken its own options out of argv by now.
    char** const end = argv + argc;
    char** const kept = std::remove_if(
        argv + 1, end, [](const char* arg) { return std::string_view(arg) == "--desktop"; });
    const bool desktop = kept != end;
    lumo::SetCommandLine(static_cast<int>(kept - argv), argv);

    lumo::gui::MainWindow* window = nullptr;
    lumo::gui::CloseOnSignal closer([&window] {
        if (window != nullptr) window->CloseBySignal();
    });
    lumo::gui::MainWindow mainWindow;
    if (desktop) mainWindow.Form().FilesFolder = lumo::MakeStateFolder();
    window = &mainWindow;
    mainWindow.show();
    const int status = QApplication::exec();
    window = nullptr;
    return status;
}
