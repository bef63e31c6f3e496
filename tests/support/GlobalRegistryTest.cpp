#include "support/Global_Registry.h"

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "TestSupport.h"

namespace {

using namespace lumo;
using lumo::test::ReadFile;
using lumo::test::ScopedEnv;
using lumo::test::TempDir;
using lumo::test::WriteFile;

// Every test gets its own configuration home and the window's title.
class SettingsStore : public ::testing::Test {
  protected:
    void SetUp() override {
        oldTitle_ = ApplicationTitle();
        SetApplicationTitle("Test Worklist");
    }
    void TearDown() override { SetApplicationTitle(oldTitle_); }

    std::string StoreFile() const { return home_ / "Brevalis/settings.reg"; }

    TempDir home_;
    ScopedEnv xdg_{"XDG_CONFIG_HOME", home_.Path()};
    std::string oldTitle_;
};

TEST_F(SettingsStore, FirstRunReadsEmptyTextsAndCreatesNothing) {
    for (const char* name : {"IP", "Port", "AETitle", "CallingAETitle", "Modalite"})
        EXPECT_EQ(ReadSetting("FormTestWL", name), "") << name;
    EXPECT_FALSE(std::filesystem::exists(home_ / "Brevalis"));
}

TEST_F(SettingsStore, WrittenValuesReadBack) {
    WriteSetting("FormTestWL", "IP", "10.1.2.3");
    WriteSetting("FormTestWL", "Port", "104");
    EXPECT_EQ(ReadSetting("FormTestWL", "IP"), "10.1.2.3");
    EXPECT_EQ(ReadSetting("FormTestWL", "Port"), "104");
    EXPECT_EQ(ReadSetting("FormTestWL", "AETitle"), "");
    EXPECT_EQ(SettingsFileName(), StoreFile());
}

TEST_F(SettingsStore, StoreMirrorsTheKeyPath) {
    WriteSetting("FormTestWL", "IP", "10.1.2.3");
    const std::string text = ReadFile(StoreFile());
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Brevalis\\Test Worklist\\FormTestWL]\n"
                        "\"IP\"=\"10.1.2.3\"\n"),
              std::string::npos)
        << text;
}

TEST_F(SettingsStore, ShortFormsUseTheApplicationTitle) {
    WriteSetting("FormTestWL", "IP", "1.1.1.1");
    EXPECT_EQ(ReadSetting("FormTestWL", "IP", "Test Worklist"), "1.1.1.1");
    WriteSetting("FormTestWL", "IP", "2.2.2.2", "Test Worklist");
    EXPECT_EQ(ReadSetting("FormTestWL", "IP"), "2.2.2.2");
    EXPECT_EQ(ReadSetting("FormTestWL", "IP", "Other"), "");
}

TEST_F(SettingsStore, EmptyPartsAreLeftOutOfTheKeyPath) {
    EXPECT_EQ(SettingsKeyPath("Test Worklist", "FormTestWL"),
              "\\Software\\Brevalis\\Test Worklist\\FormTestWL");
    EXPECT_EQ(SettingsKeyPath("Test Worklist", ""), "\\Software\\Brevalis\\Test Worklist");
    EXPECT_EQ(SettingsKeyPath("", "FormTestWL"), "\\Software\\Brevalis\\FormTestWL");
    EXPECT_EQ(SettingsKeyPath("", ""), "\\Software\\Brevalis");

    WriteSetting("", "IP", "section-less");
    WriteSetting("FormTestWL", "IP", "app-less", "");
    WriteSetting("", "IP", "root", "");
    EXPECT_EQ(ReadSetting("", "IP"), "section-less");
    EXPECT_EQ(ReadSetting("FormTestWL", "IP", ""), "app-less");
    EXPECT_EQ(ReadSetting("", "IP", ""), "root");
    // \Software\Brevalis\FormTestWL is the same key whichever part names it.
    EXPECT_EQ(ReadSetting("", "IP", "FormTestWL"), "app-less");
    const std::string text = ReadFile(StoreFile());
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Brevalis\\Test Worklist]\n"),
              std::string::npos);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Brevalis]\n"), std::string::npos);
    EXPECT_EQ(text.find("\\\\"), std::string::npos);
}

TEST_F(SettingsStore, EmptyTextIsAnExistingEmptyValue) {
    WriteSetting("FormTestWL", "Modalite", "CT");
    WriteSetting("FormTestWL", "Modalite", "");
    EXPECT_EQ(ReadSetting("FormTestWL", "Modalite"), "");
    EXPECT_NE(ReadFile(StoreFile()).find("\"Modalite\"=\"\"\n"), std::string::npos);
}

