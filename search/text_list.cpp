#include "search/text_list.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <new>
#include <optional>
#include <utility>

#include "digest/md5.h"

namespace dupfind {
namespace {

// The 16 bytes a digest text stands for, when `text` is one.
bool DigestBytes(std::string_view text, std::array<char, 16>& bytes) {
  if (text.size() != 32) return false;
  const auto value = [](char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < 16; ++i) {
    const int high = value(text[2 * i]), low = value(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<char>(high << 4 | low);
  }
  return true;
}

std::string DigestText(std::string_view bytes) {
  Digest digest;
  std::memcpy(digest.data(), bytes.data(), digest.size());
  return DigestToText(digest);
}

}  // namespace

Error ListIndexError(int position) {
  return Error("List index out of bounds (" + std::to_string(position) + ")");
}

Error InsertLineError() {
  return Error("Unable to insert a line");
}

std::uint64_t TextList::Hash(int position) const {
  return std::hash<std::string>()(Get(position));
}

int SelectionAfterDeleting(int selected, const std::vector<int>& positions) {
  if (selected < 0) return selected;
  const auto above = std::lower_bound(positions.begin(), positions.end(), selected);
  if (above != positions.end() && *above == selected) return -1;
  return selected - static_cast<int>(above - positions.begin());
}

// The bytes of the rows, in blocks that are never moved once made: a row's
// bytes lie in one block, and one larger than a block has a block of its own.
class MemoryList::Blocks {
 public:
  static constexpr int kBlockBits = 20;
  static constexpr std::size_t kBlockSize = std::size_t{1} << kBlockBits;
  static constexpr std::size_t kMaxBlocks = std::size_t{1} << (39 - kBlockBits);

  // Where bytes go, one run after another: the same runs in the same order
  // always land at the same places.
  class Layout {
   public:
    // True when `size` bytes start a new block.
    bool NewBlock(std::size_t size) const { return blocks_ == 0 || size > kBlockSize - used_; }
    std::uint64_t Next(std::size_t size) {
      if (NewBlock(size)) {
        ++blocks_;
        used_ = 0;
      }
      const std::uint64_t at = ((blocks_ - 1) << kBlockBits) | used_;
      used_ = std::min(kBlockSize, used_ + size);  // a large one fills its block
      return at;
    }

   private:
    std::uint64_t blocks_ = 0;
    std::size_t used_ = 0;  // bytes taken in the last block
  };

  // Copies `bytes` in and returns where they start.
  std::uint64_t Put(std::string_view bytes) {
    if (layout_.NewBlock(bytes.size())) {
      if (blocks_.size() == kMaxBlocks) throw InsertLineError();
      try {
        blocks_.push_back(
            std::make_unique_for_overwrite<char[]>(std::max(kBlockSize, bytes.size())));
      } catch (const std::bad_alloc&) {
        throw InsertLineError();
      } catch (const std::length_error&) {
        throw InsertLineError();
      }
      size_ += std::max(kBlockSize, bytes.size());
    }
    const std::uint64_t at = layout_.Next(bytes.size());
    std::memcpy(blocks_.back().get() + (at & (kBlockSize - 1)), bytes.data(), bytes.size());
    return at;
  }

  const char* At(std::uint64_t at) const {
    return blocks_[at >> kBlockBits].get() + (at & (kBlockSize - 1));
  }

