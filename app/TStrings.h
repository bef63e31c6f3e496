#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lumo::app {

// A list of text lines (a list box's items, a memo's lines), kept compact
// for listings of a million responses: the text of the lines lies in a few
// large blocks, each line followed by a line feed, and each line costs only
// the 4 bytes that say where it ends. A line is read in place as a view,
// valid until the list changes; the blocks can be written out as they are.
// Revision changes on every change so a view knows when to reload. Owns its
// blocks; used on the form's thread.
class TStrings {
    struct Block;

  public:
    class Iterator;

    TStrings();
    ~TStrings();
    TStrings(TStrings&& other) noexcept;
    TStrings& operator=(TStrings&& other) noexcept;
    TStrings(const TStrings&) = delete;
    TStrings& operator=(const TStrings&) = delete;

    std::size_t Count() const { return count_; }
    // The line at `index` (0-based), which must be below Count().
    std::string_view operator[](std::size_t index) const;
    Iterator begin() const;
    Iterator end() const;
    std::uint64_t Revision() const { return revision_; }
    // The revision of the last change that was not lines added at the end
    // (a clear, an assignment, a deletion): a view that saw it may show the
    // lines added since as rows added.
    std::uint64_t Reshaped() const { return reshaped_; }

    // Every line as its own string: for small lists and for tests.
    std::vector<std::string> Copy() const;

    // The text of every line in order, each followed by '\n', handed to
    // `write` in a few large pieces without any copy.
    template <typename Write>
    void ForEachText(Write&& write) const {
        for (const Block& block : blocks_)
            if (block.used > 0) write(std::string_view(block.bytes.get(), block.used));
    }

    void Add(std::string_view line);
    // Builds the next line in place, piece by piece: the pieces appended
    // since the last line ended make one line, added by EndLine. The line is
    // not in the list, nor counted, before.
    void Append(std::string_view piece);
    void EndLine();
    // Drops the line being built, if any.
    void DiscardLine() { open_ = 0; }

    void Clear();
    void Assign(const std::vector<std::string>& lines);
    void Assign(TStrings&& other);  // takes the other list's lines
    // Adds the other list's lines after these, taking its text rather than
    // copying it, and leaves the other list empty: lines that move on from
    // where they were built cost no second copy. Neither list may have a
    // line being built.
    void AppendAll(TStrings&& other);
    void Delete(std::size_t index);

  private:
    // One allocation: the text of its lines from the front, where each line
    // ends (a 32-bit offset from the block's start) from the back, so that
    // neither part needs room of its own.
    struct Block {
        std::unique_ptr<char[]> bytes;
        std::size_t capacity = 0;  // a multiple of 4
        std::uint32_t used = 0;    // the text of the finished lines, their '\n' included
        std::uint32_t lines = 0;
        std::size_t firstLine = 0;  // the index of its first line in the list

        std::uint32_t EndOf(std::uint32_t line) const;
        void SetEndOf(std::uint32_t line, std::uint32_t end);
        std::size_t Free(std::size_t open) const;
    };

    void MakeRoom(std::size_t piece);
    std::string_view LineIn(const Block& block, std::uint32_t line) const;

    std::vector<Block> blocks_;
    std::size_t count_ = 0;
    std::size_t open_ = 0;  // bytes of the line being built, after the last block's text
    std::uint64_t revision_ = 0;
    std::uint64_t reshaped_ = 0;

    friend class Iterator;
};

// Walks the lines in order, block by block, without a search per line.
// Borrows its list, which must not change while it walks; the list's thread.
class TStrings::Iterator {
  public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = std::string_view;

    Iterator() = default;
    std::string_view operator*() const { return list_->LineIn(list_->blocks_[block_], line_); }
    Iterator& operator++();
    Iterator operator++(int) {
        Iterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const Iterator& other) const {
        return block_ == other.block_ && line_ == other.line_;
    }

  private:
    friend class TStrings;
    Iterator(const TStrings* list, std::size_t block) : list_(list), block_(block) {}

    const TStrings* list_ = nullptr;
    std::size_t block_ = 0;
    std::uint32_t line_ = 0;
};

}  // namespace lumo::app
