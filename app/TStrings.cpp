#include "app/TStrings.h"

#include <utility>

#include "support/Exception.h"

namespace lumo::app {

void TStrings::Add(std::string line) {
    lines_.push_back(std::move(line));
    ++revision_;
}

void TStrings::Clear() {
    lines_.clear();
    ++revision_;
}

void TStrings::Assign(std::vector<std::string> lines) {
    lines_ = std::move(lines);
    ++revision_;
}

void TStrings::Assign(TStrings&& other) {
    lines_ = std::move(other.lines_);
    other.lines_.clear();
    ++other.revision_;
    ++revision_;
}

void TStrings::Delete(std::size_t index) {
    if (index >= lines_.size()) {
        throw Exception(ErrorClass::EStringListError,
                        "List index out of bounds (" + std::to_string(index) + ")");
    }
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
    ++revision_;
}

}  // namespace lumo::app
