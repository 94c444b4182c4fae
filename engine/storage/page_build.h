// Building whole pages and usage-map rows from scratch: used where a structure is made new
// (a new database, a new table) rather than edited in place.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace bv::storage {

// A data page (type 0x01) owned by the TDEF at `owner` (0 for a page of usage maps),
// holding `rows` in slot order, packed down from the page end. JetError 3047 if they do
// not fit.
std::vector<uint8_t> buildDataPage(uint32_t owner, const std::vector<std::vector<uint8_t>>& rows, bool jet4);

// Bytes of the bitmap of an inline usage map (Jet 3: 128, Jet 4: 64).
inline uint32_t inlineMapBitmapBytes(bool jet4) { return jet4 ? 64 : 128; }

// An inline (type 0) usage map covering pages from `first` (rounded down to a multiple of
// 8) with the bits of `pages` set. JetError 3049 if a page lies outside its range.
std::vector<uint8_t> inlineUsageMap(uint32_t first, std::span<const uint32_t> pages, bool jet4);

// The global free-page map of a file of `pageCount` pages, all of them in use: bit set =
// page free, so only the bits past the end of the file are set.
std::vector<uint8_t> globalUsageMap(uint32_t pageCount, bool jet4);

}  // namespace bv::storage
