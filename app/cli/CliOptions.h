#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/ConnectionSettings.h"
#include "dicom/net/DicomTls.h"

namespace lumo::app {

// The command line of lumo4410-cli, read into what the form needs: the
// command, the fields to set before the button is pressed (design name and
// text, in the order given), the "Save Results" box, and the name=value words
// kept as command-line parameters. A plain value; any thread.
struct CliOptions {
    enum class Command {
        Worklist,
        Study,
        Patient,
        Series,
        Image,
        Listen,
        Help,
        Version,
        Check,     // the worklist check ("Worklist TAVRIX")
        TestDate,  // the date self-test ("Test Date")
        Batch,     // the accession-and-name batch ("CFind (ACCESSION+NOM)")
        Compare,   // the same query to two nodes, side by side
        Echo,      // a C-ECHO to the node ("Echo")
        Probe,     // what the node offers ("Sonder")
        Profile,   // how the node matches, returns, caps and times ("Profil")
        Move,      // C-MOVE of a level ("C-MOVE" of the tab "Récupération")
        Get,       // C-GET of a level ("C-GET")
        Nodes,     // the address book: list, add, remove, import, export
    };
    // What `nodes` does; List without a word after it.
    enum class NodesAction { List, Add, Remove, Import, Export };

    Command command = Command::Help;
    std::string listenPort;  // the word after "listen", as typed
    std::vector<std::pair<std::string, std::string>> fields;
    bool save = false;
    std::string batchFile;      // the file the batch reads, in place of the file choice
    bool exportResult = false;  // --export: "Export Result" after the listing
    bool verbose = false;       // --verbose: the association report on stderr
    std::string jsonFile;       // --json: the responses as DICOM JSON
    std::string csvFile;        // --csv: the responses as CSV (compare: the report)
    std::string compareKind;    // the word after "compare": worklist, patient, ...
    std::string againstFile;    // profile --against: the earlier profile to compare with
    int repeat = 1;             // profile --repeat: runs of the timed query
    std::string retrieveLevel;  // the word after "move" or "get": patient, study, ...
    // The second node of compare (--ip2, --port2, --aet2, --calling-aet2,
    // --dicomweb2), by option name; what is not given is the first node's.
    std::vector<std::pair<std::string, std::string>> secondNode;
    std::vector<std::string> namedParams;
    // Listen mode's own TLS (--listen-tls, --listen-cert, --listen-key,
    // --listen-ca, --listen-verify), independent of the queries' --tls.
    dicom::DicomTls listenTls;
    // Listen mode's bounds (--max-associations, --max-associations-per-address,
    // --max-relayed-queries), in the order given, over the stored ones.
    std::vector<std::pair<ConnectionSetting, std::uint32_t>> listenBounds;
    // Nodes of the address book whose connection fills the fields (--node)
    // and the second node of compare (--node2), before the options beside
    // them, which win.
    std::string node;
    std::string node2;
    // The TLS of --node2's node, for the second node of compare.
    std::optional<TlsSettings> secondTls;
    NodesAction nodesAction = NodesAction::List;
    std::string nodesWord;  // the node's name (add, remove) or the file (import, export)
    // What `nodes add` keeps beside the connection: --comment, --dicomweb-url.
    std::optional<std::string> comment;
    std::optional<std::string> dicomWebUrl;
};

// Reads the arguments after the program name. Options are written
// "--name=value" or "--name value"; an empty value is allowed. Bad usage
// raises lumo::Exception(ErrorClass::EUsageError, <what is wrong>).
CliOptions ParseCliOptions(const std::vector<std::string>& args);

// The usage text, ending with a newline.
std::string CliUsage();

// Every command word and every option the command line takes (without its
// "--"): what the usage, the manual page and the shell completion name.
std::vector<std::string> CliCommandNames();
std::vector<std::string> CliOptionNames();

}  // namespace lumo::app