TEST_F(SettingsStore, ReplacingAValueKeepsTheOthers) {
    WriteSetting("FormTestWL", "IP", "1.1.1.1");
    WriteSetting("FormTestWL", "Port", "104");
    WriteSetting("Other", "IP", "9.9.9.9");
    WriteSetting("FormTestWL", "IP", "2.2.2.2");
    EXPECT_EQ(ReadSetting("FormTestWL", "IP"), "2.2.2.2");
    EXPECT_EQ(ReadSetting("FormTestWL", "Port"), "104");
    EXPECT_EQ(ReadSetting("Other", "IP"), "9.9.9.9");
    const std::string text = ReadFile(StoreFile());
    EXPECT_EQ(text.find("1.1.1.1"), std::string::npos);
}

TEST_F(SettingsStore, NamesAndKeysIgnoreCaseAsTheRegistryDoes) {
    WriteSetting("FormTestWL", "IP", "1.1.1.1");
    EXPECT_EQ(ReadSetting("formtestwl", "ip", "TEST WORKLIST"), "1.1.1.1");
    WriteSetting("FORMTESTWL", "ip", "2.2.2.2");
    EXPECT_EQ(ReadSetting("FormTestWL", "IP"), "2.2.2.2");
    const std::string text = ReadFile(StoreFile());
    EXPECT_EQ(text.find("FORMTESTWL"), std::string::npos);  // first spelling kept
}

TEST_F(SettingsStore, AnyTextSurvivesTheStore) {
    const std::string odd = "quote \" backslash \\ new\nline tab\t é € [x] \"a\"=\"b\"";
    WriteSetting("FormTestWL", "odd \"name\"", odd);
    WriteSetting("FormTestWL", "", "default value");
    EXPECT_EQ(ReadSetting("FormTestWL", "odd \"name\""), odd);
    EXPECT_EQ(ReadSetting("FormTestWL", ""), "default value");
    WriteSetting("FormTestWL", "after", "x");
    EXPECT_EQ(ReadSetting("FormTestWL", "odd \"name\""), odd);
}

TEST_F(SettingsStore, NonTextValueRaises) {
    WriteSettingInteger("FormTestWL", "IP", 42);
    EXPECT_THROW_MSG(ReadSetting("FormTestWL", "IP"), "ERegistryException",
                     "Invalid data type for 'IP'");
    EXPECT_NE(ReadFile(StoreFile()).find("\"IP\"=dword:0000002a"), std::string::npos);
    // Writing text replaces the value whatever its type.
    WriteSetting("FormTestWL", "IP", "1.2.3.4");
    EXPECT_EQ(ReadSetting("FormTestWL", "IP"), "1.2.3.4");
}

TEST_F(SettingsStore, HandWrittenStoreWithOtherTypes) {
    std::filesystem::create_directories(home_ / "Brevalis");
    WriteFile(StoreFile(),
              "; written by hand\r\n"
              "[HKEY_CURRENT_USER\\Software\\Brevalis\\Test Worklist\\FormTestWL]\r\n"
              "\"IP\"=str(2):\"%HOST%\"\r\n"
              "\"Port\"=hex:68,00\r\n"
              "\"AETitle\"=\"NORVANEX\"\r\n"
              "garbage line\r\n"
              "\"Broken\"=\"unterminated\r\n");
    EXPECT_EQ(ReadSetting("FormTestWL", "IP"), "%HOST%");  // not expanded
    EXPECT_THROW_MSG(ReadSetting("FormTestWL", "Port"), "ERegistryException",
                     "Invalid data type for 'Port'");
    EXPECT_EQ(ReadSetting("FormTestWL", "AETitle"), "NORVANEX");
    EXPECT_THROW_MSG(ReadSetting("FormTestWL", "Broken"), "ERegistryException",
                     "Invalid data type for 'Broken'");
    // A write keeps what it does not understand.
    WriteSetting("FormTestWL", "CallingAETitle", "Lumo4410");
    const std::string text = ReadFile(StoreFile());
    EXPECT_NE(text.find("garbage line"), std::string::npos);
    EXPECT_NE(text.find("\"Port\"=hex:68,00"), std::string::npos);
    EXPECT_EQ(ReadSetting("FormTestWL", "CallingAETitle"), "Lumo4410");
}

