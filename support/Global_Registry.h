#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumo {

// The per-user settings store: named text values under a key path
// \Software\Brevalis[\<application>][\<section>] (empty parts left out; the
// application defaults to ApplicationTitle()).
//
// The store is one file, $XDG_CONFIG_HOME/Brevalis/settings.reg (default
// ~/.config), written in the registry-export layout: a [key path] line per
// key followed by "name"="text" lines (dword:XXXXXXXX for an integer value).
// Key paths and value names compare without regard to ASCII case, as in the
// registry. There is no cache: every call reads or rewrites the file.
// Writes hold an exclusive lock on settings.reg.lock for the whole
// read-modify-write and replace the file atomically (temporary file and
// rename), so concurrent writers lose nothing and a crash never leaves a
// half-written store. Both files must be regular files: a pipe, a device, a
// folder or a store of more than 4 MiB in their place is never waited on nor
// replaced; the store then reads as empty texts and every write fails.
// Usable from any thread.
//
// Errors are lumo::Exception with the class name "ERegistryException":
// reading a value that is not text raises "Invalid data type for '<name>'";
// a write that cannot be stored raises "Failed to set data for '<name>'".

// Missing key or value reads as the empty text.
std::string ReadSetting(const std::string& section, const std::string& name);
std::string ReadSetting(const std::string& section, const std::string& name,
                        const std::string& appName);

// Creates the key when needed and replaces any value of that name, whatever
// its type. An empty text is stored as an existing empty value.
void WriteSetting(const std::string& section, const std::string& name, const std::string& value);
void WriteSetting(const std::string& section, const std::string& name, const std::string& value,
                  const std::string& appName);

// Stores an integer (a non-text value, which ReadSetting refuses). For tests
// and tools that need to provoke the data-type error.
void WriteSettingInteger(const std::string& section, const std::string& name, int value);
void WriteSettingInteger(const std::string& section, const std::string& name, int value,
                         const std::string& appName);

// Sections under a section of ApplicationTitle()'s settings, each a key of
// its own ("Nodes\PACS1" below "Nodes"): their names below `section`, in the
// order the store holds them, once each whatever their case.
std::vector<std::string> SettingSubkeys(const std::string& section);

// Every text value of a section of ApplicationTitle()'s settings, by name
// in the order the store holds them; a value that is not text raises as
// ReadSetting does.
std::vector<std::pair<std::string, std::string>> ReadSettingSection(const std::string& section);

// A section of ApplicationTitle()'s settings as a whole: its values, or
// nothing to remove it.
struct SettingSection {
    std::string name;
    std::optional<std::vector<std::pair<std::string, std::string>>> values;
};
// Every section given is removed, then written anew with its values, in one
// change of the store: another reader sees all of them changed or none. A
// failure raises "Failed to set data for '<first section>'" and changes
// nothing.
void ReplaceSettingSections(const std::vector<SettingSection>& sections);

// The key path for an application name and a section, as the store files it
// ("\Software\Brevalis\Test Worklist\FormTestWL").
std::string SettingsKeyPath(const std::string& appName, const std::string& section);

// The store file (under $XDG_CONFIG_HOME, read on every call).
std::string SettingsFileName();

}  // namespace lumo
