#include "dicom/data/detail/DataSetSpool.h"

#include <dcmtk/dcmdata/dcxfer.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "dicom/data/detail/DataSetStore.h"
#include "dicom/data/detail/ReceivedDataSetReader.h"
#include "support/Exception.h"

namespace lumo::dicom::detail {

namespace {

// The bytes a data set came in and their transfer syntax, while it is held
// as such: the bytes kept for a saved file, or the plain bytes not yet read
// into elements.
std::optional<std::pair<std::string_view, int>> ReceivedBytes(const DicomDataSet& dataSet) {
    const DicomDataSet::Impl& impl = *dataSet.GetImpl();
    if (impl.received)
        return std::pair{std::string_view(impl.received->bytes), impl.received->transferSyntax};
    if (const std::optional<std::string_view> encoded = impl.elements.Encoded())
        return std::pair{*encoded, static_cast<int>(EXS_LittleEndianExplicit)};
    return std::nullopt;
}

bool WriteAll(int fd, std::string_view bytes, std::uint64_t offset) {
    while (!bytes.empty()) {
        const ssize_t written =
            ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
        offset += static_cast<std::uint64_t>(written);
    }
    return true;
}

}  // namespace

std::optional<DataSetSpool> DataSetSpool::Open() {
    const char* folder = std::getenv("TMPDIR");
    if (folder == nullptr || *folder == '\0') folder = "/tmp";
    FileDescriptor file(::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (!file.IsOpen()) return std::nullopt;
    return DataSetSpool(std::move(file));
}

void DataSetSpool::Append(const DicomDataSet& dataSet) {
    const auto received = ReceivedBytes(dataSet);
    if (received && received->first.size() <= std::numeric_limits<std::uint32_t>::max() &&
        WriteAll(file_.Get(), received->first, end_)) {
        const auto size = static_cast<std::uint32_t>(received->first.size());
        records_.push_back({end_, size, received->second});
        end_ += size;
        return;
    }
    records_.push_back({held_.size(), 0, kHeld});
    held_.push_back(dataSet);
}

DicomDataSet DataSetSpool::Read(std::size_t index) const {
    const Record& record = records_.at(index);
    if (record.transferSyntax == kHeld) return held_[record.offset];
    std::string bytes(record.size, '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::pread(file_.Get(), bytes.data() + done, bytes.size() - done,
                                    static_cast<off_t>(record.offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0)
            throw Exception(ErrorClass::EDicomError,
                            "Cannot read back a kept response from its temporary file");
        done += static_cast<std::size_t>(got);
    }
    DicomDataSet dataSet;
    const OFCondition cond =
        ReadReceivedDataSet(bytes, static_cast<E_TransferSyntax>(record.transferSyntax), dataSet);
    if (cond.bad())
        throw Exception(ErrorClass::EDicomError,
                        std::string("Cannot read back a kept response: ") + cond.text());
    return dataSet;
}

}  // namespace lumo::dicom::detail
