#include "app/cli/FormOutput.h"

#include <string_view>

namespace lumo::app {

void PrintList(const TStrings& lines, std::FILE* file) {
    lines.ForEachText(
        [file](std::string_view text) { std::fwrite(text.data(), 1, text.size(), file); });
    std::fflush(file);
}

void PrintExchangeReport(const TFormTestWL& form, std::FILE* file) {
    PrintList(form.MemoDiagnostic.Lines, file);
}

}  // namespace lumo::app
