#pragma once

// Private to dicom/: the data sets of a collection kept in a temporary file
// rather than in memory, as they arrived on the wire.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dicom/data/DicomDataSet.h"
#include "support/FileDescriptor.h"

namespace lumo::dicom::detail {

// Received data sets written, each in the bytes it came in and with its
// transfer syntax, to a file of its own that has no name (it goes with the
// descriptor, whatever ends the program), and read back one at a time: a
// collection of a million responses then holds sixteen bytes each in
// memory. Only what can be read back as it arrived goes to the file (a data
// set still held as its received bytes); anything else, or anything the
// file cannot take (a full disk), is held in memory in its place. Owned by
// its collection; not synchronised.
class DataSetSpool {
  public:
    // An empty spool in the temporary folder ($TMPDIR, else /tmp); nothing
    // when no file can be made there.
    static std::optional<DataSetSpool> Open();

    void Append(const DicomDataSet& dataSet);
    std::size_t Count() const { return records_.size(); }
    // The data set at `index` (0-based, below Count()): one read back from
    // the file is a new data set, equal to the one appended. A file that
    // can no longer be read raises EDicomError.
    DicomDataSet Read(std::size_t index) const;

  private:
    explicit DataSetSpool(FileDescriptor file) : file_(std::move(file)) {}

    // In the file: `size` bytes at `offset`; in memory: held_[offset], with
    // `transferSyntax` kHeld.
    struct Record {
        std::uint64_t offset = 0;
        std::uint32_t size = 0;
        std::int32_t transferSyntax = 0;
    };
    static constexpr std::int32_t kHeld = -1;
    FileDescriptor file_;
    std::uint64_t end_ = 0;
    std::vector<Record> records_;
    std::vector<DicomDataSet> held_;
};

}  // namespace lumo::dicom::detail
