// Row encoding: every row Access wrote is rebuilt byte for byte from its decoded values,
// random rows of every column type read back through the reader unchanged, and values a
// column cannot hold are refused with Jet's error numbers.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <random>

#include "engine/storage/data_page_edit.h"
#include "engine/storage/long_value_write.h"
#include "engine/storage/row_encode.h"
#include "engine/storage/write_unit.h"
#include "tests/engine/storage/storage_test_util.h"
#include "tests/engine/storage/write/random_values.h"

namespace bv::storage {
namespace {

std::string hex(std::span<const uint8_t> b) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (uint8_t c : b) {
    s += d[c >> 4];
    s += d[c & 15];
    s += ' ';
  }
  return s;
}

// Rows whose null mask marks a column the table no longer has hold that column's bytes.
bool hasDeletedColumns(const TableDef& t, const uint8_t* row, size_t len, bool jet4) {
  const uint32_t cc = jet4 ? (row[0] | row[1] << 8) : row[0];
  const uint8_t* mask = row + len - (cc + 7) / 8;
  for (uint32_t n = 0; n < cc; ++n)
    if (((mask[n / 8] >> (n % 8)) & 1) && t.columnByNumber(static_cast<uint16_t>(n)) < 0) return true;
  return false;
}

void blankUnusedFixedBytes(const TableDef& t, std::span<const EncodedField> fields, Bytes& row, bool jet4) {
  const size_t head = jet4 ? 2 : 1;
  std::vector<char> used(row.size(), 0);
  size_t end = head;
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const ColumnDef& c = t.columns[i];
    if (!c.fixed || c.type == ColType::Bool) continue;
    end = std::max<size_t>(end, head + c.fixedOffset + c.length);
    if (fields[i].present)
      for (size_t k = 0; k < c.length; ++k) used[head + c.fixedOffset + k] = 1;
  }
  for (size_t k = head; k < end && k < row.size(); ++k)
    if (!used[k]) row[k] = 0;
}

// Some Jet 4 rows Access changed in place keep unused bytes between the end of their data
// and the offset table (the offsets do not count them); a new row has none.
void dropJet4Slack(Bytes& row, bool jet4) {
  if (!jet4) return;
  const uint32_t cc = row[0] | row[1] << 8;
  const size_t maskAt = row.size() - (cc + 7) / 8;
  const uint32_t v = row[maskAt - 2] | row[maskAt - 1] << 8;
  const size_t table = maskAt - 2 - 2 * (v + 1);
  const uint32_t eod = row[table] | row[table + 1] << 8;
  if (eod < table) row.erase(row.begin() + eod, row.begin() + static_cast<std::ptrdiff_t>(table));
}

// Rebuilds every stored row of every table of a file from its values. Rows written when the
// table had fewer columns, and moved rows, cannot be rebuilt the same way and are skipped.
struct RebuildCount {
  size_t rows = 0, same = 0;
  std::vector<std::string> diffs;
};

RebuildCount rebuildRows(const std::string& path) {
  RebuildCount out;
  auto db = Database::open(path);
  for (const CatalogEntry& e : db->catalog()) {
    if (e.kind != ObjectKind::UserTable && e.kind != ObjectKind::SystemTable) continue;
    auto t = db->tableAt(e.tdefPage(), e.name);
    TableCursor cur = db->scan(t);
    std::vector<Value> vals;
    while (cur.next()) {
      const RowId id = cur.rowId();
      Database::RowBytes rb = db->rowBytes(id.page, id.row);
      if (rb.slotFlags & kRowOverflow) continue;
      const uint8_t* p = rb.data();
      const uint32_t cc = db->isJet4() ? (p[0] | p[1] << 8) : p[0];
      if (cc != t->maxColumns) continue;
      cur.readRow(vals);
      std::vector<EncodedField> fields(t->columns.size());
      for (size_t i = 0; i < t->columns.size(); ++i) {
        const ColumnDef& c = t->columns[i];
        if (c.isLongValue()) {
          const uint8_t* d;
          size_t n;
          if ((fields[i].present = cur.storedField(i, d, n))) fields[i].bytes.assign(d, d + n);
          continue;
        }
        fields[i] = encodeField(*db, c, vals[i]);
        // Text stored uncompressed although compression would be shorter is rebuilt as stored
        // (the choice is the writer's), so that the rest of the row is still compared.
        if (c.type == ColType::Text && fields[i].present && !c.fixed) {
          const uint8_t* d;
          size_t n;
          if (cur.storedField(i, d, n) && Bytes(d, d + n) != fields[i].bytes &&
              db->decodeText(d, n) == *vals[i].get<std::u16string>())
            fields[i].bytes.assign(d, d + n);
        }
      }
      if (hasDeletedColumns(*t, p, rb.size(), db->isJet4())) continue;
      Bytes row = assembleRow(*db, *t, fields);
      Bytes stored(rb.data(), rb.data() + rb.size());
      // Access leaves in the fixed area whatever a Null (or deleted) column held; we write
      // zeros there. Those bytes mean nothing, so they are not compared.
      blankUnusedFixedBytes(*t, fields, stored, db->isJet4());
      blankUnusedFixedBytes(*t, fields, row, db->isJet4());
      dropJet4Slack(stored, db->isJet4());
      ++out.rows;
      if (row == stored) {
        ++out.same;
      } else if (out.diffs.size() < 5) {
        out.diffs.push_back(toUtf8(e.name) + " row " + std::to_string(id.page) + ":" + std::to_string(id.row) +
                            "\n stored:  " + hex(stored) + "\n rebuilt: " + hex(row));
      }
    }
  }
  return out;
}

