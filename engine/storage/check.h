// Consistency check of a whole database file: every table, its rows, usage maps and every
// index B-tree against the rows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/database.h"

namespace bv::storage {

struct CheckOptions {
  // Problems listed per table and kind of problem; the rest are counted.
  size_t maxListed = 20;
};

struct CheckReport {
  std::vector<std::string> problems;  // one line each, naming the table/index/page
  std::vector<std::string> notes;     // what could not be verified (not a fault of the file)
  uint32_t tables = 0;
  uint64_t rows = 0;
  uint32_t indexes = 0;       // real indexes (B-trees)
  uint64_t indexEntries = 0;
  uint64_t indexPages = 0;
  uint32_t usageMaps = 0;
  bool ok() const { return problems.empty(); }
};

// Reads everything and reports each inconsistency found:
//  - table definitions that cannot be read, rows that cannot be decoded;
//  - the row count recorded in a user table's definition against its live rows, and its
//    last AutoNumber against the values in use;
//  - usage maps: a table's owned pages against the data pages naming it, its free-space map
//    within its owned pages, an index's map against its tree's pages, Memo/OLE column maps
//    against long-value pages, and no page in use marked free in the global map;
//  - definition and index pages that two structures claim;
//  - data pages: the free-space field;
//  - indexes: page type, owner and free-space field, entry order within pages and along the
//    leaf level, parent entries against their children, sibling and tail links, every entry
//    naming a live row, every row indexed once (ignore-nulls honoured), key bytes equal to
//    the key of the row's values, unique and required flags against the data.
// Never throws for a damaged file: what cannot be read is itself reported.
CheckReport checkDatabase(const Database& db, const CheckOptions& options = {});

}  // namespace bv::storage
