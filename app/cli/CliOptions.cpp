#include "app/cli/CliOptions.h"

#include <charconv>
#include <cstddef>
#include <optional>
#include <string_view>

#include "app/ConnectionSettings.h"
#include "app/QueryRequest.h"
#include "dicom/web/DicomWebService.h"
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
    {"connect-timeout", "EditConnectTimeout"},
    {"assoc-timeout", "EditAssocTimeout"},
    {"response-timeout", "EditResponseTimeout"},
    {"max-pdu", "EditMaxPDU"},
    {"max-results", "EditMaxResults"},
    {"tls-cert", "EditTLSCert"},
    {"tls-key", "EditTLSKey"},
    {"tls-ca", "EditTLSCA"},
    {"tls-verify", "cboTLSVerify"},
    {"tls-profile", "cboTLSProfile"},
    {"http-user", "EditHttpUser"},
    {"sop-uid", "EditSOPInstanceUID"},
    {"move-dest", "EditMoveDest"},
    {"store-port", "EditStorePort"},
    {"store-dir", "EditStoreFolder"},
};

[[noreturn]] void Usage(const std::string& message) {
    throw Exception(ErrorClass::EUsageError, message);
}

const char* FieldOf(std::string_view option) {
    for (const FieldOption& field : kFieldOptions) {
        if (field.option == option) return field.control;
    }
    return nullptr;
}

struct CommandWord {
    std::string_view word;
    CliOptions::Command command;
};

constexpr CommandWord kCommands[] = {
    {"worklist", CliOptions::Command::Worklist}, {"study", CliOptions::Command::Study},
    {"patient", CliOptions::Command::Patient},   {"series", CliOptions::Command::Series},
    {"image", CliOptions::Command::Image},       {"check", CliOptions::Command::Check},
    {"testdate", CliOptions::Command::TestDate}, {"echo", CliOptions::Command::Echo},
    {"probe", CliOptions::Command::Probe},       {"profile", CliOptions::Command::Profile},
};

// The word after the option at `i`, which it then points to.
const std::string& NextWord(const std::vector<std::string>& args, std::size_t& i,
                            const std::string& missing) {
    if (i + 1 >= args.size()) Usage(missing);
    return args[++i];
}

// A verification or profile that is not one of the list is refused before
// anything is sent.
void CheckTlsChoice(const std::string& name, const std::string& value) {
    try {
        if (name == "tls-verify" || name == "listen-verify") ParseTlsVerify(value);
        if (name == "tls-profile") ParseTlsProfile(value);
    } catch (const Exception& e) {
        Usage("--" + name + ": " + e.Message());
    }
}

// Listen mode's TLS options; false for any other option.
bool ReadListenTls(const std::string& name, const std::string& value, CliOptions& options) {
    dicom::DicomTls& tls = options.listenTls;
    if (name == "listen-cert") {
        tls.certificateFile = value;
    } else if (name == "listen-key") {
        tls.privateKeyFile = value;
    } else if (name == "listen-ca") {
        tls.trusted = value;
    } else if (name == "listen-verify") {
        CheckTlsChoice(name, value);
        tls.verify = ParseTlsVerify(value);
    } else {
        return false;
    }
    return true;
}

// The options beside the fields: the address book's (--node, --node2,
// --comment, --dicomweb-url); false for any other.
bool ReadBookOption(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
                    bool hasValue, CliOptions& options) {
    std::string* node = name == "node" ? &options.node : name == "node2" ? &options.node2 : nullptr;
    std::optional<std::string>* kept = name == "comment"        ? &options.comment
                                       : name == "dicomweb-url" ? &options.dicomWebUrl
                                                                : nullptr;
    if (node == nullptr && kept == nullptr) return false;
    const std::string& arg = args[i];
    std::string value = hasValue ? arg.substr(arg.find('=') + 1)
                                 : NextWord(args, i, "option --" + name + " needs a value");
    if (node != nullptr) {
        if (value.empty()) Usage("option --" + name + " needs a node's name");
        *node = std::move(value);
    } else {
        *kept = std::move(value);
    }
    return true;
}

// The options that take no value (--tls may say on or off, to override
// the stored setting); false for any other.
bool ReadFlag(const std::string& name, const std::string& arg, bool hasValue, CliOptions& options) {
    if (name != "verbose" && name != "tls" && name != "listen-tls" && name != "verify")
        return false;
    if (name == "tls" && hasValue) {
        const std::string value = arg.substr(arg.find('=') + 1);
        if (value != "on" && value != "off") Usage("option --tls takes on or off");
        options.fields.emplace_back("cbTLS", value == "on" ? "1" : "0");
        return true;
    }
    if (hasValue) Usage("option --" + name + " takes no value");
    if (name == "verbose") options.verbose = true;
    if (name == "tls") options.fields.emplace_back("cbTLS", "1");
    if (name == "listen-tls") options.listenTls.enabled = true;
    if (name == "verify") options.fields.emplace_back("cbVerify", "1");
    return true;
}

