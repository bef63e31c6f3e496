#include "app/cli/NodesCommand.h"

#include <string>
#include <utility>

#include "app/LinesFile.h"
#include "app/NodeBook.h"
#include "app/NodeChooser.h"
#include "support/Exception.h"

namespace lumo::app {

namespace {

void Print(std::FILE* file, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fputc('\n', file);
}

std::optional<BookNode> Known(const std::string& name, std::FILE* err) {
    std::optional<BookNode> node = FindBookNode(name);
    if (!node)
        Print(err, "lumo4410-cli: unknown node '" + name + "' (lumo4410-cli nodes lists them)");
    return node;
}

int Add(TFormTestWL& form, const CliOptions& options, std::FILE* out) {
    BookNode node = NodeOfFields(form, options.nodesWord);
    if (options.comment) node.comment = *options.comment;
    if (options.dicomWebUrl) node.dicomWebUrl = *options.dicomWebUrl;
    SaveBookNode(node);
    Print(out, "Nœud enregistré : " + BookNodeLine(node));
    return 0;
}

int Import(const std::string& file, std::FILE* out, std::FILE* err) {
    const NodesImport import = ReadNodesCsv(LoadLinesFromFile(file).lines);
    for (const std::string& fault : import.faults) Print(err, fault);
    if (!import.faults.empty()) {
        Print(err, "Aucun nœud importé : " + std::to_string(import.faults.size()) +
                       " ligne(s) refusée(s) dans " + file);
        return 1;
    }
    ImportBookNodes(import.nodes);
    Print(out, std::to_string(import.nodes.size()) + " nœud(s) importé(s) de " + file);
    return 0;
}

}  // namespace

bool ApplyBookNodes(TFormTestWL& form, CliOptions& options, std::FILE* err) {
    if (!options.node.empty()) {
        const std::optional<BookNode> node = Known(options.node, err);
        if (!node) return false;
        ShowNode(form, *node);
    }
    if (!options.node2.empty()) {
        const std::optional<BookNode> node = Known(options.node2, err);
        if (!node) return false;
        std::vector<std::pair<std::string, std::string>> second = {
            {"ip2", node->ip},
            {"port2", node->port},
            {"aet2", node->aeTitle},
            {"calling-aet2", node->callingAETitle}};
        second.insert(second.end(), options.secondNode.begin(), options.secondNode.end());
        options.secondNode = std::move(second);
        options.secondTls = node->tls;
    }
    return true;
}

int RunNodesCommand(TFormTestWL& form, const CliOptions& options, std::FILE* out, std::FILE* err) {
    int status = 1;
    const bool ran = form.RunHandler([&] {
        switch (options.nodesAction) {
            case CliOptions::NodesAction::List: {
                const std::vector<BookNode> nodes = BookNodes();
                for (const BookNode& node : nodes) Print(out, BookNodeLine(node));
                if (nodes.empty()) Print(err, "Aucun nœud dans le carnet d'adresses");
                status = 0;
                break;
            }
            case CliOptions::NodesAction::Add:
                status = Add(form, options, out);
                break;
            case CliOptions::NodesAction::Remove:
                if (RemoveBookNode(options.nodesWord)) {
                    Print(out, "Nœud supprimé : " + options.nodesWord);
                    status = 0;
                } else {
                    Known(options.nodesWord, err);
                }
                break;
            case CliOptions::NodesAction::Import:
                status = Import(options.nodesWord, out, err);
                break;
            case CliOptions::NodesAction::Export: {
                const std::vector<BookNode> nodes = BookNodes();
                SaveBytesToFile(options.nodesWord, BookNodesCsv(nodes));
                Print(out, std::to_string(nodes.size()) + " nœud(s) exporté(s) dans " +
                               options.nodesWord);
                status = 0;
                break;
            }
        }
    });
    std::fflush(out);
    return ran ? status : 1;
}

}  // namespace lumo::app
