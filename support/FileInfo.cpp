#include "support/FileInfo.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

#include "support/Exception.h"
#include "support/FileDescriptor.h"
#include "support/TextEncoding.h"

namespace lumo {

namespace {

constexpr std::uint32_t ShtNote = 7;
constexpr std::uint32_t PtNote = 4;
constexpr std::size_t FixedFileInfoSize = 6 * sizeof(std::uint32_t);

[[noreturn]] void NotAvailable() {
    throw Exception(ErrorClass::Exception, "Fixed file info not available");
}

// Bounds-checked, byte-order-aware reads over a whole ELF image. Every read
// outside the image is a malformed file.
class ElfImage {
  public:
    ElfImage(std::string_view bytes, bool bigEndian, bool wide)
        : bytes_(bytes), bigEndian_(bigEndian), wide_(wide) {}

    bool Wide() const { return wide_; }
    bool BigEndian() const { return bigEndian_; }
    std::uint64_t Size() const { return bytes_.size(); }

    // Whether [offset, offset + length) lies inside the image.
    bool Holds(std::uint64_t offset, std::uint64_t length) const {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }

    std::uint64_t Read(std::uint64_t offset, unsigned width) const {
        if (!Holds(offset, width)) NotAvailable();
        std::uint64_t value = 0;
        for (unsigned i = 0; i < width; ++i) {
            const auto byte = static_cast<unsigned char>(bytes_[offset + i]);
            const unsigned shift = bigEndian_ ? 8 * (width - 1 - i) : 8 * i;
            value |= static_cast<std::uint64_t>(byte) << shift;
        }
        return value;
    }
    std::uint32_t U16(std::uint64_t offset) const {
        return static_cast<std::uint32_t>(Read(offset, 2));
    }
    std::uint32_t U32(std::uint64_t offset) const {
        return static_cast<std::uint32_t>(Read(offset, 4));
    }
    // A file-sized field: 32 bits in ELF32, 64 bits in ELF64.
    std::uint64_t Word(std::uint64_t offset) const { return Read(offset, wide_ ? 8 : 4); }

    std::string_view Bytes(std::uint64_t offset, std::uint64_t length) const {
        if (!Holds(offset, length)) NotAvailable();
        return bytes_.substr(offset, length);
    }

