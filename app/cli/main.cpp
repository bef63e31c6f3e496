// lumo4410-cli: the console's form driven from the command line.

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/AssociationText.h"
#include "app/DicomWebFind.h"
#include "app/ResponseExport.h"
#include "app/TFormTestWL.h"
#include "app/cli/CliHost.h"
#include "app/cli/CliOptions.h"
#include "app/cli/CompareCommand.h"
#include "app/cli/FormOutput.h"
#include "app/cli/NodeCheckCommands.h"
#include "app/cli/NodesCommand.h"
#include "app/cli/ProfileCommand.h"
#include "app/cli/RetrieveCommand.h"
#include "dicom/listener/EventLoopDispatcher.h"
#include "logging/uApplicationLogger.h"
#include "support/Application.h"
#include "support/Exception.h"
#include "support/FileInfo.h"

namespace {

using lumo::app::CliOptions;

lumo::app::TButton& ButtonOf(lumo::app::TFormTestWL& form, CliOptions::Command command) {
    switch (command) {
        case CliOptions::Command::Worklist:
            return form.ButtonWL;
        case CliOptions::Command::Patient:
            return form.ButtonCFindPatient;
        case CliOptions::Command::Series:
            return form.ButtonCFindStudySeries;
        case CliOptions::Command::Image:
            return form.ButtonCFindStudyImage;
        default:
            return form.ButtonCFindStudyStudy;
    }
}

void ApplyFields(lumo::app::TFormTestWL& form, const CliOptions& options) {
    for (const auto& [name, value] : options.fields) {
        lumo::app::TControl* control = form.FindControl(name);
        if (auto* edit = dynamic_cast<lumo::app::TEdit*>(control)) {
            edit->Text = value;
        } else if (auto* combo = dynamic_cast<lumo::app::TComboBox*>(control)) {
            combo->Text = value;
        } else if (auto* box = dynamic_cast<lumo::app::TCheckBox*>(control)) {
            box->Checked = value == "1";
        }
    }
    if (options.save) form.cbSaveResults.Checked = true;
}

// Waits on its own thread for SIGINT or SIGTERM (blocked everywhere else) and
// acts on the first one: listen mode ends its event loop, so the program
// closes as the window's close does; the batch stops after the record under
// way and writes what it built.
class SignalWatcher {
  public:
    explicit SignalWatcher(std::function<void()> onSignal) {
        thread_ = std::thread([this, onSignal = std::move(onSignal)] {
            sigset_t set;
            sigemptyset(&set);
            sigaddset(&set, SIGINT);
            sigaddset(&set, SIGTERM);
            sigaddset(&set, SIGUSR1);
            int signal = 0;
            sigwait(&set, &signal);
            if (signal == SIGUSR1) return;  // the watcher's own end
            signalled_ = true;
            onSignal();
        });
    }
    ~SignalWatcher() {
        // Wakes the watcher when the work ended for another reason.
        pthread_kill(thread_.native_handle(), SIGUSR1);
        thread_.join();
    }
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    // Whether SIGINT or SIGTERM came.
    bool Signalled() const { return signalled_; }

    // Before any thread starts, so that only the watcher receives them.
    static void BlockSignals() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGUSR1);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
    }

    // Whether SIGINT or SIGTERM came while blocked, before any watcher.
    static bool Pending() {
        sigset_t pending;
        sigpending(&pending);
        return sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1;
    }

  private:
    std::atomic<bool> signalled_{false};
    std::thread thread_;
};

