#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

#include "../support/TestSupport.h"
#include "LoggingTestUtil.h"
#include "logging/uApplicationLogger.h"
#include "logging/uFileLogger.h"
#include "logging/uMemoryLogger.h"
#include "logging/uWindowsEventLogger.h"
#include "support/Global_Computer.h"

namespace lumo {
namespace {

using testing::FileExists;
using testing::PinnedClock;
using testing::ProgramIn;
using testing::ReadFile;
using testing::ScopedEnv;
using testing::TempFolder;
using testing::WriteFile;

// A file destination writing bare lines to `file`.
std::string FileEntry(const std::string& file, const std::string& extra = "") {
    return "<Logger class=\"TFileLogger\" NiveauMax=\"255\" LogSpecifique=\"0\" "
           "InsertTime=\"False\" InsertNiveauLog=\"False\"" +
           extra + "><FileName>" + file + "</FileName></Logger>";
}

std::string Config(const std::string& version, const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<AppLogger" +
           (version.empty() ? std::string() : " Version=\"" + version + "\"") + ">\n" + body +
           "\n</AppLogger>\n";
}

std::string AppSection(const std::string& exeName, const std::string& loggers) {
    return "<Application ExeName=\"" + exeName + "\">" + loggers + "</Application>";
}

bool IsXmlName(const std::string& name) {
    if (name.empty()) return false;
    const auto first = static_cast<unsigned char>(name[0]);
    if (!std::isalpha(first) && first != '_') return false;
    for (unsigned char c : name)
        if (!std::isalnum(c) && c != '_' && c != '-' && c != '.') return false;
    return true;
}

template <typename F>
std::string ErrorOf(F&& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.ClassName() + "|" + e.Message();
    }
    return "no error";
}

class AppLoggerConfigTest : public ::testing::Test {
  protected:
    void SetUp() override { ShutdownAppLogger(); }
    void TearDown() override {
        ShutdownAppLogger();
        SetEventLogSink({});
    }

    void WriteConfig(const std::string& xml) { WriteFile(dir / "AppLogger.xml", xml); }

    // Logs one line through the application logger and ends it, so that
    // everything queued is written.
    void LogAndShutdown(const std::string& text, std::uint8_t level = 100) {
        AppLogger().Log(text, level, 0);
        ShutdownAppLogger();
    }

    // The host's name as a station section, when it can be an element name.
    std::string HostStation() {
        const std::string name = StationName(false, false);
        return IsXmlName(name) ? name : std::string();
    }

