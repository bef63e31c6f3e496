// Runs one QueryRun (a study-level Study Root query with the console's keys,
// or a worklist query) against 127.0.0.1:PORT and prints the number of
// responses. Usage: lumo-bench-queryrun PORT [study|worklist] [AETITLE]

#include <cstdlib>
#include <iostream>
#include <string>

#include "bench/queryrun/Identifiers.h"
#include "dicom/net/DicomQuery.h"
#include "support/Exception.h"

using lumo::bench::StudyIdentifier;
using lumo::bench::WorklistIdentifier;
using lumo::dicom::DicomDataSets;

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