TEST(RowEncode, AccessMadeRowsAreRebuiltByteForByte) {
  size_t files = 0, rows = 0;
  for (const char* sub : {"jet3", "jet4"}) {
    for (const std::string& f : test::fixtureFiles(sub)) {
      ++files;
      RebuildCount r = rebuildRows(f);
      rows += r.rows;
      EXPECT_EQ(r.same, r.rows) << f;
      for (const auto& d : r.diffs) ADD_FAILURE() << f << ": " << d;
    }
  }
  if (files == 0) GTEST_SKIP() << "fixtures absent: " << test::fixturesDir();
  EXPECT_GT(rows, 1000u);
}

// Random rows of a table, put on a fresh data page of the table, read back by seeking.
// Returns how many rows were longer than 256 bytes.
size_t roundTrip(const std::string& fixture, const std::u16string& table, uint32_t seed, int count,
                 double longText = 0.2) {
  if (!std::filesystem::exists(fixture)) {
    ADD_FAILURE() << "fixture absent: " << fixture;
    return 0;
  }
  test::TempCopy copy(fixture);
  auto db = Database::open(copy.path(), OpenMode::ReadWrite);
  auto t = db->table(table);
  test::RandomValues gen(seed, *db);
  gen.longTextChance = longText;
  WriteUnit unit(*db);
  LongValueWriter lv(unit, *t);
  uint32_t page = unit.allocate();
  initDataPage(unit.modify(page), unit.pageSize(), unit.jet4(), t->tdefPage);
  TableCursor cur = db->scan(t);
  std::vector<Value> back;
  size_t longRows = 0;
  for (int n = 0; n < count; ++n) {
    std::vector<Value> vals = gen.row(*t, /*longValuesInRow=*/true);
    std::vector<EncodedField> fields(t->columns.size());
    for (size_t i = 0; i < t->columns.size(); ++i) {
      const ColumnDef& c = t->columns[i];
      if (!c.isLongValue()) {
        fields[i] = encodeField(*db, c, vals[i]);
      } else if (!vals[i].isNull()) {
        const Bytes data = c.type == ColType::Memo
                               ? encodeText(*db, c, *vals[i].get<std::u16string>(), c.compressedUnicode)
                               : *vals[i].get<Bytes>();
        fields[i] = {true, lv.write(c, data, /*inRow=*/true)};
      }
    }
    const Bytes row = assembleRow(*db, *t, fields);
    if (row.size() > 256) ++longRows;
    if (!DataPageEditor(unit.modify(page), unit.pageSize(), unit.jet4(), page).canInsert(row.size())) {
      page = unit.allocate();
      initDataPage(unit.modify(page), unit.pageSize(), unit.jet4(), t->tdefPage);
    }
    const int slot = DataPageEditor(unit.modify(page), unit.pageSize(), unit.jet4(), page).insert(row, 0);
    if (!cur.seek(RowId{page, static_cast<uint8_t>(slot)})) {
      ADD_FAILURE() << "the row just written cannot be found";
      return longRows;
    }
    cur.readRow(back);
    for (size_t i = 0; i < vals.size(); ++i) {
      EXPECT_EQ(back[i], vals[i]) << toUtf8(t->name) << "." << toUtf8(t->columns[i].name) << " row " << n;
      if (back[i] != vals[i]) return longRows;
    }
  }
  return longRows;
}

bool haveFixtures() { return std::filesystem::exists(test::fixturesDir() + "/jet4/testV2000.mdb"); }

