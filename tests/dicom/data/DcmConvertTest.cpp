#include "dicom/data/detail/DcmConvert.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "dicom/data/DicomAttribute.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/data/Variant.h"
#include "support/Exception.h"

namespace lumo::dicom {
namespace {

using detail::FromDcmItem;
using detail::ToDcmDataset;

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

// The bytes DCMTK holds for an element, as they go on the wire (padding
// aside).
std::string WireBytes(DcmItem& item, const DcmTagKey& tag) {
    const char* bytes = nullptr;
    Uint32 length = 0;
    if (item.findAndGetString(tag, bytes, length, OFFalse).bad() || bytes == nullptr) return "";
    return std::string(bytes, length);
}

std::string TextOf(const DicomDataSet& dataSet, std::uint16_t group, std::uint16_t element) {
    return VarToStr(
        dataSet.DataSetAttributes().AttributesFind(group, element).AttributeWideValue());
}

void Put(DcmItem& item, const DcmTagKey& tag, const std::string& bytes) {
    ASSERT_TRUE(item.putAndInsertOFStringArray(tag, OFString(bytes.data(), bytes.size())).good());
}

TEST(ToDcmDataset, LeavesCommandElementsOut) {
    DicomDataSet identifier;
    DicomAttributes attributes = identifier.DataSetAttributes();
    attributes.AttributesAdd(0x0000, 0x0002, Variant("1.2.840.10008.5.1.4.1.2.2.1"));
    attributes.AttributesAdd(0x0000, 0x0800, Variant("0"));
    attributes.AttributesAdd(0x0008, 0x0052, Variant("STUDY"));
    const auto dataset = ToDcmDataset(identifier);
    EXPECT_EQ(dataset->card(), 1u);
    EXPECT_EQ(WireBytes(*dataset, DCM_QueryRetrieveLevel), "STUDY");
    // The identifier itself keeps what the caller put into it.
    EXPECT_EQ(attributes.AttributesCount(), 3);
}

TEST(ToDcmDataset, ReturnKeysAreZeroLengthAndValuesExact) {
    DicomDataSet identifier;
    DicomAttributes attributes = identifier.DataSetAttributes();
    attributes.AttributesAdd(0x0010, 0x0010, Variant("DUP*"));
    attributes.AttributesAdd(0x0008, 0x0020, Variant("20261207-20261208"));
    attributes.AttributesAdd(0x0020, 0x1206, Variant(""));
    attributes.AttributesAdd(0x0008, 0x0050, Variant("  "));
    const auto dataset = ToDcmDataset(identifier);
    EXPECT_EQ(WireBytes(*dataset, DCM_PatientName), "DUP*");
    EXPECT_EQ(WireBytes(*dataset, DCM_StudyDate), "20261207-20261208");
    DcmElement* count = nullptr;
    ASSERT_TRUE(dataset->findAndGetElement(DCM_NumberOfStudyRelatedSeries, count).good());
    EXPECT_EQ(count->getLength(), 0u);
    EXPECT_EQ(count->getVR(), EVR_IS);
    // Blanks only still make a key; trailing blanks are padding on the wire.
    EXPECT_TRUE(dataset->tagExists(DCM_AccessionNumber));
}

TEST(ToDcmDataset, SequenceHoldsItemsFilledAfterItWasAdded) {
    DicomDataSet identifier;
    DicomDataSets steps;
    DicomDataSet step;
    steps.DataSetsAppend(step);
    identifier.DataSetAttributes().AttributesAdd(0x0040, 0x0100, Variant(steps));
    step.DataSetAttributes().AttributesAdd(0x0008, 0x0060, Variant("CT"));
    step.DataSetAttributes().AttributesAdd(0x0040, 0x0002, Variant("20261207"));

    const auto dataset = ToDcmDataset(identifier);
    DcmItem* item = nullptr;
    ASSERT_TRUE(
        dataset->findAndGetSequenceItem(DCM_ScheduledProcedureStepSequence, item, 0).good());
    EXPECT_EQ(WireBytes(*item, DCM_Modality), "CT");
    EXPECT_EQ(WireBytes(*item, DCM_ScheduledProcedureStepStartDate), "20261207");
}

TEST(ToDcmDataset, NumbersGoOutInBinaryVrs) {
    DicomDataSet dataSet;
    dataSet.DataSetAttributes().AttributesAdd(0x0028, 0x0010, Variant::Integer(512));
    dataSet.DataSetAttributes().AttributesAdd(0x0028, 0x0030, Variant("0.5\\0.25"));
    const auto dataset = ToDcmDataset(dataSet);
    Uint16 rows = 0;
    ASSERT_TRUE(dataset->findAndGetUint16(DCM_Rows, rows).good());
    EXPECT_EQ(rows, 512);
    Float64 spacing = 0;
    ASSERT_TRUE(dataset->findAndGetFloat64(DCM_PixelSpacing, spacing, 1).good());
    EXPECT_DOUBLE_EQ(spacing, 0.25);
}

TEST(ToDcmDataset, NumberThatDoesNotFitItsBinaryVrRaises) {
    // DCMTK itself would wrap 70000 into a US and send 4464.
    const struct {
        std::uint16_t group, element;
        const char* text;
        const char* message;
    } cases[] = {
        {0x0028, 0x0010, "70000", "Invalid value for (0028,0010) US: 70000"},
        {0x0028, 0x0010, "-1", "Invalid value for (0028,0010) US: -1"},
        {0x0028, 0x0010, "abc", "Invalid value for (0028,0010) US: abc"},
        {0x0018, 0x9328, "2,5", "Invalid value for (0018,9328) FD: 2,5"},
    };
    for (const auto& bad : cases) {
        DicomDataSet dataSet;
        dataSet.DataSetAttributes().AttributesAdd(bad.group, bad.element, Variant(bad.text));
        ExpectError([&] { ToDcmDataset(dataSet); }, "EDicomError", bad.message);
    }
    DicomDataSet fits;
    fits.DataSetAttributes().AttributesAdd(0x0028, 0x0010, Variant("65535"));
    fits.DataSetAttributes().AttributesAdd(0x0028, 0x0011, Variant(""));
    EXPECT_EQ(ToDcmDataset(fits)->card(), 2u);
}

TEST(ToDcmDataset, SequenceThatContainsItsOwnDataSetRaises) {
    DicomDataSet identifier;
    DicomDataSets loop;
    loop.DataSetsAppend(identifier);
    identifier.DataSetAttributes().AttributesAdd(0x0040, 0x0100, Variant(loop));
    ExpectError([&] { ToDcmDataset(identifier); }, "EDicomError",
                "The sequence (0040,0100) holds a data set that contains it");
    identifier.DataSetAttributes().AttributesRemove(0x0040, 0x0100);  // no leaked cycle
}

TEST(ToDcmDatasetCharset, UndeclaredAndIsoIr100TextGoesOutAsLatin1) {
    for (const char* declared : {"", "ISO_IR 100"}) {
        DicomDataSet identifier;
        if (*declared != '\0') {
            identifier.DataSetAttributes().AttributesAdd(0x0008, 0x0005, Variant(declared));
        }
        identifier.DataSetAttributes().AttributesAdd(0x0010, 0x0010, Variant("Müller^Zoé"));
        const auto dataset = ToDcmDataset(identifier);
        EXPECT_EQ(WireBytes(*dataset, DCM_PatientName), "M\xFCller^Zo\xE9") << declared;
        EXPECT_EQ(WireBytes(*dataset, DCM_SpecificCharacterSet), declared);
    }
}

// A letter Latin-1 has no byte for sends the whole data set, items that
// follow its character set included, in UTF-8, declared: never as "?".
TEST(ToDcmDatasetCharset, TextBeyondLatin1SendsTheDataSetInUtf8) {
    for (const char* declared : {"", "ISO_IR 100"}) {
        DicomDataSet identifier;
        if (*declared != '\0') {
            identifier.DataSetAttributes().AttributesAdd(0x0008, 0x0005, Variant(declared));
        }
        DicomDataSets steps;
        DicomDataSet step;
        steps.DataSetsAppend(step);
        identifier.DataSetAttributes().AttributesAdd(0x0040, 0x0100, Variant(steps));
        step.DataSetAttributes().AttributesAdd(0x0040, 0x0010, Variant("Łódź"));
        identifier.DataSetAttributes().AttributesAdd(0x0010, 0x0010, Variant("Müller^Zoé"));
        const auto dataset = ToDcmDataset(identifier);
        EXPECT_EQ(WireBytes(*dataset, DCM_PatientName), "Müller^Zoé") << declared;
        EXPECT_EQ(WireBytes(*dataset, DCM_SpecificCharacterSet), "ISO_IR 192") << declared;
        DcmItem* item = nullptr;
        ASSERT_TRUE(
            dataset->findAndGetSequenceItem(DCM_ScheduledProcedureStepSequence, item).good());
        EXPECT_EQ(WireBytes(*item, DCM_ScheduledStationName), "Łódź") << declared;
    }
}

TEST(ToDcmDatasetCharset, IsoIr192TextGoesOutAsUtf8) {
    DicomDataSet identifier;
    identifier.DataSetAttributes().AttributesAdd(0x0008, 0x0005, Variant("ISO_IR 192"));
    identifier.DataSetAttributes().AttributesAdd(0x0010, 0x0010, Variant("Łukasz^Zoé"));
    const auto dataset = ToDcmDataset(identifier);
    EXPECT_EQ(WireBytes(*dataset, DCM_PatientName), "Łukasz^Zoé");
}

TEST(ToDcmDatasetCharset, OtherDeclaredSetIsRewrittenAsUtf8) {
    DicomDataSet response;
    response.DataSetAttributes().AttributesAdd(0x0008, 0x0005, Variant("ISO_IR 144"));
    response.DataSetAttributes().AttributesAdd(0x0010, 0x0010, Variant("Иванов"));
    const auto dataset = ToDcmDataset(response);
    EXPECT_EQ(WireBytes(*dataset, DCM_SpecificCharacterSet), "ISO_IR 192");
    EXPECT_EQ(WireBytes(*dataset, DCM_PatientName), "Иванов");
}

TEST(FromDcmItem, ValuesByVr) {
    DcmDataset received;
    Put(received, DCM_PatientName, "Dupont^Jean");
    Put(received, DCM_StudyDate, "20261207");
    Put(received, DCM_NumberOfStudyRelatedInstances, "42");
    ASSERT_TRUE(received.putAndInsertUint16(DCM_Rows, 512).good());
    ASSERT_TRUE(received.putAndInsertFloat64(DCM_ExposureTimeInms, 2.5).good());
    Put(received, DCM_ModalitiesInStudy, "CT\\MR");
    Put(received, DCM_AccessionNumber, "");
    const DicomDataSet dataSet = FromDcmItem(received);
    const DicomAttributes attributes = dataSet.DataSetAttributes();
    EXPECT_EQ(attributes.AttributesFind(0x0010, 0x0010).AttributeValue().AsText(), "Dupont^Jean");
    EXPECT_EQ(attributes.AttributesFind(0x0008, 0x0020).AttributeValue().GetType(),
              Variant::Type::DateTime);
    EXPECT_EQ(attributes.AttributesFind(0x0020, 0x1208).AttributeValue().AsInteger(), 42);
    EXPECT_EQ(attributes.AttributesFind(0x0028, 0x0010).VR(), "US");
    EXPECT_EQ(attributes.AttributesFind(0x0028, 0x0010).AttributeValue().AsInteger(), 512);
    EXPECT_DOUBLE_EQ(attributes.AttributesFind(0x0018, 0x9328).AttributeValue().AsFloat(), 2.5);
    EXPECT_EQ(attributes.AttributesFind(0x0008, 0x0061).AttributeValueCount(), 2);
    EXPECT_TRUE(attributes.AttributesFind(0x0008, 0x0050).AttributeIsPresent());
    EXPECT_TRUE(attributes.AttributesFind(0x0008, 0x0050).AttributeValue().IsNull());
    EXPECT_EQ(attributes.AttributesCount(), 7);
}

TEST(FromDcmItem, TrailingPaddingIsRemoved) {
    DcmDataset received;
    Put(received, DCM_PatientName, "Dupont^Jean ");
    Put(received, DCM_Modality, "CT ");
    const DicomDataSet dataSet = FromDcmItem(received);
    EXPECT_EQ(TextOf(dataSet, 0x0010, 0x0010), "Dupont^Jean");
    EXPECT_EQ(TextOf(dataSet, 0x0008, 0x0060), "CT");
}

TEST(FromDcmItem, NestedSequencesAndEmptySequence) {
    DcmDataset received;
    DcmItem* step = nullptr;
    ASSERT_TRUE(
        received.findOrCreateSequenceItem(DCM_ScheduledProcedureStepSequence, step, -2).good());
    Put(*step, DCM_ScheduledProcedureStepID, "SPS1");
    DcmItem* code = nullptr;
    ASSERT_TRUE(step->findOrCreateSequenceItem(DCM_ScheduledProtocolCodeSequence, code, -2).good());
    Put(*code, DCM_CodeValue, "XR001");
    ASSERT_TRUE(received.insertEmptyElement(DCM_RequestedProcedureCodeSequence).good());

    const DicomDataSet dataSet = FromDcmItem(received);
    const DicomAttributes attributes = dataSet.DataSetAttributes();
    const DicomDataSet readStep =
        attributes.AttributesFind(0x0040, 0x0100).AttributeValue().AsCollection().DataSetsItem(1);
    EXPECT_EQ(TextOf(readStep, 0x0040, 0x0009), "SPS1");
    const DicomDataSet readCode = readStep.DataSetAttributes()
                                      .AttributesFind(0x0040, 0x0008)
                                      .AttributeValue()
                                      .AsCollection()
                                      .DataSetsItem(1);
    EXPECT_EQ(TextOf(readCode, 0x0008, 0x0100), "XR001");
    const DicomAttribute empty = attributes.AttributesFind(0x0032, 0x1064);
    EXPECT_TRUE(empty.AttributeIsPresent());
    EXPECT_EQ(empty.AttributeValue().AsCollection().DataSetsCount(), 0);
}

// A data set whose sequences nest `levels` deep, the innermost item holding a
// Code Value.
void Nest(DcmItem& top, int levels) {
    DcmItem* item = &top;
    for (int level = 0; level < levels; ++level) {
        DcmItem* inner = nullptr;
        ASSERT_TRUE(item->findOrCreateSequenceItem(DCM_ContentSequence, inner, -2).good());
        item = inner;
    }
    Put(*item, DCM_CodeValue, "DEEP");
}

TEST(FromDcmItem, ReasonableNestingReadsAndAbsurdNestingRaises) {
    DcmDataset reasonable;
    Nest(reasonable, 20);
    DicomDataSet level = FromDcmItem(reasonable);
    for (int depth = 0; depth < 20; ++depth) {
        level = level.DataSetAttributes()
                    .AttributesFind(0x0040, 0xA730)
                    .AttributeValue()
                    .AsCollection()
                    .DataSetsItem(1);
    }
    EXPECT_EQ(TextOf(level, 0x0008, 0x0100), "DEEP");

    DcmDataset absurd;
    Nest(absurd, 100);
    ExpectError([&] { FromDcmItem(absurd); }, "EDicomError", "Sequences nested too deeply");
}

TEST(FromDcmItem, BinaryValuesAreKeptByteForByte) {
    DcmDataset received;
    const Uint8 bytes[] = {0x00, 0x01, 0xFE, 0xFF};
    ASSERT_TRUE(received.putAndInsertUint8Array(DcmTag(0x0029, 0x1010, EVR_OB), bytes, 4).good());
    ASSERT_TRUE(received.putAndInsertTagKey(DCM_FrameIncrementPointer, DCM_FrameTime).good());
    const DicomDataSet dataSet = FromDcmItem(received);
    const DicomAttribute binary = dataSet.DataSetAttributes().AttributesFind(0x0029, 0x1010);
    EXPECT_EQ(binary.VR(), "OB");
    EXPECT_EQ(binary.AttributeValueCount(), 1);
    EXPECT_EQ(dataSet.DataSetAttributes().AttributesFind(0x0028, 0x0009).VR(), "AT");

    const auto forwarded = ToDcmDataset(dataSet);
    const Uint8* out = nullptr;
    unsigned long count = 0;
    ASSERT_TRUE(forwarded->findAndGetUint8Array(DcmTagKey(0x0029, 0x1010), out, &count).good());
    ASSERT_EQ(count, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out), 4),
              std::string("\x00\x01\xFE\xFF", 4));
    OFString pointer;
    ASSERT_TRUE(forwarded->findAndGetOFString(DCM_FrameIncrementPointer, pointer).good());
    EXPECT_EQ(std::string(pointer.c_str()), "(0018,1063)");
}

