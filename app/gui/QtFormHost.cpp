#include "app/gui/QtFormHost.h"

#include <algorithm>
#include <exception>
#include <thread>
#include <utility>

#include <QClipboard>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QTimer>

#include "app/TFormTestWL.h"
#include "app/gui/GuiDispatcher.h"
#include "support/Application.h"

namespace lumo::gui {

QtFormHost::QtFormHost(QWidget& window, std::function<void()> refresh, GuiDispatcher& dispatcher)
    : window_(window), refresh_(std::move(refresh)), dispatcher_(dispatcher) {}

void QtFormHost::ShowMessage(const std::string& title, const std::string& text,
                             app::MessageKind kind) {
    QMessageBox box(kind == app::MessageKind::Error ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok,
                    &window_);
    box.setObjectName("MessageBox");
    box.exec();
}

void QtFormHost::ShowException(const std::string& text) {
    // The standard error report: the error text under the application title,
    // with the stop icon and one OK button.
    QMessageBox box(QMessageBox::Critical, QString::fromStdString(ApplicationTitle()),
                    QString::fromStdString(text), QMessageBox::Ok, &window_);
    box.setObjectName("ErrorReport");
    box.exec();
}

std::optional<std::string> QtFormHost::ChooseSaveFile(const std::string& suggested) {
    QFileDialog chooser(&window_, QStringLiteral("Exporter les réponses"));
    chooser.setObjectName(QStringLiteral("SaveDialogExport"));
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    chooser.setNameFilters({QStringLiteral("DICOM JSON (*.json)"), QStringLiteral("CSV (*.csv)")});
    chooser.selectFile(QString::fromStdString(suggested));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty())
        return std::nullopt;
    return chooser.selectedFiles().front().toStdString();
}

std::optional<std::string> QtFormHost::ChooseFile(const app::TOpenDialog& dialog) {
    QFileDialog chooser(&window_);
    chooser.setObjectName(QString::fromStdString(dialog.Name));
    chooser.setFileMode(QFileDialog::ExistingFile);
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setNameFilter(QStringLiteral("*"));
    if (!dialog.FileName.empty()) {
        const QFileInfo last(QString::fromStdString(dialog.FileName));
        chooser.setDirectory(last.absolutePath());
        chooser.selectFile(last.fileName());
    }
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return chooser.selectedFiles().constFirst().toStdString();
}

void QtFormHost::ProcessMessages() {
    refresh_();
    // Paint and run queued work, but keep the operator's clicks and keys for
    // later: a handler that lets the window repaint must not find another
    // handler run inside it.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void QtFormHost::Changed() { refresh_(); }

void QtFormHost::CopyText(const std::string& text) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

// The work runs on a thread of its own while this thread runs a loop of its
// own: the window paints, scrolls and takes the clicks of the controls the
// form left enabled. The listener's events wait for the end, so that no
// handler runs inside this one.
void QtFormHost::RunBusy(const std::function<void()>& work, const std::function<void()>& progress) {
    QEventLoop loop;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, &loop, [&progress, &ticks] {
        QElapsedTimer spent;
        spent.start();
        progress();
        // A tick hands the blocks built since the last one to the list:
        // ticks spaced by three times their cost keep the window answering.
        ticks.setInterval(
            static_cast<int>(std::max<qint64>(kProgressInterval, 3 * spent.elapsed())));
    });
    ticks.start(kProgressInterval);
    std::exception_ptr error;
    const GuiDispatcher::Holding holding(dispatcher_);
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        // Queued: the loop may not have started yet, and then ends at once.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    if (error) std::rethrow_exception(error);
}

dicom::Dispatcher& QtFormHost::FormDispatcher() { return dispatcher_; }

}  // namespace lumo::gui
