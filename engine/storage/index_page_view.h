// An index page read and edited where it lies, without decoding its entries: entry
// boundaries come from the bitmask, and an entry's bytes are the page's shared prefix (the
// first bytes of the first entry) followed by what the entry stores itself. Used for the
// common leaf changes; anything that would change the first entry, the prefix or the
// page's size class is left to a full re-encoding.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/storage/database.h"
#include "engine/storage/index_page.h"

namespace bv::storage {

class IndexPageView {
 public:
  // Reads the page's header and bitmask. JetError 3049 naming `pageNo` on the faults
  // decodeIndexPage reports (bitmask past the page, an entry shorter than its pointers or
  // than the prefix).
  void parse(const uint8_t* page, bool jet4, uint32_t pageNo);
  // Reads the same bytes at another address (a copy of the parsed page).
  void rebind(const uint8_t* page) { page_ = page; }

  bool leaf() const { return page_[0] == kIndexLeafPage; }
  uint32_t tdefPage() const { return u32(4); }
  uint32_t prev() const { return u32(L_.prevOffset); }
  uint32_t next() const { return u32(L_.nextOffset); }
  uint32_t tail() const { return u32(L_.tailOffset); }  // intermediate pages
  size_t count() const { return ends_.size(); }

  // compareEntries(entry i, t).
  int compare(size_t i, const IndexEntry& t) const;
  // The first entry not below `t`.
  size_t lowerBound(const IndexEntry& t) const;
  bool keyIs(size_t i, const std::vector<uint8_t>& key) const;
  RowId row(size_t i) const;
  // Entry i whole: key, row pointer and (intermediate pages) child.
  void entry(size_t i, IndexEntry& out) const;
  // Intermediate pages: the child page entry i leads to.
  uint32_t child(size_t i) const;

  // Leaf pages only. Puts `e` in as entry i (1 <= i <= count()) in the page bytes at `out`
  // (the same page, writable), when that keeps the first entry and the prefix and fits;
  // returns false, writing nothing, otherwise. Afterwards the view reads `out`.
  bool insert(uint8_t* out, size_t i, const IndexEntry& e);
  // Whether insert() would put `e` in as entry i (asked before the page is made writable).
  bool canInsert(size_t i, const IndexEntry& e) const;
  // Takes entry i (i < count()) out, when the prefix stays the longest one the
  // remaining entries share; returns false, writing nothing, otherwise. Afterwards the
  // view reads `out`.
  bool remove(uint8_t* out, size_t i);
  // Whether remove() would take entry i out.
  bool canRemove(size_t i) const;

 private:
  uint32_t u32(uint32_t at) const {
    return page_[at] | page_[at + 1] << 8 | page_[at + 2] << 16 | static_cast<uint32_t>(page_[at + 3]) << 24;
  }
  uint32_t start(size_t i) const { return i ? ends_[i - 1] : 0; }
  size_t wholeSize(size_t i) const { return (i ? prefix_ : 0) + ends_[i] - start(i); }
  uint8_t byteOf(size_t i, size_t k) const {
    const uint8_t* area = page_ + L_.firstEntry;
    if (i && k < prefix_) return area[k];
    return area[start(i) + k - (i ? prefix_ : 0)];
  }

  const uint8_t* page_ = nullptr;
  IndexPageLayout L_{};
  size_t prefix_ = 0;
  size_t pointers_ = 4;
  uint32_t used_ = 0;
  std::vector<uint32_t> ends_;  // entry-area offset just past each entry
};

}  // namespace bv::storage
