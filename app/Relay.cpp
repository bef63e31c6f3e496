#include "app/Relay.h"

#include "dicom/DicomAttributes.h"
#include "dicom/DimseStatus.h"

namespace lumo::app {

dicom::DicomDataSets ResponsesToForward(const dicom::DicomDataSets& responses) {
    dicom::DicomDataSets forwarded;
    const int count = responses.DataSetsCount();
    for (int i = 1; i <= count; ++i) {
        dicom::DicomDataSet response = responses.DataSetsItem(i);
        if (response.DataSetAttributes().AttributesFind(0x0008, 0x0051).AttributeIsPresent()) {
            response = response.DataSetCopy();
            response.DataSetAttributes().AttributesRemove(0x0008, 0x0051);
        }
        forwarded.DataSetsAppend(response);
    }
    return forwarded;
}

void ForwardResponses(dicom::DicomConnection& connection, const dicom::DicomDataSets& responses) {
    if (!connection.ConnectionIsWaiting()) return;
    connection.ConnectionSendResponses(ResponsesToForward(responses), dicom::DimseStatus::Pending);
    connection.ConnectionSendStatus(dicom::DimseStatus::Success);
}

}  // namespace lumo::app
