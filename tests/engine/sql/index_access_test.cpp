// Rows reached through an index are the rows a full read finds: the same statements run
// on a catalog whose tables hide their indexes must give the same rows, and a statement
// that names one row by its key must read only that row.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/sql/exec.h"
#include "engine/sql/parser.h"
#include "engine/sql/row_keys.h"
#include "engine/sql/storage_catalog.h"
#include "engine/sql/value_ops.h"

namespace bv::sql {
namespace {

namespace fs = std::filesystem;

// Counts the rows its cursors deliver.
class CountingCursor : public RowCursor {
 public:
  CountingCursor(std::unique_ptr<RowCursor> inner, size_t& reads) : inner_(std::move(inner)), reads_(reads) {}
  bool next() override {
    bool more = inner_->next();
    if (more) ++reads_;
    return more;
  }
  RowId rowId() const override { return inner_->rowId(); }
  const Value& value(size_t c) override { return inner_->value(c); }

 private:
  std::unique_ptr<RowCursor> inner_;
  size_t& reads_;
};

class Wrapped : public TableSource {
 public:
  Wrapped(std::shared_ptr<const TableSource> t, bool hide, size_t& reads)
      : t_(std::move(t)), hide_(hide), reads_(reads) {}
  const std::u16string& name() const override { return t_->name(); }
  const std::vector<SourceColumn>& columns() const override { return t_->columns(); }
  std::unique_ptr<RowCursor> scan() const override {
    return std::make_unique<CountingCursor>(t_->scan(), reads_);
  }
  const std::vector<SourceIndex>& indexes() const override {
    static const std::vector<SourceIndex> none;
    return hide_ ? none : t_->indexes();
  }
  std::unique_ptr<RowCursor> indexScan(size_t i, const std::vector<KeyRange>& r, bool indexOrder) const override {
    return std::make_unique<CountingCursor>(t_->indexScan(i, r, indexOrder), reads_);
  }

 private:
  std::shared_ptr<const TableSource> t_;
  bool hide_;
  size_t& reads_;
};

class WrappedCatalog : public Catalog {
 public:
  WrappedCatalog(const Catalog& inner, bool hide) : inner_(inner), hide_(hide) {}
  std::shared_ptr<const TableSource> findTable(std::u16string_view name) const override {
    auto t = inner_.findTable(name);
    return t ? std::make_shared<Wrapped>(t, hide_, reads) : nullptr;
  }
  TextOrder textOrder() const override { return inner_.textOrder(); }
  mutable size_t reads = 0;

 private:
  const Catalog& inner_;
  bool hide_;
};

std::vector<std::vector<Value>> sortedRows(std::vector<std::vector<Value>> rows) {
  std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
    for (size_t i = 0; i < a.size(); ++i)
      if (int c = compareForSort(a[i], b[i])) return c < 0;
    return false;
  });
  return rows;
}

// The rows with and without indexes (sorted unless the statement orders them); `reads`
// gets the rows the indexed run read.
void expectSameRows(const Catalog& catalog, const std::u16string& sql, const ParamValues& params,
                    size_t* reads = nullptr) {
  SCOPED_TRACE(storage::toUtf8(sql));
  Statement st = parseStatement(sql);
  WrappedCatalog indexed(catalog, false), plain(catalog, true);
  auto a = executeSelect(st, indexed, params).rows;
  auto b = executeSelect(st, plain, params).rows;
  ASSERT_EQ(a.size(), b.size());
  bool ordered = sql.find(u"ORDER BY") != std::u16string::npos;
  if (!ordered) {
    a = sortedRows(std::move(a));
    b = sortedRows(std::move(b));
  }
  for (size_t i = 0; i < a.size(); ++i) ASSERT_TRUE(rowsEqual(a[i], b[i])) << "row " << i;
  if (reads) *reads = indexed.reads;
}

std::string bigFile() { return std::string(BV_FIXTURES_DIR) + "/generated/big_jet4.mdb"; }