// Help and version need no form; nullopt for every other command.
std::optional<int> RunWithoutForm(const CliOptions& options) {
    if (options.command == CliOptions::Command::Help) {
        std::fputs(lumo::app::CliUsage().c_str(), stdout);
        return 0;
    }
    if (options.command != CliOptions::Command::Version) return std::nullopt;
    try {
        const std::string version = lumo::GetFileVersionText(lumo::ProgramFileName(), false);
        std::printf("lumo4410-cli %s\n", version.c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumo4410-cli: %s\n", e.what());
        return 1;
    }
}

int RunListen(lumo::app::TFormTestWL& form, lumo::dicom::EventLoopDispatcher& dispatcher,
              const CliOptions& options, bool created) {
    if (!created || !form.Listening()) {
        std::fprintf(stderr, "lumo4410-cli: cannot listen on port %s\n",
                     options.listenPort.c_str());
        return 1;
    }
    std::fprintf(stderr, "Écoute sur le port %d\n", form.DicomViewer1.Viewer.ListeningPort());
    std::fflush(stderr);
    SignalWatcher watcher([&dispatcher] { dispatcher.Stop(); });
    dispatcher.Run();
    return 0;
}

// The batch, which SIGINT and SIGTERM stop after the record under way: the
// file then holds the lines built and where the run stopped, and the
// program fails.
int RunBatch(lumo::app::TFormTestWL& form, lumo::app::CliHost& host, const CliOptions& options) {
    host.SetChosenFile(options.batchFile);
    host.SetPrintListings(false);
    // A signal that came while the program started would be taken by the
    // watcher before the batch starts, and its stop request cleared by that
    // start: the batch does not start at all.
    if (SignalWatcher::Pending()) {
        std::fprintf(stderr, "Interrompu avant le traitement\n");
        return 1;
    }
    SignalWatcher watcher([&form] { form.RequestStop(); });
    form.RunHandler([&] { form.ButtonCFINDType1.Click(); });
    if (!host.BatchFile()) return 1;
    std::fprintf(stderr, "%s\n", host.BatchFile()->c_str());
    std::fflush(stderr);
    return watcher.Signalled() ? 1 : 0;
}

// A query or the worklist check, which SIGINT and SIGTERM cancel (the
// signals are blocked since the start). A signal that came before it is
// taken as a stop asked for at once.
bool RunStoppable(lumo::app::TFormTestWL& form, const std::function<void()>& handler) {
    if (SignalWatcher::Pending()) form.RequestStop();
    SignalWatcher watcher([&form] { form.RequestStop(); });
    return form.RunHandler(handler);
}

// Why the chosen transport cannot carry the command's query (the patient
// level and the worklist have no QIDO-RS search): bad usage, said before
// anything is sent. A field that holds no valid value is left to the query.
std::optional<std::string> TransportRefusal(const lumo::app::TFormTestWL& form,
                                            CliOptions::Command command) {
    using lumo::app::QueryLevel;
    const bool worklist =
        command == CliOptions::Command::Worklist || command == CliOptions::Command::Check;
    if (!worklist && command != CliOptions::Command::Patient) return std::nullopt;
    try {
        const lumo::app::QueryRequest request =
            form.QueryRequestFromFields(worklist ? QueryLevel::Worklist : QueryLevel::Patient);
        if (request.transport == lumo::app::QueryTransport::DicomWeb)
            return lumo::app::DicomWebRefusal(request);
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

// A query button, the worklist check or the date self-test, once. A query
// or a check succeeded when its query was answered and it ran to its end.
int RunButton(lumo::app::TFormTestWL& form, const CliOptions& options) {
    if (const std::optional<std::string> refusal = TransportRefusal(form, options.command)) {
        std::fprintf(stderr, "lumo4410-cli: %s\n", refusal->c_str());
        return 2;
    }
    const bool check = options.command == CliOptions::Command::Check;
    if (check || options.command == CliOptions::Command::TestDate) {
        lumo::app::TButton& button = check ? form.Button3 : form.bTestDate;
        const bool ran = check ? RunStoppable(form, [&] { button.Click(); })
                               : form.RunHandler([&] { button.Click(); });
        lumo::app::PrintList(form.ListBoxResult.Items, stdout);
        if (options.verbose && check) lumo::app::PrintExchangeReport(form, stderr);
        return ran && (!check || form.LastQuery().Answered()) ? 0 : 1;
    }
    lumo::app::TButton& button = ButtonOf(form, options.command);
    // The responses are written out as they arrive, and kept nowhere; the
    // files take their names once the query has run to its end.
    std::optional<lumo::app::JsonExport> json;
    std::optional<lumo::app::CsvExport> csv;
    if (!options.jsonFile.empty()) json.emplace(options.jsonFile);
    if (!options.csvFile.empty()) csv.emplace(options.csvFile);
    form.EachResponse = [&](const lumo::dicom::DicomDataSet& response, int) {
        if (json) json->Add(response);
        if (csv) csv->Add(response);
    };
    const bool ran = RunStoppable(form, [&] { button.Click(); });
    form.EachResponse = nullptr;
    if (options.verbose) lumo::app::PrintExchangeReport(form, stderr);
    int status = ran && form.LastQuery().Answered() ? 0 : 1;
    // A stopped query did not run to its end; the node's last word says how
    // it took the cancel.
    const lumo::dicom::AssociationReport& report = form.LastQuery().report;
    if (report.cancel == lumo::dicom::CancelReason::Stop) {
        const std::string final = report.finalStatus ? lumo::app::StatusText(*report.finalStatus)
                                  : report.serviceUrl.empty() ? "aucun, association interrompue"
                                                              : "aucun, requête HTTP interrompue";
        std::fprintf(stderr, "Statut final : %s\n", final.c_str());
        status = 1;
    }
    // A node that cut its answers short on its own: the query ran (the
    // listing's last line says so), the final status is told as for a stop.
    if (report.CancelledByNode())
        std::fprintf(stderr, "Statut final : %s\n",
                     lumo::app::StatusText(*report.finalStatus).c_str());
    if (options.exportResult && !form.RunHandler([&] { form.Button5.Click(); })) status = 1;
    // The responses themselves, once the query has run to its end.
    for (lumo::app::ResponseExport* file :
         {static_cast<lumo::app::ResponseExport*>(json ? &*json : nullptr),
          static_cast<lumo::app::ResponseExport*>(csv ? &*csv : nullptr)}) {
        if (file != nullptr && status == 0 && !form.RunHandler([&] { file->Commit(); })) status = 1;
    }
    return status;
}

// A C-MOVE or C-GET, which SIGINT and SIGTERM cancel; its live lines went
// to stdout as they came, its end lines with the listing.
int RunRetrieve(lumo::app::TFormTestWL& form, const CliOptions& options) {
    lumo::app::TButton& button =
        options.command == CliOptions::Command::Move ? form.ButtonCMove : form.ButtonCGet;
    const bool ran = RunStoppable(form, [&] { button.Click(); });
    if (options.verbose) lumo::app::PrintExchangeReport(form, stderr);
    return lumo::app::RetrievalExitStatus(form.LastQuery(), ran, stderr);
}

// The commands that are units of their own, run on the created form.
using CommandUnit = int (*)(lumo::app::TFormTestWL&, const CliOptions&, std::FILE*, std::FILE*);
CommandUnit UnitOf(CliOptions::Command command) {
    switch (command) {
        case CliOptions::Command::Compare:
            return lumo::app::RunCompareCommand;
        case CliOptions::Command::Echo:
            return lumo::app::RunEchoCommand;
        case CliOptions::Command::Probe:
            return lumo::app::RunProbeCommand;
        case CliOptions::Command::Nodes:
            return lumo::app::RunNodesCommand;
        default:
            return nullptr;
    }
}

// The form reads "LISTEN" and the port as its first two parameters; the
// name=value words follow for the file masks.
void SetParams(const CliOptions& options) {
    std::vector<std::string> params;
    if (options.command == CliOptions::Command::Listen) {
        params.push_back("LISTEN");
        params.push_back(options.listenPort);
    }
    params.insert(params.end(), options.namedParams.begin(), options.namedParams.end());
    lumo::SetCommandLineParams(params);
}

// The commands a signal stops rather than ends.
bool Stoppable(CliOptions::Command command) {
    switch (command) {
        case CliOptions::Command::Worklist:
        case CliOptions::Command::Study:
        case CliOptions::Command::Patient:
        case CliOptions::Command::Series:
        case CliOptions::Command::Image:
        case CliOptions::Command::Check:
        case CliOptions::Command::Profile:
        case CliOptions::Command::Move:
        case CliOptions::Command::Get:
        case CliOptions::Command::Echo:
        case CliOptions::Command::Probe:
        case CliOptions::Command::Compare:
            return true;
        default:
            return false;
    }
}

int RunForm(CliOptions& options) {
    const bool listen = options.command == CliOptions::Command::Listen;
    const bool batch = options.command == CliOptions::Command::Batch;
    // Before any thread starts, so that only the watcher receives them.
    if (listen || batch || Stoppable(options.command)) SignalWatcher::BlockSignals();

    lumo::dicom::EventLoopDispatcher dispatcher;
    lumo::app::CliHost host(dispatcher, stdout, stderr);
    lumo::app::TFormTestWL form(host);
    host.SetForm(&form);
    // The stored settings give the start-up texts; what the options or an
    // incoming request put into the fields is not stored.
    form.WriteBackSettings = false;
    // Nothing per response is held: the listing is printed block by block
    // (unless --export needs the whole list), --json and --csv are written
    // as the responses arrive.
    form.KeepResponses = false;
    host.SetPrintBlocksAsListed(!options.exportResult);
    form.ListenTls = options.listenTls;
    const bool created = form.RunHandler([&] { form.FormCreate(); });

    int status = 1;
    // The book's nodes first, the options beside them over them.
    if (!lumo::app::ApplyBookNodes(form, options, stderr)) {
        form.RunHandler([&] { form.FormDestroy(); });
        dispatcher.Stop();
        return 2;
    }
    if (!listen || (created && form.Listening())) ApplyFields(form, options);
    if (listen && created && form.Listening()) {
        // The options' timeouts and bounds reach the listener too.
        for (const auto& [setting, value] : options.listenBounds)
            lumo::app::ListenBound(setting, form.ListenLimits) = value;
        form.ApplyListenSettings();
    }
    if (listen) {
        status = RunListen(form, dispatcher, options, created);
    } else if (batch) {
        status = RunBatch(form, host, options);
    } else if (options.command == CliOptions::Command::Profile) {
        // SIGINT and SIGTERM stop the profile as they stop a query.
        RunStoppable(form,
                     [&] { status = lumo::app::RunProfileCommand(form, options, stdout, stderr); });
    } else if (options.command == CliOptions::Command::Move ||
               options.command == CliOptions::Command::Get) {
        status = RunRetrieve(form, options);
    } else if (const CommandUnit unit = UnitOf(options.command)) {
        // Echo, probe and compare stop at SIGINT or SIGTERM, as a query.
        if (Stoppable(options.command)) {
            RunStoppable(form, [&] { status = unit(form, options, stdout, stderr); });
        } else {
            status = unit(form, options, stdout, stderr);
        }
    } else {
        status = RunButton(form, options);
    }
    form.RunHandler([&] { form.FormDestroy(); });
    dispatcher.Stop();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    lumo::SetApplicationTitle("Test Worklist");
    lumo::SetProgramKey("lumo4410");
    lumo::SetCommandLine(argc, argv);

    CliOptions options;
    try {
        options = lumo::app::ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const lumo::Exception& e) {
        std::fprintf(stderr, "lumo4410-cli: %s\n%s", e.what(), lumo::app::CliUsage().c_str());
        return 2;
    }
    if (const std::optional<int> status = RunWithoutForm(options)) return *status;
    SetParams(options);
    const int status = RunForm(options);
    // What the log still holds is written before the program ends.
    lumo::ShutdownAppLogger();
    return status;
}
