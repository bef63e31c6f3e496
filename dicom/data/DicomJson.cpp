#include "dicom/data/DicomJson.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcjson.h>

#include <memory>
#include <sstream>

#include "dicom/data/detail/DcmConvert.h"
#include "dicom/detail/DcmtkCheck.h"

namespace lumo::dicom {

std::string DataSetJson(const DicomDataSet& dataSet, int number) {
    // The writer takes text as it is: it is handed UTF-8 throughout.
    std::unique_ptr<DcmDataset> dataset = detail::ToDcmDatasetInUtf8(dataSet);
    DcmJsonFormatCompact format(OFFalse);
    std::ostringstream out;
    detail::CheckCondition(dataset->writeJsonExt(out, format, OFTrue, OFFalse),
                           ErrorClass::EDicomError,
                           "Cannot write response " + std::to_string(number) + " as JSON");
    return out.str();
}

std::string DataSetsJson(const DicomDataSets& dataSets) {
    std::string json = "[";
    const int count = dataSets.DataSetsCount();
    for (int i = 1; i <= count; ++i) {
        if (i > 1) json += ',';
        json += DataSetJson(dataSets.DataSetsItem(i), i);
    }
    return json + "]\n";
}

}  // namespace lumo::dicom
