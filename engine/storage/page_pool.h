// The pages one kind of row lives on, kept in a pair of usage maps: every page in the
// "owned" map, those with room also in the "with room" map. A table's data pages use its
// owned-pages and free-space maps; a Memo/OLE column's long-value pages use the column's
// two maps. The pool picks a page for a new row, adds new pages to both maps, and keeps
// the room map in step as pages fill up and empty.
#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "engine/storage/database.h"

namespace bv::storage {

class WriteUnit;

class PagePool {
 public:
  // `owner` is what offset 4 of the pages holds (TDEF page, or kLvalOwner). A page stays in
  // the room map while a row of `minRow` bytes still fits. `withRoom` may be null (the
  // owned pages are then searched for room).
  PagePool(WriteUnit& unit, RowPointer owned, RowPointer withRoom, uint32_t owner, uint32_t minRow);

  // A page that can take a new row of n bytes: a page with room, else a new page (added to
  // both maps). n must not exceed maxRowSize().
  uint32_t pageFor(size_t n);
  // After rows of the page were added or freed: the room map follows the page's room.
  void noteChanged(uint32_t page);
  // Takes a page that holds no rows any more out of both maps and gives it back to the file.
  void release(uint32_t page);

 private:
  bool ours(const PageRef& p) const;
  bool fits(uint32_t page, size_t n) const;
  void load();

  WriteUnit& unit_;
  RowPointer owned_, withRoom_;
  uint32_t owner_;
  uint32_t minRow_;
  bool loaded_ = false;
  std::vector<uint32_t> candidates_;      // pages that had room (checked again on use)
  std::unordered_set<uint32_t> inRoomMap_;  // pages offered for rows (the room map's, if any)
  size_t cursor_ = 0;
  uint32_t last_ = 0;  // the page that took the last row
};

}  // namespace bv::storage
