#include "engine/storage/index_page.h"

#include <algorithm>
#include <string>

#include "engine/storage/error.h"

namespace bv::storage {
namespace {

constexpr int32_t kErrDamaged = 3049;

[[noreturn]] void damaged(uint32_t pageNo, const std::string& what) {
  throw JetError(kErrDamaged,
                 "The database is damaged: index page " + std::to_string(pageNo) + ": " + what + ".");
}

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint32_t be(const uint8_t* p, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | p[i];
  return v;
}

}  // namespace

IndexPageLayout IndexPageLayout::forJet4(bool jet4) {
  if (jet4) return {4096, 12, 16, 20, 24, 2, 27, 453, 0x1E0};
  return {2048, 8, 12, 16, 20, 1, 22, 226, 0xF8};
}

IndexPage decodeIndexPage(std::span<const uint8_t> page, bool jet4, uint32_t pageNo) {
  const IndexPageLayout L = IndexPageLayout::forJet4(jet4);
  if (page.size() != L.pageSize) damaged(pageNo, "the page has the wrong size");
  const uint8_t* p = page.data();
  IndexPage out;
  out.type = p[0];
  if ((out.type != kIndexNodePage && out.type != kIndexLeafPage) || p[1] != 0x01)
    damaged(pageNo, "it is not an index page");
  out.freeSpace = static_cast<uint16_t>(p[2] | p[3] << 8);
  out.tdefPage = le32(p + 4);
  out.prev = le32(p + L.prevOffset);
  out.next = le32(p + L.nextOffset);
  out.tail = le32(p + L.tailOffset);
  out.prefixLength = L.prefixWidth == 1 ? p[L.prefixOffset]
                                         : (p[L.prefixOffset] | p[L.prefixOffset + 1] << 8);

  const uint32_t area = L.pageSize - L.firstEntry;
  const uint32_t pointers = out.leaf() ? 4 : 8;
  const uint8_t* mask = p + L.maskOffset;
  const uint8_t* entries = p + L.firstEntry;
  std::vector<uint8_t> firstWhole;  // the first entry's bytes, source of every prefix
  std::vector<uint8_t> whole;
  uint32_t start = 0;
  for (uint32_t bit = 1; bit < L.maskBytes * 8; ++bit) {
    if (!(mask[bit / 8] >> (bit % 8) & 1)) continue;
    if (bit > area) damaged(pageNo, "the entry bitmask points past the page end");
    const bool first = out.entries.empty();
    if (!first && out.prefixLength > firstWhole.size())
      damaged(pageNo, "the prefix is longer than the first entry");
    whole.assign(firstWhole.begin(), firstWhole.begin() + (first ? 0 : out.prefixLength));
    whole.insert(whole.end(), entries + start, entries + bit);
    if (whole.size() < pointers) damaged(pageNo, "an entry is shorter than its pointers");
    const size_t keyLen = whole.size() - pointers;
    IndexEntry e;
    e.key.assign(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keyLen));
    e.dataPage = be(whole.data() + keyLen, 3);
    e.dataRow = whole[keyLen + 3];
    if (!out.leaf()) e.child = be(whole.data() + keyLen + 4, 4);
    out.entries.push_back(std::move(e));
    if (first) firstWhole = whole;
    start = bit;
  }
  out.usedEnd = L.firstEntry + start;
  return out;
}

std::vector<uint8_t> entryBytes(const IndexEntry& e, bool leaf) {
  std::vector<uint8_t> out(e.key);
  out.insert(out.end(), {static_cast<uint8_t>(e.dataPage >> 16), static_cast<uint8_t>(e.dataPage >> 8),
                         static_cast<uint8_t>(e.dataPage), e.dataRow});
  if (!leaf)
    out.insert(out.end(), {static_cast<uint8_t>(e.child >> 24), static_cast<uint8_t>(e.child >> 16),
                           static_cast<uint8_t>(e.child >> 8), static_cast<uint8_t>(e.child)});
  return out;
}

