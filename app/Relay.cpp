#include "app/Relay.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "app/QueryIdentifier.h"
#include "app/QueryRun.h"
#include "app/ResponseListing.h"
#include "app/TFormTestWL.h"
#include "dicom/data/DicomAttribute.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/data/Variant.h"
#include "dicom/net/DimseStatus.h"
#include "logging/uApplicationLogger.h"
#include "support/Exception.h"

namespace lumo::app {

namespace {

// Issuer of Accession Number Sequence.
constexpr std::uint16_t kIssuerGroup = 0x0008;
constexpr std::uint16_t kIssuerElement = 0x0051;

std::string RequestLine(int number, const char* what) {
    return "Query Request :" + std::to_string(number) + what;
}

// An error of the handler's steps is logged, not raised: the caller gets
// its status all the same, and the log says why the request ended there.
void LogRequestError(int number, const Exception& e) {
    AppLogger().Log("Exception dans Query Request :" + std::to_string(number) + " (" +
                        e.ClassName() + "):" + e.Message(),
                    LogLevel::Error, 0);
}

// A place among the relayed queries under way, for as long as it lives; none
// when the caller cancelled or went while it waited.
class RelayPlace {
  public:
    RelayPlace(RelayPlaces& places, std::stop_token stop)
        : places_(places), taken_(places.Take(std::move(stop))) {}
    ~RelayPlace() {
        if (taken_) places_.Give();
    }
    RelayPlace(const RelayPlace&) = delete;
    RelayPlace& operator=(const RelayPlace&) = delete;

  private:
    RelayPlaces& places_;
    const bool taken_;
};

// Scheduled Procedure Step Start Date as the caller asked it: at the top
// level when it has a value there (callers rely on that), else in its first
// scheduled step, where a standard modality puts it; null when neither.
dicom::DicomAttribute CallerDate(const dicom::DicomDataSet& request) {
    const dicom::DicomAttribute top = request.DataSetAttributes().AttributesFind(0x0040, 0x0002);
    if (!top.AttributeValue().IsNull()) return top;
    const dicom::DicomAttribute steps = request.DataSetAttributes().AttributesFind(0x0040, 0x0100);
    if (steps.VR() == "SQ") {
        const dicom::DicomDataSets items = steps.AttributeValue().AsCollection();
        if (items.DataSetsCount() > 0)
            return items.DataSetsItem(1).DataSetAttributes().AttributesFind(0x0040, 0x0002);
    }
    return top;
}

// The exchange with the node, off the form's thread (the listener's thread
// for this caller), then the listing on the form's thread and the caller's
// final status.
void RelayQuery(TFormTestWL& form, RelayedQuery query, dicom::DicomConnection connection,
                const dicom::DicomConnection::FormTask& onForm) {
    const std::stop_token stop = connection.ConnectionStopToken();
    std::optional<ResponseLister> lister;
    if (query.listAsArrives) lister.emplace(query.request.level);
    QueryOutcome outcome;
    {
        // A query stopped while it waited is not sent at all.
        const RelayPlace place(form.RelayedQueries(), stop);
        RelayForwarder forward(connection);
        outcome = RunQuery(
            query.request, query.identifier,
            [&](const dicom::DicomDataSet& response, int) {
                forward(response);
                if (lister) (*lister)(response);
            },
            stop);
    }
    outcome.requested = query.requested;
    const bool answered = outcome.Answered();
    const bool cutShort = outcome.CutShort();
    const int number = connection.ConnectionNumber();
    onForm([&] {
        form.RunHandler([&] {
            form.EndPendingConnection(connection);
            try {
                form.EndRelayedQuery(std::move(outcome), lister ? &*lister : nullptr);
                AppLogger().Log(RequestLine(number, " Fin"), LogLevel::Trace, 0);
            } catch (const Exception& e) {
                LogRequestError(number, e);
            }
        });
    });
    try {
        FinishRelay(connection, answered, cutShort);
    } catch (const Exception&) {
        // The caller has gone; the listener ends the association.
    }
}

}  // namespace

void RelayPlaces::SetBound(int bound) {
    {
        std::lock_guard lock(mutex_);
        bound_ = bound;
    }
    changed_.notify_all();
}

bool RelayPlaces::Take(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait(lock, stop, [&] { return underWay_ < bound_; })) return false;
    ++underWay_;
    return true;
}

void RelayPlaces::Give() {
    {
        std::lock_guard lock(mutex_);
        --underWay_;
    }
    changed_.notify_one();
}

void AnswerIncomingQuery(TFormTestWL& form, dicom::DicomConnection& connection) {
    const auto number = [&connection] { return connection.ConnectionNumber(); };
    AppLogger().Log(RequestLine(number(), " Début"), LogLevel::Trace, 0);
    try {
        CopyIncomingRequestToFields(form, connection);
        form.SetPendingConnection(connection);
        std::optional<RelayedQuery> query = form.BeginRelayedQuery();
        if (!query) {
            // Nothing was sent: the listing says why, the caller gets C000.
            AppLogger().Log(RequestLine(number(), " Fin"), LogLevel::Trace, 0);
            form.SetPendingConnection(std::nullopt);
            return;
        }
        AddReturnKeysOf(connection.ConnectionRequest(), query->identifier);
        connection.ConnectionContinueOffForm(
            [&form, query = std::move(*query),
             caller = connection](const dicom::DicomConnection::FormTask& onForm) mutable {
                RelayQuery(form, std::move(query), std::move(caller), onForm);
            });
    } catch (const Exception& e) {
        LogRequestError(number(), e);
        form.SetPendingConnection(std::nullopt);
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
    const dicom::DicomAttribute date = CallerDate(request);
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