TEST(FromDcmItem, RoundTripKeepsEverything) {
    DicomDataSet original;
    DicomAttributes attributes = original.DataSetAttributes();
    attributes.AttributesAdd(0x0008, 0x0005, Variant("ISO_IR 192"));
    attributes.AttributesAdd(0x0010, 0x0010, Variant("Łukasz^Zoé"));
    attributes.AttributesAdd(0x0010, 0x0030, Variant(""));
    attributes.AttributesAdd(0x0008, 0x0061, Variant("CT\\MR"));
    DicomDataSets steps;
    DicomDataSet step;
    step.DataSetAttributes().AttributesAdd(0x0040, 0x0009, Variant("SPS1"));
    steps.DataSetsAppend(step);
    steps.DataSetsAppend(DicomDataSet());
    attributes.AttributesAdd(0x0040, 0x0100, Variant(steps));

    const auto dataset = ToDcmDataset(original);
    const DicomDataSet back = FromDcmItem(*dataset);
    const DicomAttributes backAttributes = back.DataSetAttributes();
    ASSERT_EQ(backAttributes.AttributesCount(), attributes.AttributesCount());
    for (int position = 1; position <= attributes.AttributesCount(); ++position) {
        const DicomAttribute before = attributes.AttributesItemAt(position);
        const DicomAttribute after = backAttributes.AttributesItemAt(position);
        EXPECT_EQ(after.Group(), before.Group());
        EXPECT_EQ(after.Element(), before.Element());
        EXPECT_EQ(after.VR(), before.VR());
        if (before.VR() != "SQ") {
            EXPECT_EQ(VarToStr(after.AttributeWideValue()), VarToStr(before.AttributeWideValue()));
        }
    }
    const DicomDataSets backSteps =
        backAttributes.AttributesFind(0x0040, 0x0100).AttributeValue().AsCollection();
    ASSERT_EQ(backSteps.DataSetsCount(), 2);
    EXPECT_EQ(TextOf(backSteps.DataSetsItem(1), 0x0040, 0x0009), "SPS1");
    EXPECT_EQ(backSteps.DataSetsItem(2).DataSetAttributes().AttributesCount(), 0);
}

