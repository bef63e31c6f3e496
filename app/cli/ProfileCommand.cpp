#include "app/cli/ProfileCommand.h"

#include <optional>
#include <string>
#include <vector>

#include "app/DiagnosticTab.h"
#include "app/LinesFile.h"
#include "app/NodeProfile.h"
#include "app/VisibleText.h"
#include "app/cli/FormOutput.h"
#include "support/Exception.h"
#include "support/RegularFile.h"
#include "support/WholeFile.h"

namespace lumo::app {

namespace {

constexpr std::size_t kMaxProfileBytes = 16 * 1024 * 1024;

void Print(std::FILE* file, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fputc('\n', file);
}

// The earlier profile, read before anything is sent: a file that is no
// profile must not cost the node a battery of queries.
std::optional<NodeProfile> ReadEarlier(const std::string& file, std::FILE* err) {
    const WholeFile read = ReadWholeFile(file, ReadableFiles::RegularOnly, kMaxProfileBytes);
    if (!read.Ok()) {
        Print(err, "lumo4410-cli: " + file + " : " + FileErrorText(read.error));
        return std::nullopt;
    }
    try {
        return ProfileFromJson(read.bytes);
    } catch (const Exception& e) {
        Print(err, "lumo4410-cli: " + file + " : " + e.Message());
        return std::nullopt;
    }
}

}  // namespace

int RunProfileCommand(TFormTestWL& form, const CliOptions& options, std::FILE* out,
                      std::FILE* err) {
    std::optional<NodeProfile> earlier;
    if (!options.againstFile.empty()) {
        earlier = ReadEarlier(options.againstFile, err);
        if (!earlier) return 1;
    }
    std::optional<NodeProfile> profile;
    const bool ran =
        form.RunHandler([&] { profile = ProfileNode(form, options.repeat, options.verbose); });
    PrintList(form.ListBoxResult.Items, out);
    std::fflush(out);
    if (!ran || !profile || !profile->reached) return 1;
    if (!options.jsonFile.empty() &&
        !form.RunHandler([&] { SaveBytesToFile(options.jsonFile, ProfileJson(*profile)); }))
        return 1;
    if (profile->stopped) return 1;
    if (!earlier) return 0;
    const std::vector<std::string> changes = ProfileChanges(*earlier, *profile);
    Print(out, "== Changements depuis " + options.againstFile + " ==");
    if (changes.empty()) Print(out, "Aucun changement");
    for (const std::string& line : changes) Print(out, VisibleText(line));
    std::fflush(out);
    return changes.empty() ? 0 : 3;
}

}  // namespace lumo::app
