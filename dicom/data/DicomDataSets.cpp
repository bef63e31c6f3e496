#include "dicom/data/DicomDataSets.h"

#include <optional>
#include <utility>

#include "dicom/data/detail/DataErrors.h"
#include "dicom/data/detail/DataSetSpool.h"
#include "dicom/data/detail/DataSetStore.h"

namespace lumo::dicom {

DicomDataSets::DicomDataSets() : impl_(std::make_shared<Impl>()) {}

DicomDataSets::DicomDataSets(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

DicomDataSets::Impl::Impl() = default;
DicomDataSets::Impl::~Impl() = default;

int DicomDataSets::DataSetsCount() const {
    const std::size_t spooled = impl_->spool ? impl_->spool->Count() : 0;
    return static_cast<int>(impl_->items.size() + spooled);
}

DicomDataSet DicomDataSets::DataSetsItem(int index) const {
    if (index < 1 || index > DataSetsCount()) detail::ThrowIndexOutOfBounds(index);
    const auto at = static_cast<std::size_t>(index) - 1;
    if (at < impl_->items.size()) return impl_->items[at];
    return impl_->spool->Read(at - impl_->items.size());
}

void DicomDataSets::DataSetsAppend(const DicomDataSet& dataSet) {
    Impl& impl = *impl_;
    if (impl.items.size() >= impl.inMemory && !impl.spool) {
        std::optional<detail::DataSetSpool> spool = detail::DataSetSpool::Open();
        // Without a temporary folder, memory it is.
        if (spool)
            impl.spool = std::make_unique<detail::DataSetSpool>(std::move(*spool));
        else
            impl.inMemory = static_cast<std::size_t>(-1);
    }
    if (impl.spool) {
        impl.spool->Append(dataSet);
    } else {
        impl.items.push_back(dataSet);
    }
}

void DicomDataSets::DataSetsKeepOnDiskBeyond(int inMemory) {
    impl_->inMemory = static_cast<std::size_t>(inMemory < 0 ? 0 : inMemory);
}

}  // namespace lumo::dicom
