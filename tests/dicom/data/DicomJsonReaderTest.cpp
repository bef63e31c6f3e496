// The DICOM JSON model read into data sets: what each kind of value becomes,
// and what is refused.

#include <gtest/gtest.h>

#include <string>

#include "dicom/data/DicomAttribute.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomJsonReader.h"
#include "support/Exception.h"
#include "tests/fixtures/TestSupport.h"

namespace lumo::dicom {
namespace {

TEST(DicomJsonReader, EachKindOfValue) {
    const struct {
        const char* what;
        const char* attribute;  // the attribute under test, as JSON
        std::uint32_t tag;
        const char* vr;
        const char* text;  // the value's text (a binary one as DCMTK lists its bytes)
    } cases[] = {
        {"PN groups", R"("00100010": {"vr": "PN", "Value": [{"Alphabetic": "Doe^John",
            "Ideographic": "山田^太郎", "Phonetic": "やまだ^たろう"}]})",
         0x00100010, "PN", "Doe^John=山田^太郎=やまだ^たろう"},
        {"PN, trailing groups left out", R"("00100010": {"vr": "PN", "Value":
            [{"Alphabetic": "Doe"}, null, {"Phonetic": "D"}]})",
         0x00100010, "PN", "Doe\\\\==D"},
        {"no Value", R"("00080050": {"vr": "SH"})", 0x00080050, "SH", ""},
        {"empty Value", R"("00080050": {"vr": "SH", "Value": []})", 0x00080050, "SH", ""},
        {"null Value", R"("00080050": {"vr": "SH", "Value": null})", 0x00080050, "SH", ""},
        {"null among values", R"("00080061": {"vr": "CS", "Value": ["CT", null, "MR"]})",
         0x00080061, "CS", "CT\\\\MR"},
        {"numbers", R"("00201208": {"vr": "IS", "Value": [12]})", 0x00201208, "IS", "12"},
        {"decimal", R"("00181050": {"vr": "DS", "Value": [0.5, 2.0]})", 0x00181050, "DS", "0.5\\2"},
        {"InlineBinary", R"("00091001": {"vr": "OB", "InlineBinary": "AAEC/w=="})", 0x00091001,
         "OB", "00\\01\\02\\ff"},
        {"BulkDataURI", R"("7FE00010": {"vr": "OW", "BulkDataURI": "http://x/bulk/1"})", 0x7FE00010,
         "OW", ""},
        {"a tag", R"("00209165": {"vr": "AT", "Value": ["00100020"]})", 0x00209165, "AT",
         "(0010,0020)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const DicomDataSets sets =
            DataSetsOfJson(std::string(R"([{"00080005": {"vr": "CS", "Value": ["ISO_IR 100"]}, )") +
                           c.attribute + "}]");
        ASSERT_EQ(sets.DataSetsCount(), 1);
        const DicomAttributes attributes = sets.DataSetsItem(1).DataSetAttributes();
        // JSON text is UTF-8, whatever the data set declared.
        EXPECT_EQ(attributes.AttributesFind(0x0008, 0x0005).AttributeWideValue().AsText(),
                  "ISO_IR 192");
        const DicomAttribute found = attributes.AttributesFind(c.tag >> 16, c.tag & 0xFFFF);
        EXPECT_TRUE(found.AttributeIsPresent());
        EXPECT_EQ(found.VR(), c.vr);
        EXPECT_EQ(VarToStr(found.AttributeWideValue()), c.text);
    }
}

TEST(DicomJsonReader, SequencesNestAndBrokenModelsAreRefused) {
    const DicomDataSets sets = DataSetsOfJson(
        R"([{"00400100": {"vr": "SQ", "Value": [{"00400009": {"vr": "SH", "Value": ["S1"]},
            "00080005": {"vr": "CS", "Value": ["ISO_IR 100"]}}, null]}}])");
    const DicomDataSets items = sets.DataSetsItem(1)
                                    .DataSetAttributes()
                                    .AttributesFind(0x0040, 0x0100)
                                    .AttributeValue()
                                    .AsCollection();
    ASSERT_EQ(items.DataSetsCount(), 2);
    const DicomAttributes item = items.DataSetsItem(1).DataSetAttributes();
    EXPECT_EQ(VarToStr(item.AttributesFind(0x0040, 0x0009).AttributeValue()), "S1");
    EXPECT_EQ(VarToStr(item.AttributesFind(0x0008, 0x0005).AttributeValue()), "ISO_IR 192");
    EXPECT_EQ(items.DataSetsItem(2).DataSetAttributes().AttributesCount(), 0);

    std::string deep = "{}";
    for (int i = 0; i < 70; ++i) deep = R"({"00400100": {"vr": "SQ", "Value": [)" + deep + "]}}";
    const struct {
        std::string json;
        const char* message;
    } refused[] = {
        {"<html>",
         "Cannot read DICOM JSON: parse error at line 1, column 1: syntax error "
         "while parsing value - invalid literal; last read: '<'"},
        {R"({"00100010": {}})", "Cannot read DICOM JSON: the answer is not an array of data sets"},
        {R"([{"PatientName": {"vr": "PN"}}])",
         "Cannot read DICOM JSON: \"PatientName\" is not a tag (8 hexadecimal digits)"},
        {"[" + deep + "]", "Cannot read DICOM JSON: sequences nested too deeply"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.json.substr(0, 40));
        try {
            DataSetsOfJson(c.json);
            ADD_FAILURE() << "taken";
        } catch (const Exception& e) {
            EXPECT_EQ(e.ClassName(), "EDicomError");
            EXPECT_EQ(e.Message().substr(0, std::string(c.message).size()), c.message);
        }
    }
}

}  // namespace
}  // namespace lumo::dicom
