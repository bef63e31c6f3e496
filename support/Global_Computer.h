#pragma once

#include <string>

namespace lumo {

// Who the program runs for. On an ordinary desktop the station is the
// computer (the host name up to its first dot); in a remote session (an SSH
// login: the SSH_CONNECTION variable is set) it is the client machine, marked
// "TS_", so log files follow the person's workstation rather than the shared
// server. Reads the environment on every call; usable from any thread.

// Session information classes understood by SessionInfoText.
enum SessionInfoClass {
    SessionInitialProgram = 0,    // the login shell ($SHELL)
    SessionWorkingDirectory = 2,  // the current directory
    SessionOemId = 3,             // always empty here
    SessionUserName = 5,
    SessionWinStationName = 6,   // the session's terminal ($SSH_TTY)
    SessionDomainName = 7,       // the host name's domain part
    SessionClientName = 10,      // the client's address (first field of SSH_CONNECTION)
    SessionClientDirectory = 11  // always empty here
};

bool IsRemoteSession();

// One item about the current remote session, trimmed of blanks and control
// characters; empty outside a remote session, for an unknown class, or when
// the item cannot be read.
std::string SessionInfoText(int InfoClass);

// SessionInfoText(SessionClientName).
std::string TerminalClientName();

// The local computer's name: the host name up to its first dot (empty if it
// cannot be read).
std::string ComputerName();

// The station name, at most 19 characters: "TS_" + client name (or the bare
// client name without AddPrefix) in a remote session with
// UseTerminalClient, else the computer's name. The command-line parameter
// NEPASUTILISERPREFIXTS_ turns both options off.
std::string StationName(bool UseTerminalClient, bool AddPrefix);

}  // namespace lumo
