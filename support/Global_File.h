#pragma once

#include <string>

#include "support/DateTime.h"

namespace lumo {

// The moment of next change of a mask that never changes.
inline constexpr TDateTime NeverChanges = 4294967295.0;

// Turns file names of the logger configuration into real file names:
// resolving a relative name against a base folder, and expanding a file mask
// (a name with ?PLACEHOLDERS?) together with the moment the name will next
// change. Holds no data; one shared instance is reached through GlobalFile().
// Usable from any thread (the logger thread and the window's thread alike).
//
// Errors are lumo::Exception with the class name "Exception".
class TGlobalFile {
  public:
    TGlobalFile();
    ~TGlobalFile();
    TGlobalFile(const TGlobalFile&) = delete;
    TGlobalFile& operator=(const TGlobalFile&) = delete;

    // The absolute form of FileName, relative names taken from BaseDir (made
    // absolute against the current folder, "." and ".." resolved). After
    // trimming blanks and control characters from FileName, and reading
    // every "\" as "/":
    //   empty              -> BaseDir with a trailing "/"
    //   "/..."             -> unchanged (absolute)
    //   "./rest"           -> GetAbsoluteFileName(rest, BaseDir)
    //   "../rest"          -> BaseDir loses its last folder, then rest is
    //                         resolved against it; climbing to the root "/"
    //                         (or above) fails, as climbing to a drive root does
    //   anything else      -> BaseDir (with its trailing "/") + FileName
    // Any failure raises "Erreur GetAbsoluteFileName(<FileName>,<BaseDir>)"
    // with the arguments of the outermost call, as received.
    std::string GetAbsoluteFileName(const std::string& FileName, const std::string& BaseDir) const;

    // Expands every placeholder of Mask: ?STATION_NAME?, ?STATION_NAME_NOTS?,
    // ?FORMATDATE<format>?, ?DATE?, ?DATEHEURE?, ?EXENAME?, ?PARAMSTR=<name>?.
    // NextChange receives the moment the expanded name changes next
    // (NeverChanges when no placeholder depends on the time). An unclosed "?"
    // (none within 300 characters) or an unknown placeholder raises
    // "FileLogger : Masque de fichier invalide \"<Mask>\"". A replacement
    // keeps at most 400 characters of the text after its placeholder, and
    // values are scanned again; a mask still expanding after 1000
    // replacements (a parameter naming itself) is refused the same way.
    std::string ExpandFileMaskUntil(const std::string& Mask, TDateTime& NextChange) const;
    // IsDated: the expanded name depends on the current time.
    std::string ExpandFileMaskIsDated(const std::string& Mask, bool& IsDated) const;
    std::string ExpandFileMask(const std::string& Mask) const;
};

// The shared instance, created on first use.
TGlobalFile& GlobalFile();

}  // namespace lumo
