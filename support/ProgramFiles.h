#pragma once

#include <string>

namespace lumo {

// Where the program finds its logger configuration and keeps the files it
// writes. A build tree, or any folder holding the program with its own
// AppLogger.xml, behaves as it always has: the configuration beside the
// program, relative log names taken from there. An installed program (one
// run from the package's bin folder) has no writable folder of its own, so
// it also looks in the current folder, then in the user's configuration
// folder, then in the system's, and keeps its files in the user's state
// folder. Process-wide facts read from the environment on every call;
// SetInstalledPlaces and SetLogFolder are for the entry points and tests.
// Any thread.

// The XDG base folders, as the base-directory rules give them: the
// variable when it holds an absolute path, else the default under $HOME
// (or the password entry's home folder), without a trailing slash.
std::string ConfigHome();  // $XDG_CONFIG_HOME, default ~/.config
std::string StateHome();   // $XDG_STATE_HOME, default ~/.local/state

// $XDG_STATE_HOME/lumo4410/, with a trailing slash: the installed
// program's log, and the saved and exported files of the window started
// from its desktop entry.
std::string StateFolder();
// The same folder, made (with its parents, for this user only) when
// missing; its name in any case, a failure shows when a file is written.
std::string MakeStateFolder();

// Where the package puts the programs and the system's configuration
// (from the install prefix at build time: /usr/bin/ and /etc/lumo4410/),
// each with a trailing slash.
struct InstalledPlaces {
    std::string binFolder;
    std::string configFolder;
};
InstalledPlaces Installed();
// Tests point them into temporary folders; empty fields: back to the built-in ones.
void SetInstalledPlaces(const InstalledPlaces& places);

// Whether the program runs from the package's bin folder.
bool IsInstalledProgram();

// The logger configuration to read and the folder its relative log names
// are taken from, the first that exists of:
//   AppLogger.xml in the program's folder       names from the program's folder
// and, for an installed program only,
//   ./AppLogger.xml in the current folder       names from the current folder
//   $XDG_CONFIG_HOME/lumo4410/AppLogger.xml     names from StateFolder()
//   /etc/lumo4410/AppLogger.xml                 names from StateFolder()
// With none, `file` names the program folder's (which does not exist).
struct LoggerConfiguration {
    std::string file;
    std::string logFolder;  // with a trailing slash
};
LoggerConfiguration FindLoggerConfiguration();

// The folder relative log file names are taken from; the program's folder
// until the logger sets another for the configuration it read.
std::string LogFolder();
void SetLogFolder(const std::string& folder);  // empty: the program's folder

}  // namespace lumo
