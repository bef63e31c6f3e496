#include "support/Application.h"

#include <unistd.h>

#include <mutex>
#include <utility>

namespace lumo {

namespace {

// The process-wide facts, behind one short lock.
struct ApplicationFacts {
    std::mutex mutex;
    std::string title;
    std::vector<std::string> params;
    std::string programFile;  // empty: /proc/self/exe
    std::string programKey;   // empty: from the program file's name
};

ApplicationFacts& Facts() {
    static ApplicationFacts facts;
    return facts;
}

std::string SelfExecutable() {
    std::string buffer(4096, '\0');
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(n));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

void SetApplicationTitle(const std::string& title) {
    auto& f = Facts();
    const std::lock_guard lock(f.mutex);
    f.title = title;
}

std::string ApplicationTitle() {
    auto& f = Facts();
    const std::lock_guard lock(f.mutex);
    return f.title;
}

void SetCommandLine(int argc, const char* const* argv) {
    std::vector<std::string> params;
    for (int i = 1; i < argc && argv != nullptr; ++i)
        if (argv[i] != nullptr) params.emplace_back(argv[i]);
    SetCommandLineParams(std::move(params));
}

void SetCommandLineParams(std::vector<std::string> params) {
    auto& f = Facts();
    const std::lock_guard lock(f.mutex);
    f.params = std::move(params);
}

std::vector<std::string> CommandLineParams() {
    auto& f = Facts();
    const std::lock_guard lock(f.mutex);
    return f.params;
}

std::string ProgramFileName() {
    {
        auto& f = Facts();
        const std::lock_guard lock(f.mutex);
        if (!f.programFile.empty()) return f.programFile;
    }
    return SelfExecutable();
}

std::string ProgramFolder() {
    const std::string file = ProgramFileName();
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos) return "./";
    return file.substr(0, slash + 1);
}

void SetProgramFileName(const std::string& fileName) {
    auto& f = Facts();
    const std::lock_guard lock(f.mutex);
    f.programFile = fileName;
}

std::string ProgramKey() {
    {
        auto& f = Facts();
        const std::lock_guard lock(f.mutex);
        if (!f.programKey.empty()) return f.programKey;
    }
    const std::string file = ProgramFileName();
    const std::size_t slash = file.rfind('/');
    std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    // A leading dot names a hidden file, not an extension.
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

void SetProgramKey(const std::string& key) {
    auto& f = Facts();
    const std::lock_guard lock(f.mutex);
    f.programKey = key;
}

}  // namespace lumo
