#include "tests/app/cli/RunProgram.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace lumo::app::testing {

namespace {

std::string ReadAll(const std::string& fileName) {
    std::ifstream file(fileName, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

ChildProgram::ChildProgram(const std::string& program, const std::vector<std::string>& args,
                           const std::string& workDir)
    : outFile_(workDir + "/.child-stdout"), errFile_(workDir + "/.child-stderr") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const int error = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + program);
}

ChildProgram::~ChildProgram() {
    if (!reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::string ChildProgram::ErrSoFar() const { return ReadAll(errFile_); }

std::string ChildProgram::OutSoFar() const { return ReadAll(outFile_); }

bool ChildProgram::WaitForErr(const std::string& text, std::chrono::milliseconds bound) {
    return WaitFor(errFile_, text, bound);
}

bool ChildProgram::WaitForOut(const std::string& text, std::chrono::milliseconds bound) {
    return WaitFor(outFile_, text, bound);
}

bool ChildProgram::WaitFor(const std::string& file, const std::string& text,
                           std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < end) {
        if (ReadAll(file).find(text) != std::string::npos) return true;
        int status = 0;
        if (!reaped_ && waitpid(pid_, &status, WNOHANG) == pid_) {
            reaped_ = true;
            result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return ReadAll(file).find(text) != std::string::npos;
        }
        if (reaped_) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void ChildProgram::Signal(int signal) {
    if (!reaped_) kill(pid_, signal);
}

ProgramResult ChildProgram::Wait(std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!reaped_) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            reaped_ = true;
            result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (std::chrono::steady_clock::now() >= end) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            reaped_ = true;
            result_.timedOut = true;
            result_.exitCode = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    result_.out = ReadAll(outFile_);
    result_.err = ReadAll(errFile_);
    return result_;
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workDir, std::chrono::milliseconds bound) {
    ChildProgram child(program, args, workDir);
    return child.Wait(bound);
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream stream(text);
    while (std::getline(stream, line)) lines.push_back(line);
    return lines;
}

}  // namespace lumo::app::testing
