#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace lumo::dicom {

class DicomAttributes;

// One DICOM data set (an identifier, a response, a sequence item). A
// reference-counted handle: copies share the same data set, so an item
// appended to a collection and filled afterwards is filled in the collection
// too. Not synchronised: use one data set from one thread at a time.
class DicomDataSet {
  public:
    DicomDataSet();  // a new, empty data set

    DicomAttributes DataSetAttributes() const;

    // Texts of (0010,0020), (0008,0050) and (0020,000D); empty when absent.
    std::string DataSetPatientID() const;
    std::string DataSetAccessionNumber() const;
    std::string DataSetStudyUID() const;

    // Writes a DICOM file (preamble, meta header, explicit VR little endian)
    // through a temporary file beside it and a rename, so that a failure
    // leaves nothing partial under the name. Raises on failure, e.g. a
    // folder that does not exist.
    void DataSetWriteFile(const std::string& fileName) const;

    // Reads a DICOM file (with or without meta header).
    static DicomDataSet ReadFile(const std::string& fileName);

    // Of a received data set: the declared character set of a text that
    // could not be decoded (shown with U+FFFD in place of what failed), or
    // empty when every text was read.
    std::string DataSetUndecodableCharset() const;

    // Of a received data set that declares no character set: how its text
    // beyond ASCII was read, UTF-8 when its bytes were valid UTF-8, Latin-1
    // (Windows-1252 for the bytes 80 to 9F) otherwise; both when its values
    // differ. None when it declares its set or holds only ASCII.
    enum class AssumedCharset { None, Utf8, Latin1, Both };
    AssumedCharset DataSetAssumedCharset() const;

    // About how many bytes of memory the data set holds: its kept bytes, or
    // its values and items, and the bytes it arrived in when it keeps them.
    // What a caller that holds many weighs them by.
    std::size_t DataSetHeldBytes() const;

    // A new data set with the same attributes, to change without touching
    // this one (the items of its sequences are shared, not copied).
    DicomDataSet DataSetCopy() const;

    bool SameAs(const DicomDataSet& other) const { return impl_ == other.impl_; }

    struct Impl;
    explicit DicomDataSet(std::shared_ptr<Impl> impl);
    const std::shared_ptr<Impl>& GetImpl() const { return impl_; }

  private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace lumo::dicom
