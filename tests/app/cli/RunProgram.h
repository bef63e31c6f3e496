#pragma once

// Runs a program as a child process for the command line's tests: its
// output captured in files, its exit bounded so a test can never hang.

#include <chrono>
#include <string>
#include <vector>

namespace lumo::app::testing {

struct ProgramResult {
    int exitCode = -1;  // -1 when killed by a signal or by the time bound
    bool timedOut = false;
    std::string out;
    std::string err;
};

// A started child whose stdout and stderr go to files in `workDir`, which
// is also its current folder.
class ChildProgram {
  public:
    ChildProgram(const std::string& program, const std::vector<std::string>& args,
                 const std::string& workDir);
    ~ChildProgram();  // kills and reaps a child still running
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    // What stderr and stdout hold so far.
    std::string ErrSoFar() const;
    std::string OutSoFar() const;
    // Waits until stderr (stdout) holds `text`; false when the child ended
    // or `bound` passed first.
    bool WaitForErr(const std::string& text, std::chrono::milliseconds bound);
    bool WaitForOut(const std::string& text, std::chrono::milliseconds bound);
    void Signal(int signal);
    // Waits for the exit, killing the child after `bound`.
    ProgramResult Wait(std::chrono::milliseconds bound);

  private:
    bool WaitFor(const std::string& file, const std::string& text, std::chrono::milliseconds bound);

    int pid_ = -1;
    std::string outFile_;
    std::string errFile_;
    ProgramResult result_;
    bool reaped_ = false;
};

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workDir,
                         std::chrono::milliseconds bound = std::chrono::seconds(60));

std::vector<std::string> SplitLines(const std::string& text);

}  // namespace lumo::app::testing
