#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lumo {

// The version of an executable file. Programs of this project carry it in an
// ELF note (section ".note.lumo.version", owner "Lumo4410", type 1) whose
// descriptor is a fixed version record in the file's byte order:
//   uint32 signature (0xFEEF04BD), uint32 record version (0x00010000),
//   uint32 FileVersionMS, FileVersionLS, ProductVersionMS, ProductVersionLS.
// MS holds Major (high 16 bits) and Minor; LS holds Release and Build.
// cmake/LumoVersionNote.cmake puts the note into a target.
//
// Reading a missing file, a file that is not ELF, or an ELF file without the
// note gives no version (empty text). An ELF file whose headers or notes
// point outside the file, or a note whose record is cut or malformed, raises
// lumo::Exception(ErrorClass::Exception, "Fixed file info not available"). The reader
// checks every offset against the file's size. Stateless; any thread.

inline constexpr std::uint32_t VersionNoteType = 1;
inline constexpr char VersionNoteOwner[] = "Lumo4410";
inline constexpr std::uint32_t FixedFileInfoSignature = 0xFEEF04BDu;

struct TFixedFileInfo {
    std::uint32_t dwSignature = 0;
    std::uint32_t dwStrucVersion = 0;
    std::uint32_t dwFileVersionMS = 0;
    std::uint32_t dwFileVersionLS = 0;
    std::uint32_t dwProductVersionMS = 0;
    std::uint32_t dwProductVersionLS = 0;
};

// The version information of one file: owns a copy of the note's descriptor
// bytes and remembers the file's byte order to decode them. Owned by a
// VersionInfoBlock; immutable, so any thread may read it.
class TVersionInfoBlock {
  public:
    TVersionInfoBlock(std::vector<unsigned char> descriptor, bool bigEndian);
    const std::vector<unsigned char>& Descriptor() const { return descriptor_; }
    bool BigEndian() const { return bigEndian_; }

  private:
    std::vector<unsigned char> descriptor_;
    bool bigEndian_;
};
using VersionInfoBlock = std::unique_ptr<TVersionInfoBlock>;

// Null when the file has no version information.
VersionInfoBlock LoadVersionInfo(const std::string& FileName);
// The same over the bytes of a whole file (used by the fuzzer and tests).
VersionInfoBlock LoadVersionInfoFromImage(std::string_view image);
// Releases a block; accepts a null one.
void FreeVersionInfo(VersionInfoBlock& Block);
// The fixed record; raises "Fixed file info not available" for a null block
// or a descriptor that is not a whole fixed record.
TFixedFileInfo GetFixedFileInfo(const TVersionInfoBlock* Block);

// False when the file has no version information.
bool GetFileVersion(const std::string& FileName, std::uint32_t& VersionMS,
                    std::uint32_t& VersionLS);
// "2.1.1.0" (long) or "2.1a" (short: Major.Minor and the letter of code
// Release + 96 modulo 256, none for Release 0; Build not shown).
std::string FormatVersion(std::uint32_t VersionMS, std::uint32_t VersionLS, bool Short);
// Empty when the file has no version information.
std::string GetFileVersionText(const std::string& FileName, bool Short);

}  // namespace lumo
