#include "support/Global_File.h"

#include <unistd.h>

#include <filesystem>

#include "TestSupport.h"
#include "support/Global_Computer.h"

namespace {

using namespace lumo;
using lumo::test::PinnedClock;
using lumo::test::ScopedEnv;
using lumo::test::ScopedParams;
using lumo::test::Stamp;
using lumo::test::TempDir;

std::string Absolute(const std::string& name, const std::string& base) {
    return GlobalFile().GetAbsoluteFileName(name, base);
}

std::string InvalidMask(const std::string& mask) {
    return "FileLogger : Masque de fichier invalide \"" + mask + "\"";
}

// --- resolving names -------------------------------------------------------

TEST(AbsoluteFileName, RelativeNamesAgainstTheBaseFolder) {
    EXPECT_EQ(Absolute("x.log", "/Prog/Bin"), "/Prog/Bin/x.log");
    EXPECT_EQ(Absolute("x.log", "/Prog/Bin/"), "/Prog/Bin/x.log");
    EXPECT_EQ(Absolute("Logs/x.log", "/Prog/Bin"), "/Prog/Bin/Logs/x.log");
    EXPECT_EQ(Absolute("./x.log", "/Prog/Bin"), "/Prog/Bin/x.log");
    EXPECT_EQ(Absolute(".\\x.log", "/Prog/Bin"), "/Prog/Bin/x.log");
    EXPECT_EQ(Absolute("  x.log \t\r\n", "/Prog/Bin"), "/Prog/Bin/x.log");
}

TEST(AbsoluteFileName, ClimbsOneFolderPerStep) {
    EXPECT_EQ(Absolute("../x.log", "/Prog/Bin"), "/Prog/x.log");
    EXPECT_EQ(Absolute("..\\x.log", "/Prog/Bin"), "/Prog/x.log");
    EXPECT_EQ(Absolute("../../x.log", "/a/Prog/Bin"), "/a/x.log");
    EXPECT_EQ(Absolute("./../x.log", "/Prog/Bin"), "/Prog/x.log");
    EXPECT_EQ(Absolute("../ ./x.log", "/Prog/Bin"), "/Prog/x.log");
    // ".." alone is a plain name, as it has no separator after it.
    EXPECT_EQ(Absolute("..", "/Prog/Bin"), "/Prog/Bin/..");
}

TEST(AbsoluteFileName, ClimbingToTheRootFails) {
    EXPECT_THROW_MSG(Absolute("../../x.log", "/Prog/Bin"), "Exception",
                     "Erreur GetAbsoluteFileName(../../x.log,/Prog/Bin)");
    EXPECT_THROW_MSG(Absolute("../x.log", "/Prog"), "Exception",
                     "Erreur GetAbsoluteFileName(../x.log,/Prog)");
    EXPECT_THROW_MSG(Absolute("..\\x.log", "/"), "Exception",
                     "Erreur GetAbsoluteFileName(..\\x.log,/)");
}

TEST(AbsoluteFileName, ErrorCarriesTheArgumentsAsReceived) {
    EXPECT_THROW_MSG(Absolute(" ./../..\\x.log ", "\\Prog\\Bin\\"), "Exception",
                     "Erreur GetAbsoluteFileName( ./../..\\x.log ,\\Prog\\Bin\\)");
}

TEST(AbsoluteFileName, AbsoluteNamesAreKept) {
    EXPECT_EQ(Absolute("/Logs/x.log", "/Prog/Bin"), "/Logs/x.log");
    EXPECT_EQ(Absolute("\\Logs\\x.log", "/Prog/Bin"), "/Logs/x.log");
    EXPECT_EQ(Absolute("//srv/share/x.log", "/Prog/Bin"), "//srv/share/x.log");
}

TEST(AbsoluteFileName, EmptyNameGivesTheBaseFolder) {
    EXPECT_EQ(Absolute("", "/Prog/Bin"), "/Prog/Bin/");
    EXPECT_EQ(Absolute(" \t", "/Prog/Bin/"), "/Prog/Bin/");
    EXPECT_EQ(Absolute("", "/"), "/");
}

TEST(AbsoluteFileName, BaseFolderIsMadeAbsoluteAndClean) {
    EXPECT_EQ(Absolute("x", "/a/./b/../c//d"), "/a/c/d/x");
    EXPECT_EQ(Absolute("x", "\\Prog\\Bin"), "/Prog/Bin/x");
    const std::string cwd = std::filesystem::current_path().string();
    const std::string cwdSlash = cwd == "/" ? "/" : cwd + "/";
    EXPECT_EQ(Absolute("x", "rel/dir"), cwdSlash + "rel/dir/x");
    EXPECT_EQ(Absolute("x", ""), cwdSlash + "x");
}

TEST(AbsoluteFileName, ResolvedNamesOpenRealFiles) {
    TempDir dir;
    std::filesystem::create_directories(dir / "app/bin");
    lumo::test::WriteFile(dir / "app/AppLogger.xml", "<x/>");
    const std::string name = Absolute("..\\AppLogger.xml", dir / "app/bin");
    EXPECT_EQ(name, dir / "app/AppLogger.xml");
    EXPECT_EQ(lumo::test::ReadFile(name), "<x/>");
}

TEST(AbsoluteFileName, SharedInstance) { EXPECT_EQ(&GlobalFile(), &GlobalFile()); }

// --- masks -----------------------------------------------------------------

TEST(FileMask, WithoutPlaceholdersNeverChanges) {
    TDateTime next = 0;
    EXPECT_EQ(GlobalFile().ExpandFileMaskUntil("Logs/Lumo4410.log", next), "Logs/Lumo4410.log");
    EXPECT_EQ(next, 4294967295.0);
    EXPECT_EQ(next, NeverChanges);
    bool dated = true;
    EXPECT_EQ(GlobalFile().ExpandFileMaskIsDated("plain.log", dated), "plain.log");
    EXPECT_FALSE(dated);
    EXPECT_EQ(GlobalFile().ExpandFileMask(""), "");
}

TEST(FileMask, DateChangesAtMidnight) {
    PinnedClock clock(EncodeDateTime(2026, 12, 7, 14, 5, 9));
    TDateTime next = 0;
    EXPECT_EQ(GlobalFile().ExpandFileMaskUntil("Lumo4410_?DATE?.log", next),
              "Lumo4410_20261207.log");
    EXPECT_EQ(Stamp(next), "2026-12-08 00:00:00.000");
    bool dated = false;
    GlobalFile().ExpandFileMaskIsDated("Lumo4410_?DATE?.log", dated);
    EXPECT_TRUE(dated);
}

TEST(FileMask, FormatDateChangesWithItsSmallestUnit) {
    PinnedClock clock(EncodeDateTime(2026, 12, 7, 14, 5, 9, 250));
    TDateTime next = 0;
    EXPECT_EQ(GlobalFile().ExpandFileMaskUntil("?FORMATDATEyyyymmddhh?", next), "2026120714");
    EXPECT_EQ(Stamp(next), "2026-12-07 15:00:00.000");
    EXPECT_EQ(GlobalFile().ExpandFileMaskUntil("?FORMATDATEhhnn?", next), "1405");
    EXPECT_EQ(Stamp(next), "2026-12-07 14:06:00.000");
    EXPECT_EQ(GlobalFile().ExpandFileMaskUntil("?FORMATDATEyyyy-mm?", next), "2026-12");
    EXPECT_EQ(Stamp(next), "2027-01-01 00:00:00.000");
    EXPECT_EQ(GlobalFile().ExpandFileMaskUntil("?FORMATDATEyyyy?", next), "2026");
    EXPECT_EQ(Stamp(next), "2027-01-01 00:00:00.000");
    EXPECT_EQ(GlobalFile().ExpandFileMaskUntil("?FORMATDATEss?", next), "09");
    EXPECT_EQ(Stamp(next), "2026-12-07 14:05:10.250");
    EXPECT_EQ(GlobalFile().ExpandFileMaskUntil("?FORMATDATEzzz?", next), "250");
    EXPECT_EQ(Stamp(next), "2026-12-07 14:05:09.250");
    EXPECT_EQ(GlobalFile().ExpandFileMaskUntil("?DATEHEURE?", next), "20261207140509");
    EXPECT_EQ(Stamp(next), "2026-12-07 14:05:10.250");
}

TEST(FileMask, UnitLettersAreSearchedEverywhereAndInEitherCase) {
    PinnedClock clock(EncodeDateTime(2026, 12, 7, 14, 5, 9));
    TDateTime next = 0;
    // The quoted "d" decides, though it is printed as a letter.
    EXPECT_EQ(GlobalFile().ExpandFileMaskUntil("?FORMATDATEyyyy'd'?", next), "2026d");
    EXPECT_EQ(Stamp(next), "2026-12-08 00:00:00.000");
    EXPECT_EQ(GlobalFile().ExpandFileMaskUntil("?FORMATDATEYYYYMM?", next), "202612");
    EXPECT_EQ(Stamp(next), "2027-01-01 00:00:00.000");
}

TEST(FileMask, FormatWithoutUnitLettersLeavesNextChange) {
    PinnedClock clock(EncodeDateTime(2026, 12, 7, 14, 5, 9));
    TDateTime next = 0;
    EXPECT_EQ(GlobalFile().ExpandFileMaskUntil("a?FORMATDATE-_-?b", next), "a-_-b");
    EXPECT_EQ(next, NeverChanges);
}

TEST(FileMask, LastDatePlaceholderSetsNextChange) {
    PinnedClock clock(EncodeDateTime(2026, 12, 7, 14, 5, 9));
    TDateTime next = 0;
    EXPECT_EQ(GlobalFile().ExpandFileMaskUntil("?DATEHEURE?_?DATE?", next),
              "20261207140509_20261207");
    EXPECT_EQ(Stamp(next), "2026-12-08 00:00:00.000");
    EXPECT_EQ(GlobalFile().ExpandFileMaskUntil("?DATE?_?DATEHEURE?", next),
              "20261207_20261207140509");
    EXPECT_EQ(Stamp(next), "2026-12-07 14:05:10.000");
}

TEST(FileMask, RollOverAtTheEndOfADayAMonthAndAYear) {
    TDateTime next = 0;
    {
        PinnedClock clock(EncodeDateTime(2026, 12, 31, 23, 59, 30));
        EXPECT_EQ(GlobalFile().ExpandFileMaskUntil("?FORMATDATEyyyymmddhhnn?", next),
                  "202612312359");
        EXPECT_EQ(Stamp(next), "2027-01-01 00:00:00.000");
        GlobalFile().ExpandFileMaskUntil("?FORMATDATEhh?", next);
        EXPECT_EQ(Stamp(next), "2027-01-01 00:00:00.000");
        GlobalFile().ExpandFileMaskUntil("?DATE?", next);
        EXPECT_EQ(Stamp(next), "2027-01-01 00:00:00.000");
        EXPECT_EQ(GlobalFile().ExpandFileMaskUntil("?DATEHEURE?", next), "20261231235930");
        EXPECT_EQ(Stamp(next), "2026-12-31 23:59:31.000");
    }
    {
        PinnedClock clock(EncodeDateTime(2026, 4, 30, 23, 59, 59, 999));
        GlobalFile().ExpandFileMaskUntil("?DATEHEURE?", next);
        EXPECT_EQ(Stamp(next), "2026-05-01 00:00:00.999");
        GlobalFile().ExpandFileMaskUntil("?FORMATDATEyyyymm?", next);
        EXPECT_EQ(Stamp(next), "2026-05-01 00:00:00.000");
    }
}

TEST(FileMask, LeapDay) {
    TDateTime next = 0;
    {
        PinnedClock clock(EncodeDateTime(2024, 2, 28, 10, 0, 0));
        GlobalFile().ExpandFileMaskUntil("?DATE?", next);
        EXPECT_EQ(Stamp(next), "2024-02-29 00:00:00.000");
    }
    {
        PinnedClock clock(EncodeDateTime(2024, 2, 29, 10, 0, 0));
        EXPECT_EQ(GlobalFile().ExpandFileMaskUntil("log_?DATE?", next), "log_20240229");
        EXPECT_EQ(Stamp(next), "2024-03-01 00:00:00.000");
        GlobalFile().ExpandFileMaskUntil("?FORMATDATEyyyymm?", next);
        EXPECT_EQ(Stamp(next), "2024-03-01 00:00:00.000");
    }
    {
        PinnedClock clock(EncodeDateTime(2023, 2, 28, 10, 0, 0));
        GlobalFile().ExpandFileMaskUntil("?DATE?", next);
        EXPECT_EQ(Stamp(next), "2023-03-01 00:00:00.000");
    }
}

TEST(FileMask, StationNames) {
    ScopedEnv ssh("SSH_CONNECTION", "PC42 51234 10.0.0.1 22");
    ScopedParams params({});
    EXPECT_EQ(GlobalFile().ExpandFileMask("?STATION_NAME?.log"), "TS_PC42.log");
    EXPECT_EQ(GlobalFile().ExpandFileMask("?STATION_NAME_NOTS?.log"), ComputerName() + ".log");
    TDateTime next = 0;
    GlobalFile().ExpandFileMaskUntil("?STATION_NAME?", next);
    EXPECT_EQ(next, NeverChanges);
}

TEST(FileMask, ProgramName) {
    SetProgramFileName("/opt/lumo/lumo4410.bin");
    EXPECT_EQ(GlobalFile().ExpandFileMask("Logs/?EXENAME?.log"), "Logs/lumo4410.log");
    SetProgramKey("lumo4410");
    SetProgramFileName("/opt/lumo/lumo4410-cli");
    EXPECT_EQ(GlobalFile().ExpandFileMask("?EXENAME?"), "lumo4410");
    SetProgramKey("");
    SetProgramFileName("");
}

TEST(FileMask, CommandLineParameters) {
    ScopedParams params({"site=NORD", "empty="});
    EXPECT_EQ(GlobalFile().ExpandFileMask("?PARAMSTR=SITE?"), "NORD");
    EXPECT_EQ(GlobalFile().ExpandFileMask("log_?PARAMSTR=other?_x"), "log__x");
    EXPECT_EQ(GlobalFile().ExpandFileMask("?PARAMSTR=empty?"), "");
}

TEST(FileMask, ValuesAreScannedAgain) {
    PinnedClock clock(EncodeDateTime(2026, 12, 7, 14, 5, 9));
    ScopedParams params({"name=site_?DATE?"});
    TDateTime next = 0;
    EXPECT_EQ(GlobalFile().ExpandFileMaskUntil("?PARAMSTR=name?.log", next), "site_20261207.log");
    EXPECT_EQ(Stamp(next), "2026-12-08 00:00:00.000");
}

TEST(FileMask, InvalidMasks) {
    EXPECT_THROW_MSG(GlobalFile().ExpandFileMask("x?DATE"), "Exception", InvalidMask("x?DATE"));
    EXPECT_THROW_MSG(GlobalFile().ExpandFileMask("?date?"), "Exception", InvalidMask("?date?"));
    EXPECT_THROW_MSG(GlobalFile().ExpandFileMask("a?UNKNOWN?b"), "Exception",
                     InvalidMask("a?UNKNOWN?b"));
    EXPECT_THROW_MSG(GlobalFile().ExpandFileMask("??"), "Exception", InvalidMask("??"));
    EXPECT_THROW_MSG(GlobalFile().ExpandFileMask("?DATE??"), "Exception", InvalidMask("?DATE??"));
    // A value that brings in a bad placeholder fails with the original mask.
    ScopedParams params({"p=?nope?"});
    EXPECT_THROW_MSG(GlobalFile().ExpandFileMask("?PARAMSTR=p?"), "Exception",
                     InvalidMask("?PARAMSTR=p?"));
}

TEST(FileMask, ClosingMarkWithinThreeHundredCharacters) {
    ScopedParams params({std::string(290, 'n') + "=near", std::string(291, 'f') + "=far"});
    // "?PARAMSTR=" and a 290-character name put the closing mark 300 places on.
    const std::string near = "?PARAMSTR=" + std::string(290, 'n') + "?";
    EXPECT_EQ(GlobalFile().ExpandFileMask(near), "near");
    const std::string far = "?PARAMSTR=" + std::string(291, 'f') + "?";
    EXPECT_THROW_MSG(GlobalFile().ExpandFileMask(far), "Exception", InvalidMask(far));
}

TEST(FileMask, KeepsAtMostFourHundredCharactersAfterAPlaceholder) {
    PinnedClock clock(EncodeDateTime(2026, 12, 7, 14, 5, 9));
    const std::string tail(500, 't');
    EXPECT_EQ(GlobalFile().ExpandFileMask("head?DATE?" + tail),
              "head20261207" + std::string(400, 't'));
    EXPECT_EQ(GlobalFile().ExpandFileMask("head" + tail), "head" + tail);
    // A second placeholder cut away is no longer expanded.
    EXPECT_EQ(GlobalFile().ExpandFileMask("?DATE?" + std::string(400, 'x') + "?DATE?"),
              "20261207" + std::string(400, 'x'));
}

TEST(FileMask, SelfReferringParameterIsRefusedInsteadOfLooping) {
    ScopedParams params({"loop=a?PARAMSTR=loop?"});
    EXPECT_THROW_MSG(GlobalFile().ExpandFileMask("?PARAMSTR=loop?"), "Exception",
                     InvalidMask("?PARAMSTR=loop?"));
}

}  // namespace