TEST(IndexAccess, KeyLookupsRangesAndPrefixesOnTheBigFile) {
  if (!fs::exists(bigFile())) GTEST_SKIP() << "fixture not found: " << bigFile();
  auto db = storage::Database::open(bigFile());
  StorageCatalog catalog(*db);
  size_t reads = 0;
  expectSameRows(catalog, u"SELECT * FROM Orders WHERE ID = 4711", {}, &reads);
  EXPECT_EQ(reads, 1u);
  expectSameRows(catalog, u"SELECT ID, Qty FROM Orders WHERE ID IN (5, 17, 17, 199999, 300000, Null)", {}, &reads);
  EXPECT_EQ(reads, 3u);
  expectSameRows(catalog, u"SELECT ID FROM Orders WHERE 4711 = ID OR ID = 4712", {}, &reads);
  expectSameRows(catalog, u"SELECT ID FROM Orders WHERE ID BETWEEN 500 AND 400", {}, &reads);
  EXPECT_EQ(reads, 101u);
  // A bound between two keys reads from the nearest key (one row more at most).
  expectSameRows(catalog, u"SELECT ID FROM Orders WHERE ID > 199990.5 AND ID <= 199995", {}, &reads);
  EXPECT_LE(reads, 6u);
  expectSameRows(catalog, u"SELECT ID FROM Orders WHERE ID < 3 OR ID > 199998", {}, nullptr);
  expectSameRows(catalog, u"SELECT ID FROM Orders WHERE ID = p", {{u"p", Value(77.0)}}, &reads);
  EXPECT_EQ(reads, 1u);
  // Text: case is ignored as the keys ignore it; a prefix LIKE reads its stretch only.
  expectSameRows(catalog, u"SELECT ID FROM Orders WHERE Customer = 'noël иванов 2'", {}, &reads);
  EXPECT_LT(reads, 1000u);
  expectSameRows(catalog, u"SELECT COUNT(*) FROM Orders WHERE Customer LIKE 'a*'", {}, &reads);
  EXPECT_LT(reads, 20000u);
  expectSameRows(catalog, u"SELECT ID FROM Orders WHERE Customer LIKE 'Ab?c*' OR Customer LIKE 'zz*'", {}, nullptr);
  expectSameRows(catalog, u"SELECT ID FROM Orders WHERE Customer >= 'Zz' AND Customer < 'zzz'", {}, nullptr);
  expectSameRows(catalog, u"SELECT ID FROM Orders WHERE Customer IN ('Ann Ng 1', 'ANN NG 1', 'x')", {}, nullptr);
  // An uncorrelated IN subquery is looked up like an IN list (the subquery's own table is
  // read once: Customers has 2,000 rows); Nulls among its values match nothing.
  expectSameRows(catalog, u"SELECT ID FROM Orders WHERE Customer IN (SELECT Name FROM Customers WHERE ID < 20)", {},
                 &reads);
  EXPECT_LT(reads, 40000u);  // a full read is 200,000
  expectSameRows(catalog, u"SELECT ID FROM Orders WHERE ID IN (SELECT IIf(ID < 5, Null, ID * 100) FROM Customers) "
                          u"AND Qty > 3", {}, &reads);
  EXPECT_LT(reads, 4100u);
  expectSameRows(catalog, u"SELECT ID FROM Orders WHERE ID IN (SELECT Str(ID) FROM Customers WHERE ID < 9)", {}, nullptr);
  expectSameRows(catalog, u"SELECT COUNT(*) FROM Orders WHERE Customer NOT IN (SELECT Name FROM Customers)", {}, nullptr);
  // A subquery that fails while the index is chosen still fails the statement.
  for (const char16_t* failing : {u"SELECT ID FROM Orders WHERE Customer IN (SELECT CLng(Name) FROM Customers)",
                                  u"DELETE FROM Orders WHERE Customer IN (SELECT Name FROM Customers WHERE City = 1)"}) {
    int number = 0;
    try {
      Statement st = parseStatement(failing);
      if (st.kind() == StatementKind::Select) executeSelect(st, catalog);
      else planAction(st, catalog);
    } catch (const JetError& e) {
      number = e.number();
    }
    EXPECT_EQ(number, 3464) << storage::toUtf8(failing);
  }
  // Conditions an index cannot serve are read in full and still answered.
  expectSameRows(catalog, u"SELECT COUNT(*) FROM Orders WHERE ID = '17' OR Qty = 5", {}, nullptr);
  expectSameRows(catalog, u"SELECT COUNT(*) FROM Orders WHERE ID = '17'", {}, nullptr);
  // ORDER BY on the key walks it; TOP stops after what it returns.
  expectSameRows(catalog, u"SELECT TOP 3 ID, Qty FROM Orders ORDER BY ID", {}, &reads);
  EXPECT_LE(reads, 4u);
  // Joins: each table narrowed by its own conditions.
  expectSameRows(catalog, u"SELECT o.ID, c.City FROM Orders o, Customers c "
                          u"WHERE o.Customer = c.Name AND o.ID < 300 AND c.ID > 10", {}, nullptr);
  // An UPDATE of one row by its key reads that row only.
  WrappedCatalog counted(catalog, false);
  ActionPlan plan = planAction(parseStatement(u"UPDATE Orders SET Qty = Qty + 1 WHERE ID = 4711"), counted);
  EXPECT_EQ(plan.recordsAffected, 1);
  EXPECT_EQ(counted.reads, 1u);
}

