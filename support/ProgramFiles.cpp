#include "support/ProgramFiles.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "support/Application.h"

#ifndef LUMO_INSTALL_BINDIR
#define LUMO_INSTALL_BINDIR "/usr/bin"
#endif
#ifndef LUMO_INSTALL_CONFDIR
#define LUMO_INSTALL_CONFDIR "/etc/lumo4410"
#endif

namespace lumo {

namespace {

constexpr const char* kConfigurationName = "AppLogger.xml";
constexpr const char* kOwnFolder = "lumo4410";

struct Places {
    std::mutex mutex;
    InstalledPlaces installed;
    std::string logFolder;  // empty: the program's folder
};

Places& Facts() {
    static Places places;
    return places;
}

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string HomeFolder() {
    std::string home = Env("HOME");
    if (!home.empty()) return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr)
        home = found->pw_dir;
    return home;
}

// A relative value is to be ignored, as the base-directory rules say.
std::string XdgHome(const char* variable, const char* fallback) {
    const std::string xdg = Env(variable);
    if (!xdg.empty() && xdg[0] == '/') return xdg;
    return HomeFolder() + fallback;
}

// A configuration is a file: a folder of that name is none (the logger
// refuses pipes and devices itself, with the reason).
bool IsConfiguration(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

std::string CurrentFolder() {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return {};
        buffer.resize(buffer.size() * 2);
    }
    return WithSlash(buffer.data());
}

}  // namespace

std::string ConfigHome() { return XdgHome("XDG_CONFIG_HOME", "/.config"); }

std::string StateHome() { return XdgHome("XDG_STATE_HOME", "/.local/state"); }

std::string StateFolder() { return StateHome() + "/" + kOwnFolder + "/"; }

std::string MakeStateFolder() {
    const std::string folder = StateFolder();
    // Each part in turn: the state home itself may not exist yet. Private,
    // as the base-directory rules ask of what the program makes there.
    for (std::size_t at = folder.find('/', 1); at != std::string::npos;
         at = folder.find('/', at + 1))
        ::mkdir(folder.substr(0, at).c_str(), 0700);
    return folder;
}

InstalledPlaces Installed() {
    auto& facts = Facts();
    const std::lock_guard lock(facts.mutex);
    return {facts.installed.binFolder.empty() ? WithSlash(LUMO_INSTALL_BINDIR)
                                              : facts.installed.binFolder,
            facts.installed.configFolder.empty() ? WithSlash(LUMO_INSTALL_CONFDIR)
                                                 : facts.installed.configFolder};
}

void SetInstalledPlaces(const InstalledPlaces& places) {
    auto& facts = Facts();
    const std::lock_guard lock(facts.mutex);
    facts.installed = {places.binFolder.empty() ? "" : WithSlash(places.binFolder),
                       places.configFolder.empty() ? "" : WithSlash(places.configFolder)};
}

bool IsInstalledProgram() { return ProgramFolder() == Installed().binFolder; }

LoggerConfiguration FindLoggerConfiguration() {
    const std::string programFolder = ProgramFolder();
    const LoggerConfiguration own{programFolder + kConfigurationName, programFolder};
    if (IsConfiguration(own.file) || !IsInstalledProgram()) return own;
    const std::string current = CurrentFolder();
    if (!current.empty() && IsConfiguration(current + kConfigurationName))
        return {current + kConfigurationName, current};
    for (const std::string& folder :
         {ConfigHome() + "/" + kOwnFolder + "/", Installed().configFolder}) {
        if (IsConfiguration(folder + kConfigurationName))
            return {folder + kConfigurationName, StateFolder()};
    }
    return own;
}

std::string LogFolder() {
    {
        auto& facts = Facts();
        const std::lock_guard lock(facts.mutex);
        if (!facts.logFolder.empty()) return facts.logFolder;
    }
    return ProgramFolder();
}

void SetLogFolder(const std::string& folder) {
    auto& facts = Facts();
    const std::lock_guard lock(facts.mutex);
    facts.logFolder = folder.empty() ? "" : WithSlash(folder);
}

}  // namespace lumo