  // Bytes the blocks take.
  std::size_t Size() const { return size_; }

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  Layout layout_;
  std::size_t size_ = 0;
};

// A row whose bytes do not fit the row's size field keeps its size in front
// of them.
constexpr std::uint64_t kLongRow = (std::uint64_t{1} << 24) - 1;

MemoryList::MemoryList() : blocks_(std::make_unique<Blocks>()) {}
MemoryList::~MemoryList() = default;
MemoryList::MemoryList(MemoryList&&) noexcept = default;
MemoryList& MemoryList::operator=(MemoryList&&) noexcept = default;

std::string_view MemoryList::Bytes(const Row& row) const {
  if (row.size == 0) return {};
  const char* bytes = blocks_->At(row.at);
  if (row.size != kLongRow) return {bytes, row.size};
  std::uint64_t size;
  std::memcpy(&size, bytes, sizeof size);
  return {bytes + sizeof size, size};
}

void MemoryList::Append(const Row& row) {
  if (rows_.size() >= kMaxRows) throw InsertLineError();
  try {
    rows_.push_back(row);
  } catch (const std::bad_alloc&) {
    throw InsertLineError();
  }
}

void MemoryList::Add(std::string text) {
  std::array<char, 16> digest;
  const bool is_digest = DigestBytes(text, digest);
  const std::string_view bytes = is_digest ? std::string_view(digest.data(), 16) : text;
  // The same text as the row before: the same bytes.
  if (!rows_.empty() && rows_.back().digest == is_digest && Bytes(rows_.back()) == bytes) {
    Append(rows_.back());
    return;
  }
  Row row{};
  row.digest = is_digest;
  if (bytes.empty()) {
    row.size = 0;
  } else if (bytes.size() < kLongRow) {
    row.at = blocks_->Put(bytes);
    row.size = bytes.size();
  } else {
    std::string prefixed(sizeof(std::uint64_t), '\0');
    const std::uint64_t size = bytes.size();
    std::memcpy(prefixed.data(), &size, sizeof size);
    prefixed.append(bytes);
    row.at = blocks_->Put(prefixed);
    row.size = kLongRow;
  }
  Append(row);
}

void MemoryList::AddAll(std::vector<std::string> texts) {
  if (texts.size() > kMaxRows - rows_.size()) throw InsertLineError();
  const std::size_t before = rows_.size();
  try {
    for (std::string& text : texts)
      Add(std::move(text));
  } catch (...) {
    rows_.resize(before);  // none of them
    throw;
  }
}

void MemoryList::Check(int position) const {
  if (position < 0 || position >= Count()) throw ListIndexError(position);
}

std::string MemoryList::Get(int position) const {
  Check(position);
  const Row& row = rows_[static_cast<std::size_t>(position)];
  return row.digest ? DigestText(Bytes(row)) : std::string(Bytes(row));
}

std::optional<std::string_view> MemoryList::TextView(int position) const {
  Check(position);
  const Row& row = rows_[static_cast<std::size_t>(position)];
  if (row.digest) return std::nullopt;
  return Bytes(row);
}

std::uint64_t MemoryList::Hash(int position) const {
  Check(position);
  const Row& row = rows_[static_cast<std::size_t>(position)];
  return std::hash<std::string_view>()(Bytes(row)) ^ row.digest;
}

void MemoryList::Delete(int position) {
  if (position < 0 || position >= Count()) return;
  rows_.erase(rows_.begin() + position);
  selected_ = SelectionAfterDeleting(selected_, {position});
}

void MemoryList::DeleteAll(const std::vector<int>& positions) {
  auto next = positions.begin();
  std::size_t kept = 0;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (next != positions.end() && static_cast<std::size_t>(*next) == i) {
      ++next;
      continue;
    }
    rows_[kept++] = rows_[i];
  }
  rows_.resize(kept);
  selected_ = SelectionAfterDeleting(selected_, positions);
  Compact();
}

std::string_view MemoryList::Stored(const Row& row) const {
  const std::string_view bytes = Bytes(row);
  if (row.size != kLongRow) return bytes;
  return {bytes.data() - sizeof(std::uint64_t), bytes.size() + sizeof(std::uint64_t)};
}

void MemoryList::Compact() {
  // Visits each row with bytes, and its bytes unless it shares those of the
  // row before.
  const auto each = [this](auto&& visit) {
    std::optional<std::uint64_t> before;
    for (Row& row : rows_) {
      if (row.size == 0) continue;
      const bool shared = row.at == before;
      before = std::uint64_t{row.at};
      visit(row, shared ? std::string_view() : Stored(row));
    }
  };
  std::size_t kept = 0;
  each([&](Row&, std::string_view bytes) { kept += bytes.size(); });
  const std::size_t size = blocks_->Size();
  if (kept * 2 >= size || size <= Blocks::kBlockSize) return;  // little to give back
  // The bytes are all copied before any row is changed: a list that runs
  // short of memory here stays as it was. The rows then take the places
  // the copies went to.
  auto blocks = std::make_unique<Blocks>();
  try {
    each([&](Row&, std::string_view bytes) {
      if (!bytes.empty()) blocks->Put(bytes);
    });
  } catch (const Error&) {
    return;
  }
  Blocks::Layout layout;
  std::uint64_t at = 0;
  each([&](Row& row, std::string_view bytes) {
    if (!bytes.empty()) at = layout.Next(bytes.size());
    row.at = at;
  });
  blocks_ = std::move(blocks);
}

int MemoryList::Count() const {
  return static_cast<int>(rows_.size());
}

void MemoryList::Clear() {
  std::deque<Row>().swap(rows_);
  blocks_ = std::make_unique<Blocks>();
  selected_ = -1;
}

void MemoryList::SetItemIndex(int position) {
  selected_ = position >= 0 && position < Count() ? position : -1;
}

}  // namespace dupfind
