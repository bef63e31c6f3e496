// Feeds arbitrary bytes to the logger configuration loader as AppLogger.xml:
// it must fail cleanly or load, never crash, hang or read out of bounds.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "logging/uApplicationLogger.h"
#include "logging/uWindowsEventLogger.h"
#include "support/Application.h"

namespace {

// A plain array: still valid in the exit handler, after static destructors.
char gFolder[] = "/tmp/lumo-logging-fuzz-XXXXXX";

void RemoveFolder() {
    lumo::ShutdownAppLogger();
    std::error_code ignored;
    std::filesystem::remove_all(gFolder, ignored);
}

const std::string& Folder() {
    static const std::string folder = [] {
        if (!::mkdtemp(gFolder)) std::abort();
        // Relative names (a rename target) resolve here too.
        if (::chdir(gFolder) != 0) std::abort();
        lumo::SetProgramFileName(std::string(gFolder) + "/lumo4410");
        lumo::SetEventLogSink([](int, const std::string&, const std::string&) {});
        std::atexit(RemoveFolder);
        return std::string(gFolder);
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& folder = Folder();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // Destinations create and empty the files they name; keep the fuzzer from
    // naming files outside its folder.
    if (text.find("FileName") != std::string_view::npos ||
        text.find("RenameFileTo") != std::string_view::npos)
        return 0;
    {
        std::ofstream out(folder + "/AppLogger.xml", std::ios::binary | std::ios::trunc);
        // Inputs starting with '!' are logger entries of a valid section, so
        // that the fuzzer reaches the entries without first finding the frame.
        if (!text.empty() && text[0] == '!')
            out << "<R Version=\"1.2\"><AllStations><AllApplications>" << text.substr(1)
                << "</AllApplications></AllStations></R>";
        else
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    try {
        lumo::AppLogger().Log("fuzz", 5, 0);
    } catch (const std::exception&) {
    }
    lumo::ShutdownAppLogger();
    return 0;
}
