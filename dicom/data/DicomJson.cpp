#include "dicom/data/DicomJson.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcjson.h>

#include <memory>
#include <sstream>

#include "dicom/data/detail/DcmConvert.h"
#include "dicom/detail/DcmtkCheck.h"

namespace lumo::dicom {

std::string DataSetsJson(const DicomDataSets& dataSets) {
    std::ostringstream out;
    out << "[";
    const int count = dataSets.DataSetsCount();
    for (int i = 1; i <= count; ++i) {
        // The writer takes text as it is: it is handed UTF-8 throughout.
        std::unique_ptr<DcmDataset> dataset = detail::ToDcmDatasetInUtf8(dataSets.DataSetsItem(i));
        DcmJsonFormatCompact format(OFFalse);
        out << (i > 1 ? "," : "");
        detail::CheckCondition(dataset->writeJsonExt(out, format, OFTrue, OFFalse),
                               ErrorClass::EDicomError,
                               "Cannot write response " + std::to_string(i) + " as JSON");
    }
    out << "]\n";
    return out.str();
}

}  // namespace lumo::dicom
