// Referential integrity for the rows one statement writes: the enforced relationships of
// the database resolved to column positions, and lookups of the rows holding a key
// (built once per table and key on first use, then kept in step with every row the
// statement adds or removes, so that checking a row never scans a table again).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "engine/storage/database.h"
#include "engine/storage/relationships.h"

namespace bv::sql {

// Key order as statements compare values (text without regard to case, as index keys do).
struct KeyLess {
  bool operator()(const std::vector<Value>& a, const std::vector<Value>& b) const;
};
using KeyRows = std::map<std::vector<Value>, std::vector<storage::RowId>, KeyLess>;

struct Link {
  storage::Relationship relationship;
  uint32_t table = 0;            // TDEF page of the referencing table
  uint32_t referencedTable = 0;  // TDEF page of the referenced table
  std::vector<int> columns;            // positions in the referencing table
  std::vector<int> referencedColumns;  // positions in the referenced table
};

class Integrity {
 public:
  // The enforced relationships of `db` whose tables and columns all exist.
  explicit Integrity(const storage::Database& db);

  const std::vector<Link>& links() const { return links_; }
  bool empty() const { return links_.empty(); }

  // The key a row holds in `columns`; empty when any of them is Null (such a row neither
  // needs nor provides a related row).
  static std::vector<Value> keyOf(const std::vector<Value>& row, const std::vector<int>& columns);

  // The rows of table `tdefPage` by their values in `columns`, as the database (and so the
  // statement's unit) holds them now.
  const KeyRows& rows(uint32_t tdefPage, const std::vector<int>& columns);

  // Keep the lookups in step with a row written by the statement.
  void rowAdded(uint32_t tdefPage, storage::RowId id, const std::vector<Value>& row);
  void rowRemoved(uint32_t tdefPage, storage::RowId id, const std::vector<Value>& row);

 private:
  const storage::Database& db_;
  std::vector<Link> links_;
  std::map<std::pair<uint32_t, std::vector<int>>, KeyRows> built_;
};

}  // namespace bv::sql
