// The relay's own step: what it passes on of a worklist answer.

#include "app/Relay.h"

#include <gtest/gtest.h>

#include "dicom/DicomAttributes.h"
#include "dicom/DicomDataSet.h"
#include "dicom/DicomDataSets.h"

namespace lumo::app {
namespace {

bool Has(const dicom::DicomDataSet& dataSet, std::uint16_t group, std::uint16_t element) {
    return dataSet.DataSetAttributes().AttributesFind(group, element).AttributeIsPresent();
}

TEST(Relay, IssuerOfAccessionNumberIsLeftOutOfACopyOnly) {
    dicom::DicomDataSet withIssuer;
    withIssuer.DataSetAttributes().AttributesAdd(0x0008, 0x0050, dicom::Variant("A1"));
    withIssuer.DataSetAttributes().AttributesAdd(0x0008, 0x0051,
                                                 dicom::Variant(dicom::DicomDataSets()));
    dicom::DicomDataSet plain;
    plain.DataSetAttributes().AttributesAdd(0x0008, 0x0050, dicom::Variant("A2"));
    dicom::DicomDataSets responses;
    responses.DataSetsAppend(withIssuer);
    responses.DataSetsAppend(plain);

    const dicom::DicomDataSets forwarded = ResponsesToForward(responses);

    ASSERT_EQ(forwarded.DataSetsCount(), 2);
    EXPECT_FALSE(Has(forwarded.DataSetsItem(1), 0x0008, 0x0051));
    EXPECT_EQ(forwarded.DataSetsItem(1).DataSetAccessionNumber(), "A1");
    EXPECT_TRUE(Has(withIssuer, 0x0008, 0x0051));  // the query's response is untouched
    EXPECT_TRUE(forwarded.DataSetsItem(2).SameAs(plain));
}

}  // namespace
}  // namespace lumo::app
