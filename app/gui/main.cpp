#include <QApplication>

#include "app/gui/CloseOnSignal.h"
#include "app/gui/MainWindow.h"
#include "support/Application.h"

// The console's window program: the application title first (the settings
// store keys on it and the window reads its settings while it is created),
// then the window, then the event loop until the window is closed.
int main(int argc, char** argv) {
    QApplication application(argc, argv);
    lumo::SetApplicationTitle("Test Worklist");
    QApplication::setApplicationName(QStringLiteral("Test Worklist"));
    // Qt has taken its own options out of argv by now.
    lumo::SetCommandLine(argc, argv);

    lumo::gui::MainWindow* window = nullptr;
    lumo::gui::CloseOnSignal closer([&window] {
        if (window != nullptr) window->CloseBySignal();
    });
    lumo::gui::MainWindow mainWindow;
    window = &mainWindow;
    mainWindow.show();
    const int status = QApplication::exec();
    window = nullptr;
    return status;
}