  private:
    std::string_view bytes_;
    bool bigEndian_;
    bool wide_;
};

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
    return value + (alignment - value % alignment) % alignment;
}

// Walks the notes of one note area; returns our note's descriptor if found.
std::optional<std::string_view> FindNote(const ElfImage& elf, std::uint64_t offset,
                                         std::uint64_t size, std::uint64_t alignment) {
    if (!elf.Holds(offset, size)) NotAvailable();
    // Notes are padded to 4 bytes, or to 8 in areas aligned so.
    alignment = alignment == 8 ? 8 : 4;
    const std::uint64_t end = offset + size;
    std::uint64_t pos = offset;
    while (end - pos >= 12) {
        const std::uint64_t nameSize = elf.U32(pos);
        const std::uint64_t descSize = elf.U32(pos + 4);
        const std::uint32_t type = elf.U32(pos + 8);
        const std::uint64_t namePos = pos + 12;
        if (nameSize > end - namePos) NotAvailable();
        // The descriptor and the next note start on the area's alignment.
        const std::uint64_t descPos = offset + AlignUp(namePos + nameSize - offset, alignment);
        if (descPos > end || descSize > end - descPos) NotAvailable();
        const std::string_view name = elf.Bytes(namePos, nameSize);
        if (type == VersionNoteType &&
            name == std::string_view(VersionNoteOwner, sizeof VersionNoteOwner))
            return elf.Bytes(descPos, descSize);
        // The last note may omit the padding after its descriptor.
        const std::uint64_t next = AlignUp(descPos + descSize - offset, alignment);
        if (next >= size) break;
        pos = offset + next;
    }
    // Trailing bytes too short for a note header are padding.
    return std::nullopt;
}

std::optional<std::string_view> FindVersionNote(const ElfImage& elf) {
    const bool wide = elf.Wide();
    const std::uint64_t headerSize = wide ? 64 : 52;
    if (!elf.Holds(0, headerSize)) NotAvailable();
    const std::uint64_t phoff = elf.Word(wide ? 32 : 28);
    const std::uint64_t shoff = elf.Word(wide ? 40 : 32);
    const std::uint32_t phentsize = elf.U16(wide ? 54 : 42);
    std::uint64_t phnum = elf.U16(wide ? 56 : 44);
    const std::uint32_t shentsize = elf.U16(wide ? 58 : 46);
    std::uint64_t shnum = elf.U16(wide ? 60 : 48);

    const std::uint64_t shdrSize = wide ? 64 : 40;
    const std::uint64_t phdrSize = wide ? 56 : 32;

    if (shoff != 0) {
        if (shentsize < shdrSize) NotAvailable();
        // Many sections: the real count stands in the first header's size.
        if (shnum == 0) shnum = elf.Word(shoff + (wide ? 32 : 20));
        if (shnum > elf.Size() / shentsize || !elf.Holds(shoff, shnum * shentsize)) NotAvailable();
        for (std::uint64_t i = 0; i < shnum; ++i) {
            const std::uint64_t h = shoff + i * shentsize;
            if (elf.U32(h + 4) != ShtNote) continue;
            const std::uint64_t offset = elf.Word(h + (wide ? 24 : 16));
            const std::uint64_t size = elf.Word(h + (wide ? 32 : 20));
            const std::uint64_t align = elf.Word(h + (wide ? 48 : 32));
            if (auto note = FindNote(elf, offset, size, align)) return note;
        }
        if (shnum > 0) return std::nullopt;
    }
    // No section table (a stripped-down file): the note segments.
    if (phoff != 0 && phnum != 0) {
        if (phentsize < phdrSize) NotAvailable();
        if (phnum == 0xFFFF && shoff != 0) phnum = elf.U32(shoff + (wide ? 44 : 28));
        if (phnum > elf.Size() / phentsize || !elf.Holds(phoff, phnum * phentsize)) NotAvailable();
        for (std::uint64_t i = 0; i < phnum; ++i) {
            const std::uint64_t h = phoff + i * phentsize;
            if (elf.U32(h) != PtNote) continue;
            const std::uint64_t offset = elf.Word(h + (wide ? 8 : 4));
            const std::uint64_t size = elf.Word(h + (wide ? 32 : 16));
            const std::uint64_t align = elf.Word(h + (wide ? 48 : 28));
            if (auto note = FindNote(elf, offset, size, align)) return note;
        }
    }
    return std::nullopt;
}

// A read-only mapping of a whole regular file, unmapped on every path.
class MappedFile {
  public:
    explicit MappedFile(const std::string& fileName) {
        // The mapping outlives the descriptor.
        const FileDescriptor file(open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (!file.IsOpen()) return;
        struct stat st {};
        if (fstat(file.Get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
            void* data = mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE,
                              file.Get(), 0);
            if (data != MAP_FAILED) {
                data_ = data;
                size_ = static_cast<std::size_t>(st.st_size);
            }
        }
    }
    ~MappedFile() {
        if (data_ != nullptr) munmap(data_, size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool Valid() const { return data_ != nullptr; }
    std::string_view Bytes() const { return {static_cast<const char*>(data_), size_}; }

  private:
    void* data_ = nullptr;
    std::size_t size_ = 0;
};

std::uint32_t DescriptorWord(const TVersionInfoBlock& block, std::size_t index) {
    const auto& bytes = block.Descriptor();
    std::uint32_t value = 0;
    for (unsigned i = 0; i < 4; ++i) {
        const unsigned shift = block.BigEndian() ? 8 * (3 - i) : 8 * i;
        value |= static_cast<std::uint32_t>(bytes[index * 4 + i]) << shift;
    }
    return value;
}

}  // namespace

TVersionInfoBlock::TVersionInfoBlock(std::vector<unsigned char> descriptor, bool bigEndian)
    : descriptor_(std::move(descriptor)), bigEndian_(bigEndian) {}

VersionInfoBlock LoadVersionInfoFromImage(std::string_view image) {
    if (image.size() < 4 || image.substr(0, 4) != std::string_view("\x7f"
                                                                   "ELF",
                                                                   4))
        return nullptr;
    if (image.size() < 16) NotAvailable();
    const auto elfClass = static_cast<unsigned char>(image[4]);
    const auto elfData = static_cast<unsigned char>(image[5]);
    if ((elfClass != 1 && elfClass != 2) || (elfData != 1 && elfData != 2)) NotAvailable();
    const ElfImage elf(image, elfData == 2, elfClass == 2);
    const auto note = FindVersionNote(elf);
    if (!note) return nullptr;
    return std::make_unique<TVersionInfoBlock>(
        std::vector<unsigned char>(note->begin(), note->end()), elf.BigEndian());
}

VersionInfoBlock LoadVersionInfo(const std::string& FileName) {
    const MappedFile file(FileName);
    if (!file.Valid()) return nullptr;
    return LoadVersionInfoFromImage(file.Bytes());
}

void FreeVersionInfo(VersionInfoBlock& Block) { Block.reset(); }

TFixedFileInfo GetFixedFileInfo(const TVersionInfoBlock* Block) {
    if (Block == nullptr || Block->Descriptor().size() != FixedFileInfoSize) NotAvailable();
    TFixedFileInfo info;
    info.dwSignature = DescriptorWord(*Block, 0);
    info.dwStrucVersion = DescriptorWord(*Block, 1);
    info.dwFileVersionMS = DescriptorWord(*Block, 2);
    info.dwFileVersionLS = DescriptorWord(*Block, 3);
    info.dwProductVersionMS = DescriptorWord(*Block, 4);
    info.dwProductVersionLS = DescriptorWord(*Block, 5);
    if (info.dwSignature != FixedFileInfoSignature) NotAvailable();
    return info;
}

bool GetFileVersion(const std::string& FileName, std::uint32_t& VersionMS,
                    std::uint32_t& VersionLS) {
    VersionInfoBlock block = LoadVersionInfo(FileName);
    if (!block) return false;
    const TFixedFileInfo info = GetFixedFileInfo(block.get());
    VersionMS = info.dwFileVersionMS;
    VersionLS = info.dwFileVersionLS;
    FreeVersionInfo(block);
    return true;
}

std::string FormatVersion(std::uint32_t VersionMS, std::uint32_t VersionLS, bool Short) {
    const unsigned major = VersionMS >> 16;
    const unsigned minor = VersionMS & 0xFFFF;
    const unsigned release = VersionLS >> 16;
    const unsigned build = VersionLS & 0xFFFF;
    char text[64];
    if (!Short) {
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", major, minor, release, build);
        return text;
    }
    std::snprintf(text, sizeof text, "%u.%u", major, minor);
    std::string result = text;
    // The release as a letter: 1 is "a", 2 is "b"... A code that wraps to
    // 0 has no character and is left out rather than cutting the text.
    const auto letter = static_cast<unsigned char>((release + 96) % 256);
    if (release != 0 && letter != 0)
        result += Cp1252ToUtf8(std::string(1, static_cast<char>(letter)));
    return result;
}

std::string GetFileVersionText(const std::string& FileName, bool Short) {
    std::uint32_t ms = 0;
    std::uint32_t ls = 0;
    if (!GetFileVersion(FileName, ms, ls)) return {};
    return FormatVersion(ms, ls, Short);
}

}  // namespace lumo