namespace {

// An entry's stored bytes without building them: key, then the pointers.
struct WholeEntry {
  const IndexEntry& e;
  uint8_t ptr[8];
  size_t ptrLen;
  WholeEntry(const IndexEntry& entry, bool leaf) : e(entry), ptrLen(leaf ? 4 : 8) {
    ptr[0] = static_cast<uint8_t>(e.dataPage >> 16);
    ptr[1] = static_cast<uint8_t>(e.dataPage >> 8);
    ptr[2] = static_cast<uint8_t>(e.dataPage);
    ptr[3] = e.dataRow;
    for (int i = 0; i < 4; ++i) ptr[4 + i] = static_cast<uint8_t>(e.child >> (24 - 8 * i));
  }
  size_t size() const { return e.key.size() + ptrLen; }
  uint8_t at(size_t i) const { return i < e.key.size() ? e.key[i] : ptr[i - e.key.size()]; }
  // Copies bytes [from, size()) to `out`.
  void copyFrom(size_t from, uint8_t* out) const {
    const size_t k = e.key.size();
    if (from < k) {
      std::copy(e.key.begin() + static_cast<std::ptrdiff_t>(from), e.key.end(), out);
      out += k - from;
      from = k;
    }
    std::copy(ptr + (from - k), ptr + ptrLen, out);
  }
};

}  // namespace

std::vector<uint8_t> encodeIndexPage(const IndexPage& page, bool jet4, int wantPrefix) {
  const IndexPageLayout L = IndexPageLayout::forJet4(jet4);
  std::vector<uint8_t> out(L.pageSize, 0);
  encodeIndexPageInto(page, jet4, out.data(), wantPrefix);
  return out;
}

void encodeIndexPageInto(const IndexPage& page, bool jet4, uint8_t* out, int wantPrefix) {
  const IndexPageLayout L = IndexPageLayout::forJet4(jet4);
  std::fill(out, out + L.pageSize, 0);
  auto put32 = [&](uint32_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  const bool leaf = page.leaf();
  out[0] = leaf ? kIndexLeafPage : kIndexNodePage;
  out[1] = 0x01;
  put32(4, page.tdefPage);
  put32(L.prevOffset, page.prev);
  put32(L.nextOffset, page.next);
  put32(L.tailOffset, leaf ? 0 : page.tail);
  out[L.prefixOffset + L.prefixWidth] = leaf ? 0 : 1;

  const auto& es = page.entries;
  size_t shared = 0;
  if (es.size() >= 2) {
    const WholeEntry first(es[0], leaf);
    shared = first.size();
    for (size_t i = 1; i < es.size(); ++i) {
      const WholeEntry w(es[i], leaf);
      size_t n = 0;
      while (n < shared && n < w.size() && w.at(n) == first.at(n)) ++n;
      shared = std::min(n, w.size() - 1);  // every later entry keeps at least one byte
    }
    shared = std::min<size_t>(shared, L.prefixWidth == 1 ? 0xFF : 0xFFFF);
  }
  if (wantPrefix >= 0 && static_cast<size_t>(wantPrefix) > shared && es.size() >= 2)
    throw JetError(kErrDamaged, "The index entries do not share the requested prefix.");
  const size_t prefix = wantPrefix >= 0 && es.size() >= 2 ? static_cast<size_t>(wantPrefix) : shared;
  out[L.prefixOffset] = static_cast<uint8_t>(prefix);
  if (L.prefixWidth == 2) out[L.prefixOffset + 1] = static_cast<uint8_t>(prefix >> 8);

  uint32_t at = 0;
  const uint32_t area = L.pageSize - L.firstEntry;
  for (size_t i = 0; i < es.size(); ++i) {
    const WholeEntry w(es[i], leaf);
    const size_t skip = i == 0 ? 0 : prefix;
    const size_t n = w.size() - skip;
    if (at + n > area)
      throw JetError(kErrDamaged, "The index entries do not fit one page.");
    w.copyFrom(skip, out + L.firstEntry + at);
    at += static_cast<uint32_t>(n);
    out[L.maskOffset + at / 8] |= static_cast<uint8_t>(1u << (at % 8));
  }
  const uint32_t freeSpace = area - at;
  out[2] = static_cast<uint8_t>(freeSpace);
  out[3] = static_cast<uint8_t>(freeSpace >> 8);
}

int compareEntries(const IndexEntry& a, const IndexEntry& b) {
  size_t n = std::min(a.key.size(), b.key.size());
  for (size_t i = 0; i < n; ++i)
    if (a.key[i] != b.key[i]) return a.key[i] < b.key[i] ? -1 : 1;
  if (a.key.size() != b.key.size()) return a.key.size() < b.key.size() ? -1 : 1;
  if (a.dataPage != b.dataPage) return a.dataPage < b.dataPage ? -1 : 1;
  if (a.dataRow != b.dataRow) return a.dataRow < b.dataRow ? -1 : 1;
  return 0;
}

}  // namespace bv::storage
