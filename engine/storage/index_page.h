// Index B-tree pages (types 0x03 intermediate, 0x04 leaf): header, entry-end bitmask,
// prefix-compressed entries. Decoding works on raw page bytes so that the reader, the
// checker and a future writer share it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace bv::storage {

inline constexpr uint8_t kIndexNodePage = 0x03;
inline constexpr uint8_t kIndexLeafPage = 0x04;

// Byte positions of an index page for one page size (2048 = Jet 3, 4096 = Jet 4).
struct IndexPageLayout {
  uint32_t pageSize;
  uint32_t prevOffset, nextOffset, tailOffset;
  uint32_t prefixOffset, prefixWidth;   // Jet 3: one byte; Jet 4: u16
  uint32_t maskOffset, maskBytes;
  uint32_t firstEntry;
  static IndexPageLayout forJet4(bool jet4);
};

struct IndexEntry {
  std::vector<uint8_t> key;  // key bytes (the entry without its pointers)
  uint32_t dataPage = 0;     // row the entry names
  uint8_t dataRow = 0;
  uint32_t child = 0;        // intermediate pages: the child page; 0 on leaves
  friend bool operator==(const IndexEntry&, const IndexEntry&) = default;
};

struct IndexPage {
  uint8_t type = 0;          // kIndexNodePage or kIndexLeafPage
  uint16_t freeSpace = 0;    // as stored
  uint32_t tdefPage = 0;
  uint32_t prev = 0, next = 0, tail = 0;
  uint32_t prefixLength = 0;
  uint32_t usedEnd = 0;      // page offset just past the last entry
  std::vector<IndexEntry> entries;
  bool leaf() const { return type == kIndexLeafPage; }
};

// Decodes one index page. Throws JetError 3049 (damaged file) naming
// `pageNo` when the page is not an index page or its entries do not fit together: an entry
// shorter than its pointers or the prefix, a prefix longer than the first entry, a bitmask
// pointing past the page.
IndexPage decodeIndexPage(std::span<const uint8_t> page, bool jet4, uint32_t pageNo);

// The stored bytes of an entry: key, data page (u24 BE), row, and on intermediate pages the
// child page (u32 BE).
std::vector<uint8_t> entryBytes(const IndexEntry& e, bool leaf);

// Builds a page from `page`'s type, owner, links and entries (the rest of `page` is
// ignored): the bitmask, free space and the intermediate-page marker byte are computed.
// `prefix` is the compressed prefix length; -1 takes the longest prefix every entry shares
// with the first one (Access does not always compress that much, and readers accept any
// shared length). Throws JetError 3049 when the entries do not fit one page or `prefix` is
// longer than the entries share.
std::vector<uint8_t> encodeIndexPage(const IndexPage& page, bool jet4, int prefix = -1);
// The same, written over a whole page at `out` (page-size bytes), without allocating.
void encodeIndexPageInto(const IndexPage& page, bool jet4, uint8_t* out, int prefix = -1);

// Orders entries as an index does: key bytes unsigned, then data page, then row.
int compareEntries(const IndexEntry& a, const IndexEntry& b);

}  // namespace bv::storage