// The option at `i` (a value written apart is taken too); true for --help
// and --version.
bool ReadOption(const std::vector<std::string>& args, std::size_t& i, CliOptions& options) {
    const std::string& arg = args[i];
    const std::size_t equals = arg.find('=');
    const bool hasValue = equals != std::string::npos;
    const std::string name = arg.substr(2, hasValue ? equals - 2 : std::string::npos);
    const bool help = name == "help";
    if (ReadFlag(name, arg, hasValue, options)) return false;
    if (ReadBookOption(args, i, name, hasValue, options)) return false;
    // A password on the command line would show in every process listing.
    if (name == "tls-key-password")
        Usage(std::string("the key's password is read from the environment variable ") +
              dicom::kTlsKeyPasswordVariable + " only");
    if (name == "http-password" || name == "http-token")
        Usage(std::string("the HTTP ") + (name == "http-token" ? "token" : "password") +
              " is read from the environment variable " +
              (name == "http-token" ? dicom::kHttpTokenVariable : dicom::kHttpPasswordVariable) +
              " only");
    if (name.rfind("listen-", 0) == 0) {
        const std::string value = hasValue
                                      ? arg.substr(equals + 1)
                                      : NextWord(args, i, "option --" + name + " needs a value");
        if (!ReadListenTls(name, value, options)) Usage("unknown option --" + name);
        return false;
    }
    if (const std::optional<ConnectionSetting> bound = ListenSettingOfOption(name)) {
        const std::string value = hasValue
                                      ? arg.substr(equals + 1)
                                      : NextWord(args, i, "option --" + name + " needs a value");
        try {
            options.listenBounds.emplace_back(*bound, ParseSetting(*bound, value));
        } catch (const Exception& e) {
            Usage("--" + name + ": " + e.Message());
        }
        return false;
    }
    if (help || name == "version" || name == "save" || name == "export") {
        if (hasValue) Usage("option --" + name + " takes no value");
        if (name == "save") options.save = true;
        if (name == "export") options.exportResult = true;
        if (name == "save" || name == "export") return false;
        options.command = help ? CliOptions::Command::Help : CliOptions::Command::Version;
        return true;
    }
    std::string* file = name == "json"      ? &options.jsonFile
                        : name == "csv"     ? &options.csvFile
                        : name == "against" ? &options.againstFile
                                            : nullptr;
    if (name == "repeat") {
        const std::string value =
            hasValue ? arg.substr(equals + 1) : NextWord(args, i, "option --repeat needs a value");
        const bool digits = !value.empty() && value.size() <= 3 &&
                            value.find_first_not_of("0123456789") == std::string::npos;
        if (!digits || std::stoi(value) < 1 || std::stoi(value) > 100)
            Usage("--repeat: a whole number from 1 to 100");
        options.repeat = std::stoi(value);
        return false;
    }
    const bool second = name == "ip2" || name == "port2" || name == "aet2" ||
                        name == "calling-aet2" || name == "dicomweb2";
    const bool dicomWeb = name == "dicomweb";
    const char* control = FieldOf(name);
    if (control == nullptr && file == nullptr && !second && !dicomWeb)
        Usage("unknown option --" + name);
    std::string value = hasValue ? arg.substr(equals + 1)
                                 : NextWord(args, i, "option --" + name + " needs a value");
    if ((dicomWeb || name == "dicomweb2") && !value.empty()) {
        try {
            value = dicom::CheckedBaseUrl(value);
        } catch (const Exception& e) {
            // A URL refused is bad usage; libcurl that cannot be loaded is
            // not: the exchange fails on it and says what to install.
            if (e.Class() == ErrorClass::EConvertError) Usage("--" + name + ": " + e.Message());
        }
    }
    if (dicomWeb) {
        // A URL chooses DICOMweb for the node; an empty one, DIMSE.
        options.fields.emplace_back("EditDicomWebURL", value);
        options.fields.emplace_back("cboTransport", value.empty() ? "DIMSE" : "DICOMweb");
    } else if (second) {
        options.secondNode.emplace_back(name, std::move(value));
    } else if (file != nullptr) {
        if (value.empty()) Usage("option --" + name + " needs a file name");
        *file = std::move(value);
    } else {
        CheckTlsChoice(name, value);
        // A timeout or a PDU size out of bounds is refused before anything is sent.
        if (const std::optional<ConnectionSetting> setting = SettingOfField(control)) {
            try {
                ParseSetting(*setting, value);
            } catch (const Exception& e) {
                Usage("--" + name + ": " + e.Message());
            }
        }
        options.fields.emplace_back(control, std::move(value));
    }
    return false;
}

