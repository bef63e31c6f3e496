#pragma once

#include <functional>
#include <optional>
#include <string>

namespace lumo::dicom {
class Dispatcher;
}

namespace lumo::app {

class TOpenDialog;
class TStrings;

// How a message box looks: a plain one (no icon, one OK button) or an error
// dialog (error icon, one OK button).
enum class MessageKind { Plain, Error };

// What the form needs from the screen it is shown on. The Qt window and the
// command line each supply one; tests supply a recording one. Every call
// comes from the form's thread (the thread that runs its handlers).
class FormHost {
  public:
    virtual ~FormHost() = default;

    // A modal message box with one OK button; returns when it is closed.
    virtual void ShowMessage(const std::string& title, const std::string& text,
                             MessageKind kind) = 0;

    // The application's standard error report: a message box holding the
    // text of an error that left a handler.
    virtual void ShowException(const std::string& text) = 0;

    // The file-open dialog: the chosen file's full name, or nothing when the
    // operator cancels. The dialog's default extension and last file name
    // are in `dialog`.
    virtual std::optional<std::string> ChooseFile(const TOpenDialog& dialog) = 0;

    // A save dialog offering DICOM JSON (.json) and CSV (.csv): the chosen
    // file's full name, or nothing when the operator cancels.
    virtual std::optional<std::string> ChooseSaveFile(const std::string& suggested) {
        (void)suggested;
        return std::nullopt;
    }

    // Puts `text` on the clipboard, where there is one.
    virtual void CopyText(const std::string& text) { (void)text; }

    // Lets the front end handle what waits in its queue (repaint the labels
    // before a query blocks the thread). The view refreshes from the form here.
    virtual void ProcessMessages() = 0;

    // Runs `work` (a query's exchange: it touches nothing of the form) while
    // the front end stays alive, and returns when it has ended. The window
    // runs it on a thread of its own and goes on painting and answering
    // meanwhile — only the controls the form left enabled take input — and
    // calls `progress` on the form's thread every few tenths of a second;
    // others run it in place.
    virtual void RunBusy(const std::function<void()>& work, const std::function<void()>& progress) {
        (void)progress;
        work();
    }

    // The form's controls changed (after every handler, and whenever a
    // handler asks for a repaint); the view refreshes from the form.
    virtual void Changed() = 0;

    // A query button finished its listing (ListBoxResult and the two time
    // labels hold its outcome). The command line prints it here in listen
    // mode; a window needs nothing beyond Changed().
    virtual void QueryListed() {}

    // Whether the front end takes the blocks of a query button's listing as
    // each is built (BlocksListed), ListBoxResult then holding only what
    // follows them: the command line prints them at once and holds nothing
    // per response. A window shows, and so keeps, the whole list.
    virtual bool TakesBlocksAsListed() const { return false; }
    virtual void BlocksListed(const TStrings& /*lines*/) {}
    // A retrieval's live counts, one line per pending response
    // ("Restant N · Terminées N · ..."), on the exchange's thread, which may
    // not be the form's: the command line prints it as it comes; a window shows
    // the counts through RunBusy's progress instead.
    virtual void RetrievalProgress(const std::string& /*line*/) {}

    // The batch of the tab "Type 1" built one output line, then wrote its
    // output file. The command line prints them; a window shows MemoDest.
    virtual void BatchLineAdded(const std::string& /*line*/) {}
    virtual void BatchFileWritten(const std::string& /*fileName*/) {}

    // Runs the listener's events on the form's thread (Qt: a blocking
    // queued call onto the GUI thread; the command line: an event loop).
    // Asked once, while the form is constructed; it must outlive the form.
    virtual dicom::Dispatcher& FormDispatcher() = 0;
};

}  // namespace lumo::app
