#include "support/Global_Computer.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "support/Global_Utils.h"
#include "support/NamedParams.h"

namespace lumo {

namespace {

constexpr std::size_t StationNameLength = 19;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string FullHostName() {
    char buffer[256] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0) return {};
    return buffer;
}

std::string UserName() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_name != nullptr)
        return found->pw_name;
    return Env("USER");
}

std::string WorkingDirectory() {
    std::vector<char> buffer(4096);
    if (getcwd(buffer.data(), buffer.size()) == nullptr) return {};
    return buffer.data();
}

}  // namespace

bool IsRemoteSession() {
    // Set by the SSH server for the whole login session, even when empty.
    return std::getenv("SSH_CONNECTION") != nullptr;
}

std::string SessionInfoText(int InfoClass) {
    if (!IsRemoteSession()) return {};
    std::string text;
    switch (InfoClass) {
        case SessionInitialProgram:
            text = Env("SHELL");
            break;
        case SessionWorkingDirectory:
            text = WorkingDirectory();
            break;
        case SessionUserName:
            text = UserName();
            break;
        case SessionWinStationName:
            text = Env("SSH_TTY");
            break;
        case SessionDomainName: {
            const std::string host = FullHostName();
            const std::size_t dot = host.find('.');
            text = dot == std::string::npos ? std::string() : host.substr(dot + 1);
            break;
        }
        case SessionClientName: {
            // "client-address client-port server-address server-port"
            const std::string connection = TrimBlanks(Env("SSH_CONNECTION"));
            std::size_t end = 0;
            while (end < connection.size() && static_cast<unsigned char>(connection[end]) > 32)
                ++end;
            text = connection.substr(0, end);
            break;
        }
        case SessionOemId:
        case SessionClientDirectory:
        default:
            break;
    }
    return TrimBlanks(text);
}

std::string TerminalClientName() { return SessionInfoText(SessionClientName); }

std::string ComputerName() {
    const std::string host = FullHostName();
    return host.substr(0, host.find('.'));
}

std::string StationName(bool UseTerminalClient, bool AddPrefix) {
    if (HasNamedParam("NEPASUTILISERPREFIXTS_")) {
        UseTerminalClient = false;
        AddPrefix = false;
    }
    std::string name;
    if (UseTerminalClient && IsRemoteSession()) {
        name = AddPrefix ? "TS_" + TerminalClientName() : TerminalClientName();
    } else {
        name = ComputerName();
    }
    if (name.size() > StationNameLength) name.resize(StationNameLength);
    return name;
}

}  // namespace lumo
