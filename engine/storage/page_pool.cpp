#include "engine/storage/page_pool.h"

#include "engine/storage/data_page_edit.h"
#include "engine/storage/usage_map_edit.h"
#include "engine/storage/write_unit.h"

namespace bv::storage {

namespace {
// Pages looked at for room before a new page is taken: keeps an insert's cost bounded
// when many pages have a little room left.
constexpr size_t kProbes = 8;
}  // namespace

PagePool::PagePool(WriteUnit& unit, RowPointer owned, RowPointer withRoom, uint32_t owner, uint32_t minRow)
    : unit_(unit), owned_(owned), withRoom_(withRoom), owner_(owner), minRow_(minRow) {}

void PagePool::load() {
  if (loaded_) return;
  loaded_ = true;
  const Database& db = unit_.db();
  candidates_ = db.usageMapPages(withRoom_.isNull() ? owned_ : withRoom_);
  inRoomMap_.insert(candidates_.begin(), candidates_.end());
  // Newest pages first: they are the likeliest to have room.
  cursor_ = candidates_.empty() ? 0 : candidates_.size() - 1;
}

bool PagePool::ours(const PageRef& p) const { return p[0] == 0x01 && p.u32(4) == owner_; }

bool PagePool::fits(uint32_t page, size_t n) const {
  PageRef p = unit_.page(page);
  if (!ours(p)) return false;
  // canInsert() only reads, so the unit's copy of the page need not be made writable.
  return DataPageEditor(const_cast<uint8_t*>(p.data()), p.size(), unit_.jet4(), page).canInsert(n);
}

uint32_t PagePool::pageFor(size_t n) {
  load();
  if (last_ && fits(last_, n)) return last_;
  for (size_t probe = 0; probe < kProbes && !candidates_.empty(); ++probe) {
    if (cursor_ >= candidates_.size()) cursor_ = candidates_.size() - 1;
    const uint32_t page = candidates_[cursor_];
    if (fits(page, n)) return last_ = page;
    // A page that cannot take even the smallest row leaves the candidates (and the map).
    if (!fits(page, minRow_)) {
      if (inRoomMap_.erase(page) && !withRoom_.isNull()) setPageInMap(unit_, withRoom_, page, false);
      candidates_.erase(candidates_.begin() + static_cast<std::ptrdiff_t>(cursor_));
    }
    cursor_ = cursor_ == 0 ? candidates_.size() : cursor_ - 1;
  }
  const uint32_t page = unit_.allocate();
  initDataPage(unit_.modify(page), unit_.pageSize(), unit_.jet4(), owner_);
  setPageInMap(unit_, owned_, page, true);
  if (!withRoom_.isNull()) setPageInMap(unit_, withRoom_, page, true);
  inRoomMap_.insert(page);
  candidates_.push_back(page);
  cursor_ = candidates_.size() - 1;
  return last_ = page;
}

void PagePool::noteChanged(uint32_t page) {
  load();
  const bool room = fits(page, minRow_);
  if (room && !inRoomMap_.count(page)) {
    if (!withRoom_.isNull()) setPageInMap(unit_, withRoom_, page, true);
    inRoomMap_.insert(page);
    candidates_.push_back(page);
  } else if (!room && inRoomMap_.count(page)) {
    if (!withRoom_.isNull()) setPageInMap(unit_, withRoom_, page, false);
    inRoomMap_.erase(page);
  }
}

void PagePool::release(uint32_t page) {
  load();
  if (inRoomMap_.erase(page) && !withRoom_.isNull()) setPageInMap(unit_, withRoom_, page, false);
  setPageInMap(unit_, owned_, page, false);
  // The file may hand the page to another pool (another column's long values look the
  // same), so this pool must never offer it again.
  std::erase(candidates_, page);
  if (last_ == page) last_ = 0;
  unit_.release(page);
}

}  // namespace bv::storage
