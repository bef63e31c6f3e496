#pragma once

// The identifiers the QueryRun benchmarks send: the console's study-level
// Study Root keys, and its worklist keys with the scheduled step in a
// one-item sequence. Built with the toolkit's own operations.

#include <cstdint>
#include <utility>

#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/data/Variant.h"

namespace lumo::bench {

inline void Add(const dicom::DicomDataSet& dataSet, std::uint16_t group, std::uint16_t element,
                const dicom::Variant& value) {
    dataSet.DataSetAttributes().AttributesAdd(group, element, value);
}

inline dicom::DicomDataSet StudyIdentifier() {
    dicom::DicomDataSet id;
    Add(id, 0x0008, 0x0005, "ISO_IR 100");
    Add(id, 0x0008, 0x0052, "STUDY");
    for (auto [group, element] : {std::pair{0x0008, 0x0020},
                                  {0x0008, 0x0030},
                                  {0x0008, 0x0050},
                                  {0x0008, 0x0060},
                                  {0x0008, 0x0080},
                                  {0x0008, 0x0090},
                                  {0x0010, 0x0010},
                                  {0x0010, 0x0020},
                                  {0x0010, 0x0030},
                                  {0x0020, 0x000D},
                                  {0x0020, 0x1206},
                                  {0x0020, 0x1208}})
        Add(id, static_cast<std::uint16_t>(group), static_cast<std::uint16_t>(element), "");
    return id;
}

inline dicom::DicomDataSet WorklistIdentifier() {
    dicom::DicomDataSet id;
    dicom::DicomDataSets steps;
    dicom::DicomDataSet step;
    steps.DataSetsAppend(step);
    Add(id, 0x0008, 0x0050, "");
    Add(id, 0x0010, 0x0020, "");
    Add(id, 0x0040, 0x0100, dicom::Variant(steps));
    Add(step, 0x0008, 0x0060, "");
    Add(step, 0x0040, 0x0002, "");
    Add(step, 0x0040, 0x0009, "");
    return id;
}

}  // namespace lumo::bench
