#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "app/QueryRequest.h"
#include "app/TStrings.h"
#include "dicom/data/DicomAttribute.h"
#include "dicom/data/DicomDataSet.h"

namespace lumo::app {

// How each response of a query is shown: a block of labelled lines, ending
// with the separator. Reading a response never changes it. Free functions
// and a small class; the thread of the query they list.

// The separator line that ends every block, and the line of a query that
// found nothing.
inline constexpr const char* kSeparator = "---------------------";
inline constexpr const char* kNoResult = "Aucun résultat";

// Appends the block of one response: the header line, the lines of its kind
// and the separator. A value that cannot be shown (a sequence where text was
// expected) raises; the lines listed before it stay, a line half built does
// not.
void ListResponse(TStrings& lines, const dicom::DicomDataSet& response, QueryLevel level);

// The value of the attribute called `name` in a sequence's items; the names
// of the attributes that come before it, or of an item that lacks it, are
// gathered as "|" + name. The last item holding the name wins. An absent or
// empty sequence gives the empty text.
std::string SequenceValueByName(const dicom::DicomAttribute& sequence, const std::string& name);

// Lists responses as they arrive, as a query's response handler: each block
// is built while the node prepares the next response. A listing that fails
// stops there; what is listed stays. Owns the lines it builds until they are
// moved on; used on the query's thread, except MoveNewLines.
class ResponseLister {
  public:
    explicit ResponseLister(QueryLevel level);
    void operator()(const dicom::DicomDataSet& response);

    // Moves to the end of `shown` the blocks listed since the last call,
    // text and all, rather than a copy: what a window shows while the query
    // runs costs no second copy of its lines, and once the query is over
    // the last call hands over the rest. Any one other thread.
    void MoveNewLines(TStrings& shown);

    // Hands the lines of each block to `take` as soon as it is listed, and
    // lets them go: the lister then holds nothing from one response to the
    // next. Before the first response.
    void PassOn(std::function<void(const TStrings& lines)> take) { passOn_ = std::move(take); }

    // Once the query is over: whether the listing stopped, and on what
    // ("EClass:message").
    bool Failed() const { return failed_; }
    const std::string& Failure() const { return failure_; }

  private:
    QueryLevel level_;
    std::mutex mutex_;  // over the lines not yet moved on
    TStrings lines_;
    bool failed_ = false;
    std::string failure_;
    std::function<void(const TStrings&)> passOn_;
};

}  // namespace lumo::app