constexpr std::pair<std::string_view, CliOptions::NodesAction> kNodesActions[] = {
    {"add", CliOptions::NodesAction::Add},
    {"remove", CliOptions::NodesAction::Remove},
    {"import", CliOptions::NodesAction::Import},
    {"export", CliOptions::NodesAction::Export},
};

// What follows "nodes": nothing (or an option) lists the book; otherwise an
// action and the word it takes.
void ReadNodesAction(const std::vector<std::string>& args, std::size_t& i, CliOptions& options) {
    if (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0) return;
    const std::string& word = args[++i];
    for (const auto& [name, action] : kNodesActions) {
        if (word != name) continue;
        options.nodesAction = action;
        const bool file =
            action == CliOptions::NodesAction::Import || action == CliOptions::NodesAction::Export;
        options.nodesWord =
            NextWord(args, i, "nodes " + word + (file ? " needs a file" : " needs a node's name"));
        return;
    }
    Usage("unknown nodes action '" + word + "' (add, remove, import or export)");
}

// The command at `i`, with the word it takes, if any.
void ReadCommand(const std::vector<std::string>& args, std::size_t& i, CliOptions& options) {
    const std::string& arg = args[i];
    for (const CommandWord& command : kCommands) {
        if (command.word == arg) {
            options.command = command.command;
            return;
        }
    }
    if (arg == "listen") {
        options.listenPort = NextWord(args, i, "listen needs a port");
        options.command = CliOptions::Command::Listen;
    } else if (arg == "batch") {
        options.batchFile = NextWord(args, i, "batch needs a file");
        options.command = CliOptions::Command::Batch;
    } else if (arg == "move" || arg == "get") {
        options.retrieveLevel =
            NextWord(args, i, arg + " needs a level: patient, study, series or image");
        const std::optional<QueryLevel> level = LevelOfKind(options.retrieveLevel);
        if (!level || *level == QueryLevel::Worklist)
            Usage(arg + " needs a level: patient, study, series or image, not '" +
                  options.retrieveLevel + "'");
        options.command = arg == "move" ? CliOptions::Command::Move : CliOptions::Command::Get;
    } else if (arg == "compare") {
        options.compareKind = NextWord(args, i, "compare needs a kind of query");
        options.command = CliOptions::Command::Compare;
    } else if (arg == "nodes") {
        options.command = CliOptions::Command::Nodes;
        ReadNodesAction(args, i, options);
    } else {
        Usage("unknown command '" + arg + "'");
    }
}

// The value given for a field, the last one given winning; empty when none.
std::string GivenField(const CliOptions& options, std::string_view control) {
    std::string value;
    for (const auto& [name, given] : options.fields)
        if (name == control) value = given;
    return value;
}

// A retrieval names the keys of its level, and a store port that can be one.
void CheckRetrieval(CliOptions& options) {
    const bool move = options.command == CliOptions::Command::Move;
    if (!move && options.command != CliOptions::Command::Get) return;
    const std::string what = std::string(move ? "move " : "get ") + options.retrieveLevel;
    struct Key {
        const char* level;  // the key is needed from this level down
        const char* control;
        const char* option;
        const char* name;
    };
    constexpr Key kKeys[] = {
        {"patient", "EditDossier", "--dossier", "Patient ID"},
        {"study", "EditStudyUID", "--study-uid", "Study Instance UID"},
        {"series", "EditSeriesUID", "--series-uid", "Series Instance UID"},
        {"image", "EditSOPInstanceUID", "--sop-uid", "SOP Instance UID"},
    };
    const std::string& level = options.retrieveLevel;
    const int depth = level == "patient" ? 0 : level == "study" ? 1 : level == "series" ? 2 : 3;
    for (int k = depth == 0 ? 0 : 1; k <= depth; ++k)
        if (GivenField(options, kKeys[k].control).find_first_not_of(" \\") == std::string::npos)
            Usage(what + " needs " + kKeys[k].option + " (" + kKeys[k].name + ")");
    if (const std::string port = GivenField(options, "EditStorePort"); !port.empty()) {
        int value = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (error != std::errc() || end != port.data() + port.size() || value < 1 || value > 65535)
            Usage("--store-port: '" + port + "' refused, a port from 1 to 65535 is expected");
    }
    options.fields.insert(options.fields.begin(), {"cboRetrieveLevel", options.retrieveLevel});
}

}  // namespace

