#include "app/WorklistCheckIdentifier.h"

#include <cstdint>

#include "dicom/DicomAttributes.h"
#include "dicom/DicomDataSets.h"
#include "dicom/Variant.h"

namespace lumo::app {

namespace {

void Add(dicom::DicomAttributes& attributes, std::uint16_t group, std::uint16_t element,
         const std::string& text) {
    attributes.AttributesAdd(group, element, dicom::Variant(text));
}

}  // namespace

dicom::DicomDataSet BuildWorklistCheckIdentifier(const std::string& level,
                                                 const std::string& modality,
                                                 const std::string& accession,
                                                 const std::string& date) {
    dicom::DicomDataSet identifier;
    dicom::DicomAttributes top = identifier.DataSetAttributes();
    Add(top, 0x0008, 0x0052, level);
    Add(top, 0x0008, 0x0005, "ISO_IR 100");

    // The item joins its collection while still empty: what is added to it
    // afterwards is part of the request through the collection.
    dicom::DicomDataSets steps;
    dicom::DicomDataSet step;
    steps.DataSetsAppend(step);
    dicom::DicomAttributes item = step.DataSetAttributes();
    Add(item, 0x0010, 0x0010, "");
    Add(item, 0x0008, 0x0060, modality);
    if (!accession.empty()) {
        Add(top, 0x0008, 0x0050, accession);
        Add(item, 0x0040, 0x0002, "");
    } else {
        Add(item, 0x0040, 0x0002, date + "-" + date);
        Add(item, 0x0008, 0x0050, "");
    }

    top.AttributesAdd(0x0040, 0x0100, dicom::Variant(steps));
    const std::uint16_t returnKeys[][2] = {{0x0008, 0x0061}, {0x0010, 0x0010}, {0x0010, 0x0030},
                                           {0x0008, 0x1030}, {0x0010, 0x0040}, {0x0010, 0x0020},
                                           {0x0020, 0x000D}, {0x0008, 0x0020}, {0x0008, 0x0030},
                                           {0x0008, 0x0090}, {0x0020, 0x0010}};
    for (const auto& key : returnKeys) Add(top, key[0], key[1], "");
    Add(item, 0x0040, 0x0007, "");
    Add(item, 0x0040, 0x0003, "");
    return identifier;
}

}  // namespace lumo::app
