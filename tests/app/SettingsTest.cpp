// The connection settings kept between runs, the caption's version and the
// opening log line.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/TFormTestWL.h"
#include "support/DateTime.h"
#include "support/Global_Registry.h"
#include "tests/app/FormTestSupport.h"
#include "tests/app/ProgramFolder.h"

namespace lumo::app {
namespace {

constexpr const char* kSection = "FormTestWL";
constexpr const char* kCaption = "Query Worklist / CFIND";

class Settings : public ::testing::Test {
  protected:
    Settings() { host.form = &form; }
    ~Settings() override { host.form = nullptr; }

    bool Create() {
        return form.RunHandler([&] { form.FormCreate(); });
    }
    bool Destroy() {
        return form.RunHandler([&] { form.FormDestroy(); });
    }

    bool Logged(const std::string& line) {
        const std::vector<std::string> lines = folder.LogLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    testing::ProgramFolder folder;
    testing::RecordingHost host;
    TFormTestWL form{host};
};

// The bounds on what a peer may send are settings; a value that is no size
// keeps the default and is reported in the log.
TEST_F(Settings, SizeBoundsAreReadFromTheStore) {
    const std::size_t defaultBound = dicom::DicomLimits().maxResponseBytes;
    const struct {
        const char* stored;
        std::size_t bound;
        bool reported;
    } cases[] = {{"", defaultBound, false},
                 {"1048576", 1048576, false},
                 {"12 Mo", defaultBound, true},
                 {"10", defaultBound, true}};
    for (const auto& c : cases) {
        WriteSetting(kSection, "MaxResponseBytes", c.stored);
        ASSERT_TRUE(Create());
        EXPECT_EQ(form.QueryLimits.maxResponseBytes, c.bound) << c.stored;
        EXPECT_EQ(Logged("[005] Paramètre MaxResponseBytes invalide : '" + std::string(c.stored) +
                         "' (valeur par défaut " + std::to_string(defaultBound) + " gardée)"),
                  c.reported)
            << c.stored;
        form.QueryLimits = dicom::DicomLimits();
    }
}

TEST_F(Settings, FirstRunShowsTheDefaultsAndStoresAllFive) {
    ASSERT_TRUE(Create());
    EXPECT_TRUE(host.errors.empty());
    EXPECT_EQ(form.EditIP.Text, "127.0.0.1");
    EXPECT_EQ(form.EditPort.Text, "3100");
    EXPECT_EQ(form.EditAETitle.Text, "NORVANEX");
    EXPECT_EQ(form.EditCallingAETitle.Text, "Lumo4410");
    EXPECT_EQ(form.cboModalite.Text, "");
    EXPECT_EQ(form.EditDate.Text, FormatDateTime("yyyymmdd", Now()));
    EXPECT_EQ(form.ButtonCFINDType1.Caption, "CFind (ACCESSION+NOM)");
    // The program file of this test has no version note.
    EXPECT_EQ(form.Form.Caption, std::string(kCaption) + " - v.");
    EXPECT_EQ(folder.LogLines(), std::vector<std::string>{"[100] Ouverture LUMO4410"});

    form.cboModalite.Text = "";
    ASSERT_TRUE(Destroy());
    EXPECT_EQ(ReadSetting(kSection, "IP"), "127.0.0.1");
    EXPECT_EQ(ReadSetting(kSection, "Port"), "3100");
    EXPECT_EQ(ReadSetting(kSection, "AETitle"), "NORVANEX");
    EXPECT_EQ(ReadSetting(kSection, "CallingAETitle"), "Lumo4410");
    // The empty modality is stored as an empty value, not left out.
    const std::string store = testing::ReadText(SettingsFileName());
    EXPECT_NE(store.find("\"Modalite\"=\"\""), std::string::npos) << store;
}

TEST_F(Settings, AStoredAddressAloneLeavesTheOtherFieldsEmpty) {
    WriteSetting(kSection, "IP", "10.1.2.3");
    ASSERT_TRUE(Create());
    EXPECT_EQ(form.EditIP.Text, "10.1.2.3");
    EXPECT_EQ(form.EditPort.Text, "");
    EXPECT_EQ(form.EditAETitle.Text, "");
    EXPECT_EQ(form.EditCallingAETitle.Text, "");
    EXPECT_EQ(form.cboModalite.Text, "");
}

TEST_F(Settings, AnEmptyAddressBringsBackAllFourDefaultsButNotTheModality) {
    WriteSetting(kSection, "IP", "");
    WriteSetting(kSection, "Port", "4000");
    WriteSetting(kSection, "AETitle", "OTHER");
    WriteSetting(kSection, "Modalite", "MR");
    ASSERT_TRUE(Create());
    EXPECT_EQ(form.EditIP.Text, "127.0.0.1");
    EXPECT_EQ(form.EditPort.Text, "3100");
    EXPECT_EQ(form.EditAETitle.Text, "NORVANEX");
    EXPECT_EQ(form.EditCallingAETitle.Text, "Lumo4410");
    EXPECT_EQ(form.cboModalite.Text, "MR");
}

TEST_F(Settings, StoredValuesComeBackAsTheyWereWritten) {
    WriteSetting(kSection, "IP", "192.0.2.7");
    WriteSetting(kSection, "Port", "104");
    WriteSetting(kSection, "AETitle", "PACS");
    WriteSetting(kSection, "CallingAETitle", "MODALITÉ");
    WriteSetting(kSection, "Modalite", "CT");
    ASSERT_TRUE(Create());
    EXPECT_EQ(form.EditIP.Text, "192.0.2.7");
    EXPECT_EQ(form.EditPort.Text, "104");
    EXPECT_EQ(form.EditAETitle.Text, "PACS");
    EXPECT_EQ(form.EditCallingAETitle.Text, "MODALITÉ");
    EXPECT_EQ(form.cboModalite.Text, "CT");
}

TEST_F(Settings, ANonTextValueIsReportedAndStopsTheStart) {
    WriteSettingInteger(kSection, "Port", 4000);
    EXPECT_FALSE(Create());
    EXPECT_EQ(host.errors, std::vector<std::string>{"Invalid data type for 'Port'"});
    // Stopped before the defaults, the caption's version and the opening line.
    EXPECT_EQ(form.EditIP.Text, "");
    EXPECT_EQ(form.Form.Caption, kCaption);
    EXPECT_FALSE(Logged("[100] Ouverture LUMO4410"));

    // The window still works.
    form.EditDate.Text = "20261207";
    EXPECT_TRUE(form.RunHandler([&] { form.bTestDate.Click(); }));
    EXPECT_EQ(form.ListBoxResult.Items.Count(), 6u);
}

TEST_F(Settings, WritingBackReplacesAValueOfAnotherType) {
    ASSERT_TRUE(Create());
    form.EditIP.Text = "192.0.2.9";
    form.EditPort.Text = "4006";
    WriteSetting(kSection, "IP", "old");
    // Replaced whatever its type: the write does not read the old value.
    WriteSettingInteger(kSection, "AETitle", 1);
    ASSERT_TRUE(Destroy());
    EXPECT_EQ(ReadSetting(kSection, "IP"), "192.0.2.9");
    EXPECT_EQ(ReadSetting(kSection, "AETitle"), "NORVANEX");
}

TEST_F(Settings, AListenPortThatIsNotANumberStopsTheStartAfterTheSettings) {
    WriteSetting(kSection, "IP", "192.0.2.8");
    SetCommandLineParams({"LISTEN", "abc"});
    EXPECT_FALSE(Create());
    SetCommandLineParams({});
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(form.EditIP.Text, "192.0.2.8");
    EXPECT_EQ(form.Form.Caption, kCaption);
    EXPECT_FALSE(Logged("[100] Ouverture LUMO4410"));
}

TEST_F(Settings, ABrokenLoggerConfigurationIsReportedAndTheWindowWorks) {
    testing::WriteText(folder.Path() + "/AppLogger.xml", "<AppLogger><unclosed>");
    EXPECT_FALSE(Create());
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0].rfind("TApplicationLogger : ", 0), 0u) << host.errors[0];
    // The caption was set just before the failing log call.
    EXPECT_EQ(form.Form.Caption, std::string(kCaption) + " - v.");
    EXPECT_EQ(form.EditIP.Text, "127.0.0.1");
}

TEST_F(Settings, DestroyWritesWhatTheFieldsHoldUnlessTheFormIsToldNotTo) {
    ASSERT_TRUE(Create());
    form.EditAETitle.Text = "CALLER_AE";
    form.cboModalite.Text = "US";
    ASSERT_TRUE(Destroy());
    EXPECT_EQ(ReadSetting(kSection, "AETitle"), "CALLER_AE");
    EXPECT_EQ(ReadSetting(kSection, "Modalite"), "US");

    form.WriteBackSettings = false;
    form.EditAETitle.Text = "NOT_STORED";
    ASSERT_TRUE(Destroy());
    EXPECT_EQ(ReadSetting(kSection, "AETitle"), "CALLER_AE");
}

}  // namespace
}  // namespace lumo::app
