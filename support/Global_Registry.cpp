#include "support/Global_Registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "support/Application.h"
#include "support/Exception.h"
#include "support/FileDescriptor.h"
#include "support/Global_Utils.h"
#include "support/ProgramFiles.h"
#include "support/RegularFile.h"
#include "support/WholeFile.h"

namespace lumo {

namespace {

constexpr lumo::ErrorClass kRegistryError = lumo::ErrorClass::ERegistryException;
constexpr const char* RootKey = "HKEY_CURRENT_USER";
// A few settings take a few hundred bytes; anything near this is not a store.
constexpr std::size_t kMaxStoreBytes = 4 << 20;
constexpr const char* StoreHeader =
    "; Per-user settings of Brevalis programs, one [key] per application and section.\n"
    "; Rewritten as a whole by the programs; edit only while they are closed.";

// A failure inside the write, turned into the store's error at the top.
struct WriteFailure {};

// A temporary file removed unless it was renamed into place.
class TempFile {
  public:
    explicit TempFile(std::string path) : path_(std::move(path)) {}
    ~TempFile() {
        if (!path_.empty()) unlink(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    void Commit() { path_.clear(); }

  private:
    std::string path_;
};

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

bool HasControl(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 32 || c == 127) return true;
    return false;
}

std::string StoreFolder() { return ConfigHome() + "/Brevalis"; }

// Quoted text as the store writes it: backslash, quote and control
// characters escaped; other bytes (UTF-8 included) as they are.
std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (b < 32 || b == 127) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted text starting at line[pos] == '"'; on success pos is past
// the closing quote.
std::optional<std::string> Unquote(const std::string& line, std::size_t& pos) {
    if (pos >= line.size() || line[pos] != '"') return std::nullopt;
    std::string out;
    for (std::size_t i = pos + 1; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            pos = i + 1;
            return out;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= line.size()) return std::nullopt;
        const char e = line[i];
        if (e == 'n') {
            out += '\n';
        } else if (e == 'r') {
            out += '\r';
        } else if (e == 'x' && i + 2 < line.size() && HexDigit(line[i + 1]) >= 0 &&
                   HexDigit(line[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(line[i + 1]) * 16 + HexDigit(line[i + 2]));
            i += 2;
        } else {
            out += e;
        }
    }
    return std::nullopt;
}

std::string WithoutCr(const std::string& line) {
    return !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
}

// The key path of a "[...]" line, if it is one.
std::optional<std::string> KeyOfLine(const std::string& raw) {
    const std::string line = WithoutCr(raw);
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') return std::nullopt;
    return line.substr(1, line.size() - 2);
}

struct ValueLine {
    std::string name;
    std::string data;  // everything after "="
};

std::optional<ValueLine> ValueOfLine(const std::string& raw) {
    const std::string line = WithoutCr(raw);
    std::size_t pos = 0;
    ValueLine value;
    if (!line.empty() && line[0] == '@') {
        pos = 1;
    } else {
        auto name = Unquote(line, pos);
        if (!name) return std::nullopt;
        value.name = *name;
    }
    if (pos >= line.size() || line[pos] != '=') return std::nullopt;
    value.data = line.substr(pos + 1);
    return value;
}

// The text of a stored value, or nothing when its type is not text
// (plain strings and unexpanded str(2) strings are text).
std::optional<std::string> TextOfData(const std::string& data) {
    std::size_t pos = 0;
    if (data.rfind("str(2):", 0) == 0) pos = 7;
    auto text = Unquote(data, pos);
    if (!text || pos != data.size()) return std::nullopt;
    return text;
}

std::string ValueNameField(const std::string& name) { return name.empty() ? "@" : Quote(name); }

std::string FullKey(const std::string& appName, const std::string& section) {
    return RootKey + SettingsKeyPath(appName, section);
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

// The whole store, or nothing when there is none yet. Throws WriteFailure
// for a store that exists but cannot be read: anything but a regular file
// (a pipe would hold the program for ever, a device never end) and a file
// too large for a settings store. Writers then fail instead of replacing it.
std::optional<std::string> ReadStore(const std::string& path) {
    WholeFile store = ReadWholeFile(path, ReadableFiles::RegularOnly, kMaxStoreBytes);
    if (!store.Ok()) {
        if (store.error == ENOENT) return std::nullopt;
        throw WriteFailure{};
    }
    return std::move(store.bytes);
}

void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw WriteFailure{};
        }
        done += static_cast<std::size_t>(n);
    }
}

void MakeFolders(const std::string& folder) {
    for (std::size_t pos = 1; pos <= folder.size(); ++pos) {
        if (pos != folder.size() && folder[pos] != '/') continue;
        const std::string part = folder.substr(0, pos);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) throw WriteFailure{};
    }
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) throw WriteFailure{};
}

