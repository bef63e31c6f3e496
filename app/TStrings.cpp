#include "app/TStrings.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "support/Exception.h"

namespace lumo::app {

namespace {

// A short list stays small; a long one grows by blocks of a mebibyte, so
// that growing never copies the lines already there, and a block's page
// that no line reached is never touched.
constexpr std::size_t kFirstBlock = 4 * 1024;
constexpr std::size_t kLargestBlock = 1024 * 1024;
// Where a line ends is a 32-bit offset into its block.
constexpr std::size_t kMaxBlock = 0xFFFFFFFCu;
// After each line: its '\n' and the 4 bytes of its end.
constexpr std::size_t kLineCost = 1 + sizeof(std::uint32_t);

}  // namespace

std::uint32_t TStrings::Block::EndOf(std::uint32_t line) const {
    std::uint32_t end = 0;
    std::memcpy(&end, bytes.get() + capacity - sizeof end * (line + std::size_t{1}), sizeof end);
    return end;
}

void TStrings::Block::SetEndOf(std::uint32_t line, std::uint32_t end) {
    std::memcpy(bytes.get() + capacity - sizeof end * (line + std::size_t{1}), &end, sizeof end);
}

std::size_t TStrings::Block::Free(std::size_t open) const {
    return capacity - sizeof(std::uint32_t) * lines - used - open;
}

TStrings::TStrings() = default;
TStrings::~TStrings() = default;

TStrings::TStrings(TStrings&& other) noexcept
    : blocks_(std::move(other.blocks_)),
      count_(std::exchange(other.count_, 0)),
      open_(std::exchange(other.open_, 0)),
      revision_(other.revision_),
      reshaped_(other.revision_) {
    other.blocks_.clear();
    other.reshaped_ = ++other.revision_;
}

TStrings& TStrings::operator=(TStrings&& other) noexcept {
    if (this != &other) {
        const std::uint64_t revision = std::max(revision_, other.revision_) + 1;
        blocks_ = std::move(other.blocks_);
        other.blocks_.clear();
        count_ = std::exchange(other.count_, 0);
        open_ = std::exchange(other.open_, 0);
        other.reshaped_ = ++other.revision_;
        revision_ = revision;
        reshaped_ = revision;
    }
    return *this;
}

std::string_view TStrings::LineIn(const Block& block, std::uint32_t line) const {
    const std::uint32_t start = line == 0 ? 0 : block.EndOf(line - 1) + 1;
    return std::string_view(block.bytes.get() + start, block.EndOf(line) - start);
}

std::string_view TStrings::operator[](std::size_t index) const {
    const auto after = std::upper_bound(
        blocks_.begin(), blocks_.end(), index,
        [](std::size_t wanted, const Block& block) { return wanted < block.firstLine; });
    const Block& block = *(after - 1);
    return LineIn(block, static_cast<std::uint32_t>(index - block.firstLine));
}

TStrings::Iterator TStrings::begin() const { return count_ == 0 ? end() : Iterator(this, 0); }

TStrings::Iterator TStrings::end() const { return Iterator(this, blocks_.size()); }

TStrings::Iterator& TStrings::Iterator::operator++() {
    if (++line_ < list_->blocks_[block_].lines) return *this;
    line_ = 0;
    // Only the last block can hold no finished line (a line being built).
    do {
        ++block_;
    } while (block_ < list_->blocks_.size() && list_->blocks_[block_].lines == 0);
    return *this;
}

std::vector<std::string> TStrings::Copy() const {
    std::vector<std::string> lines;
    lines.reserve(count_);
    for (std::string_view line : *this) lines.emplace_back(line);
    return lines;
}

// A new block when the last one cannot take the piece, the '\n' and the end
// of the line after it; the line built so far moves with it. A block that
// holds no finished line is replaced rather than kept.
void TStrings::MakeRoom(std::size_t piece) {
    if (!blocks_.empty() && piece <= kMaxBlock && piece + kLineCost <= blocks_.back().Free(open_))
        return;
    if (piece > kMaxBlock - kLineCost - open_) {
        throw Exception(ErrorClass::EStringListError,
                        "Line too long (over " + std::to_string(kMaxBlock) + " bytes)");
    }
    const std::size_t needed = (open_ + piece + kLineCost + 3) & ~std::size_t{3};
    std::size_t capacity =
        blocks_.empty() ? kFirstBlock : std::min(blocks_.back().capacity * 2, kLargestBlock);
    Block block;
    block.capacity = std::max(capacity, needed);
    block.bytes = std::make_unique_for_overwrite<char[]>(block.capacity);
    block.firstLine = count_;
    if (!blocks_.empty()) {
        const Block& last = blocks_.back();
        if (open_ > 0) std::memcpy(block.bytes.get(), last.bytes.get() + last.used, open_);
        if (last.lines == 0) blocks_.pop_back();
    }
    blocks_.push_back(std::move(block));
}

void TStrings::Append(std::string_view piece) {
    MakeRoom(piece.size());
    Block& block = blocks_.back();
    if (!piece.empty())
        std::memcpy(block.bytes.get() + block.used + open_, piece.data(), piece.size());
    open_ += piece.size();
}

void TStrings::EndLine() {
    MakeRoom(0);
    Block& block = blocks_.back();
    const auto end = static_cast<std::uint32_t>(block.used + open_);
    block.bytes[end] = '\n';
    block.SetEndOf(block.lines, end);
    block.used = end + 1;
    ++block.lines;
    open_ = 0;
    ++count_;
    ++revision_;
}

void TStrings::Add(std::string_view line) {
    Append(line);
    EndLine();
}

void TStrings::Clear() {
    blocks_.clear();
    count_ = 0;
    open_ = 0;
    reshaped_ = ++revision_;
}

void TStrings::Assign(const std::vector<std::string>& lines) {
    Clear();
    for (const std::string& line : lines) Add(line);
}

void TStrings::Assign(TStrings&& other) {
    if (this == &other) return;
    *this = std::move(other);
}

void TStrings::AppendAll(TStrings&& other) {
    if (this == &other || other.count_ == 0) return;
    if (open_ > 0 || other.open_ > 0)
        throw Exception(ErrorClass::EStringListError, "Lines appended while a line is built");
    // A last block without a finished line holds nothing to keep.
    if (!blocks_.empty() && blocks_.back().lines == 0) blocks_.pop_back();
    for (Block& block : other.blocks_) {
        if (block.lines == 0) continue;
        block.firstLine += count_;
        blocks_.push_back(std::move(block));
    }
    count_ += other.count_;
    ++revision_;
    other.Clear();
}

void TStrings::Delete(std::size_t index) {
    if (index >= count_) {
        throw Exception(ErrorClass::EStringListError,
                        "List index out of bounds (" + std::to_string(index) + ")");
    }
    TStrings kept;
    std::size_t at = 0;
    for (std::string_view line : *this) {
        if (at++ != index) kept.Add(line);
    }
    const std::uint64_t revision = revision_ + 1;
    *this = std::move(kept);
    revision_ = revision;
    reshaped_ = revision;
}

}  // namespace lumo::app
