#include "tests/app/gui/GuiTestSupport.h"

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include <QApplication>
#include <QFileDialog>
#include <QPushButton>

#include "support/Application.h"

namespace lumo::gui::testing {

namespace {

// One QApplication for the whole test program, on the offscreen platform
// unless the environment chose another.
class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        application_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { application_.reset(); }

  private:
    int argc_ = 1;
    char name_[10] = "gui_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

TempDir::TempDir() {
    char pattern[] = "/tmp/lumo4410-gui-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

bool ProcessEventsUntil(const std::function<bool()>& done, int rounds) {
    for (int i = 0; i < rounds; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

DialogWatcher::DialogWatcher() {
    timer_.setInterval(5);
    connect(&timer_, &QTimer::timeout, this, &DialogWatcher::Poll);
    timer_.start();
}

void DialogWatcher::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    auto* box = qobject_cast<QMessageBox*>(modal);
    auto* chooser = qobject_cast<QFileDialog*>(modal);
    if (box == nullptr && chooser == nullptr) return;
    if (current_.isNull() || current_.data() != modal) {
        current_ = modal;
        polls_ = 0;
        Seen entry;
        entry.objectName = modal->objectName();
        entry.title = modal->windowTitle();
        if (box != nullptr) {
            entry.text = box->text();
            entry.icon = box->icon();
        }
        entry.fileDialog = chooser != nullptr;
        seen.push_back(entry);
        if (onDialog) onDialog(entry);
    }
    if (++polls_ <= holdPolls || QApplication::activeModalWidget() != modal) return;
    ++answered;
    if (box != nullptr) {
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
            ok->click();
        } else {
            box->reject();
        }
    } else {
        chooser->reject();
    }
}

void WindowTest::SetUp() {
    folder_ = std::make_unique<TempDir>();
    const std::string config = folder_->Path() + "/config";
    std::filesystem::create_directories(config);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    SetApplicationTitle("Test Worklist");
    SetProgramFileName(folder_->Path() + "/lumo4410");
    SetCommandLineParams({});
    dialogs_ = std::make_unique<DialogWatcher>();
}

void WindowTest::TearDown() {
    window_.reset();
    dialogs_.reset();
    SetCommandLineParams({});
    SetProgramFileName("");
    unsetenv("XDG_CONFIG_HOME");
    folder_.reset();
}

MainWindow& WindowTest::Open() {
    window_ = std::make_unique<MainWindow>();
    window_->show();
    QCoreApplication::processEvents();
    return *window_;
}

}  // namespace lumo::gui::testing
