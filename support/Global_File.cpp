#include "support/Global_File.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <vector>

#include "support/Application.h"
#include "support/Exception.h"
#include "support/Global_Computer.h"
#include "support/Global_Utils.h"
#include "support/NamedParams.h"

namespace lumo {

namespace {

// A placeholder's closing "?" must stand within this many characters.
constexpr std::size_t PlaceholderReach = 300;
// Text kept after a replaced placeholder.
constexpr std::size_t TailKept = 400;
// Values are scanned again, so a value that names itself (a parameter whose
// value is its own placeholder) would expand forever; past this many
// replacements the mask is refused as invalid.
constexpr int MaxReplacements = 1000;

std::atomic<TGlobalFile*> registered{nullptr};

std::string CurrentFolder() {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() > (1u << 20))
            throw Exception(ErrorClass::Exception, "getcwd");
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

std::string Slashes(std::string text) {
    for (char& c : text)
        if (c == '\\') c = '/';
    return text;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// BaseDir made absolute, "." and ".." resolved, ending with "/".
std::string AbsoluteFolder(const std::string& baseDir) {
    std::string path = Slashes(baseDir);
    if (path.empty() || path[0] != '/') path = CurrentFolder() + "/" + path;
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t slash = path.find('/', pos);
        if (slash == std::string::npos) slash = path.size();
        const std::string part = path.substr(pos, slash - pos);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        pos = slash + 1;
    }
    std::string folder = "/";
    for (const std::string& part : parts) folder += part + "/";
    return folder;
}

std::string Resolve(const std::string& fileName, const std::string& baseDir) {
    std::string name = Slashes(TrimBlanks(fileName));
    std::string base = AbsoluteFolder(baseDir);
    // "./" and "../" steps are taken one at a time, each as a call of its own
    // on the rest of the name would take them (the rest is trimmed again).
    for (;;) {
        if (name.empty()) return base;
        if (name[0] == '/') return name;
        if (StartsWith(name, "./")) {
            name = TrimBlanks(name.substr(2));
        } else if (StartsWith(name, "../")) {
            // base is "/" or "/a/.../z/": drop its last folder. Reaching the
            // root is refused, as reaching a drive root is.
            const std::size_t cut =
                base.size() > 1 ? base.rfind('/', base.size() - 2) : std::string::npos;
            base = cut == std::string::npos ? "/" : base.substr(0, cut + 1);
            if (base == "/") throw Exception(ErrorClass::Exception, "root");
            name = TrimBlanks(name.substr(3));
        } else {
            return base + name;
        }
    }
}

[[noreturn]] void InvalidMask(const std::string& mask) {
    throw Exception(ErrorClass::Exception,
                    "FileLogger : Masque de fichier invalide \"" + mask + "\"");
}

// The moment a name formatted with `format` at `now` changes, decided by the
// smallest unit the format mentions (quoted parts included, case ignored).
void SetNextChange(const std::string& format, TDateTime now, TDateTime& nextChange) {
    std::string lower = format;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
    DecodeDate(now, year, month, day);
    DecodeTime(now, hour, minute, second, msec);
    const TDateTime today = EncodeDate(year, month, day);
    if (lower.find('z') != std::string::npos)
        nextChange = now;
    else if (lower.find('s') != std::string::npos)
        nextChange = now + EncodeTime(0, 0, 1, 0);
    else if (lower.find('n') != std::string::npos)
        nextChange = today + EncodeTime(hour, minute + 1, 0, 0);
    else if (lower.find('h') != std::string::npos)
        nextChange = today + EncodeTime(hour + 1, 0, 0, 0);
    else if (lower.find('d') != std::string::npos)
        nextChange = today + 1;
    else if (lower.find('m') != std::string::npos)
        nextChange = EncodeDate(year, month + 1, 1);
    else if (lower.find('y') != std::string::npos)
        nextChange = EncodeDate(year + 1, 1, 1);
}

std::string DatedValue(const std::string& format, TDateTime& nextChange) {
    const TDateTime now = Now();
    SetNextChange(format, now, nextChange);
    return FormatDateTime(format, now);
}

}  // namespace

TGlobalFile::TGlobalFile() {
    TGlobalFile* none = nullptr;
    registered.compare_exchange_strong(none, this);
}

TGlobalFile::~TGlobalFile() {
    TGlobalFile* self = this;
    registered.compare_exchange_strong(self, nullptr);
}

TGlobalFile& GlobalFile() {
    // Created on first use and released at the end of the program; the
    // instance holds no data, so any registered one serves as well.
    static TGlobalFile shared;
    TGlobalFile* current = registered.load();
    return current != nullptr ? *current : shared;
}

std::string TGlobalFile::GetAbsoluteFileName(const std::string& FileName,
                                             const std::string& BaseDir) const {
    try {
        return Resolve(FileName, BaseDir);
    } catch (const std::exception&) {
        throw Exception(ErrorClass::Exception,
                        "Erreur GetAbsoluteFileName(" + FileName + "," + BaseDir + ")");
    }
}

std::string TGlobalFile::ExpandFileMaskUntil(const std::string& Mask, TDateTime& NextChange) const {
    NextChange = NeverChanges;
    std::string result = Mask;
    int replacements = 0;
    for (std::size_t p = result.find('?'); p != std::string::npos; p = result.find('?')) {
        const std::size_t q = result.find('?', p + 1);
        if (q == std::string::npos || q - p > PlaceholderReach) InvalidMask(Mask);
        if (++replacements > MaxReplacements) InvalidMask(Mask);
        const std::string placeholder = result.substr(p, q - p + 1);
        std::string value;
        if (placeholder == "?STATION_NAME?") {
            value = StationName(true, true);
        } else if (placeholder == "?STATION_NAME_NOTS?") {
            value = StationName(false, false);
        } else if (StartsWith(placeholder, "?FORMATDATE")) {
            value = DatedValue(placeholder.substr(11, placeholder.size() - 12), NextChange);
        } else if (placeholder == "?DATE?") {
            value = DatedValue("yyyymmdd", NextChange);
        } else if (placeholder == "?DATEHEURE?") {
            value = DatedValue("yyyymmddhhnnss", NextChange);
        } else if (placeholder == "?EXENAME?") {
            value = ProgramKey();
        } else if (StartsWith(placeholder, "?PARAMSTR=")) {
            GetNamedParam(placeholder.substr(10, placeholder.size() - 11), value);
        } else {
            InvalidMask(Mask);
        }
        result = result.substr(0, p) + value + result.substr(q + 1, TailKept);
    }
    return result;
}

std::string TGlobalFile::ExpandFileMaskIsDated(const std::string& Mask, bool& IsDated) const {
    TDateTime nextChange = NeverChanges;
    std::string result = ExpandFileMaskUntil(Mask, nextChange);
    IsDated = nextChange < NeverChanges;
    return result;
}

std::string TGlobalFile::ExpandFileMask(const std::string& Mask) const {
    TDateTime nextChange = NeverChanges;
    return ExpandFileMaskUntil(Mask, nextChange);
}

}  // namespace lumo
