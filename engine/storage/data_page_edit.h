// Changing the rows of a data or long-value page (type 0x01) in a writable page buffer.
//
// Rows are packed downward from the page end in slot order (row i ends where row i-1
// starts) and the free-space field is always the exact gap between the offset table and
// the lowest row. Slots are never renumbered: index entries and row pointers name rows by
// slot. A freed slot (flags 0xC000, as Access marks deleted rows) gives its bytes back when
// the page is repacked and may later hold a new row; a slot flagged 0x8000 alone is the
// target of a moved row and is kept.
#pragma once

#include <cstdint>
#include <span>

#include "engine/storage/data_page.h"

namespace bv::storage {

constexpr uint16_t kRowFreed = kRowDeleted | kRowOverflow;  // a deleted row's slot
constexpr uint16_t kRowMovedHere = kRowDeleted;             // the target of a moved row
constexpr int kMaxRowsPerPage = 255;                        // row numbers are one byte
constexpr uint32_t kLvalOwner = 0x4C41564C;                 // "LVAL" read as u32 LE

// Writes an empty data page header: type 0x01, free space, owner (TDEF page or kLvalOwner).
void initDataPage(uint8_t* page, uint32_t pageSize, bool jet4, uint32_t owner);

class DataPageEditor {
 public:
  // `page` must be a writable data page; JetError 3049 if its offset table is damaged.
  DataPageEditor(uint8_t* page, uint32_t pageSize, bool jet4, uint32_t pageNo = 0);

  int slotCount() const;
  uint16_t flags(int slot) const;
  std::span<const uint8_t> row(int slot) const;
  bool live(int slot) const { return (flags(slot) & kRowDeleted) == 0; }
  // The free-space field (the gap as the page stands).
  uint32_t freeSpace() const;
  // Bytes a repack would free: the bytes freed slots still hold.
  uint32_t reclaimable() const;
  // True when no slot holds a live row or a moved row's target.
  bool empty() const;

  // Whether a new row of n bytes fits (reusing a freed slot or adding one).
  bool canInsert(size_t n) const;
  // Puts a new row on the page; returns its slot. The caller checked canInsert().
  int insert(std::span<const uint8_t> bytes, uint16_t flags);
  // Whether slot's bytes can become n bytes long on this page.
  bool canReplace(int slot, size_t n) const;
  // Replaces a slot's bytes and flags. The caller checked canReplace().
  void replace(int slot, std::span<const uint8_t> bytes, uint16_t flags);
  // Marks a slot freed (kRowFreed); its bytes are given back at the next repack.
  void free(int slot);
  void setFlags(int slot, uint16_t flags);

 private:
  uint32_t tableStart() const;  // first byte of the offset table
  uint16_t entry(int slot) const;
  void setEntry(int slot, uint16_t v);
  uint32_t lowest() const;
  void setCount(int n);
  void updateFreeSpace();
  // Rewrites every row packed from the page end; `newLen` >= 0 replaces slot `target`.
  void repack(int target, std::span<const uint8_t> bytes, uint16_t flags, int newCount);
  int firstFreedSlot() const;

  uint8_t* p_;
  uint32_t size_;
  bool jet4_;
};

}  // namespace bv::storage
