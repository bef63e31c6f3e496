// Runs one QueryRun (a study-level Study Root query with the console's keys,
// or a worklist query) against 127.0.0.1:PORT and prints the number of
// responses. Usage: lumo-bench-queryrun PORT [study|worklist] [AETITLE]

#include <cstdlib>
#include <iostream>
#include <string>

#include "dicom/DicomAttributes.h"
#include "dicom/DicomQuery.h"
#include "support/Exception.h"

namespace {

using lumo::dicom::DicomDataSet;
using lumo::dicom::DicomDataSets;
using lumo::dicom::Variant;

void Add(const DicomDataSet& dataSet, std::uint16_t group, std::uint16_t element,
         const Variant& value) {
    dataSet.DataSetAttributes().AttributesAdd(group, element, value);
}

DicomDataSet StudyIdentifier() {
    DicomDataSet id;
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

DicomDataSet WorklistIdentifier() {
    DicomDataSet id;
    DicomDataSets steps;
    DicomDataSet step;
    steps.DataSetsAppend(step);
    Add(id, 0x0008, 0x0050, "");
    Add(id, 0x0010, 0x0020, "");
    Add(id, 0x0040, 0x0100, Variant(steps));
    Add(step, 0x0008, 0x0060, "");
    Add(step, 0x0040, 0x0002, "");
    Add(step, 0x0040, 0x0009, "");
    return id;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: lumo-bench-queryrun PORT [study|worklist] [AETITLE]\n";
        return 2;
    }
    const std::string kind = argc > 2 ? argv[2] : "study";
    lumo::dicom::DicomQuery query;
    query.QuerySetCallingAETitle("Lumo4410");
    query.QuerySetCalledAETitle(argc > 3 ? argv[3] : "NORVANEX");
    query.QuerySetNodeAddress("127.0.0.1");
    query.QuerySetNodePort(std::atoi(argv[1]));
    query.QuerySetRoot(kind == "worklist" ? "WORKLIST" : "STUDY");
    if (kind == "worklist") query.QuerySetLevel("STUDY");
    try {
        DicomDataSets responses =
            query.QueryRun(kind == "worklist" ? WorklistIdentifier() : StudyIdentifier());
        std::cout << responses.DataSetsCount() << "\n";
    } catch (const lumo::Exception& e) {
        std::cerr << e.ClassName() << ": " << e.what() << "\n";
        return 1;
    }
    return 0;
}
