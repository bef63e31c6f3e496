#include "app/SavedResponses.h"

#include <exception>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/ResponseListing.h"
#include "dicom/data/DicomDataSet.h"
#include "support/Exception.h"

namespace lumo::app {

void SaveAndListResponses(TStrings& lines, const dicom::DicomDataSets& responses, QueryLevel level,
                          const std::string& folder) {
    const int count = responses.DataSetsCount();
    for (int i = 1; i <= count; ++i) {
        const dicom::DicomDataSet response = responses.DataSetsItem(i);
        const std::string fileName = folder + "Logs/Lumo4410_" + std::to_string(i) + ".dcm";
        try {
            std::error_code ignored;
            std::filesystem::create_directories(folder + "Logs", ignored);
            response.DataSetWriteFile(fileName);
        } catch (const std::exception& e) {
            lines.Add("Exception dans DataSetWriteFile(" + fileName + "):" + ExceptionClassName(e) +
                      ":" + e.what());
        }
        ListResponse(lines, response, level);
    }
}

}  // namespace lumo::app
