#include "engine/storage/index_split.h"

#include <algorithm>
#include <limits>

#include "engine/storage/error.h"

namespace bv::storage {
namespace {

size_t wholeSize(const IndexEntry& e, bool leaf) { return e.key.size() + (leaf ? 4 : 8); }

// Byte i of the entry as stored whole: key, data page (u24 BE), row, child (u32 BE).
uint8_t wholeByte(const IndexEntry& e, size_t i) {
  if (i < e.key.size()) return e.key[i];
  i -= e.key.size();
  if (i < 3) return static_cast<uint8_t>(e.dataPage >> (8 * (2 - i)));
  if (i == 3) return e.dataRow;
  return static_cast<uint8_t>(e.child >> (8 * (7 - i)));
}

// How many leading bytes two entries share, looking no further than `limit`.
size_t commonPrefix(const IndexEntry& a, const IndexEntry& b, bool leaf, size_t limit) {
  const size_t n = std::min({wholeSize(a, leaf), wholeSize(b, leaf), limit});
  size_t i = 0;
  while (i < n && wholeByte(a, i) == wholeByte(b, i)) ++i;
  return i;
}

size_t prefixCap(bool jet4) { return jet4 ? 0xFFFF : 0xFF; }

// Exact size of entries [a, b) on one page.
size_t partSize(const std::vector<IndexEntry>& es, size_t a, size_t b, bool leaf, bool jet4) {
  if (b <= a) return 0;
  size_t shared = std::numeric_limits<size_t>::max(), sum = 0;
  for (size_t i = a + 1; i < b; ++i) {
    const size_t s = wholeSize(es[i], leaf);
    shared = std::min({shared, commonPrefix(es[a], es[i], leaf, shared), s - 1});
    sum += s;
  }
  if (b - a < 2) return wholeSize(es[a], leaf);
  shared = std::min(shared, prefixCap(jet4));
  return wholeSize(es[a], leaf) + sum - shared * (b - a - 1);
}

}  // namespace

uint32_t indexEntryArea(bool jet4) {
  const IndexPageLayout L = IndexPageLayout::forJet4(jet4);
  return L.pageSize - L.firstEntry;
}

size_t encodedEntriesSize(const std::vector<IndexEntry>& entries, bool leaf, bool jet4) {
  return partSize(entries, 0, entries.size(), leaf, jet4);
}

std::vector<size_t> planSplit(const std::vector<IndexEntry>& es, bool leaf, bool jet4,
                              bool appendAtEnd) {
  const size_t n = es.size();
  const size_t area = indexEntryArea(jet4);
  if (n < 2) throw JetError(3049, "An index entry is too long for an index page.");

  // Left parts [0, m): exact sizes, grown one entry at a time.
  std::vector<size_t> left(n + 1, 0);
  {
    size_t shared = std::numeric_limits<size_t>::max(), sum = 0;
    left[1] = wholeSize(es[0], leaf);
    for (size_t i = 1; i < n; ++i) {
      const size_t s = wholeSize(es[i], leaf);
      shared = std::min({shared, commonPrefix(es[0], es[i], leaf, shared), s - 1});
      sum += s;
      left[i + 1] = wholeSize(es[0], leaf) + sum - std::min(shared, prefixCap(jet4)) * i;
    }
  }
  // Right parts [m, n): an upper bound. What m shares with every later entry is at least the
  // smallest prefix two neighbours share, so the part is never larger than this estimate.
  std::vector<size_t> right(n + 1, 0);
  {
    size_t shared = std::numeric_limits<size_t>::max(), sum = 0;
    for (size_t m = n; m-- > 0;) {
      right[m] = wholeSize(es[m], leaf) + sum -
                 (m + 1 < n ? std::min(shared, prefixCap(jet4)) * (n - m - 1) : 0);
      if (m == 0) break;
      const size_t s = wholeSize(es[m], leaf);
      shared = std::min({shared, commonPrefix(es[m - 1], es[m], leaf, shared), s - 1});
      sum += s;
    }
  }
  if (appendAtEnd && left[n - 1] <= area && right[n - 1] <= area) return {n - 1};
  size_t best = 0, bestCost = std::numeric_limits<size_t>::max();
  for (size_t m = 1; m < n; ++m) {
    if (left[m] > area || right[m] > area) continue;
    const size_t cost = std::max(left[m], right[m]);
    if (cost < bestCost) bestCost = cost, best = m;
  }
  if (best) return {best};

  // Very long entries: pack greedily, each part as full as it can be.
  std::vector<size_t> cuts;
  size_t a = 0;
  while (a < n) {
    size_t b = a + 1;
    if (wholeSize(es[a], leaf) > area) throw JetError(3049, "An index entry is too long for an index page.");
    while (b < n && partSize(es, a, b + 1, leaf, jet4) <= area) ++b;
    if (b < n) cuts.push_back(b);
    a = b;
  }
  return cuts;
}

}  // namespace bv::storage
