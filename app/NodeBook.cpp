#include "app/NodeBook.h"

#include <algorithm>
#include <utility>

#include "app/ResponseExport.h"
#include "support/Exception.h"
#include "support/Global_Registry.h"

namespace lumo::app {

namespace {

// The book's sections sit beside "FormTestWL", one per node.
constexpr const char* kBook = "Nodes";
constexpr std::size_t kMaxNameLength = 64;
constexpr std::size_t kMaxAddressLength = 255;
constexpr const char* kHeader[] = {"name", "ip", "port", "aet", "calling-aet", "tls", "comment"};

std::string SectionOf(const std::string& name) { return std::string(kBook) + "\\" + name; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

bool NameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

bool HasControl(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) == 127;
    });
}

std::optional<std::string> AeTitleFault(const char* which, const std::string& aeTitle) {
    const bool blank = aeTitle.find_first_not_of(' ') == std::string::npos;
    if (!blank && aeTitle.size() <= 16 && aeTitle.find('\\') == std::string::npos &&
        !HasControl(aeTitle))
        return std::nullopt;
    return std::string("AE title ") + which + " '" + aeTitle +
           "' refusé, de 1 à 16 caractères sans \\ ni caractère de contrôle sont attendus";
}

bool WholePort(const std::string& port) {
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int value = std::stoi(port);
    return value >= 1 && value <= 65535;
}

// The stored values of a node, by their names in the store.
std::vector<std::pair<std::string, std::string>> ValuesOf(const BookNode& node) {
    const TlsSettings& tls = node.tls;
    return {{"IP", node.ip},
            {"Port", node.port},
            {"AETitle", node.aeTitle},
            {"CallingAETitle", node.callingAETitle},
            {kTlsSettingNames[0], tls.enabled ? "1" : "0"},
            {kTlsSettingNames[1], tls.certificateFile},
            {kTlsSettingNames[2], tls.privateKeyFile},
            {kTlsSettingNames[3], tls.trusted},
            {kTlsSettingNames[4], tls.verify},
            {kTlsSettingNames[5], tls.profile},
            {"DicomWebURL", node.dicomWebUrl},
            {"Comment", node.comment}};
}

BookNode NodeOfValues(const std::string& name,
                      const std::vector<std::pair<std::string, std::string>>& values) {
    BookNode node;
    node.name = name;
    for (const auto& entry : values) {
        // Not a structured binding: clang 14 cannot capture one.
        const std::string& key = entry.first;
        const std::string& value = entry.second;
        const auto is = [&key](const char* wanted) { return SameName(key, wanted); };
        if (is("IP")) node.ip = value;
        if (is("Port")) node.port = value;
        if (is("AETitle")) node.aeTitle = value;
        if (is("CallingAETitle")) node.callingAETitle = value;
        if (is(kTlsSettingNames[0])) node.tls.enabled = value == "1";
        if (is(kTlsSettingNames[1])) node.tls.certificateFile = value;
        if (is(kTlsSettingNames[2])) node.tls.privateKeyFile = value;
        if (is(kTlsSettingNames[3])) node.tls.trusted = value;
        if (is(kTlsSettingNames[4])) node.tls.verify = value;
        if (is(kTlsSettingNames[5])) node.tls.profile = value;
        if (is("DicomWebURL")) node.dicomWebUrl = value;
        if (is("Comment")) node.comment = value;
    }
    return node;
}

// The fields of one CSV row (RFC 4180: a quoted field may hold commas and
// doubled quotes); nothing when a quote is left open.
std::optional<std::vector<std::string>> CsvRow(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c != '"') {
                fields.back() += c;
            } else if (i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else {
                quoted = false;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    if (quoted) return std::nullopt;
    return fields;
}

bool IsHeader(const std::vector<std::string>& fields) {
    for (std::size_t i = 0; i < fields.size() && i < std::size(kHeader); ++i)
        if (!SameName(fields[i], kHeader[i])) return false;
    return !fields.empty();
}

// The TLS of a row's tls column, or the fault.
std::optional<std::string> ReadTlsColumn(const std::string& text, TlsSettings& tls) {
    tls.enabled = !(text.empty() || text == "0");
    if (text.empty() || text == "0" || text == "1") return std::nullopt;
    if (!dicom::TlsVerifyOfName(text))
        return "tls '" + text + "' refusé, 0, 1, require, chain ou ignore est attendu";
    tls.verify = text;
    return std::nullopt;
}

// A node of a row: the fields of the row over what the book holds of it.
BookNode NodeOfRow(const std::vector<std::string>& fields, const std::vector<BookNode>& book) {
    BookNode node;
    node.name = fields[0];
    for (const BookNode& held : book) {
        if (SameName(held.name, node.name)) {
            node = held;
            node.name = fields[0];
        }
    }
    node.ip = fields[1];
    node.port = fields[2];
    node.aeTitle = fields[3];
    node.callingAETitle = fields[4];
    node.tls.verify.clear();
    node.comment = fields.size() > 6 ? fields[6] : std::string();
    return node;
}

std::string Numbered(std::size_t number, const std::string& fault) {
    return "Ligne " + std::to_string(number) + " : " + fault;
}

}  // namespace

