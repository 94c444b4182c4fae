#include "engine/storage/data_page_edit.h"

#include <cstring>
#include <vector>

#include "engine/storage/tabledef.h"

namespace bv::storage {

namespace {
void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
bool isFreed(uint16_t flags) { return (flags & kRowFreed) == kRowFreed; }
}  // namespace

void initDataPage(uint8_t* page, uint32_t pageSize, bool jet4, uint32_t owner) {
  std::memset(page, 0, pageSize);
  page[0] = 0x01;
  page[1] = 0x01;
  put32(page + 4, owner);
  put16(page + 2, pageSize - rowCountOffset(jet4) - 2);
}

DataPageEditor::DataPageEditor(uint8_t* page, uint32_t pageSize, bool jet4, uint32_t pageNo)
    : p_(page), size_(pageSize), jet4_(jet4) {
  const uint32_t count = get16(p_ + rowCountOffset(jet4_));
  if (p_[0] != 0x01 || tableStart() + 2 * count > size_) throwDamaged("a data page's row table overflows the page", pageNo);
  // Every row must lie between the offset table and the end of the page.
  uint32_t end = size_;
  for (int i = 0; i < static_cast<int>(count); ++i) {
    const uint32_t start = entry(i) & kRowOffsetMask;
    if (start < tableStart() + 2 * count || start > end) throwDamaged("a row offset points outside its page", pageNo);
    end = start;
  }
}

uint32_t DataPageEditor::tableStart() const { return rowCountOffset(jet4_) + 2; }
int DataPageEditor::slotCount() const { return get16(p_ + rowCountOffset(jet4_)); }
uint16_t DataPageEditor::entry(int slot) const { return get16(p_ + tableStart() + 2 * slot); }
void DataPageEditor::setEntry(int slot, uint16_t v) { put16(p_ + tableStart() + 2 * slot, v); }
uint16_t DataPageEditor::flags(int slot) const { return entry(slot) & (kRowDeleted | kRowOverflow); }
void DataPageEditor::setCount(int n) { put16(p_ + rowCountOffset(jet4_), static_cast<uint32_t>(n)); }

std::span<const uint8_t> DataPageEditor::row(int slot) const {
  const uint32_t start = entry(slot) & kRowOffsetMask;
  const uint32_t end = slot == 0 ? size_ : (entry(slot - 1) & kRowOffsetMask);
  return {p_ + start, end - start};
}

uint32_t DataPageEditor::lowest() const {
  const int n = slotCount();
  return n == 0 ? size_ : (entry(n - 1) & kRowOffsetMask);
}

uint32_t DataPageEditor::freeSpace() const { return lowest() - tableStart() - 2 * slotCount(); }

void DataPageEditor::updateFreeSpace() { put16(p_ + 2, freeSpace()); }

uint32_t DataPageEditor::reclaimable() const {
  uint32_t n = 0;
  for (int i = 0; i < slotCount(); ++i)
    if (isFreed(flags(i))) n += static_cast<uint32_t>(row(i).size());
  return n;
}

bool DataPageEditor::empty() const {
  for (int i = 0; i < slotCount(); ++i)
    if (!isFreed(flags(i))) return false;
  return true;
}

int DataPageEditor::firstFreedSlot() const {
  for (int i = 0; i < slotCount(); ++i)
    if (isFreed(flags(i))) return i;
  return -1;
}

bool DataPageEditor::canInsert(size_t n) const {
  const uint32_t room = freeSpace() + reclaimable();
  if (firstFreedSlot() >= 0) return n <= room;
  return slotCount() < kMaxRowsPerPage && n + 2 <= room;
}

int DataPageEditor::insert(std::span<const uint8_t> bytes, uint16_t fl) {
  const int count = slotCount();
  if (count < kMaxRowsPerPage && bytes.size() + 2 <= freeSpace()) {
    // Fast path: a new slot below the lowest row.
    const uint32_t start = lowest() - static_cast<uint32_t>(bytes.size());
    std::memcpy(p_ + start, bytes.data(), bytes.size());
    setCount(count + 1);
    setEntry(count, static_cast<uint16_t>(start | fl));
    updateFreeSpace();
    return count;
  }
  const int reuse = firstFreedSlot();
  const int slot = reuse >= 0 ? reuse : count;
  repack(slot, bytes, fl, reuse >= 0 ? count : count + 1);
  return slot;
}

bool DataPageEditor::canReplace(int slot, size_t n) const {
  const size_t old = row(slot).size();
  return n <= old || n - old <= freeSpace() + reclaimable();
}

void DataPageEditor::replace(int slot, std::span<const uint8_t> bytes, uint16_t fl) {
  const auto old = row(slot);
  if (old.size() == bytes.size()) {
    std::memcpy(const_cast<uint8_t*>(old.data()), bytes.data(), bytes.size());
    setEntry(slot, static_cast<uint16_t>((entry(slot) & kRowOffsetMask) | fl));
    return;
  }
  repack(slot, bytes, fl, slotCount());
}

void DataPageEditor::free(int slot) { setFlags(slot, kRowFreed); }

void DataPageEditor::setFlags(int slot, uint16_t fl) {
  setEntry(slot, static_cast<uint16_t>((entry(slot) & kRowOffsetMask) | fl));
}

void DataPageEditor::repack(int target, std::span<const uint8_t> bytes, uint16_t fl, int newCount) {
  // Gather the rows first: the new layout may overlap the old one.
  std::vector<uint8_t> keep;
  keep.reserve(size_);
  std::vector<std::pair<uint32_t, uint16_t>> rows;  // length, flags
  rows.reserve(newCount);
  const int oldCount = slotCount();
  for (int i = 0; i < newCount; ++i) {
    if (i == target) {
      keep.insert(keep.end(), bytes.begin(), bytes.end());
      rows.emplace_back(static_cast<uint32_t>(bytes.size()), fl);
    } else if (i < oldCount && !isFreed(flags(i))) {
      const auto r = row(i);
      keep.insert(keep.end(), r.begin(), r.end());
      rows.emplace_back(static_cast<uint32_t>(r.size()), flags(i));
    } else {
      rows.emplace_back(0, kRowFreed);
    }
  }
  uint32_t end = size_;
  size_t from = 0;
  setCount(newCount);
  for (int i = 0; i < newCount; ++i) {
    const uint32_t start = end - rows[i].first;
    std::memcpy(p_ + start, keep.data() + from, rows[i].first);
    from += rows[i].first;
    setEntry(i, static_cast<uint16_t>(start | rows[i].second));
    end = start;
  }
  // The gap between the offset table and the rows holds nothing.
  const uint32_t tableEnd = tableStart() + 2 * static_cast<uint32_t>(newCount);
  if (end > tableEnd) std::memset(p_ + tableEnd, 0, end - tableEnd);
  updateFreeSpace();
}

}  // namespace bv::storage
