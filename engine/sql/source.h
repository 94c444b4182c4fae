// What statement execution reads: named tables whose rows can be scanned. The storage
// layer provides one implementation (storage_catalog.h); tests use in-memory tables.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/sql/value_ops.h"
#include "engine/storage/database.h"
#include "engine/storage/value.h"

namespace bv::sql {

using storage::RowId;

// A column as statements see it: its name and what values it holds.
struct SourceColumn {
  std::u16string name;
  ColType type = ColType::Text;
  uint32_t maxLength = 0;  // Text: characters; Binary: bytes; 0 = no limit
  uint8_t precision = 18, scale = 0;  // Decimal
  bool autoNumber = false;
};

class RowCursor {
 public:
  virtual ~RowCursor() = default;
  virtual bool next() = 0;            // advance; false at the end
  virtual RowId rowId() const = 0;    // where the current row lives
  virtual const Value& value(size_t column) = 0;  // valid until next()
};

// An index of a table as the planner sees it.
struct SourceIndex {
  std::u16string name;
  std::vector<int> columns;     // positions in TableSource::columns(), leading first
  std::vector<bool> ascending;  // per column
  bool ignoreNulls = false;     // rows whose key columns are all Null are not in it
  bool jet4 = true;             // the key format (text keys differ)
  bool textKeysUsable = true;   // text keys follow the General order that comparison uses
};

// A stretch of one index's entries: from the first whose key bytes are >= `low`, as long
// as the key is <= `high` or starts with `high` (so a value's key part as `high` takes
// every entry of that value, whatever columns follow it).
struct KeyRange {
  std::vector<uint8_t> low, high;
};

class TableSource {
 public:
  virtual ~TableSource() = default;
  virtual const std::u16string& name() const = 0;  // as the catalog spells it
  virtual const std::vector<SourceColumn>& columns() const = 0;
  virtual std::unique_ptr<RowCursor> scan() const = 0;
  // The table's indexes (none for in-memory tables).
  virtual const std::vector<SourceIndex>& indexes() const {
    static const std::vector<SourceIndex> none;
    return none;
  }
  // The rows of the entries of index `index` within `ranges` (ascending, in that order);
  // a row named by several ranges comes once. Whole index when `ranges` is empty. In
  // index order when `indexOrder` is set, otherwise in the order of the file (each data
  // page visited once).
  virtual std::unique_ptr<RowCursor> indexScan(size_t index, const std::vector<KeyRange>& ranges,
                                               bool indexOrder = true) const {
    return scan();
  }
};

class Catalog {
 public:
  virtual ~Catalog() = default;
  // The table of that name (case-insensitive), or nullptr.
  virtual std::shared_ptr<const TableSource> findTable(std::u16string_view name) const = 0;
  // Whether some other object (a stored query, a link) has that name.
  virtual bool hasOtherObject(std::u16string_view name) const { return false; }
  // How the tables' text indexes order text; statements compare text the same way.
  virtual TextOrder textOrder() const { return TextOrder::Jet4; }
};

// Jet's name comparison (case-insensitive).
inline bool namesEqual(std::u16string_view a, std::u16string_view b) {
  return storage::jetNameEquals(a, b);
}

// An in-memory table (tests, derived tables, results). Row ids are the row positions.
class MemoryTable : public TableSource {
 public:
  MemoryTable(std::u16string name, std::vector<SourceColumn> columns)
      : name_(std::move(name)), columns_(std::move(columns)) {}
  const std::u16string& name() const override { return name_; }
  const std::vector<SourceColumn>& columns() const override { return columns_; }
  std::unique_ptr<RowCursor> scan() const override;
  void addRow(std::vector<Value> row) { rows_.push_back(std::move(row)); }
  const std::vector<std::vector<Value>>& rows() const { return rows_; }

 private:
  std::u16string name_;
  std::vector<SourceColumn> columns_;
  std::vector<std::vector<Value>> rows_;
};

class MemoryCatalog : public Catalog {
 public:
  void add(std::shared_ptr<const TableSource> t) { tables_.push_back(std::move(t)); }
  std::shared_ptr<const TableSource> findTable(std::u16string_view name) const override;

 private:
  std::vector<std::shared_ptr<const TableSource>> tables_;
};

}  // namespace bv::sql