TEST(FromDcmItemCharset, Utf8ResponseReadsAsIs) {
    DcmDataset received;
    Put(received, DCM_SpecificCharacterSet, "ISO_IR 192");
    Put(received, DCM_PatientName, "Łukasz^Zoé");
    const DicomDataSet dataSet = FromDcmItem(received);
    EXPECT_EQ(TextOf(dataSet, 0x0010, 0x0010), "Łukasz^Zoé");
    EXPECT_EQ(TextOf(dataSet, 0x0008, 0x0005), "ISO_IR 192");
}

// Text that declares no set is read as UTF-8 when its bytes are UTF-8, else
// as Latin-1 (Windows-1252 for 80 to 9F), and the data set says which; a
// declared set is read as declared.
TEST(FromDcmItemCharset, UndeclaredTextIsReadAsUtf8OrLatin1) {
    using Assumed = DicomDataSet::AssumedCharset;
    const struct {
        const char* declared;  // nullptr: no (0008,0005)
        const char *name, *description, *readName, *readDescription;
        Assumed assumed;
    } cases[] = {
        {nullptr, "M\xFCller^Zo\xE9", "\xC9paule", "Müller^Zoé", "Épaule", Assumed::Latin1},
        {nullptr, "\xC3\x89ric", "Vue \x80", "Éric", "Vue €", Assumed::Both},
        {"", "\xC3\x89ric", "abdomen", "Éric", "abdomen", Assumed::Utf8},
        {"ISO_IR 100", "\xC3\x89ric", "\x80", "\xC3\x83\xC2\x89ric", "\xC2\x80", Assumed::None},
    };
    for (const auto& c : cases) {
        DcmDataset received;
        if (c.declared) Put(received, DCM_SpecificCharacterSet, c.declared);
        Put(received, DCM_PatientName, c.name);
        Put(received, DCM_StudyDescription, c.description);
        const DicomDataSet dataSet = FromDcmItem(received);
        EXPECT_EQ(TextOf(dataSet, 0x0010, 0x0010), c.readName) << c.name;
        EXPECT_EQ(TextOf(dataSet, 0x0008, 0x1030), c.readDescription) << c.name;
        EXPECT_EQ(dataSet.DataSetAssumedCharset(), c.assumed) << c.name;
        // Sent on again, Latin-1 goes out as it came in.
        if (c.assumed == Assumed::Latin1) {
            EXPECT_EQ(WireBytes(*ToDcmDataset(dataSet), DCM_PatientName), c.name);
        }
    }
}

