// Changing one index B-tree inside a write unit: ordered insertion and removal of leaf
// entries, page splits (new pages join the sibling chain and the index's page map), parent
// entries kept equal to the last entry below them, tail pages, a new root when the root
// splits, and emptied pages unlinked and given back.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "engine/storage/database.h"
#include "engine/storage/index_page.h"
#include "engine/storage/index_page_view.h"

namespace bv::storage {

class WriteUnit;

class IndexTreeEditor {
 public:
  // The tree of one real index of the table whose TDEF is `tdefPage`. `usageMap` lists the
  // tree's pages; pages the editor adds or gives back are added to it or removed from it.
  IndexTreeEditor(WriteUnit& unit, uint32_t tdefPage, uint32_t rootPage, RowPointer usageMap);
  ~IndexTreeEditor();

  // The root, which changes when the tree grows a level or loses one.
  uint32_t rootPage() const { return root_; }

  // Whether the leaf level holds exactly this entry (key and row).
  bool contains(const IndexEntry& e);
  // A row, other than `except` (when given), that has an entry with exactly this key.
  std::optional<RowId> findOtherWithKey(const std::vector<uint8_t>& key, const RowId* except);

  // Adds a leaf entry (its child field is ignored). Returns true when no other entry had
  // the same key. JetError 3022 when `refuseDuplicate` and another entry has the same key;
  // 3049 when the entry is already there or the tree is damaged.
  bool insert(const IndexEntry& e, bool refuseDuplicate = false);
  // Removes a leaf entry. Returns true when no entry with the same key remains. JetError
  // 3049 when the entry is not in the tree.
  bool remove(const IndexEntry& e);

 private:
  struct Cached;
  struct Frame;
  struct Up;
  struct ParsedPage;
  Cached* load(uint32_t pageNo);
  const uint8_t* current(uint32_t pageNo, PageRef& hold, uint64_t& stamp);
  uint8_t* writable(uint32_t pageNo);
  std::vector<Frame> descend(const IndexEntry& target);
  std::vector<Frame> pathTo(const IndexEntry& e);
  IndexPageView& pageView(uint32_t pageNo);
  IndexPageView& leafView(uint32_t pageNo);
  void keepParsed(uint32_t pageNo, const uint8_t* page);
  static bool noParentBound(const std::vector<Frame>& path);
  bool neighboursHaveKey(const IndexPageView& v, std::ptrdiff_t before, size_t after,
                         const std::vector<uint8_t>& key);
  void propagate(std::vector<Frame>& path, const std::optional<IndexEntry>& leafOldLast,
                 bool changedAtEnd);
  void writePage(uint32_t pageNo, Cached* c);
  uint32_t newPage(IndexPage&& ip);
  void dropPage(uint32_t pageNo);
  void setLink(uint32_t pageNo, bool next, uint32_t value);

  WriteUnit& unit_;
  uint32_t tdefPage_;
  uint32_t root_;
  RowPointer usageMap_;
  bool jet4_;
  std::unordered_map<uint32_t, std::unique_ptr<Cached>> cache_;
  std::unordered_map<uint32_t, std::unique_ptr<ParsedPage>> views_;
  std::vector<uint8_t> encoded_;  // a page encoded before it is copied into the unit's
  // The way found by the last descent, with the stamps of its pages. While none of the
  // pages above the leaf changed, it serves again without descending: for the same entry
  // (a removal checked first with contains) when the leaf did not change either, and for
  // any entry past the end of the last leaf (keys appended in order).
  struct LastPath;
  std::unique_ptr<LastPath> last_;
};

}  // namespace bv::storage