// Replaces or adds the value line `entry` for `name` under `key`.
std::string UpdatedStore(const std::optional<std::string>& store, const std::string& key,
                         const std::string& name, const std::string& entry) {
    std::vector<std::string> lines =
        store ? SplitLines(*store) : SplitLines(std::string(StoreHeader) + "\n");
    // The last section of that key holds the value that reads see.
    std::optional<std::size_t> keyLine;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto k = KeyOfLine(lines[i]);
        if (k && SameText(*k, key)) keyLine = i;
    }
    if (!keyLine) {
        if (!lines.empty() && !WithoutCr(lines.back()).empty()) lines.emplace_back();
        lines.push_back("[" + key + "]");
        lines.push_back(entry);
    } else {
        std::size_t end = *keyLine + 1;
        while (end < lines.size() && !KeyOfLine(lines[end])) ++end;
        std::optional<std::size_t> found;
        for (std::size_t i = *keyLine + 1; i < end; ++i) {
            const auto v = ValueOfLine(lines[i]);
            if (v && SameText(v->name, name)) found = i;
        }
        if (found) {
            lines[*found] = entry;
        } else {
            std::size_t insertAt = end;
            while (insertAt > *keyLine + 1 && TrimBlanks(lines[insertAt - 1]).empty()) --insertAt;
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
        }
    }
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

// The whole store read, changed by `update` and put back in place, under
// the writers' lock; a failure raises the store's error for `name`.
void RewriteStore(const std::string& name,
                  const std::function<std::string(const std::optional<std::string>&)>& update) {
    try {
        const std::string folder = StoreFolder();
        MakeFolders(folder);
        const std::string path = folder + "/settings.reg";
        // One writer at a time, across threads and processes: the lock spans
        // the read, the change and the replacement.
        const FileDescriptor lock = OpenRegularFile(path + ".lock", O_RDWR | O_CREAT, 0600);
        if (!lock.IsOpen()) throw WriteFailure{};
        while (flock(lock.Get(), LOCK_EX) != 0)
            if (errno != EINTR) throw WriteFailure{};

        const std::string text = update(ReadStore(path));
        std::string tempName = path + ".XXXXXX";
        FileDescriptor temp(mkostemp(tempName.data(), O_CLOEXEC));
        if (!temp.IsOpen()) throw WriteFailure{};
        TempFile guard(tempName);
        WriteAll(temp.Get(), text);
        if (fsync(temp.Get()) != 0) throw WriteFailure{};
        if (temp.Close() != 0) throw WriteFailure{};
        if (rename(tempName.c_str(), path.c_str()) != 0) throw WriteFailure{};
        guard.Commit();
    } catch (const WriteFailure&) {
        throw Exception(kRegistryError, "Failed to set data for '" + name + "'");
    }
}

void StoreEntry(const std::string& section, const std::string& name, const std::string& entry,
                const std::string& appName) {
    const std::string key = FullKey(appName, section);
    if (HasControl(key)) throw Exception(kRegistryError, "Failed to set data for '" + name + "'");
    RewriteStore(name, [&](const std::optional<std::string>& store) {
        return UpdatedStore(store, key, name, entry);
    });
}

// The store without any section of the keys in `removed`, then with a new
// section for each key of `added`, in order.
std::string ReplacedKeys(const std::optional<std::string>& store,
                         const std::vector<std::string>& removed,
                         const std::vector<std::pair<std::string, std::string>>& added) {
    const std::vector<std::string> lines =
        store ? SplitLines(*store) : SplitLines(std::string(StoreHeader) + "\n");
    std::vector<std::string> kept;
    bool dropping = false;
    for (const std::string& line : lines) {
        if (const auto k = KeyOfLine(line)) {
            dropping = std::any_of(removed.begin(), removed.end(),
                                   [&](const std::string& key) { return SameText(*k, key); });
            // The blank line before a dropped section goes with it.
            if (dropping && !kept.empty() && TrimBlanks(kept.back()).empty()) kept.pop_back();
        }
        if (!dropping) kept.push_back(line);
    }
    std::string text;
    for (const std::string& line : kept) text += line + "\n";
    for (const auto& [key, entries] : added) {
        if (!text.empty() && !(text.size() >= 2 && text.compare(text.size() - 2, 2, "\n\n") == 0))
            text += "\n";
        text += "[" + key + "]\n" + entries;
    }
    return text;
}

}  // namespace

