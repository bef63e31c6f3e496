#pragma once

// A program folder of its own for a test: a temporary folder holding an
// AppLogger.xml that writes every log line, with its level, into log.txt
// there, and a settings store of its own ($XDG_CONFIG_HOME pointed inside),
// so the real user's store and log are never touched.

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "logging/uApplicationLogger.h"
#include "support/Application.h"
#include "tests/app/FormTestSupport.h"

namespace lumo::app::testing {

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class ProgramFolder {
  public:
    ProgramFolder() {
        ShutdownAppLogger();
        if (const char* old = ::getenv("XDG_CONFIG_HOME")) oldConfig_ = old, hadConfig_ = true;
        ::setenv("XDG_CONFIG_HOME", (dir_.Path() + "/config").c_str(), 1);
        SetProgramFileName(dir_.Path() + "/lumo4410");
        SetApplicationTitle("Test Worklist");
        SetCommandLineParams({});
        std::ofstream(dir_.Path() + "/AppLogger.xml")
            << "<AppLogger Version=\"1.2\"><AllStations><AllApplications>"
               "<L class=\"TFileLogger\" NiveauMax=\"255\" LogSpecifique=\"0\" "
               "InsertTime=\"False\" InsertNiveauLog=\"True\"><FileName>"
            << LogFile() << "</FileName></L></AllApplications></AllStations></AppLogger>";
    }
    ~ProgramFolder() {
        ShutdownAppLogger();
        SetProgramFileName("");
        if (hadConfig_) {
            ::setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
    }
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    const std::string& Path() const { return dir_.Path(); }
    std::string LogFile() const { return dir_.Path() + "/log.txt"; }

    // The lines of the log, once what is queued has been written.
    std::vector<std::string> LogLines() const {
        ShutdownAppLogger();
        std::ifstream in(LogFile(), std::ios::binary);
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }

  private:
    TempDir dir_;
    std::string oldConfig_;
    bool hadConfig_ = false;
};

}  // namespace lumo::app::testing