std::optional<std::string> NodeFault(const BookNode& node) {
    if (node.name.empty() || node.name.size() > kMaxNameLength ||
        !std::all_of(node.name.begin(), node.name.end(), NameChar))
        return "nom de nœud '" + node.name +
               "' refusé, des lettres, chiffres, '.', '_' ou '-' (64 au plus) sont attendus";
    if (node.ip.empty() || node.ip.size() > kMaxAddressLength ||
        node.ip.find(' ') != std::string::npos || HasControl(node.ip))
        return "adresse '" + node.ip + "' refusée, une adresse IP ou un nom d'hôte est attendu";
    if (!WholePort(node.port))
        return "port '" + node.port + "' refusé, un nombre entier de 1 à 65535 est attendu";
    if (auto fault = AeTitleFault("appelé", node.aeTitle)) return fault;
    if (auto fault = AeTitleFault("appelant", node.callingAETitle)) return fault;
    try {
        if (!node.tls.verify.empty()) ParseTlsVerify(node.tls.verify);
        if (!node.tls.profile.empty()) ParseTlsProfile(node.tls.profile);
    } catch (const Exception& e) {
        return e.Message();
    }
    return std::nullopt;
}

std::vector<BookNode> BookNodes() {
    std::vector<BookNode> nodes;
    for (const std::string& name : SettingSubkeys(kBook))
        nodes.push_back(NodeOfValues(name, ReadSettingSection(SectionOf(name))));
    return nodes;
}

std::optional<BookNode> FindBookNode(const std::string& name) {
    for (const std::string& held : SettingSubkeys(kBook)) {
        if (SameName(held, name)) return NodeOfValues(held, ReadSettingSection(SectionOf(held)));
    }
    return std::nullopt;
}

void SaveBookNode(const BookNode& node) { ImportBookNodes({node}); }

bool RemoveBookNode(const std::string& name) {
    const std::optional<BookNode> held = FindBookNode(name);
    if (!held) return false;
    ReplaceSettingSections({{SectionOf(held->name), std::nullopt}});
    return true;
}

void ImportBookNodes(const std::vector<BookNode>& nodes) {
    // The store replaces a section of the same name whatever its case.
    std::vector<SettingSection> sections;
    for (const BookNode& node : nodes) {
        if (const std::optional<std::string> fault = NodeFault(node))
            throw Exception(ErrorClass::EConvertError, *fault);
        sections.push_back({SectionOf(node.name), ValuesOf(node)});
    }
    if (!sections.empty()) ReplaceSettingSections(sections);
}

std::string BookNodeLine(const BookNode& node) {
    std::string line = node.name + " : " + node.aeTitle + "@" + node.ip + ":" + node.port +
                       " (appelant " + node.callingAETitle + ")";
    if (node.tls.enabled)
        line += ", TLS " + (node.tls.verify.empty() ? std::string("require") : node.tls.verify);
    if (!node.dicomWebUrl.empty()) line += ", DICOMweb " + node.dicomWebUrl;
    if (!node.comment.empty()) line += " — " + node.comment;
    return line;
}

std::string BookNodesCsv(const std::vector<BookNode>& nodes) {
    std::string csv = "\xEF\xBB\xBF";
    const auto row = [&csv](const std::vector<std::string>& cells) {
        for (std::size_t i = 0; i < cells.size(); ++i)
            csv += (i > 0 ? "," : "") + CsvField(cells[i]);
        csv += "\r\n";
    };
    row(std::vector<std::string>(std::begin(kHeader), std::end(kHeader)));
    for (const BookNode& node : nodes) {
        const std::string tls = !node.tls.enabled         ? "0"
                                : node.tls.verify.empty() ? "require"
                                                          : node.tls.verify;
        row({node.name, node.ip, node.port, node.aeTitle, node.callingAETitle, tls, node.comment});
    }
    return csv;
}

NodesImport ReadNodesCsv(const std::vector<std::string>& lines) {
    NodesImport import;
    const std::vector<BookNode> book = BookNodes();
    std::vector<std::size_t> numbers;  // the line of each node read
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::size_t number = i + 1;
        if (lines[i].find_first_not_of(" \t") == std::string::npos) continue;
        const std::optional<std::vector<std::string>> fields = CsvRow(lines[i]);
        if (!fields) {
            import.faults.push_back(Numbered(number, "guillemet non fermé"));
            continue;
        }
        if (i == 0 && IsHeader(*fields)) continue;
        if (fields->size() != 6 && fields->size() != std::size(kHeader)) {
            import.faults.push_back(Numbered(
                number, "7 colonnes attendues (name,ip,port,aet,calling-aet,tls,comment), " +
                            std::to_string(fields->size()) + " trouvée(s)"));
            continue;
        }
        BookNode node = NodeOfRow(*fields, book);
        std::optional<std::string> fault = ReadTlsColumn((*fields)[5], node.tls);
        if (!fault) fault = NodeFault(node);
        for (std::size_t j = 0; !fault && j < import.nodes.size(); ++j) {
            if (SameName(import.nodes[j].name, node.name))
                fault = "nom '" + node.name + "' déjà donné ligne " + std::to_string(numbers[j]);
        }
        if (fault) {
            import.faults.push_back(Numbered(number, *fault));
            continue;
        }
        import.nodes.push_back(std::move(node));
        numbers.push_back(number);
    }
    if (!import.faults.empty()) import.nodes.clear();
    return import;
}

}  // namespace lumo::app