TEST(FromDcmItemCharset, IsoIr100ResponseAndItsItemsReadAsLatin1) {
    DcmDataset received;
    Put(received, DCM_SpecificCharacterSet, "ISO_IR 100");
    Put(received, DCM_PatientName, "Fran\xE7ois");
    DcmItem* step = nullptr;
    ASSERT_TRUE(
        received.findOrCreateSequenceItem(DCM_ScheduledProcedureStepSequence, step, -2).good());
    Put(*step, DCM_ScheduledProcedureStepDescription, "Genou \xE0 droite");
    const DicomDataSet dataSet = FromDcmItem(received);
    EXPECT_EQ(TextOf(dataSet, 0x0010, 0x0010), "François");
    const DicomDataSet readStep = dataSet.DataSetAttributes()
                                      .AttributesFind(0x0040, 0x0100)
                                      .AttributeValue()
                                      .AsCollection()
                                      .DataSetsItem(1);
    EXPECT_EQ(TextOf(readStep, 0x0040, 0x0007), "Genou à droite");
}

TEST(FromDcmItemCharset, OtherSetIsConvertedAndDeclaredAsUtf8) {
    DcmDataset received;
    Put(received, DCM_SpecificCharacterSet, "ISO_IR 144");
    Put(received, DCM_PatientName, "\xB8\xD2\xD0\xDD\xDE\xD2");  // Иванов in ISO 8859-5
    const DicomDataSet dataSet = FromDcmItem(received);
    EXPECT_EQ(TextOf(dataSet, 0x0010, 0x0010), "Иванов");
    EXPECT_EQ(TextOf(dataSet, 0x0008, 0x0005), "ISO_IR 192");
    const auto forwarded = ToDcmDataset(dataSet);
    EXPECT_EQ(WireBytes(*forwarded, DCM_PatientName), "Иванов");
}

