#include "app/DateSelfTest.h"

#include "dicom/data/DicomAttribute.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/Variant.h"
#include "support/DateTime.h"

namespace lumo::app {

void ListDateSelfTest(TStrings& lines, const std::string& date) {
    dicom::DicomDataSet dataSet;
    dicom::DicomAttributes attributes = dataSet.DataSetAttributes();
    attributes.AttributesAdd(0x0040, 0x0002, dicom::Variant(date));
    const auto found = [&attributes] { return attributes.AttributesFind(0x0040, 0x0002); };
    lines.Add("VarToStr:" + dicom::VarToStr(found().AttributeValue()));
    lines.Add("VariantValue(True):" + dicom::VarToStr(found().AttributeTypedValue(true)));
    lines.Add("VariantValue(False):" + dicom::VarToStr(found().AttributeTypedValue(false)));
    lines.Add("UnicodeValue:" + dicom::VarToStr(found().AttributeWideValue()));
    // An empty format: the short date, and the long time unless at midnight.
    lines.Add("DateTimeFrom:" +
              FormatDateTime("", found().AttributeRangeStart(EncodeDate(1980, 1, 1))));
    lines.Add("DateTimeTo:" +
              FormatDateTime("", found().AttributeRangeEnd(EncodeDate(2199, 12, 31))));
}

}  // namespace lumo::app
