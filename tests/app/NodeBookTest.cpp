// The address book in a settings store of its own: CSV read line by line,
// every bad line named and nothing half-imported, and what an export gives
// back when imported.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/LinesFile.h"
#include "app/NodeBook.h"
#include "tests/app/ProgramFolder.h"

namespace lumo::app {
namespace {

BookNode Node(const std::string& name, const std::string& ip, const std::string& comment = "") {
    BookNode node;
    node.name = name;
    node.ip = ip;
    node.port = "104";
    node.aeTitle = "PACS";
    node.callingAETitle = "LUMO4410";
    node.comment = comment;
    return node;
}

std::vector<std::string> Names(const std::vector<BookNode>& nodes) {
    std::vector<std::string> names;
    for (const BookNode& node : nodes) names.push_back(node.name);
    return names;
}

TEST(NodeBook, ImportNamesEveryBadLineAndImportsNothing) {
    testing::ProgramFolder folder;
    SaveBookNode(Node("KEPT", "10.0.0.1"));
    const struct {
        const char* line;
        const char* fault;  // nullptr: a good line
    } rows[] = {
        {"name,ip,port,aet,calling-aet,tls,comment", nullptr},
        {"PACS1,10.0.0.5,104,PACS,LUMO4410,0,archive", nullptr},
        {"", nullptr},
        {"CT2,ct2.example,70000,CT2,LUMO4410,chain,",
         "port '70000' refusé, un nombre entier de 1 à 65535 est attendu"},
        {"MR 3,10.0.0.7,104,MR,LUMO4410,0,",
         "nom de nœud 'MR 3' refusé, des lettres, chiffres, '.', '_' ou '-' (64 au plus) sont "
         "attendus"},
        {"US4,,104,US,LUMO4410,0,",
         "adresse '' refusée, une adresse IP ou un nom d'hôte est attendu"},
        {"US5,10.0.0.8,104,ABCDEFGHIJKLMNOPQ,LUMO4410,0,",
         "AE title appelé 'ABCDEFGHIJKLMNOPQ' refusé, de 1 à 16 caractères sans \\ ni caractère "
         "de contrôle sont attendus"},
        {"US6,10.0.0.8,104,US,,0,",
         "AE title appelant '' refusé, de 1 à 16 caractères sans \\ ni caractère de contrôle sont "
         "attendus"},
        {"US7,10.0.0.8,104,US,LUMO4410,yes,",
         "tls 'yes' refusé, 0, 1, require, chain ou ignore est attendu"},
        {"US8,10.0.0.8,104,US",
         "7 colonnes attendues (name,ip,port,aet,calling-aet,tls,comment), 4 trouvée(s)"},
        {"US9,10.0.0.8,104,US,LUMO4410,0,\"open", "guillemet non fermé"},
        {"pacs1,10.0.0.9,104,PACS,LUMO4410,1,", "nom 'pacs1' déjà donné ligne 2"},
    };
    std::vector<std::string> lines;
    std::vector<std::string> expected;
    for (const auto& row : rows) {
        lines.push_back(row.line);
        if (row.fault != nullptr)
            expected.push_back("Ligne " + std::to_string(lines.size()) + " : " + row.fault);
    }

    const NodesImport import = ReadNodesCsv(lines);

    EXPECT_EQ(import.faults, expected);
    EXPECT_TRUE(import.nodes.empty());
    EXPECT_EQ(Names(BookNodes()), std::vector<std::string>{"KEPT"});
}

TEST(NodeBook, AnExportedBookImportsAsItWas) {
    testing::ProgramFolder folder;
    BookNode ct = Node("CT2", "ct2.example", "scanner, salle \"2\"");
    ct.tls = {true,    "/etc/ssl/console.pem", "/etc/ssl/console.key", "/etc/ssl/ca.pem", "chain",
              "bcp195"};
    SaveBookNode(Node("PACS1", "10.0.0.5", "archive"));
    SaveBookNode(ct);
    const std::string file = folder.Path() + "/nodes.csv";
    SaveBytesToFile(file, BookNodesCsv(BookNodes()));
    EXPECT_EQ(testing::ReadText(file),
              "\xEF\xBB\xBFname,ip,port,aet,calling-aet,tls,comment\r\n"
              "PACS1,10.0.0.5,104,PACS,LUMO4410,0,archive\r\n"
              "CT2,ct2.example,104,PACS,LUMO4410,chain,\"scanner, salle \"\"2\"\"\"\r\n");

    // Removed, then imported again: the same nodes; a node the book still
    // holds keeps its files and profile, whatever the case of its name.
    ASSERT_TRUE(RemoveBookNode("pacs1"));
    EXPECT_FALSE(RemoveBookNode("PACS1"));
    std::vector<std::string> lines = LoadLinesFromFile(file).lines;
    lines[2].replace(0, 3, "ct2");
    const NodesImport import = ReadNodesCsv(lines);
    ASSERT_TRUE(import.faults.empty()) << import.faults.front();
    ImportBookNodes(import.nodes);

    EXPECT_EQ(Names(BookNodes()), (std::vector<std::string>{"PACS1", "ct2"}));
    const std::optional<BookNode> again = FindBookNode("CT2");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->comment, ct.comment);
    EXPECT_TRUE(again->tls.enabled);
    EXPECT_EQ(again->tls.verify, "chain");
    EXPECT_EQ(again->tls.certificateFile, "/etc/ssl/console.pem");
    EXPECT_EQ(again->tls.profile, "bcp195");
    EXPECT_EQ(BookNodeLine(*again),
              "ct2 : PACS@ct2.example:104 (appelant LUMO4410), TLS chain — scanner, salle \"2\"");
}

}  // namespace
}  // namespace lumo::app
