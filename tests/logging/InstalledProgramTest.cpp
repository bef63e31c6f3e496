// Where the program finds its logger configuration and writes its log: a
// program in a folder of its own as ever, an installed one in the current
// folder, the user's configuration or the system's. Real files in temporary
// folders, the XDG variables and the installed places pointed into them.

#include <gtest/gtest.h>

#include <filesystem>

#include "LoggingTestUtil.h"
#include "logging/uApplicationLogger.h"
#include "support/ProgramFiles.h"

namespace lumo {
namespace {

using testing::ProgramIn;
using testing::ReadFile;
using testing::ScopedEnv;
using testing::TempFolder;
using testing::WriteFile;

// A configuration whose one destination writes bare lines to `file`.
std::string Configuration(const std::string& file) {
    return "<AppLogger Version=\"1.2\"><AllStations><AllApplications><L class=\"TFileLogger\" "
           "NiveauMax=\"255\" LogSpecifique=\"0\" InsertTime=\"False\" "
           "InsertNiveauLog=\"False\"><FileName>" +
           file + "</FileName></L></AllApplications></AllStations></AppLogger>";
}

// A temporary root with usr/bin/ (the package's bin folder), etc/lumo4410/,
// a home with its XDG folders, a build tree and a current folder.
class InstalledProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        ShutdownAppLogger();
        for (const char* folder : {"usr/bin", "etc/lumo4410", "config/lumo4410", "build", "work"})
            std::filesystem::create_directories(root / folder);
        SetInstalledPlaces({root / "usr/bin", root / "etc/lumo4410"});
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(root / "work");
    }
    void TearDown() override {
        ShutdownAppLogger();
        SetLogFolder("");
        SetInstalledPlaces({});
        std::filesystem::current_path(previous_);
    }

    TempFolder root;
    ScopedEnv config{"XDG_CONFIG_HOME", (root / "config").c_str()};
    ScopedEnv state{"XDG_STATE_HOME", (root / "state").c_str()};
    ScopedEnv noSsh{"SSH_CONNECTION", nullptr};
    std::filesystem::path previous_;
};

TEST_F(InstalledProgram, TheFirstConfigurationFoundDecidesWhereTheLogGoes) {
    const std::string state = root / "state/lumo4410/";
    struct Case {
        const char* name;
        const char* program;               // the program's folder under the root
        std::vector<const char*> configs;  // folders holding an AppLogger.xml
        const char* expectedConfig;        // "" when none
        std::string expectedLogFolder;
    };
    const Case cases[] = {
        // A build tree: only its own folder, as ever, whatever else exists.
        {"BuildTreeWithItsOwn",
         "build",
         {"build", "work", "etc/lumo4410"},
         "build",
         root / "build/"},
        {"BuildTreeWithout", "build", {"work", "config/lumo4410", "etc/lumo4410"}, "", ""},
        // Installed: the current folder, the user's, the system's.
        {"InstalledCurrentFolder",
         "usr/bin",
         {"work", "config/lumo4410", "etc/lumo4410"},
         "work",
         root / "work/"},
        {"InstalledUsersOwn",
         "usr/bin",
         {"config/lumo4410", "etc/lumo4410"},
         "config/lumo4410",
         state},
        {"InstalledSystems", "usr/bin", {"etc/lumo4410"}, "etc/lumo4410", state},
        {"InstalledWithout", "usr/bin", {}, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* folder : {"build", "work", "config/lumo4410", "etc/lumo4410"})
            std::filesystem::remove(root / folder + "/AppLogger.xml");
        for (const char* folder : c.configs) WriteFile(root / folder + "/AppLogger.xml", "<x/>");
        const ProgramIn program(root / c.program);

        const LoggerConfiguration found = FindLoggerConfiguration();

        const std::string own = root / c.program + "/AppLogger.xml";
        EXPECT_EQ(found.file, *c.expectedConfig ? root / c.expectedConfig + "/AppLogger.xml" : own);
        EXPECT_EQ(found.logFolder,
                  c.expectedLogFolder.empty() ? root / c.program + "/" : c.expectedLogFolder);
    }
}

// The system's configuration names its log relatively: it lands in the
// state folder, made for it, never in the current folder.
TEST_F(InstalledProgram, TheSystemsConfigurationLogsUnderTheStateFolder) {
    WriteFile(root / "etc/lumo4410/AppLogger.xml", Configuration("lumo4410.log"));
    const ProgramIn program(root / "usr/bin");

    AppLogger().Log("Ouverture LUMO4410", 100, 0);
    ShutdownAppLogger();

    EXPECT_EQ(ReadFile(root / "state/lumo4410/lumo4410.log"), "Ouverture LUMO4410\r\n");
    EXPECT_EQ(std::filesystem::status(root / "state/lumo4410").permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    EXPECT_TRUE(std::filesystem::is_empty(root / "work"));
}

}  // namespace
}  // namespace lumo
