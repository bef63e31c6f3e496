#include "app/Relay.h"

#include <cstdint>

#include "dicom/net/DimseStatus.h"
#include "support/Exception.h"

namespace lumo::app {

namespace {

// Issuer of Accession Number Sequence.
constexpr std::uint16_t kIssuerGroup = 0x0008;
constexpr std::uint16_t kIssuerElement = 0x0051;

}  // namespace

RelayForwarder::RelayForwarder(dicom::DicomConnection& connection)
    : connection_(connection), callerStop_(connection.ConnectionStopToken()) {}

void RelayForwarder::operator()(const dicom::DicomDataSet& response) {
    if (ended_) return;
    if (callerStop_.stop_requested() || !connection_.ConnectionIsWaiting()) {
        ended_ = true;
        return;
    }
    try {
        connection_.ConnectionSendResponseWithout(response, dicom::DimseStatus::Pending,
                                                  kIssuerGroup, kIssuerElement);
        ++forwarded_;
    } catch (const Exception&) {
        // The caller has gone; the connection has requested its stop, so
        // the query ends with a cancel rather than an abort of the node.
        ended_ = true;
    }
}

void FinishRelay(dicom::DicomConnection& connection, bool answered, bool cutShort) {
    if (!connection.ConnectionIsWaiting()) return;
    if (connection.ConnectionCancelled() || (answered && cutShort)) {
        connection.ConnectionSendStatus(dicom::DimseStatus::Cancel);
    } else if (answered) {
        connection.ConnectionSendStatus(dicom::DimseStatus::Success);
    }
}

}  // namespace lumo::app
