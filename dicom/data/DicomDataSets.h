#pragma once

#include <memory>

#include "dicom/data/DicomDataSet.h"

namespace lumo::dicom {

// An ordered collection of data sets: the responses of a query, the items of
// a sequence. A reference-counted handle; indexes are 1-based; the count has
// no 16-bit limit. Not synchronised.
class DicomDataSets {
  public:
    DicomDataSets();  // a new, empty collection

    int DataSetsCount() const;
    // Index out of range raises EDicomError.
    DicomDataSet DataSetsItem(int index) const;
    // Appends the data set itself (shared, not copied).
    void DataSetsAppend(const DicomDataSet& dataSet);

    // From now on, the received data sets appended beyond the first
    // `inMemory` go to a temporary file, in the bytes they came in, rather
    // than stay in memory: a query that keeps a million responses holds
    // them on disk. One read back from there is a new data set equal to the
    // one appended (changing it does not change the collection). A data set
    // that is not held as received bytes, or that the file cannot take,
    // stays in memory.
    void DataSetsKeepOnDiskBeyond(int inMemory);

    bool SameAs(const DicomDataSets& other) const { return impl_ == other.impl_; }

    struct Impl;
    explicit DicomDataSets(std::shared_ptr<Impl> impl);
    const std::shared_ptr<Impl>& GetImpl() const { return impl_; }

  private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace lumo::dicom
