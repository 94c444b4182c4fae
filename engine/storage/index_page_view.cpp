#include "engine/storage/index_page_view.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/storage/error.h"

namespace bv::storage {
namespace {

[[noreturn]] void damaged(uint32_t pageNo, const std::string& what) {
  throw JetError(3049, "The database is damaged: index page " + std::to_string(pageNo) + ": " + what + ".");
}

// Whole bytes of a new leaf entry: key, data page (u24 BE), row.
size_t wholeLeafSize(const IndexEntry& e) { return e.key.size() + 4; }
uint8_t wholeLeafByte(const IndexEntry& e, size_t k) {
  if (k < e.key.size()) return e.key[k];
  k -= e.key.size();
  return k < 3 ? static_cast<uint8_t>(e.dataPage >> (8 * (2 - k))) : e.dataRow;
}

}  // namespace

void IndexPageView::parse(const uint8_t* page, bool jet4, uint32_t pageNo) {
  page_ = page;
  L_ = IndexPageLayout::forJet4(jet4);
  if ((page[0] != kIndexNodePage && page[0] != kIndexLeafPage) || page[1] != 0x01)
    damaged(pageNo, "it is not an index page");
  prefix_ = L_.prefixWidth == 1 ? page[L_.prefixOffset] : (page[L_.prefixOffset] | page[L_.prefixOffset + 1] << 8);
  pointers_ = leaf() ? 4 : 8;
  const uint32_t area = L_.pageSize - L_.firstEntry;
  const uint8_t* mask = page + L_.maskOffset;
  ends_.clear();
  for (uint32_t byte = 0; byte < L_.maskBytes; ++byte) {
    uint8_t m = mask[byte];
    if (byte == 0) m &= 0xFE;  // bit 0 would end an empty first entry; never set
    while (m) {
      const uint32_t bit = byte * 8 + static_cast<uint32_t>(__builtin_ctz(m));
      m &= static_cast<uint8_t>(m - 1);
      if (bit > area) damaged(pageNo, "the entry bitmask points past the page end");
      ends_.push_back(bit);
    }
  }
  if (ends_.size() >= 2 && prefix_ > ends_[0]) damaged(pageNo, "the prefix is longer than the first entry");
  for (size_t i = 0; i < ends_.size(); ++i)
    if (wholeSize(i) < pointers_) damaged(pageNo, "an entry is shorter than its pointers");
  used_ = ends_.empty() ? 0 : ends_.back();
}

int IndexPageView::compare(size_t i, const IndexEntry& t) const {
  const size_t klen = wholeSize(i) - pointers_;
  const size_t n = std::min(klen, t.key.size());
  const uint8_t* area = page_ + L_.firstEntry;
  size_t k = 0;
  if (i) {  // the shared prefix, taken from the first entry
    const size_t m = std::min(n, prefix_);
    if (int c = std::memcmp(area, t.key.data(), m)) return c < 0 ? -1 : 1;
    k = m;
  }
  if (k < n) {
    const uint8_t* own = area + start(i) - (i ? prefix_ : 0);
    if (int c = std::memcmp(own + k, t.key.data() + k, n - k)) return c < 0 ? -1 : 1;
  }
  if (klen != t.key.size()) return klen < t.key.size() ? -1 : 1;
  const uint32_t page = static_cast<uint32_t>(byteOf(i, klen)) << 16 | byteOf(i, klen + 1) << 8 | byteOf(i, klen + 2);
  if (page != t.dataPage) return page < t.dataPage ? -1 : 1;
  const uint8_t row = byteOf(i, klen + 3);
  if (row != t.dataRow) return row < t.dataRow ? -1 : 1;
  return 0;
}

size_t IndexPageView::lowerBound(const IndexEntry& t) const {
  size_t lo = 0, hi = count();
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    if (compare(mid, t) < 0) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

bool IndexPageView::keyIs(size_t i, const std::vector<uint8_t>& key) const {
  if (wholeSize(i) - pointers_ != key.size()) return false;
  for (size_t k = 0; k < key.size(); ++k)
    if (byteOf(i, k) != key[k]) return false;
  return true;
}

RowId IndexPageView::row(size_t i) const {
  const size_t klen = wholeSize(i) - pointers_;
  return RowId{static_cast<uint32_t>(byteOf(i, klen)) << 16 | byteOf(i, klen + 1) << 8 | byteOf(i, klen + 2),
               byteOf(i, klen + 3)};
}

void IndexPageView::entry(size_t i, IndexEntry& out) const {
  const size_t klen = wholeSize(i) - pointers_;
  out.key.resize(klen);
  const uint8_t* area = page_ + L_.firstEntry;
  const size_t shared = i ? std::min(prefix_, klen) : 0;
  std::memcpy(out.key.data(), area, shared);
  const uint8_t* own = area + start(i) - (i ? prefix_ : 0);
  std::memcpy(out.key.data() + shared, own + shared, klen - shared);
  const RowId r = row(i);
  out.dataPage = r.page;
  out.dataRow = r.row;
  out.child = leaf() ? 0 : child(i);
}

uint32_t IndexPageView::child(size_t i) const {
  const size_t at = wholeSize(i) - 4;  // big-endian, after the row pointer
  return static_cast<uint32_t>(byteOf(i, at)) << 24 | byteOf(i, at + 1) << 16 | byteOf(i, at + 2) << 8 |
         byteOf(i, at + 3);
}

// Entry ends are bits of the mask (bit b of the area is bit b % 8 of byte b / 8). An edit
// moves the ends after it by the bytes it added or took away: the bits move as a run, a
// byte at a time where they can.
namespace {

bool bitAt(const uint8_t* m, uint32_t p) { return (m[p / 8] >> (p % 8)) & 1; }
void setBit(uint8_t* m, uint32_t p, bool v) {
  const auto b = static_cast<uint8_t>(1u << (p % 8));
  m[p / 8] = static_cast<uint8_t>(v ? (m[p / 8] | b) : (m[p / 8] & ~b));
}
// Eight bits starting at bit p (p + 7 lies inside the mask).
uint8_t byteAt(const uint8_t* m, uint32_t p) {
  const uint32_t off = p % 8;
  if (off == 0) return m[p / 8];
  return static_cast<uint8_t>(m[p / 8] >> off | m[p / 8 + 1] << (8 - off));
}

// Bits [src, src + n) to [dst, ...), dst < src: ascending, so no source is overwritten first.
void copyBitsDown(uint8_t* m, uint32_t dst, uint32_t src, uint32_t n) {
  uint32_t k = 0;
  for (; k < n && (dst + k) % 8; ++k) setBit(m, dst + k, bitAt(m, src + k));
  for (; k + 8 <= n; k += 8) m[(dst + k) / 8] = byteAt(m, src + k);
  for (; k < n; ++k) setBit(m, dst + k, bitAt(m, src + k));
}

// The same with dst > src: descending.
void copyBitsUp(uint8_t* m, uint32_t dst, uint32_t src, uint32_t n) {
  uint32_t k = n;
  for (; k > 0 && (dst + k) % 8; --k) setBit(m, dst + k - 1, bitAt(m, src + k - 1));
  for (; k >= 8; k -= 8) m[(dst + k - 8) / 8] = byteAt(m, src + k - 8);
  for (; k > 0; --k) setBit(m, dst + k - 1, bitAt(m, src + k - 1));
}

// Bits [from, to] cleared.
void clearBits(uint8_t* m, uint32_t from, uint32_t to) {
  uint32_t b = from;
  for (; b <= to && b % 8; ++b) setBit(m, b, false);
  if (b + 7 <= to) {
    const uint32_t whole = (to + 1 - b) / 8;
    std::memset(m + b / 8, 0, whole);
    b += whole * 8;
  }
  for (; b <= to; ++b) setBit(m, b, false);
}

}  // namespace

bool IndexPageView::canInsert(size_t i, const IndexEntry& e) const {
  if (!leaf() || i == 0 || i > count() || count() < 2) return false;
  const size_t whole = wholeLeafSize(e);
  // The new entry must share the page's prefix with the first entry and keep a byte of its own.
  if (whole < prefix_ + 1 || ends_[0] < prefix_) return false;
  for (size_t k = 0; k < prefix_; ++k)
    if (wholeLeafByte(e, k) != byteOf(0, k)) return false;
  return used_ + (whole - prefix_) <= L_.pageSize - L_.firstEntry;
}

bool IndexPageView::insert(uint8_t* out, size_t i, const IndexEntry& e) {
  if (!canInsert(i, e)) return false;
  const size_t whole = wholeLeafSize(e);
  const uint32_t len = static_cast<uint32_t>(whole - prefix_);
  const uint32_t area = L_.pageSize - L_.firstEntry;

  uint8_t* ea = out + L_.firstEntry;
  const uint32_t at = start(i);
  std::memmove(ea + at + len, ea + at, used_ - at);
  for (size_t k = prefix_; k < whole; ++k) ea[at + k - prefix_] = wholeLeafByte(e, k);
  ends_.insert(ends_.begin() + static_cast<std::ptrdiff_t>(i), at + len);
  for (size_t j = i + 1; j < ends_.size(); ++j) ends_[j] += len;
  // The ends after `at` move up by len; the new entry ends at at + len.
  uint8_t* mask = out + L_.maskOffset;
  copyBitsUp(mask, at + 1 + len, at + 1, used_ - at);
  clearBits(mask, at + 1, at + len - 1);
  setBit(mask, at + len, true);
  const uint32_t freeSpace = area - (used_ + len);
  out[2] = static_cast<uint8_t>(freeSpace);
  out[3] = static_cast<uint8_t>(freeSpace >> 8);
  page_ = out;
  used_ += len;
  return true;
}

bool IndexPageView::canRemove(size_t i) const {
  if (!leaf() || i >= count() || count() < 3) return false;
  // Without entry i the prefix stays the longest shared one only if a remaining entry still
  // stops at it: one that differs from the (new) first entry right after the prefix, or
  // stores one byte only. Every remaining entry shares at least the prefix, so the prefix
  // can only grow.
  const size_t first = i == 0 ? 1 : 0;
  const size_t cap = L_.prefixWidth == 1 ? 0xFF : 0xFFFF;
  bool limited = prefix_ >= cap || (first == 0 && prefix_ >= ends_[0]);
  const uint8_t after = page_[L_.firstEntry + (first == 0 ? prefix_ : start(1))];
  // Entries are in order, so those that part from the first entry right after the prefix
  // lie at the end: look there first.
  for (size_t j = count() - 1; j > first && !limited; --j) {
    if (j == i) continue;
    const uint32_t own = ends_[j] - start(j);
    limited = own <= 1 || page_[L_.firstEntry + start(j)] != after;
  }
  return limited;
}

bool IndexPageView::remove(uint8_t* out, size_t i) {
  if (!canRemove(i)) return false;

  uint8_t* ea = out + L_.firstEntry;
  // Entry i's own bytes go; for the first entry those are what it holds past the prefix,
  // and the next entry becomes the first by taking the prefix as its leading bytes.
  const uint32_t at = i == 0 ? static_cast<uint32_t>(prefix_) : start(i);
  const uint32_t len = ends_[i] - at;
  std::memmove(ea + at, ea + at + len, used_ - at - len);
  std::memset(ea + used_ - len, 0, len);
  ends_.erase(ends_.begin() + static_cast<std::ptrdiff_t>(i));
  for (size_t j = i; j < ends_.size(); ++j) ends_[j] -= len;
  // The ends after entry i move down by len over its own; the first entry may have ended
  // right at the prefix (nothing of its own), and that end goes too.
  uint8_t* mask = out + L_.maskOffset;
  copyBitsDown(mask, at + 1, at + 1 + len, used_ - at - len);
  clearBits(mask, used_ - len + 1, used_);
  if (i == 0) setBit(mask, at, false);
  const uint32_t freeSpace = L_.pageSize - L_.firstEntry - (used_ - len);
  out[2] = static_cast<uint8_t>(freeSpace);
  out[3] = static_cast<uint8_t>(freeSpace >> 8);
  page_ = out;
  used_ -= len;
  return true;
}

}  // namespace bv::storage
