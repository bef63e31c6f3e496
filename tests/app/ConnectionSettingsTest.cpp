// The connection settings of the Diagnostic tab: from the store to the
// fields, from the fields to every request, and back to the store.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "app/TFormTestWL.h"
#include "support/Exception.h"
#include "support/Global_Registry.h"
#include "tests/app/FormTestSupport.h"
#include "tests/app/ProgramFolder.h"

namespace lumo::app {
namespace {

using std::chrono::seconds;

constexpr const char* kSection = "FormTestWL";

TEST(ConnectionSettings, StoreFieldsAndRequestsAgree) {
    testing::ProgramFolder folder;
    testing::RecordingHost host;
    TFormTestWL form{host};
    WriteSetting(kSection, "ConnectTimeout", "7");
    WriteSetting(kSection, "AssocTimeout", "abc");
    WriteSetting(kSection, "MaxPDU", "65536");
    WriteSetting(kSection, "MaxResults", "25");
    WriteSetting(kSection, "DicomWebURL", "https://pacs.example/dicom-web");
    WriteSetting(kSection, "Transport", "dicomweb");
    WriteSetting(kSection, "HttpUser", "alice");
    ASSERT_TRUE(form.RunHandler([&] { form.FormCreate(); }));
    const QueryRequest web = form.QueryRequestFromFields(QueryLevel::Series);
    EXPECT_EQ(web.transport, QueryTransport::DicomWeb);
    EXPECT_EQ(web.node.WebService().baseUrl, "https://pacs.example/dicom-web");
    EXPECT_EQ(web.node.httpUser, "alice");
    form.cboTransport.Text = "DIMSE";

    // A stored value out of bounds keeps its default, and the log says so.
    EXPECT_EQ(form.EditConnectTimeout.Text, "7");
    EXPECT_EQ(form.EditAssocTimeout.Text, "30");
    EXPECT_EQ(form.EditResponseTimeout.Text, "60");
    EXPECT_EQ(form.EditMaxPDU.Text, "65536");
    const std::vector<std::string> log = folder.LogLines();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "[005] Paramètre AssocTimeout invalide : 'abc' (valeur par défaut 30 "
                        "gardée)"),
              log.end());
    QueryNode node = form.QueryRequestFromFields(QueryLevel::Study).node;
    EXPECT_EQ(node.timeouts.connect, seconds(7));
    EXPECT_EQ(node.maxPdu, 65536u);
    EXPECT_EQ(form.EditMaxResults.Text, "25");
    EXPECT_EQ(node.limits.maxResults, 25u);

    // A field left as shown keeps what a caller set; one the operator
    // changed wins, and must hold a value within bounds.
    form.QueryTimeouts.association = seconds(3);
    form.EditResponseTimeout.Text = "0";
    try {
        form.QueryRequestFromFields(QueryLevel::Study);
        ADD_FAILURE() << "a timeout of 0 was taken";
    } catch (const Exception& e) {
        EXPECT_EQ(e.ClassName(), "EConvertError");
        EXPECT_EQ(e.Message(),
                  "Délai de réponse : '0' refusé, un nombre entier de secondes de 1 à 86400 est "
                  "attendu");
    }
    form.EditResponseTimeout.Text = "45";
    node = form.QueryRequestFromFields(QueryLevel::Study).node;
    EXPECT_EQ(node.timeouts.association, seconds(3));
    EXPECT_EQ(node.timeouts.response, seconds(45));

    form.EditMaxPDU.Text = "1";
    ASSERT_TRUE(form.RunHandler([&] { form.FormDestroy(); }));
    EXPECT_EQ(ReadSetting(kSection, "ResponseTimeout"), "45");
    EXPECT_EQ(ReadSetting(kSection, "AssocTimeout"), "3");
    EXPECT_EQ(ReadSetting(kSection, "MaxPDU"), "65536");
    EXPECT_EQ(ReadSetting(kSection, "Transport"), "DIMSE");
    EXPECT_EQ(ReadSetting(kSection, "DicomWebURL"), "https://pacs.example/dicom-web");
}

}  // namespace
}  // namespace lumo::app
