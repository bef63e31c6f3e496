#include "app/LinesFile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "support/Exception.h"
#include "support/NewFileBeside.h"
#include "support/TextEncoding.h"
#include "support/WholeFile.h"

namespace lumo::app {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The name the operator can find the file by: relative names are shown
// against the current folder, as the error reports of the original did.
std::string FullName(const std::string& fileName) {
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(fileName, error);
    return error ? fileName : full.lexically_normal().string();
}

std::string Reason(int error) { return std::system_category().message(error); }

[[noreturn]] void CannotOpen(const std::string& fileName, const std::string& reason) {
    throw Exception(ErrorClass::EFOpenError,
                    "Cannot open file \"" + FullName(fileName) + "\". " + reason);
}

[[noreturn]] void CannotCreate(const std::string& fileName, const std::string& reason) {
    throw Exception(ErrorClass::EFCreateError,
                    "Cannot create file \"" + FullName(fileName) + "\". " + reason);
}

[[noreturn]] void CannotWrite(const std::string& fileName, int error) {
    throw Exception(ErrorClass::EWriteError,
                    "Stream write error: \"" + FullName(fileName) + "\". " + Reason(error));
}

// What a name that is not a regular file names, in the words of the
// system's reasons.
std::string NotRegularReason(mode_t mode) {
    if (S_ISDIR(mode)) return Reason(EISDIR);
    if (S_ISFIFO(mode)) return "Not a regular file (a named pipe)";
    if (S_ISCHR(mode)) return "Not a regular file (a character device)";
    if (S_ISBLK(mode)) return "Not a regular file (a block device)";
    if (S_ISSOCK(mode)) return "Not a regular file (a socket)";
    return "Not a regular file";
}

std::string SizeInWords(std::size_t bytes) {
    constexpr std::size_t kMiB = 1024 * 1024;
    if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

// Why a read of regular files only failed: the whole-file read says EINVAL
// for anything but a regular file and EFBIG beyond the bound.
std::string ReadFailure(const std::string& fileName, int error, std::size_t maxBytes) {
    if (error == EFBIG) return "File too large (over " + SizeInWords(maxBytes) + ")";
    if (error == EINVAL) {
        struct stat status {};
        return ::stat(fileName.c_str(), &status) == 0 ? NotRegularReason(status.st_mode)
                                                      : "Not a regular file";
    }
    return Reason(error);
}

// The file a save replaces: the name itself, or the file it links to (the
// link is kept), with the mode of the file it replaces, if any. A name that
// exists and is not a regular file is refused before anything is created.
struct SaveTarget {
    std::string path;
    std::optional<mode_t> mode;
};

SaveTarget TargetOf(const std::string& fileName) {
    struct stat status {};
    if (::stat(fileName.c_str(), &status) != 0) {
        const int error = errno;
        if (error != ENOENT) CannotCreate(fileName, Reason(error));
        return {fileName, std::nullopt};
    }
    if (!S_ISREG(status.st_mode)) CannotCreate(fileName, NotRegularReason(status.st_mode));
    SaveTarget target{fileName, status.st_mode & 07777};
    struct stat link {};
    if (::lstat(fileName.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (char* real = ::realpath(fileName.c_str(), nullptr)) {
            target.path = real;
            ::free(real);
        }
    }
    return target;
}

}  // namespace

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

LinesOfFile LoadLinesFromFile(const std::string& fileName, std::size_t maxBytes) {
    const WholeFile file = ReadWholeFile(fileName, ReadableFiles::RegularOnly, maxBytes);
    if (!file.Ok()) CannotOpen(fileName, ReadFailure(fileName, file.error, maxBytes));

    LinesOfFile result;
    std::string_view text = file.bytes;
    if (const std::optional<bool> bigEndian = Utf16BigEndian(text)) {
        const Utf16Text decoded = DecodeUtf16(text.substr(2), *bigEndian);
        if (!decoded.malformed.empty())
            CannotOpen(fileName, "Malformed UTF-16 text (" + decoded.malformed + ")");
        // Written back as UTF-8, marked so that readers still know it is Unicode.
        result.encoding = {true, true};
        result.lines = SplitLines(decoded.utf8);
        return result;
    }
    if (text.starts_with(kByteOrderMark)) {
        result.encoding.byteOrderMark = true;
        text.remove_prefix(kByteOrderMark.size());
    }
    bool utf8 = true;
    const std::string decoded = DecodeFileText(text, &utf8);
    result.encoding.utf8 = utf8;
    // Bytes after a mark that are not UTF-8 are read as Windows-1252 like any
    // other such file; the mark would then be a lie, so it is not written back.
    if (!utf8) result.encoding.byteOrderMark = false;
    result.lines = SplitLines(decoded);
    return result;
}

namespace {

// The lines go out in pieces of about a mebibyte: a listing of a million
// responses is never held a second time as one text.
template <typename Lines>
void SaveLines(const std::string& fileName, const Lines& lines, TextEncodingOf encoding) {
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    ReplacingFile file(fileName);
    std::string bytes;
    bytes.reserve(kPiece + 4096);
    if (encoding.utf8 && encoding.byteOrderMark) bytes.append(kByteOrderMark);
    for (std::string_view line : lines) {
        if (encoding.utf8) {
            bytes.append(line);
        } else {
            bytes.append(Utf8ToCp1252(line));
        }
        bytes.append("\r\n");
        if (bytes.size() >= kPiece) {
            file.Write(bytes);
            bytes.clear();
        }
    }
    file.Write(bytes);
    file.Commit();
}

}  // namespace

void SaveLinesToFile(const std::string& fileName, const std::vector<std::string>& lines,
                     TextEncodingOf encoding) {
    SaveLines(fileName, lines, encoding);
}

void SaveLinesToFile(const std::string& fileName, const TStrings& lines, TextEncodingOf encoding) {
    SaveLines(fileName, lines, encoding);
}

void SaveBytesToFile(const std::string& fileName, std::string_view bytes) {
    ReplacingFile file(fileName);
    file.Write(bytes);
    file.Commit();
}

ReplacingFile::ReplacingFile(const std::string& fileName) : fileName_(fileName) {
    const SaveTarget target = TargetOf(fileName);
    file_ = std::make_unique<NewFileBeside>(target.path,
                                            target.mode ? static_cast<int>(*target.mode) : -1);
    if (file_->Error() != 0) CannotCreate(fileName_, Reason(file_->Error()));
}

ReplacingFile::~ReplacingFile() = default;

void ReplacingFile::Write(std::string_view bytes) {
    if (const int error = file_->Write(bytes); error != 0) CannotWrite(fileName_, error);
}

void ReplacingFile::Commit() {
    if (const int error = file_->Flush(); error != 0) CannotWrite(fileName_, error);
    if (const int error = file_->Rename(); error != 0) CannotCreate(fileName_, Reason(error));
}

}  // namespace lumo::app
