#include <dcmtk/dcmdata/dcdicent.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dicom/data/DicomAttribute.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"

namespace lumo::dicom {
namespace {

std::string NameOf(std::uint16_t group, std::uint16_t element) {
    return DicomDataSet().DataSetAttributes().AttributesFind(group, element).AttributeDisplayName();
}

TEST(DisplayName, StandardNamesOfTheConsolesAttributes) {
    EXPECT_EQ(NameOf(0x0008, 0x0100), "Code Value");
    EXPECT_EQ(NameOf(0x0040, 0x0009), "Scheduled Procedure Step ID");
    EXPECT_EQ(NameOf(0x0008, 0x0090), "Referring Physician's Name");
    EXPECT_EQ(NameOf(0x0008, 0x1070), "Operators' Name");
    EXPECT_EQ(NameOf(0x0040, 0x0100), "Scheduled Procedure Step Sequence");
    EXPECT_EQ(NameOf(0x0032, 0x1064), "Requested Procedure Code Sequence");
    EXPECT_EQ(NameOf(0x0008, 0x0051), "Issuer of Accession Number Sequence");
    EXPECT_EQ(NameOf(0x0018, 0x1018), "Secondary Capture Device Manufacturer's Model Name");
    EXPECT_EQ(NameOf(0x0000, 0x0800), "Command Data Set Type");
    EXPECT_EQ(NameOf(0x0008, 0x0001), "Length to End");  // retired names stay known
}

TEST(DisplayName, RepeatingGroupsHaveTheirFamilysName) {
    EXPECT_EQ(NameOf(0x6000, 0x3000), "Overlay Data");
    EXPECT_EQ(NameOf(0x6002, 0x3000), "Overlay Data");
    EXPECT_EQ(NameOf(0x601E, 0x0010), "Overlay Rows");
    EXPECT_EQ(NameOf(0x5000, 0x3000), "Curve Data");
}

TEST(DisplayName, PrivateGroupLengthAndUnknownTags) {
    EXPECT_EQ(NameOf(0x0029, 0x0010), "Private Creator");
    EXPECT_EQ(NameOf(0x0029, 0x1010), "Private tag data");
    EXPECT_EQ(NameOf(0x0008, 0x0000), "Group Length");
    EXPECT_EQ(NameOf(0x0012, 0x0099), "Unknown");
}

TEST(DisplayName, TagsNewerThanTheTableTakeDcmtksKeywordAsWords) {
    EXPECT_EQ(NameOf(0x0008, 0x0017), "Acquisition UID");
    EXPECT_EQ(NameOf(0x0006, 0x0001), "Current Frame Functional Groups Sequence");
    EXPECT_EQ(NameOf(0x0020, 0x0027), "Pyramid Label");
}

TEST(DisplayName, NameDoesNotDependOnPresence) {
    DicomDataSet dataSet;
    dataSet.DataSetAttributes().AttributesAdd(0x0040, 0x0009, Variant("SPS1"));
    EXPECT_EQ(dataSet.DataSetAttributes().AttributesItemAt(1).AttributeDisplayName(),
              "Scheduled Procedure Step ID");
}

// The generated table is searched by halves: any tag of the standard that
// DCMTK's own dictionary knows must be found in it.
TEST(DisplayName, EveryStandardTagOfDcmtksDictionaryHasAName) {
    std::vector<std::uint32_t> tags;
    DcmDataDictionary& dictionary = dcmDataDict.wrlock();  // its iterators are not const
    for (auto it = dictionary.normalBegin(); it != dictionary.normalEnd(); ++it) {
        const DcmDictEntry* entry = *it;
        if (entry->getPrivateCreator() != nullptr || entry->getGroup() % 2 == 1) continue;
        tags.push_back((static_cast<std::uint32_t>(entry->getGroup()) << 16) | entry->getElement());
    }
    dcmDataDict.wrunlock();
    ASSERT_GT(tags.size(), 3000u);
    std::vector<std::string> unnamed;
    for (std::uint32_t tag : tags) {
        const std::string name =
            NameOf(static_cast<std::uint16_t>(tag >> 16), static_cast<std::uint16_t>(tag));
        if (name == "Unknown" || name.empty()) {
            char text[16];
            std::snprintf(text, sizeof text, "%08X", tag);
            unnamed.emplace_back(text);
        }
    }
    EXPECT_TRUE(unnamed.empty()) << unnamed.size() << testing::PrintToString(unnamed);
}

std::string FileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The committed table is what the generator makes: nobody edited it by hand.
TEST(DisplayName, CommittedTableIsWhatTheGeneratorMakes) {
    // The source tree: from ctest's environment, else from where this file was
    // compiled (tests/dicom/ under the root).
    const char* sourceDir = std::getenv("LUMO_SOURCE_DIR");
    const std::filesystem::path source =
        sourceDir != nullptr
            ? std::filesystem::path(sourceDir)
            : std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
    if (!std::filesystem::exists(source / "scripts/gen-display-names.py")) {
        GTEST_SKIP() << "source tree not found from " << source;
    }
    char pattern[] = "/tmp/lumo-names-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path folder(pattern);
    const std::filesystem::path generated = folder / "DicomDisplayNames.cpp";
    const std::string command = "python3 '" + (source / "scripts/gen-display-names.py").string() +
                                "' '" + generated.string() + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(FileText(generated), FileText(source / "dicom/data/detail/DicomDisplayNames.cpp"));
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace lumo::dicom