CliOptions ParseCliOptions(const std::vector<std::string>& args) {
    CliOptions options;
    bool haveCommand = false;
    bool helpOrVersion = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind("--", 0) == 0) {
            helpOrVersion |= ReadOption(args, i, options);
        } else if (arg.find('=') != std::string::npos) {
            options.namedParams.push_back(arg);
        } else {
            if (haveCommand) Usage("unexpected argument '" + arg + "'");
            haveCommand = true;
            ReadCommand(args, i, options);
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
    CheckRetrieval(options);
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
           "  compare KIND                                  the same query (worklist, patient, "
           "study,\n"
           "                                                series or image) to a second node\n"
           "                                                (--ip2 --port2 --aet2 "
           "--calling-aet2),\n"
           "                                                and what differs; exit 3 if anything "
           "does\n"
           "  echo                                          C-ECHO: is the node there, does it\n"
           "                                                know the AE titles\n"
           "  probe                                         which services the node accepts,\n"
           "                                                and whether this AE title may query\n"
           "                                                (with --dicomweb: the service's\n"
           "                                                searches and the authentication "
           "asked)\n"
           "  profile                                       how the node matches, which keys it\n"
           "                                                ignores or returns, where it caps an\n"
           "                                                answer, its character sets, extended\n"
           "                                                negotiation and timings (about a\n"
           "                                                hundred small C-FINDs, nothing\n"
           "                                                written); --json FILE saves it,\n"
           "                                                --against OLD.json says what changed\n"
           "                                                (exit 3), --repeat N times the\n"
           "                                                timed query N times, --verbose\n"
           "                                                shows each identifier\n"
           "  move LEVEL | get LEVEL                        C-MOVE or C-GET of a patient, study,\n"
           "                                                series or image (--dossier,\n"
           "                                                --study-uid, --series-uid, --sop-uid;\n"
           "                                                several UIDs separated by \\)\n"
           "  nodes                                         list the address book's nodes\n"
           "  nodes add NAME                                keep the connection the options make\n"
           "                                                (--node, --ip, ..., --tls...) as NAME\n"
           "  nodes remove NAME                             forget the node NAME\n"
           "  nodes import FILE | nodes export FILE         the book as CSV (name, ip, port, aet,\n"
           "                                                calling-aet, tls, comment)\n"
           "Options (each sets one field before the button is pressed; an omitted option\n"
           "keeps the field's start-up text; an empty value is allowed, e.g. --accession=):\n"
           "  --node NAME        the connection of the address book's node NAME (the options\n"
           "                     beside it win); --node2 NAME the second node of compare\n"
           "  --comment TEXT     --dicomweb-url URL   what nodes add keeps with the node\n"
           "  --calling-aet AE   --ip ADDRESS     --port PORT      --aet AE\n"
           "  --accession TEXT   --dossier TEXT   --name TEXT      --referring TEXT\n"
           "  --date TEXT        --birth-date TEXT --study-uid UID --series-uid UID\n"
           "  --modality TEXT    --save (check \"Save Results\")\n"
           "  --export           write ResultQuery.TXT after the listing\n"
           "  --json FILE        write the responses as DICOM JSON\n"
           "  --csv FILE         write the responses as CSV, one row each\n"
           "  --label1 TEXT      --label2 TEXT    --sql TEXT       (batch: the %1 and %2\n"
           "                     line labels and the statement head)\n"
           "  --connect-timeout S  --assoc-timeout S  --response-timeout S   (1-86400,\n"
           "                     defaults 10, 30, 60)\n"
           "  --max-pdu BYTES    the largest PDU this side takes (4096-131072, default 16384)\n"
           "  --max-results N    cancel the query (C-CANCEL) after N responses (0: all)\n"
           "  --verbose          the association report of the exchange on stderr\n"
           "  --tls[=on|off]     DICOM over TLS with the node (every command, the relay's\n"
           "                     upstream included); stored setting TLS otherwise\n"
           "  --tls-cert FILE    --tls-key FILE   our certificate and key (PEM), when the\n"
           "                     node asks for one; the key's password only from the\n"
           "                     environment variable LUMO4410_TLS_KEY_PASSWORD\n"
           "  --tls-ca PATH      trusted certificates, a PEM file or a folder (default: the\n"
           "                     system's)\n"
           "  --tls-verify require|chain|ignore   the node's certificate: its chain and the\n"
           "                     name called (require, the default), its chain only\n"
           "                     (chain), or nothing (ignore)\n"
           "  --tls-profile bcp195-nd|bcp195|bcp195-ex|aes|null   (default bcp195-nd)\n"
           "  --dicomweb URL     the node's DICOMweb service (base URL, e.g.\n"
           "                     http://10.0.0.5:8042/dicom-web): study, series and image\n"
           "                     queries, echo, probe and profile go over QIDO-RS;\n"
           "                     --dicomweb= goes back to DIMSE; stored settings\n"
           "                     Transport, DicomWebURL\n"
           "  --http-user NAME   HTTP Basic user; the password only from the environment\n"
           "                     variable LUMO4410_HTTP_PASSWORD; without a user, a bearer\n"
           "                     token from LUMO4410_HTTP_TOKEN; https:// takes the --tls-ca,\n"
           "                     --tls-cert, --tls-key and --tls-verify settings\n"
           "  --dicomweb2 URL    compare: node B over DICOMweb (--ip2, --port2, --aet2 make\n"
           "                     B a DIMSE node; without either, B goes as A)\n"
           "  --listen-tls       listen mode over TLS, with --listen-cert FILE,\n"
           "                     --listen-key FILE, --listen-ca PATH and\n"
           "                     --listen-verify require|chain|ignore (a caller's\n"
           "                     certificate; a caller's name is never checked)\n"
           "  --max-associations N   --max-associations-per-address N   listen mode: the\n"
           "                     callers held at once, in all and from one address\n"
           "                     (1-1024, defaults 32 and 8)\n"
           "  --max-relayed-queries N   listen mode: the callers' queries relayed at once\n"
           "                     (1-256, default 8); more wait for a place\n"
           "  --sop-uid UID      the SOP Instance UID of an image (move image, get image)\n"
           "  --move-dest AE     C-MOVE destination (default: the calling AE title)\n"
           "  --store-port PORT  where the console receives a C-MOVE's images (default 11113)\n"
           "  --store-dir DIR    keep what arrives as DIR/<SOP Instance UID>.dcm (default:\n"
           "                     checked and counted, not kept)\n"
           "  --verify           count the instances with a C-FIND first, compare at the end\n"
           "  --help             --version\n"
           "Words of the form name=value are kept as command-line parameters.\n"
           "SIGINT or SIGTERM during a query cancels it (C-CANCEL) and lists what came;\n"
           "during echo, probe or compare it stops them.\n"
           "Files: --save writes Logs/Lumo4410_N.dcm and --export ResultQuery.TXT in the\n"
           "current folder. The settings and the address book:\n"
           "  $XDG_CONFIG_HOME/Brevalis/settings.reg (default ~/.config)\n"
           "The logger configuration: AppLogger.xml beside the program; installed in\n"
           "/usr/bin, the first of\n"
           "  ./AppLogger.xml (log names taken from the current folder)\n"
           "  $XDG_CONFIG_HOME/lumo4410/AppLogger.xml\n"
           "  /etc/lumo4410/AppLogger.xml\n"
           "the last two logging under $XDG_STATE_HOME/lumo4410/ (~/.local/state/lumo4410/).\n"
           "Exit status: 0 the query ran (or stopped at --max-results), 1 it failed or\n"
           "was stopped, 2 bad usage.\n"
           "move and get: 0 everything asked for arrived, 3 the node reported success but\n"
           "fewer instances arrived, 1 it failed or was stopped.\n";
}

std::vector<std::string> CliCommandNames() {
    std::vector<std::string> names;
    for (const CommandWord& command : kCommands) names.emplace_back(command.word);
    for (const char* word : {"listen", "batch", "compare", "nodes", "move", "get"})
        names.emplace_back(word);
    return names;
}

std::vector<std::string> CliOptionNames() {
    std::vector<std::string> names;
    for (const FieldOption& field : kFieldOptions) names.emplace_back(field.option);
    for (const char* name : {"save",
                             "export",
                             "json",
                             "csv",
                             "verbose",
                             "tls",
                             "ip2",
                             "port2",
                             "aet2",
                             "calling-aet2",
                             "listen-tls",
                             "listen-cert",
                             "listen-key",
                             "listen-ca",
                             "listen-verify",
                             "node",
                             "node2",
                             "comment",
                             "dicomweb-url",
                             "help",
                             "version",
                             "dicomweb",
                             "dicomweb2",
                             "verify",
                             "max-associations",
                             "max-associations-per-address",
                             "max-relayed-queries"})
        names.emplace_back(name);
    return names;
}

}  // namespace lumo::app
