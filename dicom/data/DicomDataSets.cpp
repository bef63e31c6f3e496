#include "dicom/data/DicomDataSets.h"

#include <utility>

#include "dicom/data/detail/DataErrors.h"
#include "dicom/data/detail/DataSetStore.h"

namespace lumo::dicom {

DicomDataSets::DicomDataSets() : impl_(std::make_shared<Impl>()) {}

DicomDataSets::DicomDataSets(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

int DicomDataSets::DataSetsCount() const { return static_cast<int>(impl_->items.size()); }

DicomDataSet DicomDataSets::DataSetsItem(int index) const {
    if (index < 1 || static_cast<std::size_t>(index) > impl_->items.size()) {
        detail::ThrowIndexOutOfBounds(index);
    }
    return impl_->items[static_cast<std::size_t>(index) - 1];
}

void DicomDataSets::DataSetsAppend(const DicomDataSet& dataSet) { impl_->items.push_back(dataSet); }

}  // namespace lumo::dicom
