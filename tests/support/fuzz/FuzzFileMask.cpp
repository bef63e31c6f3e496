// Expands arbitrary masks: every outcome is a name or the invalid-mask error;
// no crash, no endless expansion.
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/Application.h"
#include "support/DateTime.h"
#include "support/Exception.h"
#include "support/Global_File.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = [] {
        lumo::SetClock([] { return lumo::EncodeDateTime(2024, 2, 29, 23, 59, 59, 999); });
        lumo::SetCommandLineParams({"site=NORD", "loop=x?PARAMSTR=loop?", "q=?", "d=?DATE?"});
        return true;
    }();
    (void)ready;
    const std::string mask(reinterpret_cast<const char*>(data), size);
    try {
        lumo::TDateTime next = 0;
        lumo::GlobalFile().ExpandFileMaskUntil(mask, next);
    } catch (const lumo::Exception&) {
    }
    return 0;
}
