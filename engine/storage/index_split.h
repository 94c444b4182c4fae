// How many bytes a set of index entries takes on a page, and where to cut an overfull page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/storage/index_page.h"

namespace bv::storage {

// Bytes an index page has for entries (after its header and bitmask).
uint32_t indexEntryArea(bool jet4);

// Bytes the entries take on one page when every entry after the first omits the longest
// prefix they all share with it (what encodeIndexPage writes).
size_t encodedEntriesSize(const std::vector<IndexEntry>& entries, bool leaf, bool jet4);

// Cut points c1 < c2 < ... for entries that do not fit one page: the parts [0,c1), [c1,c2),
// ..., [ck,n) each fit a page. Two parts of about equal size when possible; with
// `appendAtEnd` (the change was at the end of the rightmost page, as when keys arrive in
// ascending order) the left part keeps everything but the last entry, so pages fill up.
std::vector<size_t> planSplit(const std::vector<IndexEntry>& entries, bool leaf, bool jet4,
                              bool appendAtEnd);

}  // namespace bv::storage
