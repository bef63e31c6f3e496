#include "app/LinesFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "support/Exception.h"
#include "support/FileDescriptor.h"
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

[[noreturn]] void CannotOpen(const std::string& fileName, int error) {
    throw Exception(ErrorClass::EFOpenError,
                    "Cannot open file \"" + FullName(fileName) + "\". " + Reason(error));
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

LinesOfFile LoadLinesFromFile(const std::string& fileName) {
    const WholeFile file = ReadWholeFile(fileName);
    if (!file.Ok()) CannotOpen(fileName, file.error);

    LinesOfFile result;
    std::string_view text = file.bytes;
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

void SaveLinesToFile(const std::string& fileName, const std::vector<std::string>& lines,
                     TextEncodingOf encoding) {
    std::string bytes;
    if (encoding.utf8 && encoding.byteOrderMark) bytes.append(kByteOrderMark);
    std::size_t size = bytes.size();
    for (const std::string& line : lines) size += line.size() + 2;
    bytes.reserve(size);
    for (const std::string& line : lines) {
        if (encoding.utf8) {
            bytes.append(line);
        } else {
            bytes.append(Utf8ToCp1252(line));
        }
        bytes.append("\r\n");
    }

    FileDescriptor file(::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file.IsOpen()) {
        const int error = errno;
        throw Exception(ErrorClass::EFCreateError,
                        "Cannot create file \"" + FullName(fileName) + "\". " + Reason(error));
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t put = ::write(file.Get(), bytes.data() + written, bytes.size() - written);
        if (put < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            throw Exception(ErrorClass::EWriteError,
                            "Stream write error: \"" + FullName(fileName) + "\". " + Reason(error));
        }
        written += static_cast<std::size_t>(put);
    }
    if (const int error = file.Close(); error != 0) {
        throw Exception(ErrorClass::EWriteError,
                        "Stream write error: \"" + FullName(fileName) + "\". " + Reason(error));
    }
}

}  // namespace lumo::app
