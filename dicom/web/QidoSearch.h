#pragma once

#include <functional>
#include <stop_token>
#include <string_view>

#include "dicom/data/DicomDataSet.h"
#include "dicom/net/AssociationReport.h"
#include "dicom/net/DicomQuery.h"
#include "dicom/web/DicomWebService.h"

namespace lumo::dicom {

// The C-FIND identifier of a study, series or image query sent to a
// DICOMweb service as a QIDO-RS search, its answers handed on as the C-FIND
// responses they stand for. Free functions; on the calling thread.
//
// The search: /studies; /studies/{uid}/series when the identifier matches
// one Study Instance UID, /series otherwise; /studies/{uid}/series/{uid}/
// instances, /studies/{uid}/instances or /instances the same way. Every
// other key with a value is a matching parameter, as typed (wildcards and
// date ranges read the same in both; a list of UIDs is written with commas),
// every empty key an includefield; fuzzymatching=false. `limit` is what is
// left of `limits.maxResults` (or a page of kQidoPageAnswers when there is
// no bound). While a page comes back full, or the service says with a
// Warning 299 that it left answers out, the next is asked with `offset`,
// until the end or maxResults; a service that answers every offset with the
// same first page is not asked on, and the report says what was left out.
//
// Each answer is shaped as the C-FIND response to the identifier: the keys
// it asked, and only those, as the service gave them or empty when it left
// them out; Query/Retrieve Level as asked; text in UTF-8, declared
// "ISO_IR 192". A page larger than limits.maxResponseBytes times the answers
// it may hold is refused as it arrives.
//
// `onResponse` sees each answer, in order; an exception from it ends the
// search and leaves the function. `stop` (from any thread) ends it at once:
// what came before is kept, report.cancel says Stop. Reaching maxResults
// sets report.cancel to Limit. A failure raises lumo::Exception with a class
// name and a one-line message the operator can act on (see
// DicomWebFailure.h); `report` holds every request as far as it went, also
// then; report.times holds the first request's stages (connection, TLS,
// request sent, first byte of the answer) and the search's end. An
// identifier of another level raises EDicomError.
inline constexpr int kQidoPageAnswers = 1000;
void QidoFind(const DicomWebService& service, const DicomLimits& limits,
              const DicomDataSet& identifier,
              const std::function<void(const DicomDataSet& response)>& onResponse,
              std::stop_token stop, AssociationReport& report);

// Whether a matching value goes into the search's URL with percent-escapes
// ("DOE^JOHN": %5E; not "DOE*"): a service that does not decode them finds
// nothing by it.
bool TravelsEscaped(std::string_view value);

}  // namespace lumo::dicom
