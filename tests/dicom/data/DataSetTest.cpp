#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dicom/data/DicomAttribute.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/data/Variant.h"
#include "support/DateTime.h"
#include "support/Exception.h"

namespace lumo::dicom {
namespace {

template <typename Action>
void ExpectError(Action&& action, const std::string& className, const std::string& message) {
    try {
        action();
        ADD_FAILURE() << "no error raised, expected " << className << ": " << message;
    } catch (const Exception& e) {
        EXPECT_EQ(e.ClassName(), className);
        EXPECT_EQ(e.Message(), message);
    }
}

// A folder of its own under /tmp, removed with everything in it.
class TempFolder {
  public:
    TempFolder() {
        char pattern[] = "/tmp/lumo-dataset-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = made;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// Runs a command and gives its standard output.
std::string RunTool(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    std::array<char, 4096> buffer{};
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        output.append(buffer.data(), got);
    }
    pclose(pipe);
    return output;
}

std::string FileBytes(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string TextOf(const DicomDataSet& dataSet, std::uint16_t group, std::uint16_t element) {
    return VarToStr(
        dataSet.DataSetAttributes().AttributesFind(group, element).AttributeWideValue());
}

std::vector<std::string> TagsInOrder(const DicomDataSet& dataSet) {
    std::vector<std::string> tags;
    const DicomAttributes attributes = dataSet.DataSetAttributes();
    for (int position = 1; position <= attributes.AttributesCount(); ++position) {
        const DicomAttribute attribute = attributes.AttributesItemAt(position);
        char text[16];
        std::snprintf(text, sizeof text, "%04X,%04X", attribute.Group(), attribute.Element());
        tags.emplace_back(text);
    }
    return tags;
}

TEST(DataSetAttributes, NewDataSetIsEmpty) {
    DicomDataSet dataSet;
    EXPECT_EQ(dataSet.DataSetAttributes().AttributesCount(), 0);
    ExpectError([&] { dataSet.DataSetAttributes().AttributesItemAt(1); }, "EDicomError",
                "List index out of bounds (1)");
}

TEST(DataSetAttributes, ItemAtWalksInAscendingTagOrder) {
    DicomDataSet dataSet;
    DicomAttributes attributes = dataSet.DataSetAttributes();
    attributes.AttributesAdd(0x0040, 0x0100, Variant(DicomDataSets()));
    attributes.AttributesAdd(0x0010, 0x0020, Variant("ID1"));
    attributes.AttributesAdd(0x0008, 0x0050, Variant("A1"));
    attributes.AttributesAdd(0x0000, 0x0800, Variant("0"));
    attributes.AttributesAdd(0x0008, 0x0005, Variant("ISO_IR 100"));
    EXPECT_EQ(TagsInOrder(dataSet), (std::vector<std::string>{"0000,0800", "0008,0005", "0008,0050",
                                                              "0010,0020", "0040,0100"}));
    ExpectError([&] { attributes.AttributesItemAt(6); }, "EDicomError",
                "List index out of bounds (6)");
    ExpectError([&] { attributes.AttributesItemAt(0); }, "EDicomError",
                "List index out of bounds (0)");
}

TEST(DataSetAttributes, AddingAPresentTagReplacesIt) {
    DicomDataSet dataSet;
    DicomAttributes attributes = dataSet.DataSetAttributes();
    attributes.AttributesAdd(0x0020, 0x000E, Variant(""));
    attributes.AttributesAdd(0x0020, 0x000E, Variant("1.2.3"));
    EXPECT_EQ(attributes.AttributesCount(), 1);
    EXPECT_EQ(TextOf(dataSet, 0x0020, 0x000E), "1.2.3");
}

TEST(DataSetAttributes, RemovingAnAbsentTagIsHarmless) {
    DicomDataSet dataSet;
    DicomAttributes attributes = dataSet.DataSetAttributes();
    attributes.AttributesAdd(0x0008, 0x0050, Variant("A1"));
    attributes.AttributesRemove(0x0008, 0x0051);
    EXPECT_EQ(attributes.AttributesCount(), 1);
    attributes.AttributesRemove(0x0008, 0x0050);
    EXPECT_EQ(attributes.AttributesCount(), 0);
    attributes.AttributesRemove(0x0008, 0x0050);
    EXPECT_EQ(attributes.AttributesCount(), 0);
}

TEST(DataSetAttributes, AllHandlesShareOneDataSet) {
    DicomDataSet dataSet;
    DicomDataSet copy = dataSet;
    copy.DataSetAttributes().AttributesAdd(0x0010, 0x0020, Variant("ID1"));
    EXPECT_EQ(dataSet.DataSetPatientID(), "ID1");
    EXPECT_TRUE(copy.SameAs(dataSet));
    EXPECT_FALSE(DicomDataSet().SameAs(dataSet));
}

TEST(DataSetTexts, PatientAccessionAndStudy) {
    DicomDataSet dataSet;
    EXPECT_EQ(dataSet.DataSetPatientID(), "");
    EXPECT_EQ(dataSet.DataSetAccessionNumber(), "");
    EXPECT_EQ(dataSet.DataSetStudyUID(), "");
    DicomAttributes attributes = dataSet.DataSetAttributes();
    attributes.AttributesAdd(0x0010, 0x0020, Variant("ID 7"));
    attributes.AttributesAdd(0x0008, 0x0050, Variant("ACC7"));
    attributes.AttributesAdd(0x0020, 0x000D, Variant("1.2.250.1"));
    EXPECT_EQ(dataSet.DataSetPatientID(), "ID 7");
    EXPECT_EQ(dataSet.DataSetAccessionNumber(), "ACC7");
    EXPECT_EQ(dataSet.DataSetStudyUID(), "1.2.250.1");
}

TEST(DataSets, AppendCountAndItemsAreShared) {
    DicomDataSets collection;
    EXPECT_EQ(collection.DataSetsCount(), 0);
    DicomDataSet item;
    collection.DataSetsAppend(item);
    // Filled after it was appended: the collection sees the filled item.
    item.DataSetAttributes().AttributesAdd(0x0008, 0x0060, Variant("CT"));
    EXPECT_EQ(collection.DataSetsCount(), 1);
    EXPECT_TRUE(collection.DataSetsItem(1).SameAs(item));
    EXPECT_EQ(TextOf(collection.DataSetsItem(1), 0x0008, 0x0060), "CT");
    ExpectError([&] { collection.DataSetsItem(2); }, "EDicomError", "List index out of bounds (2)");
    ExpectError([&] { collection.DataSetsItem(0); }, "EDicomError", "List index out of bounds (0)");
}

TEST(DataSetSequences, ItemFilledAfterTheSequenceWasAddedIsInIt) {
    DicomDataSet identifier;
    DicomDataSets steps;
    DicomDataSet step;
    steps.DataSetsAppend(step);
    identifier.DataSetAttributes().AttributesAdd(0x0040, 0x0100, Variant(steps));
    step.DataSetAttributes().AttributesAdd(0x0040, 0x0009, Variant("SPS1"));

    const DicomAttribute sequence = identifier.DataSetAttributes().AttributesFind(0x0040, 0x0100);
    EXPECT_EQ(sequence.VR(), "SQ");
    EXPECT_FALSE(sequence.AttributeIsMultiValued());
    const DicomDataSets items = sequence.AttributeValue().AsCollection();
    EXPECT_TRUE(items.SameAs(steps));
    ASSERT_EQ(items.DataSetsCount(), 1);
    EXPECT_EQ(TextOf(items.DataSetsItem(1), 0x0040, 0x0009), "SPS1");
}

TEST(DataSetSequences, NestedItemsAndTheirNames) {
    DicomDataSet response;
    DicomDataSets codes;
    DicomDataSet code;
    code.DataSetAttributes().AttributesAdd(0x0008, 0x0100, Variant("XR001"));
    code.DataSetAttributes().AttributesAdd(0x0008, 0x0102, Variant("LOCAL"));
    codes.DataSetsAppend(code);
    DicomDataSets steps;
    DicomDataSet step;
    step.DataSetAttributes().AttributesAdd(0x0040, 0x0008, Variant(codes));
    steps.DataSetsAppend(step);
    response.DataSetAttributes().AttributesAdd(0x0040, 0x0100, Variant(steps));

    const DicomDataSet foundStep = response.DataSetAttributes()
                                       .AttributesFind(0x0040, 0x0100)
                                       .AttributeValue()
                                       .AsCollection()
                                       .DataSetsItem(1);
    const DicomAttribute protocol = foundStep.DataSetAttributes().AttributesItemAt(1);
    EXPECT_EQ(protocol.AttributeDisplayName(), "Scheduled Protocol Code Sequence");
    const DicomAttributes codeAttributes =
        protocol.AttributeValue().AsCollection().DataSetsItem(1).DataSetAttributes();
    EXPECT_EQ(codeAttributes.AttributesItemAt(1).AttributeDisplayName(), "Code Value");
    EXPECT_EQ(codeAttributes.AttributesItemAt(1).AttributeValue().AsText(), "XR001");
    EXPECT_EQ(codeAttributes.AttributesItemAt(2).AttributeDisplayName(),
              "Coding Scheme Designator");
}

TEST(DataSetSequences, AbsentSequenceCannotBeWalked) {
    DicomDataSet response;
    const Variant value =
        response.DataSetAttributes().AttributesFind(0x0032, 0x1064).AttributeValue();
    ExpectError([&] { value.AsCollection(); }, "EVariantTypeCastError",
                "Could not convert variant of type (Null) into type (DataSets)");
}

TEST(DataSetFile, WrittenFileReadsBackTheSameAttributes) {
    TempFolder folder;
    DicomDataSet response;
    DicomAttributes attributes = response.DataSetAttributes();
    attributes.AttributesAdd(0x0008, 0x0050, Variant("ACC1"));
    attributes.AttributesAdd(0x0008, 0x0020, Variant("20261207"));
    attributes.AttributesAdd(0x0008, 0x0061, Variant("CT\\MR"));
    attributes.AttributesAdd(0x0010, 0x0010, Variant("Müller^Zoé"));
    attributes.AttributesAdd(0x0010, 0x0030, Variant(""));
    attributes.AttributesAdd(0x0020, 0x1206, Variant::Integer(3));
    DicomDataSets steps;
    DicomDataSet step;
    step.DataSetAttributes().AttributesAdd(0x0040, 0x0009, Variant("SPS1"));
    steps.DataSetsAppend(step);
    attributes.AttributesAdd(0x0040, 0x0100, Variant(steps));
    const std::string fileName = folder.File("Lumo4410_1.dcm");
    response.DataSetWriteFile(fileName);

    const DicomDataSet read = DicomDataSet::ReadFile(fileName);
    EXPECT_EQ(read.DataSetAccessionNumber(), "ACC1");
    const DicomAttributes readAttributes = read.DataSetAttributes();
    EXPECT_DOUBLE_EQ(readAttributes.AttributesFind(0x0008, 0x0020).AttributeValue().AsDateTime(),
                     EncodeDate(2026, 12, 7));
    EXPECT_EQ(readAttributes.AttributesFind(0x0008, 0x0061).AttributeValueCount(), 2);
    EXPECT_EQ(TextOf(read, 0x0010, 0x0010), "Müller^Zoé");
    EXPECT_TRUE(readAttributes.AttributesFind(0x0010, 0x0030).AttributeIsPresent());
    EXPECT_TRUE(readAttributes.AttributesFind(0x0010, 0x0030).AttributeValue().IsNull());
    EXPECT_EQ(readAttributes.AttributesFind(0x0020, 0x1206).AttributeValue().AsInteger(), 3);
    const DicomDataSets readSteps =
        readAttributes.AttributesFind(0x0040, 0x0100).AttributeValue().AsCollection();
    ASSERT_EQ(readSteps.DataSetsCount(), 1);
    EXPECT_EQ(TextOf(readSteps.DataSetsItem(1), 0x0040, 0x0009), "SPS1");
    EXPECT_EQ(readAttributes.AttributesCount(), 7);
}

TEST(DataSetFile, FileHasPreambleAndMetaHeaderInExplicitLittleEndian) {
    TempFolder folder;
    DicomDataSet response;
    response.DataSetAttributes().AttributesAdd(0x0010, 0x0020, Variant("ID1"));
    const std::string fileName = folder.File("r.dcm");
    response.DataSetWriteFile(fileName);
    const std::string bytes = FileBytes(fileName);
    ASSERT_GT(bytes.size(), 132u);
    EXPECT_EQ(bytes.substr(128, 4), "DICM");
    // dcmdump, an independent reader, sees the meta header and the value.
    const std::string dump = RunTool("dcmdump -M '" + fileName + "' 2>&1");
    EXPECT_NE(dump.find("(0002,0010) UI =LittleEndianExplicit"), std::string::npos) << dump;
    EXPECT_NE(dump.find("(0002,0002) UI =SecondaryCaptureImageStorage"), std::string::npos) << dump;
    EXPECT_NE(dump.find("(0010,0020) LO [ID1]"), std::string::npos) << dump;
    // The response itself is stored as it is: no SOP class added to it.
    EXPECT_EQ(dump.find("(0008,0016)"), std::string::npos) << dump;
}

TEST(DataSetFile, MetaHeaderUsesTheDataSetsOwnUids) {
    TempFolder folder;
    DicomDataSet image;
    image.DataSetAttributes().AttributesAdd(0x0008, 0x0016, Variant("1.2.840.10008.5.1.4.1.1.2"));
    image.DataSetAttributes().AttributesAdd(0x0008, 0x0018, Variant("1.2.250.99.1"));
    const std::string fileName = folder.File("ct.dcm");
    image.DataSetWriteFile(fileName);
    const std::string dump = RunTool("dcmdump -M '" + fileName + "' 2>&1");
    EXPECT_NE(dump.find("(0002,0002) UI =CTImageStorage"), std::string::npos) << dump;
    EXPECT_NE(dump.find("(0002,0003) UI [1.2.250.99.1]"), std::string::npos) << dump;
}

TEST(DataSetFile, CommandElementsAreNotWritten) {
    TempFolder folder;
    DicomDataSet identifier;
    identifier.DataSetAttributes().AttributesAdd(0x0000, 0x0002,
                                                 Variant("1.2.840.10008.5.1.4.1.2.2.1"));
    identifier.DataSetAttributes().AttributesAdd(0x0008, 0x0052, Variant("STUDY"));
    const std::string fileName = folder.File("q.dcm");
    identifier.DataSetWriteFile(fileName);
    const DicomDataSet read = DicomDataSet::ReadFile(fileName);
    EXPECT_EQ(TagsInOrder(read), std::vector<std::string>{"0008,0052"});
}

TEST(DataSetFile, WritingIntoAMissingFolderRaises) {
    TempFolder folder;
    const std::string fileName = folder.File("Logs/Lumo4410_1.dcm");
    DicomDataSet response;
    ExpectError([&] { response.DataSetWriteFile(fileName); }, "EDicomError",
                "Cannot write " + fileName + ": No such file or directory");
    EXPECT_FALSE(std::filesystem::exists(fileName));
}

TEST(DataSetFile, ReadingAMissingFileRaises) {
    TempFolder folder;
    const std::string fileName = folder.File("none.dcm");
    ExpectError([&] { DicomDataSet::ReadFile(fileName); }, "EDicomError",
                "Cannot read " + fileName + ": No such file or directory");
}

TEST(DataSetFile, FileWithoutMetaHeaderReads) {
    TempFolder folder;
    const std::string dumpFile = folder.File("in.txt");
    const std::string fileName = folder.File("plain.dcm");
    std::ofstream(dumpFile) << "(0010,0020) LO [ID9]\n(0008,0060) CS [MR]\n";
    RunTool("dump2dcm -F +te '" + dumpFile + "' '" + fileName + "' 2>&1");
    ASSERT_TRUE(std::filesystem::exists(fileName));
    const DicomDataSet read = DicomDataSet::ReadFile(fileName);
    EXPECT_EQ(read.DataSetPatientID(), "ID9");
    EXPECT_EQ(TextOf(read, 0x0008, 0x0060), "MR");
}

}  // namespace
}  // namespace lumo::dicom