// On every fixture, for the leading column of every index and a few of its stored
// values: equality, ranges and BETWEEN (and a prefix LIKE on text) give the same rows
// through the index as without it.
TEST(IndexAccess, EveryIndexOfEveryFixtureAnswersAsAFullRead) {
  std::vector<std::string> files;
  for (const char* sub : {"jet3", "jet4"}) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(std::string(BV_FIXTURES_DIR) + "/" + sub, ec))
      if (e.path().extension() == ".mdb") files.push_back(e.path().string());
  }
  if (files.empty()) GTEST_SKIP() << "fixtures not found at " << BV_FIXTURES_DIR;
  std::sort(files.begin(), files.end());
  size_t statements = 0;
  for (const auto& path : files) {
    auto db = storage::Database::open(path);
    StorageCatalog catalog(*db);
    for (const auto& name : db->userTableNames()) {
      auto table = catalog.findTable(name);
      const auto& cols = table->columns();
      std::vector<std::vector<Value>> rows;
      auto cur = table->scan();
      while (cur->next()) {
        std::vector<Value> row;
        for (size_t c = 0; c < cols.size(); ++c) row.push_back(cols[c].type == ColType::OLE ? Value() : cur->value(c));
        rows.push_back(std::move(row));
      }
      for (const auto& ix : table->indexes()) {
        int lead = ix.columns[0];
        ColType type = cols[lead].type;
        if (type == ColType::Memo || type == ColType::OLE || type == ColType::Binary || type == ColType::Bool) continue;
        std::u16string field = u"[" + cols[lead].name + u"]";
        std::u16string from = u" FROM [" + table->name() + u"] WHERE ";
        for (size_t r : {size_t(0), rows.size() / 2, rows.size() - 1}) {
          if (r >= rows.size() || rows[r][lead].isNull()) continue;
          SCOPED_TRACE(path + " " + storage::toUtf8(name) + " " + storage::toUtf8(ix.name));
          ParamValues p{{u"v", rows[r][lead]}, {u"w", rows[rows.size() - 1 - r][lead]}};
          for (const char16_t* cond : {u" = v", u" >= v", u" < v", u" <= v AND ", u" BETWEEN v AND w"}) {
            std::u16string c = cond;
            if (c == u" <= v AND ") c += field + u" > w";
            expectSameRows(catalog, u"SELECT *" + from + field + c, p);
            ++statements;
          }
          if (type == ColType::Text) {
            const auto& text = rows[r][lead].as<std::u16string>();
            if (!text.empty()) {
              expectSameRows(catalog, u"SELECT *" + from + field + u" LIKE v",
                             {{u"v", Value(text.substr(0, 2) + u"*")}});
              ++statements;
            }
          }
        }
      }
    }
  }
  EXPECT_GT(statements, 100u);
}

}  // namespace
}  // namespace bv::sql
