#include "app/cli/CliOptions.h"

#include <cstddef>
#include <string_view>

#include "support/Exception.h"

namespace lumo::app {

namespace {

struct FieldOption {
    std::string_view option;
    const char* control;
};

constexpr FieldOption kFieldOptions[] = {
    {"calling-aet", "EditCallingAETitle"},
    {"ip", "EditIP"},
    {"port", "EditPort"},
    {"aet", "EditAETitle"},
    {"accession", "EditAccession"},
    {"dossier", "EditDossier"},
    {"name", "EditNomPatient"},
    {"referring", "EditNomMedRef"},
    {"date", "EditDate"},
    {"birth-date", "EditNaissance"},
    {"study-uid", "EditStudyUID"},
    {"series-uid", "EditSeriesUID"},
    {"modality", "cboModalite"},
    {"label1", "EditNomData1"},
    {"label2", "EditNomData2"},
    {"sql", "EditSQL"},
};

[[noreturn]] void Usage(const std::string& message) { throw Exception(ErrorClass::EUsageError, message); }

const char* FieldOf(std::string_view option) {
    for (const FieldOption& field : kFieldOptions) {
        if (field.option == option) return field.control;
    }
    return nullptr;
}

}  // namespace

CliOptions ParseCliOptions(const std::vector<std::string>& args) {
    CliOptions options;
    bool haveCommand = false;
    bool helpOrVersion = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind("--", 0) == 0) {
            const std::size_t equals = arg.find('=');
            const std::string name =
                arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            if (name == "help" || name == "version") {
                if (equals != std::string::npos) Usage("option --" + name + " takes no value");
                options.command =
                    name == "help" ? CliOptions::Command::Help : CliOptions::Command::Version;
                helpOrVersion = true;
                continue;
            }
            if (name == "save") {
                if (equals != std::string::npos) Usage("option --save takes no value");
                options.save = true;
                continue;
            }
            if (name == "export") {
                if (equals != std::string::npos) Usage("option --export takes no value");
                options.exportResult = true;
                continue;
            }
            const char* control = FieldOf(name);
            if (control == nullptr) Usage("unknown option --" + name);
            std::string value;
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else {
                if (i + 1 >= args.size()) Usage("option --" + name + " needs a value");
                value = args[++i];
            }
            options.fields.emplace_back(control, std::move(value));
            continue;
        }
        if (arg.find('=') != std::string::npos) {
            options.namedParams.push_back(arg);
            continue;
        }
        if (haveCommand) Usage("unexpected argument '" + arg + "'");
        haveCommand = true;
        if (arg == "worklist") {
            options.command = CliOptions::Command::Worklist;
        } else if (arg == "study") {
            options.command = CliOptions::Command::Study;
        } else if (arg == "patient") {
            options.command = CliOptions::Command::Patient;
        } else if (arg == "series") {
            options.command = CliOptions::Command::Series;
        } else if (arg == "image") {
            options.command = CliOptions::Command::Image;
        } else if (arg == "check") {
            options.command = CliOptions::Command::Check;
        } else if (arg == "testdate") {
            options.command = CliOptions::Command::TestDate;
        } else if (arg == "listen") {
            if (i + 1 >= args.size()) Usage("listen needs a port");
            options.command = CliOptions::Command::Listen;
            options.listenPort = args[++i];
        } else if (arg == "batch") {
            if (i + 1 >= args.size()) Usage("batch needs a file");
            options.command = CliOptions::Command::Batch;
            options.batchFile = args[++i];
        } else {
            Usage("unknown command '" + arg + "'");
        }
    }
    if (helpOrVersion) {
        // --help wins over --version when both are given.
        for (const std::string& arg : args) {
            if (arg == "--help") options.command = CliOptions::Command::Help;
        }
        return options;
    }
    if (!haveCommand) Usage("no command given");
    return options;
}

std::string CliUsage() {
    return "Usage: lumo4410-cli COMMAND [OPTIONS] [name=value ...]\n"
           "Commands:\n"
           "  worklist | study | patient | series | image   press that query button once\n"
           "  listen PORT                                   listen on PORT and relay incoming\n"
           "                                                queries until SIGINT/SIGTERM\n"
           "  check                                         run the worklist check and print\n"
           "                                                its lines\n"
           "  testdate                                      print how the date field reads\n"
           "  batch FILE                                    run the accession-and-name batch on\n"
           "                                                FILE, print each SQL line, write\n"
           "                                                FILE's _RESULT.txt\n"
           "Options (each sets one field before the button is pressed; an omitted option\n"
           "keeps the field's start-up text; an empty value is allowed, e.g. --accession=):\n"
           "  --calling-aet AE   --ip ADDRESS     --port PORT      --aet AE\n"
           "  --accession TEXT   --dossier TEXT   --name TEXT      --referring TEXT\n"
           "  --date TEXT        --birth-date TEXT --study-uid UID --series-uid UID\n"
           "  --modality TEXT    --save (check \"Save Results\")\n"
           "  --export           write ResultQuery.TXT after the listing\n"
           "  --label1 TEXT      --label2 TEXT    --sql TEXT       (batch: the %1 and %2\n"
           "                     line labels and the statement head)\n"
           "  --help             --version\n"
           "Words of the form name=value are kept as command-line parameters.\n"
           "Exit status: 0 the query ran, 1 it failed, 2 bad usage.\n";
}

}  // namespace lumo::app
