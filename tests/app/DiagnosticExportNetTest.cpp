// The Diagnostic tab's export of the last query's responses and its
// comparison with a second node, as the window's buttons run them.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/LinesFile.h"
#include "app/NodeComparison.h"
#include "tests/app/FormTestSupport.h"

namespace lumo::app {
namespace {

using lumo::testing::MakeDataSet;
using lumo::testing::TestNode;

TEST(DiagnosticExportNet, ExportByExtensionAndComparisonWithASecondNode) {
    TestNode a;
    TestNode b;
    a.SetResponses({MakeDataSet({{DCM_StudyInstanceUID, "1.1"}, {DCM_InstitutionName, "NORD"}}),
                    MakeDataSet({{DCM_StudyInstanceUID, "1.2"}})});
    b.SetResponses({MakeDataSet({{DCM_StudyInstanceUID, "1.1"}, {DCM_InstitutionName, "SUD"}})});
    b.Start();
    testing::FormOnNode on(testing::Started(a));
    testing::TempDir dir;
    TFormTestWL& form = on.form;

    form.ButtonExporter.Click();  // nothing to export yet
    ASSERT_EQ(on.host.messages.size(), 1u);
    EXPECT_EQ(on.host.messages[0].text, "Aucune réponse à exporter");

    form.ButtonCFindStudyStudy.Click();
    on.host.chosenSaveFile = dir.Path() + "/out.csv";
    form.ButtonExporter.Click();
    const std::vector<std::string> rows = LoadLinesFromFile(dir.Path() + "/out.csv").lines;
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], "InstitutionName,StudyInstanceUID");
    EXPECT_EQ(rows[2], ",1.2");
    on.host.chosenSaveFile = dir.Path() + "/out.txt";
    form.ButtonExporter.Click();
    EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/out.txt"));
    EXPECT_EQ(on.host.messages.back().kind, MessageKind::Error);

    form.EditPort2.Text = std::to_string(b.Port());
    form.ButtonComparer.Click();
    const std::vector<std::string> listed = form.ListBoxResult.Items.Copy();
    ASSERT_GE(listed.size(), 9u);
    EXPECT_EQ(listed[0], "Réponses de A : 2");
    EXPECT_EQ(listed[6], "Seulement dans A : 1.2");
    EXPECT_EQ(listed.back(), "  InstitutionName : A=NORD | B=SUD");
}

// What a comparison asks again and holds: once per distinct key that one
// side only answered, never without a key, for at most as many keys as its
// bound, and no more bytes than its bound.
TEST(DiagnosticExportNet, ComparisonAsksAgainOncePerKeyWithinItsBounds) {
    const struct {
        std::vector<const char*> onA;  // study UIDs, "" for none; B answers nothing
        ComparisonBounds bounds;
        std::size_t asksOfB;
        const char* line;  // a line of the report, or the failure
    } cases[] = {
        {{"1.1", "1.1", "1.1", "1.1"}, {}, 2, "Seulement dans A : 1.1"},
        {{"", ""}, {}, 1, "Sans clé dans A (non comparées) : 2"},
        {{"1.1", "1.2", "1.3"},
         {2},
         3,
         "Non redemandées à B (limite de 2 requêtes par clé atteinte) : 1 clés"},
        {{"1.1", "1.2", "1.3"},
         {500, 1 << 20},
         0,
         "Comparaison arrêtée : les réponses retenues dépassent 1 Mio en tout (limite de la "
         "comparaison)"},
    };
    for (const auto& c : cases) {
        TestNode a;
        TestNode b;
        std::vector<DcmDataset> responses;
        for (const char* uid : c.onA)
            responses.push_back(MakeDataSet(
                {{DCM_StudyInstanceUID, uid}, {DCM_ImageComments, std::string(700 << 10, 'x')}}));
        a.SetResponses(std::move(responses));
        b.Start();
        testing::FormOnNode on(testing::Started(a));
        QueryNode nodeB = on.form.QueryRequestFromFields(QueryLevel::Study).node;
        nodeB.port = b.Port();
        const ComparisonRun run =
            CompareNodes(on.form.QueryRequestFromFields(QueryLevel::Study), nodeB, std::nullopt, c.bounds);
        EXPECT_EQ(b.ReceivedCount(), c.asksOfB) << c.line;
        const std::vector<std::string> lines = run.failure
                                                   ? std::vector<std::string>{run.failure->message}
                                                   : ComparisonLines(run.comparison);
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.line), lines.end())
            << ::testing::PrintToString(lines);
    }
}

}  // namespace
}  // namespace lumo::app