    ScopedEnv noSsh{"SSH_CONNECTION", nullptr};
    ScopedEnv noParam{"LUMO_UNUSED", nullptr};
    TempFolder dir;
    ProgramIn program{dir.Path()};
};

TEST_F(AppLoggerConfigTest, NoFileMeansNoDestinationAndNoError) {
    TApplicationLogger& logger = AppLogger();
    EXPECT_EQ(logger.LoggerCount(), 0);
    EXPECT_EQ(logger.LoggerAt(0), nullptr);
    EXPECT_NO_THROW(logger.Log("rien", 5, 0));
    EXPECT_EQ(&AppLogger(), &logger);
    ShutdownAppLogger();
    EXPECT_EQ(std::filesystem::directory_iterator(dir.Path()),
              std::filesystem::directory_iterator());
}

TEST_F(AppLoggerConfigTest, DirectConstructionFails) {
    EXPECT_EQ(ErrorOf([] { TApplicationLogger direct; }),
              "Exception|Vous devez accéder à la classe TApplicationLogger par le biais de la "
              "fonction AppLogger");
}

TEST_F(AppLoggerConfigTest, EmptyFileMeansNoDestination) {
    WriteConfig("");
    EXPECT_EQ(AppLogger().LoggerCount(), 0);
    ShutdownAppLogger();
    WriteConfig("<?xml version=\"1.0\"?>\n<!-- nothing configured -->\n");
    EXPECT_EQ(AppLogger().LoggerCount(), 0);
}

TEST_F(AppLoggerConfigTest, StationSectionOfThisStation) {
    const std::string station = StationName(true, true);
    if (!IsXmlName(station)) GTEST_SKIP() << "host name is not an element name: " << station;
    WriteConfig(Config("1.2", "<AllStations>" + AppSection("LUMO4410", FileEntry("all.log")) +
                                  "</AllStations><" + station + ">" +
                                  AppSection("LUMO4410", FileEntry("mine.log")) + "</" + station +
                                  ">"));
    EXPECT_EQ(AppLogger().Version(), "1.2");
    ASSERT_EQ(AppLogger().LoggerCount(), 1);
    LogAndShutdown("Ouverture LUMO4410");
    EXPECT_EQ(ReadFile(dir / "mine.log"), "Ouverture LUMO4410\r\n");
    EXPECT_FALSE(FileExists(dir / "all.log"));
}

TEST_F(AppLoggerConfigTest, RemoteStationFallsBackToTheComputerName) {
    const std::string host = HostStation();
    if (host.empty()) GTEST_SKIP() << "host name is not an element name";
    ScopedEnv ssh("SSH_CONNECTION", "10.9.8.7 50000 10.0.0.1 22");
    ASSERT_EQ(StationName(true, true), "TS_10.9.8.7");
    WriteConfig(Config("1.2", "<" + host + ">" + AppSection("LUMO4410", FileEntry("host.log")) +
                                  "</" + host + "><AllStations>" +
                                  AppSection("LUMO4410", FileEntry("all.log")) + "</AllStations>"));
    LogAndShutdown("x");
    EXPECT_EQ(ReadFile(dir / "host.log"), "x\r\n");
    EXPECT_FALSE(FileExists(dir / "all.log"));
}

TEST_F(AppLoggerConfigTest, RemoteStationSectionComesBeforeTheComputerName) {
    const std::string host = HostStation();
    if (host.empty()) GTEST_SKIP() << "host name is not an element name";
    ScopedEnv ssh("SSH_CONNECTION", "10.9.8.7 50000 10.0.0.1 22");
    WriteConfig(Config("1.2", "<" + host + ">" + AppSection("LUMO4410", FileEntry("host.log")) +
                                  "</" + host + "><TS_10.9.8.7>" +
                                  AppSection("LUMO4410", FileEntry("client.log")) +
                                  "</TS_10.9.8.7>"));
    LogAndShutdown("x");
    EXPECT_EQ(ReadFile(dir / "client.log"), "x\r\n");
    EXPECT_FALSE(FileExists(dir / "host.log"));
}

TEST_F(AppLoggerConfigTest, StationWithoutThisApplicationFallsBackToAllStations) {
    const std::string station = StationName(true, true);
    if (!IsXmlName(station)) GTEST_SKIP() << "host name is not an element name";
    WriteConfig(Config("1.2", "<" + station + ">" + AppSection("OTHERPROG", FileEntry("o.log")) +
                                  "</" + station + "><AllStations>" +
                                  AppSection("LUMO4410", FileEntry("all.log")) + "</AllStations>"));
    LogAndShutdown("x");
    EXPECT_EQ(ReadFile(dir / "all.log"), "x\r\n");
    EXPECT_FALSE(FileExists(dir / "o.log"));
}

TEST_F(AppLoggerConfigTest, MatchingSectionWithoutLoggersStopsTheSearch) {
    const std::string station = StationName(true, true);
    if (!IsXmlName(station)) GTEST_SKIP() << "host name is not an element name";
    WriteConfig(Config("1.2", "<" + station + ">" + AppSection("LUMO4410", "") + "</" + station +
                                  "><AllStations>" + AppSection("LUMO4410", FileEntry("all.log")) +
                                  "</AllStations>"));
    EXPECT_EQ(AppLogger().LoggerCount(), 0);
    LogAndShutdown("x");
    EXPECT_FALSE(FileExists(dir / "all.log"));
}

TEST_F(AppLoggerConfigTest, OtherStationsAreIgnored) {
    WriteConfig(Config("1.2", "<SomeOtherStation>" + AppSection("LUMO4410", FileEntry("o.log")) +
                                  "</SomeOtherStation>"));
    EXPECT_EQ(AppLogger().LoggerCount(), 0);
}

TEST_F(AppLoggerConfigTest, ExeNameIsComparedExactly) {
    WriteConfig(Config("1.2", "<AllStations>" + AppSection("lumo4410", FileEntry("lower.log")) +
                                  "<AllApplications>" + FileEntry("any.log") +
                                  "</AllApplications></AllStations>"));
    LogAndShutdown("x");
    EXPECT_EQ(ReadFile(dir / "any.log"), "x\r\n");
    EXPECT_FALSE(FileExists(dir / "lower.log"));
}

TEST_F(AppLoggerConfigTest, FirstMatchingApplicationWins) {
    WriteConfig(Config("1.2", "<AllStations><Application>" + FileEntry("noname.log") +
                                  "</Application>" + AppSection("LUMO4410", FileEntry("1.log")) +
                                  AppSection("LUMO4410", FileEntry("2.log")) + "</AllStations>"));
    EXPECT_EQ(AppLogger().LoggerCount(), 1);
    LogAndShutdown("x");
    EXPECT_EQ(ReadFile(dir / "1.log"), "x\r\n");
    EXPECT_FALSE(FileExists(dir / "2.log"));
    EXPECT_FALSE(FileExists(dir / "noname.log"));
}

TEST_F(AppLoggerConfigTest, ProgramKeyIsTheUpperCaseFileNameWithoutExtension) {
    ProgramIn named(dir.Path(), "Lumo4410.exe");
    WriteConfig(Config(
        "1.2", "<AllStations>" + AppSection("LUMO4410", FileEntry("k.log")) + "</AllStations>"));
    EXPECT_EQ(AppLogger().LoggerCount(), 1);
}

TEST_F(AppLoggerConfigTest, KeyStartingWithTheTitleBecomesTheTitle) {
    ProgramIn named(dir.Path(), "monitorTool_debug", "MonitorTool");
    WriteConfig(
        Config("1.2", "<AllStations>" + AppSection("MONITORTOOL_DEBUG", FileEntry("k.log")) +
                          AppSection("MONITORTOOL", FileEntry("t.log")) + "</AllStations>"));
    LogAndShutdown("x");
    EXPECT_EQ(ReadFile(dir / "t.log"), "x\r\n");
    EXPECT_FALSE(FileExists(dir / "k.log"));
}

TEST_F(AppLoggerConfigTest, TitleSectionOnlyUpToVersionOneOne) {
    ProgramIn named(dir.Path(), "lumo4410", "TestWorklist");
    const std::string body = "<AllStations><TestWorklist>" + FileEntry("title.log") +
                             "</TestWorklist><AllApplications>" + FileEntry("any.log") +
                             "</AllApplications></AllStations>";
    for (const std::string version : {"", "1.0", "1.1"}) {
        WriteConfig(Config(version, body));
        LogAndShutdown("v" + version);
        EXPECT_EQ(ReadFile(dir / "title.log"), "v" + version + "\r\n") << version;
        EXPECT_FALSE(FileExists(dir / "any.log")) << version;
        std::filesystem::remove(dir / "title.log");
    }
    for (const std::string version : {"1.2", "1.10", "2"}) {
        WriteConfig(Config(version, body));
        LogAndShutdown("v" + version);
        EXPECT_EQ(ReadFile(dir / "any.log"), "v" + version + "\r\n") << version;
        EXPECT_FALSE(FileExists(dir / "title.log")) << version;
    }
}

TEST_F(AppLoggerConfigTest, UnknownClassIsSkippedAboveVersionOneTwo) {
    WriteConfig(Config("1.3", "<AllStations>" +
                                  AppSection("LUMO4410",
                                             "<L class=\"TSqlLogger\" NiveauMax=\"5\" "
                                             "LogSpecifique=\"0\"/>" +
                                                 FileEntry("f.log")) +
                                  "</AllStations>"));
    EXPECT_EQ(AppLogger().LoggerCount(), 1);
    LogAndShutdown("x");
    EXPECT_EQ(ReadFile(dir / "f.log"), "x\r\n");
}

TEST_F(AppLoggerConfigTest, UnknownClassFailsUpToVersionOneTwoWithTheDoubledPrefix) {
    for (const std::string version : {"1.2", "1.0", "", "1.10"}) {
        WriteConfig(Config(
            version, "<AllStations>" +
                         AppSection("LUMO4410", FileEntry("f.log") + "<L class=\"tfilelogger\" "
                                                                     "NiveauMax=\"5\" "
                                                                     "LogSpecifique=\"0\"/>") +
                         "</AllStations>"));
        EXPECT_EQ(ErrorOf([] { AppLogger(); }),
                  "Exception|TApplicationLogger : TApplicationLogger : Configuration inattendue "
                  "(tfilelogger)")
            << version;
    }
}

TEST_F(AppLoggerConfigTest, MissingClassIsAnUnknownClass) {
    WriteConfig(
        Config("1.2", "<AllStations>" +
                          AppSection("LUMO4410", "<L NiveauMax=\"5\" LogSpecifique=\"0\"/>") +
                          "</AllStations>"));
    EXPECT_EQ(ErrorOf([] { AppLogger(); }),
              "Exception|TApplicationLogger : TApplicationLogger : Configuration inattendue ()");
}

TEST_F(AppLoggerConfigTest, MissingNiveauMaxOrLogSpecifiqueFailsTheConfiguration) {
    WriteConfig(Config("1.2", "<AllStations>" +
                                  AppSection("LUMO4410",
                                             "<L class=\"TFileLogger\" "
                                             "LogSpecifique=\"0\"/>") +
                                  "</AllStations>"));
    EXPECT_EQ(ErrorOf([] { AppLogger(); }),
              "Exception|TApplicationLogger : '' is not a valid integer value");
    WriteConfig(Config("1.2", "<AllStations>" +
                                  AppSection("LUMO4410",
                                             "<L class=\"TFileLogger\" "
                                             "NiveauMax=\"9\"/>") +
                                  "</AllStations>"));
    EXPECT_EQ(ErrorOf([] { AppLogger(); }),
              "Exception|TApplicationLogger : '' is not a valid integer value");
}

TEST_F(AppLoggerConfigTest, FailedCreationIsRetriedAtTheNextCall) {
    WriteConfig(Config(
        "1.2",
        "<AllStations>" + AppSection("LUMO4410", "<L class=\"TFileLogger\"/>") + "</AllStations>"));
    EXPECT_NE(ErrorOf([] { AppLogger(); }), "no error");
    EXPECT_NE(ErrorOf([] { AppLogger(); }), "no error");
    WriteConfig(Config(
        "1.2", "<AllStations>" + AppSection("LUMO4410", FileEntry("ok.log")) + "</AllStations>"));
    EXPECT_EQ(AppLogger().LoggerCount(), 1);
    LogAndShutdown("enfin");
    EXPECT_EQ(ReadFile(dir / "ok.log"), "enfin\r\n");
}

TEST_F(AppLoggerConfigTest, AttributesAndTheirDefaults) {
    WriteConfig(Config(
        "1.2",
        "<AllStations><Application ExeName=\"LUMO4410\">"
        "<A class=\"TFileLogger\" NiveauMax=\"200\" "
        "LogSpecifique=\"-1\"><FileName>a.log</FileName></A>"
        "<B class=\"TFileLogger\" NiveauMax=\"50\" LogSpecifique=\"7\" InsertTime=\"0\" "
        "InsertNiveauLog=\"false\" FormatDateTime=\"hh:nn\"><FileName>b.log</FileName></B>"
        "<C class=\"TWindowsEventLogger\" NiveauMax=\"255\" LogSpecifique=\"0\" InsertTime=\"1\" "
        "InsertNiveauLog=\"TRUE\"/>"
        "</Application></AllStations>"));
    TApplicationLogger& logger = AppLogger();
    ASSERT_EQ(logger.LoggerCount(), 3);
    const TLogger* a = logger.LoggerAt(0);
    EXPECT_NE(dynamic_cast<const TFileLogger*>(a), nullptr);
    EXPECT_EQ(a->NiveauMax, 200);
    EXPECT_EQ(a->LogSpecifique, -1);
    EXPECT_TRUE(a->InsertTime);
    EXPECT_TRUE(a->InsertNiveauLog);
    EXPECT_EQ(a->FormatDateTime, "yyyy-mm-dd hh:nn:ss.zzz");
    const TLogger* b = logger.LoggerAt(1);
    EXPECT_EQ(b->NiveauMax, 50);
    EXPECT_EQ(b->LogSpecifique, 7);
    EXPECT_FALSE(b->InsertTime);
    EXPECT_FALSE(b->InsertNiveauLog);
    EXPECT_EQ(b->FormatDateTime, "hh:nn");
    const TLogger* c = logger.LoggerAt(2);
    EXPECT_NE(dynamic_cast<const TWindowsEventLogger*>(c), nullptr);
    EXPECT_EQ(c->NiveauMax, 255);
    EXPECT_TRUE(c->InsertTime);
    EXPECT_EQ(logger.LoggerAt(3), nullptr);
    EXPECT_EQ(logger.LoggerAt(-1), nullptr);
}

TEST_F(AppLoggerConfigTest, InvalidBooleanFailsTheConfiguration) {
    WriteConfig(Config("1.2", "<AllStations>" +
                                  AppSection("LUMO4410",
                                             "<L class=\"TFileLogger\" NiveauMax=\"1\" "
                                             "LogSpecifique=\"0\" InsertTime=\"Oui\"/>") +
                                  "</AllStations>"));
    EXPECT_EQ(ErrorOf([] { AppLogger(); }),
              "Exception|TApplicationLogger : 'Oui' is not a valid boolean value");
}

TEST_F(AppLoggerConfigTest, DestinationErrorsGetThePrefix) {
    WriteConfig(Config("1.2", "<AllStations>" +
                                  AppSection("LUMO4410",
                                             "<M class=\"TMemoryLogger\" NiveauMax=\"5\" "
                                             "LogSpecifique=\"0\"><MaxLigne>dix</MaxLigne></M>") +
                                  "</AllStations>"));
    EXPECT_EQ(ErrorOf([] { AppLogger(); }),
              "Exception|TApplicationLogger : MemoryLogger : Paramètre MaxLigne doit être un "
              "entier");
    WriteConfig(Config(
        "1.2", "<AllStations>" + AppSection("LUMO4410", FileEntry("x?DATE")) + "</AllStations>"));
    EXPECT_EQ(ErrorOf([] { AppLogger(); }),
              "Exception|TApplicationLogger : FileLogger : Masque de fichier invalide "
              "\"x?DATE\"");
}

TEST_F(AppLoggerConfigTest, MalformedFileSaysWhereItBroke) {
    WriteConfig("<AppLogger Version=\"1.2\">\n<AllStations>\n</AppLogger>\n");
    const std::string error = ErrorOf([] { AppLogger(); });
    EXPECT_EQ(error, "Exception|TApplicationLogger : Fichier XML invalide \"" +
                         (dir / "AppLogger.xml") +
                         "\" : Start-end tags mismatch (ligne 3, colonne 3)");
}

TEST_F(AppLoggerConfigTest, ConfigurationThatIsNotAFileIsIgnoredOrRefused) {
    std::filesystem::create_directory(dir / "AppLogger.xml");
    EXPECT_EQ(AppLogger().LoggerCount(), 0);
    ShutdownAppLogger();
    std::filesystem::remove(dir / "AppLogger.xml");
    // A pipe would block a plain read for ever.
    ASSERT_EQ(::mkfifo((dir / "AppLogger.xml").c_str(), 0600), 0);
    EXPECT_EQ(ErrorOf([] { AppLogger(); }),
              "Exception|TApplicationLogger : Pas un fichier ordinaire (" +
                  (dir / "AppLogger.xml") + ")");
}

TEST_F(AppLoggerConfigTest, FilesThatAreNoPlainFilesAreRefusedWithoutWaiting) {
    const auto entry = [](const std::string& kind, const std::string& more) {
        return "<L class=\"" + kind +
               "\" NiveauMax=\"1\" LogSpecifique=\"0\"><FileName>%</FileName>" + more + "</L>";
    };
    const std::string notPlain = "Pas un fichier ordinaire";
    const struct {
        std::string entry, file, kind, reason;  // % stands for the file's full name
    } cases[] = {
        {"", "AppLogger.xml", "big", "Fichier trop volumineux"},
        {entry("TFileLogger", ""), "f.log", "fifo", notPlain},
        {entry("TFileLogger", ""), "f.log", "zero", notPlain},
        // Only a regular file is moved aside, never a pipe nor a device.
        {entry("TFileLogger", "<RenameFileTo>%.old</RenameFileTo>"), "f.log", "fifo", notPlain},
        {entry("TMemoryLogger", ""), "m.log", "fifo", notPlain},
        {entry("TFileLogger", ""), "/dev/null", "", ""},
    };
    for (const auto& c : cases) {
        for (const auto& old : std::filesystem::directory_iterator(dir.Path()))
            std::filesystem::remove_all(old.path());
        const std::string file = c.kind.empty() ? c.file : dir / c.file;
        std::string xml = c.entry;
        for (auto at = xml.find('%'); at != std::string::npos; at = xml.find('%', at))
            xml.replace(at, 1, file);
        if (!xml.empty())
            WriteConfig(
                Config("1.2", "<AllStations>" + AppSection("LUMO4410", xml) + "</AllStations>"));
        lumo::test::MakeOddFile(c.kind, file);
        EXPECT_TRUE(lumo::test::InChild([&] {
            EXPECT_EQ(ErrorOf([] { AppLogger(); }),
                      c.reason.empty()
                          ? "no error"
                          : "Exception|TApplicationLogger : " + c.reason + " (" + file + ")");
        })) << c.file
            << " " << c.kind << " " << c.entry;
    }
}

TEST_F(AppLoggerConfigTest, NumbersOutOfRangeAreConfigurationErrors) {
    const std::string int32 = " (de -2147483648 à 2147483647)";
    const std::pair<std::string, std::string> cases[] = {
        {"NiveauMax=\"300\" LogSpecifique=\"0\">",
         "Attribut NiveauMax hors limites : 300 (de 0 à 255)"},
        {"NiveauMax=\"-1\" LogSpecifique=\"0\">",
         "Attribut NiveauMax hors limites : -1 (de 0 à 255)"},
        {"NiveauMax=\"0\" LogSpecifique=\"2147483648\">",
         "Attribut LogSpecifique hors limites : 2147483648" + int32},
        {"NiveauMax=\"1\" LogSpecifique=\"0\"><MaxLigne>4294967296</MaxLigne>",
         "MemoryLogger : Paramètre MaxLigne hors limites : 4294967296" + int32},
        // Beyond 64 bits as well.
        {"NiveauMax=\"1\" LogSpecifique=\"0\"><NiveauDump>-99999999999999999999</NiveauDump>",
         "MemoryLogger : Paramètre NiveauDump hors limites : -99999999999999999999" + int32},
    };
    for (const auto& [entry, expected] : cases) {
        WriteConfig(Config(
            "1.2", "<AllStations>" +
                       AppSection("LUMO4410", "<M class=\"TMemoryLogger\" " + entry + "</M>") +
                       "</AllStations>"));
        EXPECT_EQ(ErrorOf([] { AppLogger(); }), "Exception|TApplicationLogger : " + expected)
            << entry;
        ShutdownAppLogger();
    }
}

TEST_F(AppLoggerConfigTest, HostileDocumentsFailCleanly) {
    const std::string deep(100000, '<');
    WriteConfig(deep);
    EXPECT_NE(ErrorOf([] { AppLogger(); }), "no error");
    std::string nested;
    for (int i = 0; i < 20000; ++i) nested += "<a>";
    WriteConfig(nested);
    EXPECT_NE(ErrorOf([] { AppLogger(); }), "no error");
    // Entities are not expanded: no billion laughs.
    WriteConfig(
        "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;\">]>"
        "<r Version=\"&b;\"><AllStations/></r>");
    EXPECT_EQ(ErrorOf([] { AppLogger(); }), "no error");
    EXPECT_EQ(AppLogger().LoggerCount(), 0);
}

TEST_F(AppLoggerConfigTest, CommentsAndTextAreNotLoggerEntries) {
    WriteConfig(Config("1.2",
                       "<AllStations><Application ExeName=\"LUMO4410\">\n"
                       "  <!-- the operators' log -->\n  stray text\n" +
                           FileEntry("a.log") + "<?pi x?></Application></AllStations>"));
    EXPECT_EQ(AppLogger().LoggerCount(), 1);
}

TEST_F(AppLoggerConfigTest, ChildElementsAreParametersInOrder) {
    WriteConfig(Config("1.2", "<AllStations>" +
                                  AppSection("LUMO4410",
                                             "<M class=\"TMemoryLogger\" NiveauMax=\"255\" "
                                             "LogSpecifique=\"0\" InsertTime=\"False\" "
                                             "InsertNiveauLog=\"False\"><MaxLigne>9</MaxLigne>"
                                             "<FileName>m.log</FileName><MaxLigne>2</MaxLigne>"
                                             "<DumpType>Buffer</DumpType></M>") +
                                  "</AllStations>"));
    const auto* memory = dynamic_cast<const TMemoryLogger*>(AppLogger().LoggerAt(0));
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(memory->MaxLigne(), 2);
    EXPECT_EQ(memory->CurrentFileName(), dir / "m.log");
    AppLogger().Log("1", 1, 0);
    AppLogger().Log("2", 1, 0);
    AppLogger().Log("3", 1, 0);
    ShutdownAppLogger();  // the third line is dumped when the logger goes
    EXPECT_EQ(ReadFile(dir / "m.log"), "1\r\n2\r\n3\r\n");
}

TEST_F(AppLoggerConfigTest, VersionOneZeroReadsAttributeParameters) {
    const std::string body =
        "<AllStations>" +
        AppSection("LUMO4410",
                   "<F class=\"TFileLogger\" NiveauMax=\"255\" LogSpecifique=\"0\" "
                   "InsertTime=\"False\" InsertNiveauLog=\"False\" FileName=\"f.log\"/>"
                   "<M class=\"TMemoryLogger\" NiveauMax=\"255\" LogSpecifique=\"0\" "
                   "InsertTime=\"False\" InsertNiveauLog=\"False\" MaxLigne=\"5\" "
                   "FileName=\"m.log\"><MaxLigne>1</MaxLigne></M>") +
        "</AllStations>";
    WriteConfig(Config("1.0", body));
    ASSERT_EQ(AppLogger().LoggerCount(), 2);
    EXPECT_EQ(dynamic_cast<const TMemoryLogger*>(AppLogger().LoggerAt(1))->MaxLigne(), 1);
    LogAndShutdown("v1.0");
    EXPECT_EQ(ReadFile(dir / "f.log"), "v1.0\r\n");
    EXPECT_EQ(ReadFile(dir / "m.log"), "v1.0\r\n");

    // Later versions ignore those attributes: no file, and the memory logger
    // keeps its default size.
    std::filesystem::remove(dir / "f.log");
    std::filesystem::remove(dir / "m.log");
    WriteConfig(Config("1.1", body));
    ASSERT_EQ(AppLogger().LoggerCount(), 2);
    EXPECT_EQ(dynamic_cast<const TFileLogger*>(AppLogger().LoggerAt(0))->CurrentFileName(), "");
    LogAndShutdown("v1.1");
    EXPECT_FALSE(FileExists(dir / "f.log"));
    EXPECT_FALSE(FileExists(dir / "m.log"));
}

TEST_F(AppLoggerConfigTest, EveryDestinationKindFromOneFile) {
    std::vector<std::string> events;
    std::mutex eventsMutex;
    SetEventLogSink([&](int, const std::string& source, const std::string& line) {
        std::lock_guard lock(eventsMutex);
        events.push_back(source + "|" + line);
    });
    PinnedClock clock(EncodeDateTime(2026, 12, 7, 9, 41, 3, 250));
    WriteConfig(Config("1.2", "<AllStations>" +
                                  AppSection("LUMO4410",
                                             "<F class=\"TFileLogger\" NiveauMax=\"250\" "
                                             "LogSpecifique=\"0\"><FileName>app_?DATE?.log</"
                                             "FileName><DoAppend>True</DoAppend></F>"
                                             "<E class=\"TWindowsEventLogger\" NiveauMax=\"5\" "
                                             "LogSpecifique=\"0\"/>") +
                                  "</AllStations>"));
    AppLogger().Log("Ouverture LUMO4410", 100, 0);
    AppLogger().Log("Exception dans X", 5, 0);
    AppLogger().Log("hors filtre", 251, 0);
    ShutdownAppLogger();
    EXPECT_EQ(ReadFile(dir / "app_20261207.log"),
              "2026-12-07 09:41:03.250: [100] Ouverture LUMO4410\r\n"
              "2026-12-07 09:41:03.250: [005] Exception dans X\r\n");
    std::lock_guard lock(eventsMutex);
    EXPECT_EQ(events, (std::vector<std::string>{
                          "Test Worklist|2026-12-07 09:41:03.250: [005] Exception dans X"}));
}

TEST_F(AppLoggerConfigTest, LoggersKeepFileOrder) {
    WriteConfig(
        Config("1.2", "<AllStations>" +
                          AppSection("LUMO4410", FileEntry("first.log") + FileEntry("second.log")) +
                          "</AllStations>"));
    ASSERT_EQ(AppLogger().LoggerCount(), 2);
    EXPECT_EQ(dynamic_cast<const TFileLogger*>(AppLogger().LoggerAt(0))->CurrentFileName(),
              dir / "first.log");
    EXPECT_EQ(dynamic_cast<const TFileLogger*>(AppLogger().LoggerAt(1))->CurrentFileName(),
              dir / "second.log");
}

}  // namespace
}  // namespace lumo
