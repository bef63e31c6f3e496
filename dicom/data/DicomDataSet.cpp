#include "dicom/data/DicomDataSet.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <algorithm>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "dicom/data/DicomAttributes.h"
#include "dicom/data/detail/DataSetStore.h"
#include "dicom/data/detail/DcmConvert.h"
#include "dicom/data/detail/IncomingText.h"
#include "dicom/data/detail/ReceivedDataSetReader.h"
#include "dicom/data/detail/ReceivedRules.h"
#include "dicom/detail/DcmtkCheck.h"
#include "support/NewFileBeside.h"

namespace lumo::dicom {

namespace {

bool TagBefore(const detail::Element& element, std::uint32_t tag) { return element.tag < tag; }

std::string TextOf(const DicomDataSet::Impl& impl, std::uint32_t tag) {
    const detail::Element* element = impl.Find(tag);
    if (element == nullptr) return std::string();
    if (const std::string* text = element->Text()) return *text;
    return std::string();
}

[[noreturn]] void CannotWrite(const std::string& fileName, int error) {
    throw Exception(ErrorClass::EDicomError,
                    "Cannot write " + fileName + ": " + std::system_category().message(error));
}

}  // namespace

const detail::Element* DicomDataSet::Impl::Find(std::uint32_t tag) const {
    const auto it = std::lower_bound(elements.begin(), elements.end(), tag, TagBefore);
    return it != elements.end() && it->tag == tag ? &*it : nullptr;
}

void DicomDataSet::Impl::Put(detail::Element element) {
    received.reset();
    const auto it = std::lower_bound(elements.begin(), elements.end(), element.tag, TagBefore);
    if (it != elements.end() && it->tag == element.tag) {
        *it = std::move(element);
    } else {
        elements.insert(it, std::move(element));
    }
}

void DicomDataSet::Impl::Remove(std::uint32_t tag) {
    received.reset();
    const auto it = std::lower_bound(elements.begin(), elements.end(), tag, TagBefore);
    if (it != elements.end() && it->tag == tag) elements.erase(it);
}

DicomDataSet::DicomDataSet() : impl_(std::make_shared<Impl>()) {}

DicomDataSet::DicomDataSet(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::string DicomDataSet::DataSetUndecodableCharset() const { return impl_->undecodableCharset; }

DicomDataSet::AssumedCharset DicomDataSet::DataSetAssumedCharset() const {
    switch (impl_->undeclaredReading) {
        case detail::kReadAsUtf8:
            return AssumedCharset::Utf8;
        case detail::kReadAsLatin1:
            return AssumedCharset::Latin1;
        case detail::kReadAsUtf8 | detail::kReadAsLatin1:
            return AssumedCharset::Both;
        default:
            return AssumedCharset::None;
    }
}

namespace {

std::size_t HeldBytes(const DicomDataSet::Impl& impl, int depth) {
    std::size_t bytes = sizeof impl + (impl.received ? impl.received->bytes.size() : 0);
    if (const std::optional<std::string_view> encoded = impl.elements.Encoded())
        return bytes + encoded->size();
    for (const detail::Element& element : impl.elements) {
        bytes += sizeof element;
        if (const std::string* text = element.Text()) {
            bytes += text->size();
        } else if (const DicomDataSets* items = element.Items()) {
            // A data set that contains itself is refused elsewhere; here it
            // counts once.
            if (depth >= detail::kMaxNesting) continue;
            for (const DicomDataSet& item : items->GetImpl()->items)
                bytes += HeldBytes(*item.GetImpl(), depth + 1);
        } else if (const auto* raw = element.Raw()) {
            bytes += (*raw)->getLengthField();
        }
    }
    return bytes;
}

}  // namespace

std::size_t DicomDataSet::DataSetHeldBytes() const { return HeldBytes(*impl_, 0); }

DicomDataSet DicomDataSet::DataSetCopy() const {
    return DicomDataSet(std::make_shared<Impl>(*impl_));
}

DicomAttributes DicomDataSet::DataSetAttributes() const { return DicomAttributes(*this); }

std::string DicomDataSet::DataSetPatientID() const {
    return TextOf(*impl_, detail::MakeTag(0x0010, 0x0020));
}

std::string DicomDataSet::DataSetAccessionNumber() const {
    return TextOf(*impl_, detail::MakeTag(0x0008, 0x0050));
}

std::string DicomDataSet::DataSetStudyUID() const {
    return TextOf(*impl_, detail::MakeTag(0x0020, 0x000D));
}

namespace {

// A response whose text could not all be decoded is saved in the bytes it
// came in, its own Specific Character Set with them; any other data set as
// the toolkit holds it, declared as what its text is.
std::unique_ptr<DcmDataset> ToSave(const DicomDataSet::Impl& impl, const DicomDataSet& dataSet,
                                   const std::string& fileName) {
    if (!impl.received) return detail::ToDcmDataset(dataSet);
    auto dataset = std::make_unique<DcmDataset>();
    detail::CheckCondition(
        detail::ReadIntoDcmtk(impl.received->bytes,
                              static_cast<E_TransferSyntax>(impl.received->transferSyntax),
                              *dataset),
        ErrorClass::EDicomError, "Cannot write " + fileName);
    return dataset;
}

}  // namespace

void DicomDataSet::DataSetWriteFile(const std::string& fileName) const {
    std::unique_ptr<DcmDataset> dataset = ToSave(*impl_, *this, fileName);
    // A response usually carries no SOP class or instance, but the meta
    // header needs both: such a file is stored as a secondary capture with an
    // instance UID of its own, the data set itself left as received.
    OFString sopClass;
    OFString sopInstance;
    dataset->findAndGetOFString(DCM_SOPClassUID, sopClass);
    dataset->findAndGetOFString(DCM_SOPInstanceUID, sopInstance);
    DcmFileFormat file(dataset.release(), OFFalse);
    DcmMetaInfo* meta = file.getMetaInfo();
    if (sopClass.empty()) {
        detail::CheckCondition(
            meta->putAndInsertString(DCM_MediaStorageSOPClassUID, UID_SecondaryCaptureImageStorage),
            ErrorClass::EDicomError, "Cannot write " + fileName);
    }
    if (sopInstance.empty()) {
        char uid[100];
        detail::CheckCondition(meta->putAndInsertString(DCM_MediaStorageSOPInstanceUID,
                                                        dcmGenerateUniqueIdentifier(uid)),
                               ErrorClass::EDicomError, "Cannot write " + fileName);
    }
    NewFileBeside written(fileName);
    if (written.Error() != 0) CannotWrite(fileName, written.Error());
    detail::CheckCondition(
        file.saveFile(OFFilename(written.Name().c_str()), EXS_LittleEndianExplicit,
                      EET_ExplicitLength, EGL_recalcGL, EPD_noChange, 0, 0, EWM_fileformat),
        ErrorClass::EDicomError, "Cannot write " + fileName);
    if (const int error = written.Flush(); error != 0) CannotWrite(fileName, error);
    if (const int error = written.Rename(); error != 0) CannotWrite(fileName, error);
}

DicomDataSet DicomDataSet::ReadFile(const std::string& fileName) {
    DcmFileFormat file;
    detail::CheckCondition(file.loadFile(OFFilename(fileName.c_str())), ErrorClass::EDicomError,
                           "Cannot read " + fileName);
    return detail::FromDcmItem(*file.getDataset());
}

}  // namespace lumo::dicom
