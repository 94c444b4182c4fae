// The pages a write unit has changed, by page number. Looked up on every page read while a
// unit is active, so a look-up is one index into a slot per page of the file (4 bytes each)
// rather than a hash; the copies themselves are kept in the order they were first changed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace bv::storage {

class ChangedPages {
 public:
  struct Entry {
    uint32_t page = 0;
    std::shared_ptr<uint8_t[]> bytes;
    uint64_t stamp = 0;
  };

  Entry* find(uint32_t n) { return n < slot_.size() && slot_[n] ? &entries_[slot_[n] - 1] : nullptr; }
  const Entry* find(uint32_t n) const {
    return n < slot_.size() && slot_[n] ? &entries_[slot_[n] - 1] : nullptr;
  }
  // Page n's copy, replacing any it had.
  Entry& put(uint32_t n, std::shared_ptr<uint8_t[]> bytes, uint64_t stamp) {
    if (Entry* e = find(n)) {
      e->bytes = std::move(bytes);
      e->stamp = stamp;
      return *e;
    }
    if (n >= slot_.size()) slot_.resize(std::max<size_t>(n + 1, slot_.size() * 2), 0);
    entries_.push_back({n, std::move(bytes), stamp});
    slot_[n] = static_cast<uint32_t>(entries_.size());
    return entries_.back();
  }
  void clear() {
    for (const Entry& e : entries_) slot_[e.page] = 0;
    entries_.clear();
  }
  bool empty() const { return entries_.empty(); }
  size_t size() const { return entries_.size(); }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }

 private:
  std::vector<uint32_t> slot_;  // 1 + index into entries_, or 0
  std::vector<Entry> entries_;
};

}  // namespace bv::storage
