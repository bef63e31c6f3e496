#pragma once

// What the window's tests share: one QApplication for the test program, a
// temporary folder, a watcher that answers the window's dialogs, and a
// fixture that builds the real window with its settings in a temporary folder.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include "app/gui/MainWindow.h"

namespace lumo::gui::testing {

// A folder under /tmp made for one test and removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// Runs the event loop until `done` holds, at most about `rounds` short
// passes; false when it never held. Bounds a wait, it does not time anything.
bool ProcessEventsUntil(const std::function<bool()>& done, int rounds = 3000);

// Answers every modal dialog that opens while it lives: a message box is
// recorded and closed with its OK button, a file dialog is recorded and
// cancelled. Keeps a test from waiting on a box nobody will close.
// holdPolls leaves each new dialog open for that many polls first (for a
// test that closes it another way); it is answered after them all the same.
class DialogWatcher : public QObject {
    Q_OBJECT

  public:
    struct Seen {
        QString objectName;
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool fileDialog = false;
    };

    DialogWatcher();
    std::vector<Seen> seen;
    // Runs once per dialog, when it is first seen.
    std::function<void(const Seen&)> onDialog;
    int holdPolls = 0;
    int answered = 0;

  private:
    void Poll();
    QTimer timer_;
    QPointer<QWidget> current_;
    int polls_ = 0;
};

// The real window, built as the program builds it, with the settings store
// and the program's folder in temporary folders and no command-line words.
class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Builds and shows the window (after SetUp; tests may set the command
    // line first).
    MainWindow& Open();

    template <typename T>
    T* Find(const char* name) {
        return window_->findChild<T*>(QString::fromLatin1(name));
    }

    std::unique_ptr<TempDir> folder_;
    std::unique_ptr<DialogWatcher> dialogs_;
    std::unique_ptr<MainWindow> window_;
};

}  // namespace lumo::gui::testing
