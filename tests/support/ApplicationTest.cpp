#include "support/Application.h"

#include <filesystem>

#include "TestSupport.h"

namespace {

using namespace lumo;

// Restores the program file and key after a test.
struct ProgramFileReset {
    ~ProgramFileReset() {
        SetProgramFileName("");
        SetProgramKey("");
    }
};

TEST(ApplicationFacts, ProgramFileIsTheRunningExecutable) {
    ProgramFileReset reset;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    EXPECT_EQ(ProgramFileName(), self);
    EXPECT_EQ(ProgramFolder(), std::filesystem::path(self).parent_path().string() + "/");
    EXPECT_EQ(ProgramKey(), std::filesystem::path(self).filename().string());
}

TEST(ApplicationFacts, ProgramKeyDropsFolderAndExtension) {
    ProgramFileReset reset;
    SetProgramFileName("/opt/lumo/bin/lumo4410");
    EXPECT_EQ(ProgramFolder(), "/opt/lumo/bin/");
    EXPECT_EQ(ProgramKey(), "lumo4410");
    SetProgramFileName("/opt/lumo.d/Lumo4410.exe");
    EXPECT_EQ(ProgramKey(), "Lumo4410");
    SetProgramFileName("/opt/lumo.d/.hidden");
    EXPECT_EQ(ProgramKey(), ".hidden");
}

TEST(ApplicationFacts, ProgramKeyCanBeSetAndReset) {
    ProgramFileReset reset;
    SetProgramFileName("/opt/lumo/bin/lumo4410-cli");
    SetProgramKey("lumo4410");
    EXPECT_EQ(ProgramKey(), "lumo4410");
    SetProgramKey("");
    EXPECT_EQ(ProgramKey(), "lumo4410-cli");
}

TEST(ApplicationFacts, TitleAsSet) {
    const std::string old = ApplicationTitle();
    SetApplicationTitle("Test Worklist");
    EXPECT_EQ(ApplicationTitle(), "Test Worklist");
    SetApplicationTitle(old);
}

}  // namespace
