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

    bool SameAs(const DicomDataSets& other) const { return impl_ == other.impl_; }

    struct Impl;
    explicit DicomDataSets(std::shared_ptr<Impl> impl);
    const std::shared_ptr<Impl>& GetImpl() const { return impl_; }

  private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace lumo::dicom