TEST(RowEncode, RandomRowsOfEveryTypeReadBackJet4) {
  if (!haveFixtures()) GTEST_SKIP() << "fixtures absent: " << test::fixturesDir();
  roundTrip(test::fixturesDir() + "/generated/wide_jet4.mdb", u"Wide", 1, 400);
  roundTrip(test::fixturesDir() + "/jet4/testV2000.mdb", u"Table1", 2, 300);
  roundTrip(test::fixturesDir() + "/jet4/fixedTextTestV2000.mdb", u"users", 3, 300);
  roundTrip(test::fixturesDir() + "/jet4/fixedNumericTestV2000.mdb", u"test", 6, 300);
}
TEST(RowEncode, RandomRowsWithJumpTablesReadBackJet3) {
  if (!haveFixtures()) GTEST_SKIP() << "fixtures absent: " << test::fixturesDir();
  EXPECT_GT(roundTrip(test::fixturesDir() + "/jet3/test2V1997.mdb", u"MSP_PROJECTS", 4, 400, 0.8), 100u)
      << "too few rows long enough for a jump table";
  roundTrip(test::fixturesDir() + "/jet3/testV1997.mdb", u"Table1", 5, 300);
}

class EncodeErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string j4 = test::fixturesDir() + "/jet4/testV2000.mdb";
    const std::string j3 = test::fixturesDir() + "/jet3/testV1997.mdb";
    if (!std::filesystem::exists(j4) || !std::filesystem::exists(j3)) GTEST_SKIP() << "fixtures absent";
    db4 = Database::open(j4);
    db3 = Database::open(j3);
  }
  static int errorOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const JetError& e) {
      return e.number();
    }
    return 0;
  }
  std::unique_ptr<Database> db4, db3;
};

TEST_F(EncodeErrors, ValuesTheColumnCannotHoldAreRefused) {
  auto t = db4->table(u"Table1");
  const ColumnDef& a = t->columns[t->findColumn(u"A")];  // Text(50)
  const ColumnDef& e = t->columns[t->findColumn(u"E")];  // Long
  EXPECT_EQ(errorOf([&] { encodeField(*db4, a, Value(std::u16string(51, u'x'))); }), kErrFieldTooSmall);
  EXPECT_EQ(errorOf([&] { encodeField(*db4, a, Value(std::u16string(50, u'x'))); }), 0);
  EXPECT_EQ(errorOf([&] { encodeField(*db4, e, Value(u"12")); }), kErrConversion);
  EXPECT_EQ(errorOf([&] { encodeField(*db4, a, Value(int32_t{12})); }), kErrConversion);
  // Jet 3 text is stored in the code page: a character it lacks cannot be written.
  auto t3 = db3->table(u"Table1");
  const ColumnDef& a3 = t3->columns[t3->findColumn(u"A")];
  EXPECT_EQ(errorOf([&] { encodeField(*db3, a3, Value(u"caf\u00e9 \u20ac")); }), 0);
  EXPECT_EQ(errorOf([&] { encodeField(*db3, a3, Value(u"\u4e00")); }), kErrConversion);
}

TEST_F(EncodeErrors, ARowLargerThanAPageIsRefused) {
  auto t = db4->table(u"Table2");  // 89 Text(50) columns
  std::vector<EncodedField> fields(t->columns.size());
  for (size_t i = 0; i < fields.size(); ++i) fields[i] = encodeField(*db4, t->columns[i], Value(std::u16string(50, u'\u4e00')));
  EXPECT_EQ(errorOf([&] { assembleRow(*db4, *t, fields); }), kErrRecordTooLarge);
}

TEST_F(EncodeErrors, Jet4TextIsCompressedOnlyWhenAllowedAndShorter) {
  auto t = db4->table(u"Table1");
  const ColumnDef& a = t->columns[t->findColumn(u"A")];  // compression allowed
  const ColumnDef& b = t->columns[t->findColumn(u"B")];  // not allowed
  EXPECT_EQ(encodeText(*db4, a, u"abc", true), (Bytes{0xFF, 0xFE, 'a', 'b', 'c'}));
  EXPECT_EQ(encodeText(*db4, a, u"ab", true), (Bytes{'a', 0, 'b', 0}));  // not shorter
  EXPECT_EQ(encodeText(*db4, b, u"abc", false), (Bytes{'a', 0, 'b', 0, 'c', 0}));
  EXPECT_EQ(encodeText(*db4, a, u"ab\u0100", true), (Bytes{'a', 0, 'b', 0, 0x00, 0x01}));
  // A leading U+FEFF must not read back as the compression mark.
  const Bytes bom = encodeText(*db4, b, u"\ufeffab", false);
  EXPECT_EQ(db4->decodeText(bom.data(), bom.size()), u"\ufeffab");
}

}  // namespace
}  // namespace bv::storage
