// An in-memory model of one table's rows (by row id) and the checks that compare a
// written file with it: the table read back, our integrity check, and mdb-export.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine/storage/check.h"
#include "engine/storage/database.h"
#include "tests/engine/storage/export_compare.h"

namespace bv::test {

using Row = std::vector<Value>;

inline uint32_t rowKey(storage::RowId id) { return id.page << 8 | id.row; }
inline storage::RowId rowIdOf(uint32_t key) { return {key >> 8, static_cast<uint8_t>(key & 0xFF)}; }

struct TableModel {
  std::map<uint32_t, Row> rows;  // by row id

  // The table's rows as the database holds them now.
  static TableModel read(const storage::Database& db, std::u16string_view table) {
    TableModel m;
    auto def = db.table(table);
    storage::TableCursor cur = db.scan(def);
    Row r;
    while (cur.next()) {
      cur.readRow(r);
      m.rows[rowKey(cur.rowId())] = r;
    }
    return m;
  }
};

inline std::string describe(const Value& v) {
  if (v.isNull()) return "Null";
  if (auto s = v.get<std::u16string>()) return "'" + storage::toUtf8(s->substr(0, 40)) + "' (" + std::to_string(s->size()) + " chars)";
  if (auto b = v.get<Bytes>()) return std::to_string(b->size()) + " bytes";
  if (auto i = v.get<int32_t>()) return std::to_string(*i);
  return "(kind " + std::to_string(static_cast<int>(v.kind())) + ")";
}

// The table read back equals the model, row id by row id, and the recorded row count
// matches.
inline void expectTableMatches(const storage::Database& db, std::u16string_view table, const TableModel& model) {
  const TableModel got = TableModel::read(db, table);
  auto def = db.table(table);
  EXPECT_EQ(def->rowCount, model.rows.size()) << "recorded row count";
  EXPECT_EQ(got.rows.size(), model.rows.size()) << "rows read back";
  size_t reported = 0;
  for (const auto& [key, row] : model.rows) {
    auto it = got.rows.find(key);
    if (it == got.rows.end()) {
      if (reported++ < 5) ADD_FAILURE() << "row " << (key >> 8) << ":" << (key & 0xFF) << " is missing";
      continue;
    }
    for (size_t c = 0; c < row.size(); ++c)
      if (!(it->second[c] == row[c]) && reported++ < 5)
        ADD_FAILURE() << "row " << (key >> 8) << ":" << (key & 0xFF) << " column "
                      << storage::toUtf8(def->columns[c].name) << ": read " << describe(it->second[c])
                      << ", expected " << describe(row[c]);
  }
  for (const auto& [key, row] : got.rows)
    if (!model.rows.count(key) && reported++ < 5)
      ADD_FAILURE() << "row " << (key >> 8) << ":" << (key & 0xFF) << " should not exist";
}

// Our integrity check finds nothing wrong (every index walked and compared with the rows).
inline void expectCheckPasses(const storage::Database& db) {
  const storage::CheckReport r = storage::checkDatabase(db);
  for (const auto& p : r.problems) ADD_FAILURE() << "check: " << p;
}

// mdbtools lists moved rows elsewhere than we do; for tables too large for the shared
// comparison's any-order fallback, rows are matched by their first column's text and then
// compared cell by cell with the same rules.
inline bool sameRowsInAnyOrder(const storage::Database& db, const std::string& path, std::u16string_view table) {
  auto def = db.table(table);
  std::string ours;
  storage::exportCsv(db, *def, [&](const char* p, size_t n) {
    ours.append(p, n);
    return true;
  });
  int status = 0;
  const std::string theirs = runCommand("mdb-export -T '%Y-%m-%d %H:%M:%S' -b hex " + shellQuote(path) + " " +
                                            shellQuote(storage::toUtf8(table)) + " 2>/dev/null",
                                        &status);
  if (status != 0) return false;
  const auto a = parseCsv(ours), b = parseCsv(theirs);
  if (a.size() != b.size() || a.empty()) return false;
  std::multimap<std::string, size_t> byFirst;
  for (size_t i = 1; i < b.size(); ++i)
    if (!b[i].empty()) byFirst.emplace(b[i][0].text, i);
  std::vector<bool> used(b.size(), false);
  for (size_t i = 1; i < a.size(); ++i) {
    if (a[i].size() != def->columns.size()) return false;
    bool found = false;
    auto [lo, hi] = byFirst.equal_range(a[i][0].text);
    for (auto it = lo; it != hi && !found; ++it) {
      const CsvRow& other = b[it->second];
      if (used[it->second] || other.size() != a[i].size()) continue;
      bool same = true;
      for (size_t c = 0; c < other.size() && same; ++c)
        same = detail::compareCell(def->columns[c], a[i][c], other[c]) != "!";
      if (same) found = used[it->second] = true;
    }
    if (!found) {
      ADD_FAILURE() << "mdb-export: no row of mdb-export's matches our row " << i << " (first column "
                    << a[i][0].text << ")";
      return false;
    }
  }
  return true;
}

// mdb-export reads the same rows as we do (differences only where mdbtools is known to
// print values differently).
inline void expectMdbExportAgrees(const storage::Database& db, const std::string& path, std::u16string_view table) {
  const CompareResult r = compareWithMdbExport(db, path, storage::toUtf8(table));
  if (r.failureCount == 0) return;
  if (r.rows > 2000 && sameRowsInAnyOrder(db, path, table)) return;
  EXPECT_EQ(r.failureCount, 0u);
  for (const auto& f : r.failures) ADD_FAILURE() << "mdb-export: " << f;
}

inline bool haveMdbExport() {
  int status = 0;
  runCommand("command -v mdb-export >/dev/null 2>&1", &status);
  return status == 0;
}

}  // namespace bv::test
