#include "app/pacsFunctionsProcedures.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"
#include "logging/uApplicationLogger.h"
#include "support/Application.h"
#include "support/DateTime.h"

namespace lumo::app {
namespace {

using dicom::DicomAttributes;
using dicom::DicomDataSet;
using dicom::DicomDataSets;
using dicom::Variant;

// The French locale for the whole test, restored afterwards.
class FrenchLocale {
  public:
    FrenchLocale() : old_(std::setlocale(LC_ALL, nullptr)) {
        ok_ = std::setlocale(LC_ALL, "fr_FR.UTF-8") != nullptr;
    }
    ~FrenchLocale() { std::setlocale(LC_ALL, old_.c_str()); }
    bool Ok() const { return ok_; }

  private:
    std::string old_;
    bool ok_ = false;
};

// An application logger writing bare lines into a file of a temporary
// program folder, so the trapped failures can be read back.
class PacsFunctionsProcedures : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/lumo-pacs-XXXXXX";
        folder_ = ::mkdtemp(pattern);
        ShutdownAppLogger();
        SetProgramFileName(folder_ + "/lumo4410");
        SetApplicationTitle("Test Worklist");
        std::ofstream(folder_ + "/AppLogger.xml")
            << "<AppLogger Version=\"1.2\"><AllStations><AllApplications>"
               "<L class=\"TFileLogger\" NiveauMax=\"255\" LogSpecifique=\"0\" "
               "InsertTime=\"False\" InsertNiveauLog=\"True\"><FileName>"
            << folder_ << "/log.txt</FileName></L></AllApplications></AllStations></AppLogger>";
    }
    void TearDown() override {
        ShutdownAppLogger();
        SetProgramFileName("");
        std::filesystem::remove_all(folder_);
    }

    std::string Log() {
        ShutdownAppLogger();  // writes what is queued
        std::ifstream in(folder_ + "/log.txt", std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    DicomDataSet dataSet_;
    DicomAttributes attributes_{dataSet_};
    std::string folder_;
};

TEST_F(PacsFunctionsProcedures, AbsentAttributeIsEmptyAndSilent) {
    EXPECT_EQ(pacsRetDicomAttr(attributes_, 8, 96), "");
    EXPECT_EQ(pacsRetFirstDicomAttr(attributes_, 8, 96), "");
    // A tag number beyond 16 bits names nothing rather than another tag.
    attributes_.AttributesAdd(0x0008, 0x0060, Variant("CT"));
    EXPECT_EQ(pacsRetDicomAttr(attributes_, 8 + 0x10000, 96), "");
    EXPECT_EQ(Log(), "");
}

TEST_F(PacsFunctionsProcedures, MultiValuesJoinedAndTrimmedOneByOne) {
    attributes_.AttributesAdd(0x0008, 0x0061, Variant("CT\\MR\\PT"));
    EXPECT_EQ(pacsRetDicomAttr(attributes_, 8, 97), "CT,MR,PT");
    EXPECT_EQ(pacsRetFirstDicomAttr(attributes_, 8, 97), "CT");

    attributes_.AttributesAdd(0x0008, 0x0061, Variant(" CT \\MR "));
    EXPECT_EQ(pacsRetDicomAttr(attributes_, 8, 97), "CT,MR");

    // An empty value keeps its place between two commas.
    attributes_.AttributesAdd(0x0008, 0x0061, Variant("CT\\\\MR"));
    EXPECT_EQ(pacsRetDicomAttr(attributes_, 8, 97), "CT,,MR");
    EXPECT_EQ(Log(), "");
}

TEST_F(PacsFunctionsProcedures, SingleValuesTrimmedNullEmpty) {
    attributes_.AttributesAdd(0x0010, 0x0010, Variant("  ABC \t"));
    EXPECT_EQ(pacsRetDicomAttr(attributes_, 0x10, 0x10), "ABC");
    EXPECT_EQ(pacsRetFirstDicomAttr(attributes_, 0x10, 0x10), "ABC");

    attributes_.AttributesAdd(0x0010, 0x0020, Variant(""));  // present, null
    EXPECT_EQ(pacsRetDicomAttr(attributes_, 0x10, 0x20), "");

    attributes_.AttributesAdd(0x0020, 0x1208, Variant("12"));  // IS: an integer
    EXPECT_EQ(pacsRetDicomAttr(attributes_, 0x20, 0x1208), "12");
}

TEST_F(PacsFunctionsProcedures, DatesUnderFrenchLocale) {
    FrenchLocale french;
    if (!french.Ok()) GTEST_SKIP() << "fr_FR.UTF-8 is not installed";

    attributes_.AttributesAdd(0x0008, 0x0020, Variant("20261207"));  // DA
    EXPECT_EQ(pacsRetDicomAttr(attributes_, 8, 0x20), "07/12/2026");

    attributes_.AttributesAdd(0x0040, 0x0002,
                              Variant::DateTime(EncodeDateTime(2026, 12, 7, 14, 5, 9)));
    // A DA attribute keeps the date only; a DT keeps the time of day as well.
    EXPECT_EQ(pacsRetDicomAttr(attributes_, 0x40, 0x02), "07/12/2026");
    attributes_.AttributesAdd(0x0008, 0x002A, Variant("20261207140509"));  // DT
    EXPECT_EQ(pacsRetDicomAttr(attributes_, 8, 0x2A), "07/12/2026 14:05:09");

    // A time of day alone is not a calendar date: the general conversion.
    attributes_.AttributesAdd(0x0008, 0x0030, Variant("140509"));  // TM
    EXPECT_EQ(pacsRetDicomAttr(attributes_, 8, 0x30), "14:05:09");
    EXPECT_EQ(Log(), "");
}

TEST_F(PacsFunctionsProcedures, FailureAfterPresenceIsLoggedAtLevelFive) {
    DicomDataSets items;
    items.DataSetsAppend(DicomDataSet());
    attributes_.AttributesAdd(0x0040, 0x0100, Variant(items));

    // A sequence has no text form: trapped, logged, empty result.
    EXPECT_EQ(pacsRetDicomAttr(attributes_, 0x40, 0x100), "");
    EXPECT_EQ(pacsRetFirstDicomAttr(attributes_, 0x40, 0x100), "");

    const std::string log = Log();
    EXPECT_NE(log.find("[005] Exception dans pacsRetDicomAttr(64,256):EVariantTypeCastError:"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("[005] Exception dans pacsRetFirstDicomAttr(64,256):EVariantTypeCastError:"),
              std::string::npos)
        << log;
}

}  // namespace
}  // namespace lumo::app
