#pragma once

#include <string>
#include <vector>

namespace lumo {

// Process-wide facts every layer reads: the application title, the program's
// command line as given to the entry point, and where the program file is.
// Set once by the entry point before anything else runs; read from any thread.

// "Test Worklist" in this program; the settings store, the event log and the
// logger configuration use it.
void SetApplicationTitle(const std::string& title);
std::string ApplicationTitle();

// The parameters 1..N of the command line (argv[1..argc-1]); name=value words
// among them are the named parameters that file masks read.
void SetCommandLine(int argc, const char* const* argv);
void SetCommandLineParams(std::vector<std::string> params);
std::vector<std::string> CommandLineParams();

// The program file (/proc/self/exe unless overridden) and its folder, with a
// trailing slash. Tests override the program file so that "the program's
// folder" is a temporary folder.
std::string ProgramFileName();
std::string ProgramFolder();
void SetProgramFileName(const std::string& fileName);  // empty: back to /proc/self/exe

// The program file's name without folder and without its extension, if it
// has one. The command-line front end calls itself "lumo4410" like the
// window (SetProgramKey), so both read the same logger section.
std::string ProgramKey();
void SetProgramKey(const std::string& key);  // empty: back to the file's name

}  // namespace lumo
