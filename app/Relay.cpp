#include "app/Relay.h"

#include <cstdint>
#include <string>

#include "app/TFormTestWL.h"
#include "dicom/data/DicomAttribute.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/Variant.h"
#include "dicom/net/DimseStatus.h"
#include "logging/uApplicationLogger.h"
#include "support/DateTime.h"
#include "support/Exception.h"

namespace lumo::app {

namespace {

// Issuer of Accession Number Sequence.
constexpr std::uint16_t kIssuerGroup = 0x0008;
constexpr std::uint16_t kIssuerElement = 0x0051;

// The caller's final status from how the exchange went, never from what the
// listing made of it. A send that fails means the caller has gone, which
// leaves nothing to tell it.
void EndRelay(dicom::DicomConnection& connection, const QueryOutcome& outcome) {
    try {
        FinishRelay(connection, outcome.Answered(), outcome.CutShort());
    } catch (const Exception&) {
        // The listener ends the association.
    }
}

}  // namespace

void AnswerIncomingQuery(TFormTestWL& form, dicom::DicomConnection& connection) {
    const auto number = [&connection] { return std::to_string(connection.ConnectionNumber()); };
    AppLogger().Log("Query Request :" + number() + " Début", LogLevel::Trace, 0);
    try {
        CopyIncomingRequestToFields(form, connection);
        form.SetPendingConnection(connection);
        RelayForwarder forward(connection);
        const RelayedRequest relayed{
            [&forward](const dicom::DicomDataSet& response, int) { forward(response); },
            connection.ConnectionStopToken(),
            [&connection](const QueryOutcome& outcome) { EndRelay(connection, outcome); }};
        form.PressQueryButton(QueryLevel::Worklist, &relayed);
        AppLogger().Log("Query Request :" + number() + " Fin", LogLevel::Trace, 0);
    } catch (const Exception& e) {
        AppLogger().Log(
            "Exception dans Query Request :" + number() + " (" + e.ClassName() + "):" + e.Message(),
            LogLevel::Error, 0);
    }
    // The request is over once this handler returns: later queries must not
    // write to it.
    form.SetPendingConnection(std::nullopt);
    if (connection.ConnectionIsWaiting()) {
        try {
            connection.ConnectionSendStatus(dicom::DimseStatus::UnableToProcess);
        } catch (const Exception&) {
            // The caller has gone; the listener ends the association.
        }
    }
}

void CopyIncomingRequestToFields(TFormTestWL& form, const dicom::DicomConnection& connection) {
    AppLogger().Log("Query Request Connection.Root : " + connection.ConnectionRoot(),
                    LogLevel::Trace, 0);
    const dicom::DicomDataSet request = connection.ConnectionRequest();
    const dicom::DicomAttributes keys = request.DataSetAttributes();
    AppLogger().Log("Query Request Connection.Level : " +
                        dicom::VarToStr(keys.AttributesFind(0x0008, 0x0052).AttributeValue()),
                    LogLevel::Trace, 0);
    form.EditCallingAETitle.Text = connection.ConnectionCallingAETitle();
    form.EditAETitle.Text = connection.ConnectionCalledAETitle();
    const dicom::DicomAttribute date = keys.AttributesFind(0x0040, 0x0002);
    // The date goes on as the caller wrote it (a single date or a range):
    // its locale form would not be a date the node can match.
    form.EditDate.Text = date.AttributeValue().IsNull() ? FormatDateTime("yyyymmdd", Now())
                                                        : date.AttributeWideValue().AsText();
    form.EditAccession.Text = request.DataSetAccessionNumber();
    form.EditDossier.Text = request.DataSetPatientID();
}

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
