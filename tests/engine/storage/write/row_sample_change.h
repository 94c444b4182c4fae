// A unit of row changes for the crash and fault tests: every row of a table updated (long
// values rewritten), one deleted, and rows inserted with long keys until index pages split.
// Deterministic: the same file gives the same result.
#pragma once

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "engine/storage/table_writer.h"
#include "engine/storage/write_unit.h"
#include "tests/engine/storage/write/random_values.h"

namespace bv::storage::sample {

// Values for indexed columns that no other row has: numbers from `n`, ASCII text that
// starts with `n` (so inserts land all over the index) and is long enough to fill pages.
inline void makeKeysUnique(const TableDef& def, bool jet4, std::vector<Value>& row, int n) {
  std::set<int> indexed;
  for (const auto& ri : def.realIndexes)
    for (const auto& ic : ri.columns) indexed.insert(def.columnByNumber(ic.columnNumber));
  for (int pos : indexed) {
    if (pos < 0) continue;
    const ColumnDef& c = def.columns[pos];
    if (c.autoNumber) continue;
    switch (c.type) {
      case ColType::Long: row[pos] = Value(static_cast<int32_t>(700000 + n * 7919 % 100003)); break;
      case ColType::Integer: row[pos] = Value(static_cast<int16_t>(1000 + n)); break;
      case ColType::Text: {
        const size_t chars = std::min<size_t>(jet4 ? c.length / 2 : c.length, 120);
        std::u16string s = fromUtf8(std::to_string(n * 7919 % 100003) + " key ");
        while (s.size() < chars) s.push_back(static_cast<char16_t>(u'a' + (s.size() * 7 + n) % 26));
        s.resize(std::min(s.size(), chars));
        row[pos] = Value(s);
        break;
      }
      default: break;
    }
  }
}

// A row the writer refuses (a key it cannot encode, a duplicate) is skipped, as a statement
// skips it; a failing device ends the unit.
inline bool deviceError(const JetError& e) { return e.number() == 3040 || e.number() == 3043 || e.number() == 3026; }

// Updates every row, deletes one, inserts `inserts`.
inline void rowChange(WriteUnit& unit, const std::u16string& table, int inserts) {
  std::vector<RowId> ids;
  {
    TableCursor cur = unit.db().scan(unit.db().table(table));
    while (cur.next()) ids.push_back(cur.rowId());
  }
  TableWriter w(unit, table);
  test::RandomValues rv(20261209, unit.db());
  rv.longTextChance = 0.5;
  int n = 0;
  for (RowId id : ids) {
    std::vector<Value> row = rv.row(w.table(), false);
    makeKeysUnique(w.table(), unit.jet4(), row, ++n);
    try {
      w.update(id, row);
    } catch (const JetError& e) {
      if (deviceError(e)) throw;
    }
  }
  if (!ids.empty()) w.remove(ids.back());
  for (int i = 0; i < inserts; ++i) {
    std::vector<Value> row = rv.row(w.table(), false);
    makeKeysUnique(w.table(), unit.jet4(), row, ++n);
    try {
      w.insert(row);
    } catch (const JetError& e) {
      if (deviceError(e)) throw;
    }
  }
}

}  // namespace bv::storage::sample
