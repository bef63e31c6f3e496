#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumo::app {

// A list of text lines (a list box's items, a memo's lines). The lines are
// read in place, without copying; Revision changes on every change so a view
// knows when to reload. Owned by its control; used on the form's thread.
class TStrings {
  public:
    const std::vector<std::string>& Lines() const { return lines_; }
    std::size_t Count() const { return lines_.size(); }
    const std::string& operator[](std::size_t index) const { return lines_[index]; }
    std::uint64_t Revision() const { return revision_; }

    void Add(std::string line);
    void Clear();
    void Assign(std::vector<std::string> lines);
    void Assign(TStrings&& other);  // takes the other list's lines
    void Delete(std::size_t index);
    void Reserve(std::size_t count) { lines_.reserve(count); }

  private:
    std::vector<std::string> lines_;
    std::uint64_t revision_ = 0;
};

}  // namespace lumo::app
