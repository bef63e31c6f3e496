#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/TStrings.h"

namespace lumo {
class NewFileBeside;
}

namespace lumo::app {

// How a text file's bytes were written: UTF-8 (with or without a byte-order
// mark) or Windows-1252. The batch writes its output the way its input came;
// an input in UTF-16 gives UTF-8 with a mark.
struct TextEncodingOf {
    bool utf8 = true;
    bool byteOrderMark = false;
};

// A text file read as lines, in the program's UTF-8, and how it was encoded.
struct LinesOfFile {
    std::vector<std::string> lines;
    TextEncodingOf encoding;
};

// The largest text file read as lines (a patient file, the result list):
// far beyond any real one, and still small enough to hold in memory.
inline constexpr std::size_t kMaxLinesFileBytes = 64u * 1024 * 1024;

// Cuts a text into lines at CR, LF or CR LF. A final line end does not start
// another line, so "a\r\n" is one line and the empty text none.
std::vector<std::string> SplitLines(std::string_view text);

// Reads a whole file as lines: UTF-16 when it opens with a byte-order mark
// FF FE or FE FF, else UTF-8 when its bytes are valid UTF-8 (a leading
// byte-order mark is dropped), else Windows-1252. Only a regular file of at
// most `maxBytes` is read, opened without waiting: a folder, a pipe or a
// device is refused rather than waited on or read for ever. A file that
// cannot be read raises lumo::Exception(ErrorClass::EFOpenError,
// "Cannot open file \"<full name>\". <reason>"): the system's reason, or
// "Not a regular file (a named pipe)", "File too large (over 64 MiB)",
// "Malformed UTF-16 text (an odd number of bytes)" and the like.
LinesOfFile LoadLinesFromFile(const std::string& fileName,
                              std::size_t maxBytes = kMaxLinesFileBytes);

// Creates or replaces a file with the lines, each ended by CR LF, in the
// given encoding (characters Windows-1252 lacks become '?'). The lines go to
// a new file in the same folder, flushed to the disk, which then takes the
// name: the name always holds the old file or the whole new one, never a
// part, whenever the program stops. A replaced file keeps its mode; a name
// that is a link replaces the file it points to. A name that exists and is
// not a regular file (a folder, a pipe, a device), or a file that cannot be
// created, raises lumo::Exception(ErrorClass::EFCreateError,
// "Cannot create file \"<full name>\". <reason>"); a failed write raises
// lumo::Exception(ErrorClass::EWriteError, "Stream write error: ...").
void SaveLinesToFile(const std::string& fileName, const std::vector<std::string>& lines,
                     TextEncodingOf encoding = {});
void SaveLinesToFile(const std::string& fileName, const TStrings& lines,
                     TextEncodingOf encoding = {});

// The same replacement of a file, with bytes as they are.
void SaveBytesToFile(const std::string& fileName, std::string_view bytes);

// That replacement written in pieces, for a file written as its content
// arrives: the bytes go to a new file beside the target, which takes the
// target's name at Commit; dropped before, it leaves nothing behind. Raises
// as SaveLinesToFile does (the constructor for a name that cannot be
// created). Owns the new file; one thread.
class ReplacingFile {
  public:
    explicit ReplacingFile(const std::string& fileName);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    void Write(std::string_view bytes);
    // On the disk first, then under the target's name.
    void Commit();

  private:
    std::string fileName_;  // as the caller named it, for the messages
    std::unique_ptr<NewFileBeside> file_;
};

}  // namespace lumo::app
