// Resolves arbitrary names against arbitrary base folders (the input split
// at its first newline): a path or the resolution error, nothing else.
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/Exception.h"
#include "support/Global_File.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = input.find('\n');
    const std::string name = input.substr(0, cut);
    const std::string base = cut == std::string::npos ? "/opt/lumo/bin" : input.substr(cut + 1);
    try {
        const std::string result = lumo::GlobalFile().GetAbsoluteFileName(name, base);
        if (result.empty() || result[0] != '/') __builtin_trap();
    } catch (const lumo::Exception&) {
    }
    return 0;
}
