#include "support/FileInfo.h"

#include <cstdlib>
#include <filesystem>

#include "TestSupport.h"

namespace {

using namespace lumo;
using lumo::test::TempDir;
using lumo::test::WriteFile;

const char* const NotAvailable = "Fixed file info not available";

// --- hand-made ELF files ---------------------------------------------------

struct ElfShape {
    bool wide = true;        // ELF64, else ELF32
    bool bigEndian = false;  // byte order of every field
    bool sections = true;    // a section table with a note section
    bool segments = false;   // a program header table with a note segment
};

class Bytes {
  public:
    explicit Bytes(bool bigEndian) : big_(bigEndian) {}
    void Put(std::uint64_t value, int width) {
        for (int i = 0; i < width; ++i) {
            const int shift = big_ ? 8 * (width - 1 - i) : 8 * i;
            data_ += static_cast<char>((value >> shift) & 0xFF);
        }
    }
    void PutText(const std::string& text) { data_ += text; }
    void Pad(std::size_t alignment) {
        while (data_.size() % alignment != 0) data_ += '\0';
    }
    std::string& Data() { return data_; }

  private:
    bool big_;
    std::string data_;
};

std::string Note(const ElfShape& shape, const std::string& owner, std::uint32_t type,
                 const std::string& descriptor) {
    Bytes b(shape.bigEndian);
    b.Put(owner.size(), 4);
    b.Put(descriptor.size(), 4);
    b.Put(type, 4);
    b.PutText(owner);
    b.Pad(4);
    b.PutText(descriptor);
    b.Pad(4);
    return b.Data();
}

std::string Record(const ElfShape& shape, std::uint32_t ms, std::uint32_t ls,
                   std::uint32_t signature = FixedFileInfoSignature) {
    Bytes b(shape.bigEndian);
    for (std::uint32_t word : {signature, 0x00010000u, ms, ls, ms, ls}) b.Put(word, 4);
    return b.Data();
}

std::string VersionNote(const ElfShape& shape, std::uint32_t ms, std::uint32_t ls) {
    return Note(shape, std::string("Lumo4410", 9), 1, Record(shape, ms, ls));
}

// An ELF file whose only content is `notes`, reachable through a section
// table, a program header table, or both.
std::string MakeElf(const ElfShape& shape, const std::string& notes) {
    const bool w = shape.wide;
    const std::uint64_t headerSize = w ? 64 : 52;
    const std::uint64_t phdrSize = w ? 56 : 32;
    const std::uint64_t shdrSize = w ? 64 : 40;
    const std::uint64_t phoff = shape.segments ? headerSize : 0;
    const std::uint64_t notesOffset = headerSize + (shape.segments ? phdrSize : 0);
    const std::uint64_t shoff = shape.sections ? (notesOffset + notes.size() + 7) / 8 * 8 : 0;

    Bytes b(shape.bigEndian);
    b.PutText(
        "\x7f"
        "ELF");
    b.Put(w ? 2 : 1, 1);
    b.Put(shape.bigEndian ? 2 : 1, 1);
    b.Put(1, 1);
    b.PutText(std::string(9, '\0'));
    b.Put(2, 2);                       // e_type: executable
    b.Put(w ? 62 : 3, 2);              // e_machine
    b.Put(1, 4);                       // e_version
    b.Put(0, w ? 8 : 4);               // e_entry
    b.Put(phoff, w ? 8 : 4);           // e_phoff
    b.Put(shoff, w ? 8 : 4);           // e_shoff
    b.Put(0, 4);                       // e_flags
    b.Put(headerSize, 2);              // e_ehsize
    b.Put(phdrSize, 2);                // e_phentsize
    b.Put(shape.segments ? 1 : 0, 2);  // e_phnum
    b.Put(shdrSize, 2);                // e_shentsize
    b.Put(shape.sections ? 2 : 0, 2);  // e_shnum
    b.Put(0, 2);                       // e_shstrndx
    if (shape.segments) {
        b.Put(4, 4);         // PT_NOTE
        if (w) b.Put(4, 4);  // p_flags
        b.Put(notesOffset, w ? 8 : 4);
        b.Put(0, w ? 8 : 4);  // p_vaddr
        b.Put(0, w ? 8 : 4);  // p_paddr
        b.Put(notes.size(), w ? 8 : 4);
        b.Put(notes.size(), w ? 8 : 4);
        if (!w) b.Put(4, 4);  // p_flags
        b.Put(4, w ? 8 : 4);  // p_align
    }
    b.PutText(notes);
    if (shape.sections) {
        b.Pad(8);
        b.PutText(std::string(shdrSize, '\0'));  // the null section
        b.Put(0, 4);                             // sh_name
        b.Put(7, 4);                             // SHT_NOTE
        b.Put(2, w ? 8 : 4);                     // SHF_ALLOC
        b.Put(0, w ? 8 : 4);                     // sh_addr
        b.Put(notesOffset, w ? 8 : 4);
        b.Put(notes.size(), w ? 8 : 4);
        b.Put(0, 4);          // sh_link
        b.Put(0, 4);          // sh_info
        b.Put(4, w ? 8 : 4);  // sh_addralign
        b.Put(0, w ? 8 : 4);  // sh_entsize
    }
    return b.Data();
}

// Offset of the note area in a file made by MakeElf.
std::size_t NotesOffset(const ElfShape& shape) {
    return (shape.wide ? 64 : 52) + (shape.segments ? (shape.wide ? 56 : 32) : 0);
}

std::string VersionOfImage(const std::string& image, bool shortForm = false) {
    VersionInfoBlock block = LoadVersionInfoFromImage(image);
    if (!block) return "";
    const TFixedFileInfo info = GetFixedFileInfo(block.get());
    return FormatVersion(info.dwFileVersionMS, info.dwFileVersionLS, shortForm);
}

// --- formatting ------------------------------------------------------------

TEST(FormatVersion, LongAndShortForms) {
    EXPECT_EQ(FormatVersion(0x00020001, 0x00010000, false), "2.1.1.0");
    EXPECT_EQ(FormatVersion(0x00020001, 0x00010000, true), "2.1a");
    EXPECT_EQ(FormatVersion(0x00010000, 0x00000000, false), "1.0.0.0");
    EXPECT_EQ(FormatVersion(0x00010000, 0x00000000, true), "1.0");
    EXPECT_EQ(FormatVersion(0x00030004, 0x001A0007, false), "3.4.26.7");
    EXPECT_EQ(FormatVersion(0x00030004, 0x001A0007, true), "3.4z");
    EXPECT_EQ(FormatVersion(0x00030004, 0x00020000, true), "3.4b");
}

TEST(FormatVersion, EveryPartUpTo65535InFull) {
    EXPECT_EQ(FormatVersion(0xFFFFFFFF, 0xFFFFFFFF, false), "65535.65535.65535.65535");
    EXPECT_EQ(FormatVersion(0xFFFF0000, 0x0000FFFF, false), "65535.0.0.65535");
}

TEST(FormatVersion, ShortFormLetterWrapsAtByteSize) {
    // Release 32 is code 128, the euro sign of Windows-1252.
    EXPECT_EQ(FormatVersion(0x00010002, 0x00200000, true), "1.2€");
    // Release 160 wraps to code 0: no character rather than a cut text.
    EXPECT_EQ(FormatVersion(0x00010002, 0x00A00000, true), "1.2");
    // Release 161 wraps to code 1.
    EXPECT_EQ(FormatVersion(0x00010002, 0x00A10000, true), std::string("1.2\x01"));
}

// --- the real executables --------------------------------------------------

TEST(FileVersion, ExecutableWithTheNote) {
    EXPECT_EQ(GetFileVersionText(LUMO_VERSION_PROBE, false), "2.1.1.0");
    EXPECT_EQ(GetFileVersionText(LUMO_VERSION_PROBE, true), "2.1a");
    std::uint32_t ms = 0, ls = 0;
    ASSERT_TRUE(GetFileVersion(LUMO_VERSION_PROBE, ms, ls));
    EXPECT_EQ(ms, 0x00020001u);
    EXPECT_EQ(ls, 0x00010000u);
}

TEST(FileVersion, BlockOperations) {
    VersionInfoBlock block = LoadVersionInfo(LUMO_VERSION_PROBE);
    ASSERT_TRUE(block);
    const TFixedFileInfo info = GetFixedFileInfo(block.get());
    EXPECT_EQ(info.dwSignature, FixedFileInfoSignature);
    EXPECT_EQ(info.dwProductVersionMS, 0x00020001u);
    FreeVersionInfo(block);
    EXPECT_FALSE(block);
    FreeVersionInfo(block);  // accepts none
    EXPECT_THROW_MSG(GetFixedFileInfo(nullptr), "Exception", NotAvailable);
}

TEST(FileVersion, StrippedExecutableKeepsTheNote) {
    TempDir dir;
    const std::string copy = dir / "stripped";
    const std::string command = "strip -o '" + copy + "' '" + LUMO_VERSION_PROBE + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(GetFileVersionText(copy, false), "2.1.1.0");
}

TEST(FileVersion, FilesWithoutVersionGiveTheEmptyText) {
    TempDir dir;
    // This test program carries no note.
    EXPECT_EQ(GetFileVersionText("/proc/self/exe", false), "");
    EXPECT_EQ(GetFileVersionText(dir / "missing", false), "");
    EXPECT_EQ(GetFileVersionText(dir.Path(), false), "");
    WriteFile(dir / "empty", "");
    EXPECT_EQ(GetFileVersionText(dir / "empty", false), "");
    WriteFile(dir / "text", "MZ not an ELF file");
    EXPECT_EQ(GetFileVersionText(dir / "text", false), "");
    std::uint32_t ms = 7, ls = 7;
    EXPECT_FALSE(GetFileVersion(dir / "text", ms, ls));
    EXPECT_EQ(ms, 7u);
}

// --- hand-made files -------------------------------------------------------

TEST(ElfVersionNote, FoundInEveryLayoutAndByteOrder) {
    for (bool wide : {true, false})
        for (bool big : {false, true})
            for (int tables = 1; tables <= 3; ++tables) {
                ElfShape shape{wide, big, (tables & 1) != 0, (tables & 2) != 0};
                SCOPED_TRACE(testing::Message()
                             << "wide=" << wide << " big=" << big << " tables=" << tables);
                const std::string image =
                    MakeElf(shape, VersionNote(shape, 0x00030004, 0x001A0007));
                EXPECT_EQ(VersionOfImage(image), "3.4.26.7");
                EXPECT_EQ(VersionOfImage(image, true), "3.4z");
            }
}

TEST(ElfVersionNote, ReadFromAFileOnDisk) {
    TempDir dir;
    ElfShape shape;
    WriteFile(dir / "prog", MakeElf(shape, VersionNote(shape, 0x00010000, 0)));
    EXPECT_EQ(GetFileVersionText(dir / "prog", false), "1.0.0.0");
}

TEST(ElfVersionNote, FoundAmongOtherNotes) {
    ElfShape shape;
    const std::string notes = Note(shape, std::string("GNU", 4), 3, std::string(20, '\x11')) +
                              Note(shape, std::string("Lumo4410", 9), 2, "other type") +
                              Note(shape, std::string("Lumo", 5), 1, Record(shape, 9, 9)) +
                              VersionNote(shape, 0x00020001, 0x00010000);
    EXPECT_EQ(VersionOfImage(MakeElf(shape, notes)), "2.1.1.0");
}

TEST(ElfVersionNote, OtherNotesOnlyMeanNoVersion) {
    ElfShape shape;
    const std::string notes = Note(shape, std::string("GNU", 4), 3, std::string(20, '\x11'));
    EXPECT_EQ(LoadVersionInfoFromImage(MakeElf(shape, notes)), nullptr);
    EXPECT_EQ(LoadVersionInfoFromImage(MakeElf(shape, "")), nullptr);
    ElfShape bare{true, false, false, false};
    EXPECT_EQ(LoadVersionInfoFromImage(MakeElf(bare, "")), nullptr);
}

TEST(ElfVersionNote, TruncatedFileRaises) {
    ElfShape shape{true, false, false, true};
    const std::string image = MakeElf(shape, VersionNote(shape, 0x00020001, 0x00010000));
    for (std::size_t size : {std::size_t{5}, std::size_t{40}, NotesOffset(shape) + 6,
                             NotesOffset(shape) + 30, image.size() - 1}) {
        SCOPED_TRACE(size);
        EXPECT_THROW_MSG(LoadVersionInfoFromImage(image.substr(0, size)), "Exception",
                         NotAvailable);
    }
    // Cut inside the section table, which sits at the end of the file.
    ElfShape withSections;
    const std::string full = MakeElf(withSections, VersionNote(withSections, 1, 1));
    EXPECT_THROW_MSG(LoadVersionInfoFromImage(full.substr(0, full.size() - 10)), "Exception",
                     NotAvailable);
}

TEST(ElfVersionNote, TruncatedFileOnDiskRaises) {
    TempDir dir;
    ElfShape shape;
    const std::string image = MakeElf(shape, VersionNote(shape, 0x00020001, 0x00010000));
    WriteFile(dir / "cut", image.substr(0, image.size() - 20));
    EXPECT_THROW_MSG(GetFileVersionText(dir / "cut", false), "Exception", NotAvailable);
}

TEST(ElfVersionNote, NoteSizesBeyondTheAreaRaise) {
    ElfShape shape;
    std::string notes = VersionNote(shape, 0x00020001, 0x00010000);
    std::string hugeName = notes;
    hugeName.replace(0, 4, std::string("\xF0\xFF\xFF\xFF", 4));
    EXPECT_THROW_MSG(LoadVersionInfoFromImage(MakeElf(shape, hugeName)), "Exception", NotAvailable);
    std::string hugeDescriptor = notes;
    hugeDescriptor.replace(4, 4, std::string("\xFF\xFF\xFF\xFF", 4));
    EXPECT_THROW_MSG(LoadVersionInfoFromImage(MakeElf(shape, hugeDescriptor)), "Exception",
                     NotAvailable);
}

TEST(ElfVersionNote, MalformedRecordRaises) {
    ElfShape shape;
    const std::string shortRecord =
        Note(shape, std::string("Lumo4410", 9), 1, Record(shape, 1, 1).substr(0, 16));
    EXPECT_THROW_MSG(VersionOfImage(MakeElf(shape, shortRecord)), "Exception", NotAvailable);
    const std::string badSignature =
        Note(shape, std::string("Lumo4410", 9), 1, Record(shape, 1, 1, 0x12345678));
    EXPECT_THROW_MSG(VersionOfImage(MakeElf(shape, badSignature)), "Exception", NotAvailable);
    TempDir dir;
    WriteFile(dir / "bad", MakeElf(shape, badSignature));
    EXPECT_THROW_MSG(GetFileVersionText(dir / "bad", true), "Exception", NotAvailable);
}

TEST(ElfVersionNote, HeaderTablesOutsideTheFileRaise) {
    ElfShape shape;
    const std::string good = MakeElf(shape, VersionNote(shape, 1, 1));
    std::string farTable = good;
    farTable.replace(40, 8, std::string("\x00\x00\x00\x00\x00\x00\x00\x10", 8));  // e_shoff
    EXPECT_THROW_MSG(LoadVersionInfoFromImage(farTable), "Exception", NotAvailable);
    std::string manySections = good;
    manySections.replace(60, 2, std::string("\xFF\xFF", 2));  // e_shnum
    EXPECT_THROW_MSG(LoadVersionInfoFromImage(manySections), "Exception", NotAvailable);
    std::string tinyEntries = good;
    tinyEntries.replace(58, 2, std::string("\x01\x00", 2));  // e_shentsize
    EXPECT_THROW_MSG(LoadVersionInfoFromImage(tinyEntries), "Exception", NotAvailable);
    std::string badClass = good;
    badClass[4] = 3;
    EXPECT_THROW_MSG(LoadVersionInfoFromImage(badClass), "Exception", NotAvailable);
}

}  // namespace