TEST_F(SettingsStore, NoCacheBetweenCalls) {
    WriteSetting("FormTestWL", "IP", "1.1.1.1");
    std::string text = ReadFile(StoreFile());
    text.replace(text.find("1.1.1.1"), 7, "3.3.3.3");
    WriteFile(StoreFile(), text);
    EXPECT_EQ(ReadSetting("FormTestWL", "IP"), "3.3.3.3");
    std::filesystem::remove(StoreFile());
    EXPECT_EQ(ReadSetting("FormTestWL", "IP"), "");
}

TEST_F(SettingsStore, WritesLeaveNoTemporaryFiles) {
    for (int i = 0; i < 5; ++i) WriteSetting("FormTestWL", "N" + std::to_string(i), "v");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(home_ / "Brevalis"))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"settings.reg", "settings.reg.lock"}));
}

TEST_F(SettingsStore, FailedWriteRaises) {
    // The configuration home is a file: the store's folder cannot be made.
    WriteFile(home_ / "not-a-folder", "x");
    ScopedEnv xdg("XDG_CONFIG_HOME", home_ / "not-a-folder");
    EXPECT_THROW_MSG(WriteSetting("FormTestWL", "IP", "1.1.1.1"), "ERegistryException",
                     "Failed to set data for 'IP'");
    EXPECT_EQ(ReadSetting("FormTestWL", "IP"), "");
}

TEST_F(SettingsStore, StoreThatIsAFolderFailsTheWriteAndReadsEmpty) {
    std::filesystem::create_directories(StoreFile());
    EXPECT_THROW_MSG(WriteSetting("FormTestWL", "Port", "104"), "ERegistryException",
                     "Failed to set data for 'Port'");
    EXPECT_EQ(ReadSetting("FormTestWL", "Port"), "");
}

TEST_F(SettingsStore, StoreThatIsNoPlainFileIsNeverWaitedOnNorReplaced) {
    const std::pair<std::string, std::string> cases[] = {{"settings.reg", "fifo"},
                                                         {"settings.reg", "zero"},
                                                         {"settings.reg", "big"},
                                                         {"settings.reg.lock", "fifo"}};
    for (const auto& [name, kind] : cases) {
        std::filesystem::create_directories(home_ / "Brevalis");
        lumo::test::MakeOddFile(kind, home_ / ("Brevalis/" + name));
        // Reads give the empty text; the write fails, so nothing replaced it.
        EXPECT_TRUE(lumo::test::InChild([&] {
            EXPECT_THROW_MSG(WriteSetting("FormTestWL", "IP", "1"), "ERegistryException",
                             "Failed to set data for 'IP'");
            EXPECT_EQ(ReadSetting("FormTestWL", "IP"), "");
        })) << name
            << " " << kind;
        std::filesystem::remove_all(home_ / "Brevalis");
    }
}

TEST_F(SettingsStore, DefaultHomeIsDotConfig) {
    ScopedEnv home("HOME", home_.Path());
    ScopedEnv unset("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(SettingsFileName(), home_ / ".config/Brevalis/settings.reg");
    ScopedEnv relative("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(SettingsFileName(), home_ / ".config/Brevalis/settings.reg");
    WriteSetting("FormTestWL", "IP", "5.5.5.5");
    EXPECT_TRUE(std::filesystem::exists(home_ / ".config/Brevalis/settings.reg"));
}

TEST_F(SettingsStore, ConcurrentProgramsLoseNothing) {
    constexpr int Writers = 3;
    constexpr int ValuesEach = 25;
    std::vector<pid_t> children;
    for (int w = 0; w < Writers; ++w) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int status = 0;
            try {
                for (int i = 0; i < ValuesEach; ++i)
                    WriteSetting("Concurrent", "w" + std::to_string(w) + "_" + std::to_string(i),
                                 std::to_string(i));
            } catch (...) {
                status = 1;
            }
            _exit(status);
        }
        children.push_back(pid);
    }
    for (int i = 0; i < ValuesEach; ++i)
        WriteSetting("Concurrent", "parent_" + std::to_string(i), "p");
    for (const pid_t pid : children) {
        int status = -1;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int w = 0; w < Writers; ++w)
        for (int i = 0; i < ValuesEach; ++i)
            EXPECT_EQ(ReadSetting("Concurrent", "w" + std::to_string(w) + "_" + std::to_string(i)),
                      std::to_string(i));
    for (int i = 0; i < ValuesEach; ++i)
        EXPECT_EQ(ReadSetting("Concurrent", "parent_" + std::to_string(i)), "p");
}

}  // namespace
