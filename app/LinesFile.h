#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumo::app {

// How a text file's bytes were written: UTF-8 (with or without a byte-order
// mark) or Windows-1252. The batch writes its output the way its input came.
struct TextEncodingOf {
    bool utf8 = true;
    bool byteOrderMark = false;
};

// A text file read as lines, in the program's UTF-8, and how it was encoded.
struct LinesOfFile {
    std::vector<std::string> lines;
    TextEncodingOf encoding;
};

// Cuts a text into lines at CR, LF or CR LF. A final line end does not start
// another line, so "a\r\n" is one line and the empty text none.
std::vector<std::string> SplitLines(std::string_view text);

// Reads a whole file as lines: UTF-8 when its bytes are valid UTF-8 (a
// leading byte-order mark is dropped), else Windows-1252. A file that cannot
// be opened or read raises lumo::Exception(ErrorClass::EFOpenError,
// "Cannot open file \"<full name>\". <system's reason>").
LinesOfFile LoadLinesFromFile(const std::string& fileName);

// Creates or overwrites a file with the lines, each ended by CR LF, in the
// given encoding (characters Windows-1252 lacks become '?'). A file that
// cannot be created raises lumo::Exception(ErrorClass::EFCreateError,
// "Cannot create file \"<full name>\". <system's reason>"); a failed write
// raises lumo::Exception(ErrorClass::EWriteError, ...).
void SaveLinesToFile(const std::string& fileName, const std::vector<std::string>& lines,
                     TextEncodingOf encoding = {});

}  // namespace lumo::app
