// Reads the version note out of arbitrary bytes: a version, no version, or
// the "not available" error; never a read outside the bytes.
//
// Half of the inputs are taken as they come; the other half edit a small,
// well-formed ELF file (byte order, class, table offsets and note sizes all
// reachable), so the fuzzer spends its time past the magic number.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/Exception.h"
#include "support/FileInfo.h"

namespace {

void Put(std::string& out, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// ELF64, little-endian: header, one note segment, two notes (a GNU one and
// the version note), a section table with a null and a note section.
std::string Template() {
    std::string notes;
    Put(notes, 4, 4), Put(notes, 8, 4), Put(notes, 3, 4), notes += std::string("GNU\0", 4),
        Put(notes, 0, 8);
    Put(notes, 9, 4), Put(notes, 24, 4), Put(notes, 1, 4),
        notes += std::string("Lumo4410\0\0\0\0", 12);
    for (std::uint32_t w :
         {0xFEEF04BDu, 0x00010000u, 0x00020001u, 0x00010000u, 0x00020001u, 0x00010000u})
        Put(notes, w, 4);
    const std::uint64_t notesAt = 64 + 56;
    const std::uint64_t sectionsAt = notesAt + notes.size();
    std::string elf = std::string(
                          "\x7f"
                          "ELF\x02\x01\x01",
                          7) +
                      std::string(9, '\0');
    Put(elf, 2, 2), Put(elf, 62, 2), Put(elf, 1, 4), Put(elf, 0, 8);
    Put(elf, 64, 8), Put(elf, sectionsAt, 8), Put(elf, 0, 4);
    Put(elf, 64, 2), Put(elf, 56, 2), Put(elf, 1, 2), Put(elf, 64, 2), Put(elf, 2, 2),
        Put(elf, 0, 2);
    Put(elf, 4, 4), Put(elf, 4, 4), Put(elf, notesAt, 8), Put(elf, 0, 8), Put(elf, 0, 8);
    Put(elf, notes.size(), 8), Put(elf, notes.size(), 8), Put(elf, 4, 8);
    elf += notes;
    elf += std::string(64, '\0');
    Put(elf, 0, 4), Put(elf, 7, 4), Put(elf, 2, 8), Put(elf, 0, 8), Put(elf, notesAt, 8);
    Put(elf, notes.size(), 8), Put(elf, 0, 4), Put(elf, 0, 4), Put(elf, 4, 8), Put(elf, 0, 8);
    return elf;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<char> bytes;
    if (size > 0 && (data[0] & 1) != 0) {
        // Edits: a new length, then (position, position, value) triples.
        static const std::string base = Template();
        bytes.assign(base.begin(), base.end());
        std::size_t i = 1;
        if (i < size) bytes.resize(bytes.size() * data[i++] / 255 + (data[0] >> 1) % 8);
        for (; i + 2 < size && !bytes.empty(); i += 3)
            bytes[(data[i] | data[i + 1] << 8) % bytes.size()] = static_cast<char>(data[i + 2]);
    } else {
        bytes.assign(data, data + size);
    }
    // Exactly as many bytes as the image has, so ASan sees any read past it.
    try {
        lumo::VersionInfoBlock block =
            lumo::LoadVersionInfoFromImage(std::string_view(bytes.data(), bytes.size()));
        if (block) {
            const lumo::TFixedFileInfo info = lumo::GetFixedFileInfo(block.get());
            (void)lumo::FormatVersion(info.dwFileVersionMS, info.dwFileVersionLS, true);
        }
    } catch (const lumo::Exception&) {
    }
    return 0;
}
