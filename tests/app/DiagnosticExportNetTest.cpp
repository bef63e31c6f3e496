// The Diagnostic tab's export of the last query's responses and its
// comparison with a second node, as the window's buttons run them.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/LinesFile.h"
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

}  // namespace
}  // namespace lumo::app