// Bytes that are not in the declared set, or a set nobody knows, are shown
// as such, never guessed to be Latin-1; the text is UTF-8 and says so.
TEST(FromDcmItemCharset, WrongOrUnknownDeclarationIsMarkedNotGuessed) {
    DcmDataset wrong;
    Put(wrong, DCM_SpecificCharacterSet, "ISO_IR 192");
    Put(wrong, DCM_PatientName, "Zo\xE9");  // Latin-1 despite the declaration
    EXPECT_EQ(TextOf(FromDcmItem(wrong), 0x0010, 0x0010), "Zo\xEF\xBF\xBD");

    DcmDataset unknown;
    Put(unknown, DCM_SpecificCharacterSet, "NO SUCH SET");
    Put(unknown, DCM_PatientName, "Zo\xE9");
    const DicomDataSet read = FromDcmItem(unknown);
    EXPECT_EQ(TextOf(read, 0x0010, 0x0010), "Zo\xEF\xBF\xBD");
    EXPECT_EQ(TextOf(read, 0x0008, 0x0005), "ISO_IR 192");
}

TEST(FromDcmItemCharset, Latin1FileMadeByDump2dcmReadsBack) {
    char pattern[] = "/tmp/lumo-convert-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path folder(pattern);
    const std::string dumpFile = (folder / "in.txt").string();
    const std::string fileName = (folder / "in.dcm").string();
    std::ofstream(dumpFile, std::ios::binary)
        << "(0010,0010) PN [B\xE9rang\xE8re^Ana\xEFs]\n(0010,0020) LO [P1]\n";
    const std::string command = "dump2dcm '" + dumpFile + "' '" + fileName + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    const DicomDataSet dataSet = DicomDataSet::ReadFile(fileName);
    EXPECT_EQ(TextOf(dataSet, 0x0010, 0x0010), "Bérangère^Anaïs");
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace lumo::dicom