std::vector<std::string> SettingSubkeys(const std::string& section) {
    const std::string prefix = FullKey(ApplicationTitle(), section) + "\\";
    std::optional<std::string> store;
    try {
        store = ReadStore(SettingsFileName());
    } catch (const WriteFailure&) {
        return {};
    }
    std::vector<std::string> names;
    if (!store) return names;
    for (const std::string& line : SplitLines(*store)) {
        const auto k = KeyOfLine(line);
        if (!k || k->size() <= prefix.size() || !SameText(k->substr(0, prefix.size()), prefix))
            continue;
        const std::string name = k->substr(prefix.size());
        if (name.find('\\') != std::string::npos) continue;
        if (std::none_of(names.begin(), names.end(),
                         [&](const std::string& seen) { return SameText(seen, name); }))
            names.push_back(name);
    }
    return names;
}

std::vector<std::pair<std::string, std::string>> ReadSettingSection(const std::string& section) {
    const std::string key = FullKey(ApplicationTitle(), section);
    std::optional<std::string> store;
    try {
        store = ReadStore(SettingsFileName());
    } catch (const WriteFailure&) {
        return {};
    }
    std::vector<std::pair<std::string, std::string>> values;
    if (!store) return values;
    bool inKey = false;
    for (const std::string& line : SplitLines(*store)) {
        if (const auto k = KeyOfLine(line)) {
            inKey = SameText(*k, key);
            continue;
        }
        const auto v = inKey ? ValueOfLine(line) : std::nullopt;
        if (!v) continue;
        auto text = TextOfData(v->data);
        if (!text) throw Exception(kRegistryError, "Invalid data type for '" + v->name + "'");
        // A later line of the same name is the one reads see.
        const auto same = std::find_if(values.begin(), values.end(), [&](const auto& value) {
            return SameText(value.first, v->name);
        });
        if (same != values.end()) {
            same->second = std::move(*text);
        } else {
            values.emplace_back(v->name, std::move(*text));
        }
    }
    return values;
}

void ReplaceSettingSections(const std::vector<SettingSection>& sections) {
    std::vector<std::string> removed;
    std::vector<std::pair<std::string, std::string>> added;
    for (const SettingSection& section : sections) {
        const std::string key = FullKey(ApplicationTitle(), section.name);
        if (HasControl(key))
            throw Exception(kRegistryError, "Failed to set data for '" + section.name + "'");
        removed.push_back(key);
        if (!section.values) continue;
        std::string entries;
        for (const auto& [name, value] : *section.values)
            entries += ValueNameField(name) + "=" + Quote(value) + "\n";
        added.emplace_back(key, entries);
    }
    const std::string name = sections.empty() ? std::string() : sections.front().name;
    RewriteStore(name, [&](const std::optional<std::string>& store) {
        return ReplacedKeys(store, removed, added);
    });
}

std::string SettingsKeyPath(const std::string& appName, const std::string& section) {
    return std::string("\\Software\\Brevalis") + ChooseStr(!appName.empty(), "\\" + appName, "") +
           ChooseStr(!section.empty(), "\\" + section, "");
}

std::string SettingsFileName() { return StoreFolder() + "/settings.reg"; }

std::string ReadSetting(const std::string& section, const std::string& name) {
    return ReadSetting(section, name, ApplicationTitle());
}

std::string ReadSetting(const std::string& section, const std::string& name,
                        const std::string& appName) {
    const std::string key = FullKey(appName, section);
    std::optional<std::string> store;
    try {
        // The file is replaced whole by writers, so a read needs no lock.
        store = ReadStore(SettingsFileName());
    } catch (const WriteFailure&) {
        return {};  // an unreadable store is like a key that does not open
    }
    if (!store) return {};
    std::optional<std::string> data;
    bool inKey = false;
    for (const std::string& line : SplitLines(*store)) {
        if (const auto k = KeyOfLine(line)) {
            inKey = SameText(*k, key);
            continue;
        }
        if (!inKey) continue;
        const auto v = ValueOfLine(line);
        if (v && SameText(v->name, name)) data = v->data;
    }
    if (!data) return {};
    auto text = TextOfData(*data);
    if (!text) throw Exception(kRegistryError, "Invalid data type for '" + name + "'");
    return *text;
}

void WriteSetting(const std::string& section, const std::string& name, const std::string& value) {
    WriteSetting(section, name, value, ApplicationTitle());
}

void WriteSetting(const std::string& section, const std::string& name, const std::string& value,
                  const std::string& appName) {
    StoreEntry(section, name, ValueNameField(name) + "=" + Quote(value), appName);
}

void WriteSettingInteger(const std::string& section, const std::string& name, int value) {
    WriteSettingInteger(section, name, value, ApplicationTitle());
}

void WriteSettingInteger(const std::string& section, const std::string& name, int value,
                         const std::string& appName) {
    char data[32];
    std::snprintf(data, sizeof data, "dword:%08x", static_cast<unsigned>(value));
    StoreEntry(section, name, ValueNameField(name) + "=" + data, appName);
}

}  // namespace lumo
