#pragma once

#include <cstddef>
#include <string>

#include "app/QueryRequest.h"
#include "app/TStrings.h"
#include "dicom/DicomAttribute.h"
#include "dicom/DicomDataSet.h"

namespace lumo::app {

// How each response of a query is shown: a block of labelled lines, ending
// with the separator. Reading a response never changes it. Free functions
// and a small class; the thread of the query they list.

// The separator line that ends every block, and the line of a query that
// found nothing.
inline constexpr const char* kSeparator = "---------------------";
inline constexpr const char* kNoResult = "Aucun résultat";

// The usual number of lines of a block of that kind (a worklist block has
// one more when the response holds (0008,0051)).
std::size_t LinesPerBlock(QueryLevel level);

// Appends the block of one response: the header line, the lines of its kind
// and the separator.
void ListResponse(TStrings& lines, const dicom::DicomDataSet& response, QueryLevel level);

// The value of the attribute called `name` in a sequence's items; the names
// of the attributes that come before it, or of an item that lacks it, are
// gathered as "|" + name. The last item holding the name wins. An absent or
// empty sequence gives the empty text.
std::string SequenceValueByName(const dicom::DicomAttribute& sequence, const std::string& name);

// Lists responses as they arrive, as a query's response handler: each block
// is built while the node prepares the next response. A listing that fails
// stops there; what is listed stays. Owns the lines it builds until they are
// taken; used on the query's thread.
class ResponseLister {
  public:
    explicit ResponseLister(QueryLevel level);
    void operator()(const dicom::DicomDataSet& response);

    bool Failed() const { return failed_; }
    TStrings& Lines() { return lines_; }

  private:
    QueryLevel level_;
    TStrings lines_;
    bool failed_ = false;
};

}  // namespace lumo::app
