#include "app/QueryRequest.h"

namespace lumo::app {

const char* RootText(QueryLevel level) {
    switch (level) {
        case QueryLevel::Worklist:
            return "WORKLIST";
        case QueryLevel::Patient:
            return "PATIENT";
        default:
            return "STUDY";
    }
}

const char* LevelText(QueryLevel level) {
    switch (level) {
        case QueryLevel::Patient:
            return "PATIENT";
        case QueryLevel::Series:
            return "SERIES";
        case QueryLevel::Image:
            return "IMAGE";
        default:
            return "STUDY";
    }
}

dicom::DicomQuery MakeDicomQuery(const QueryRequest& request) {
    dicom::DicomQuery query;
    query.SetTimeouts(request.node.timeouts);
    query.SetLimits(request.node.limits);
    query.QuerySetCallingAETitle(request.node.callingAETitle);
    query.QuerySetCalledAETitle(request.node.calledAETitle);
    query.QuerySetNodeAddress(request.node.address);
    query.QuerySetNodePort(request.node.port);
    query.QuerySetRoot(request.Root());
    // The C-FIND levels travel in (0008,0052) of the identifier instead.
    if (request.level == QueryLevel::Worklist) query.QuerySetLevel("STUDY");
    return query;
}

}  // namespace lumo::app
