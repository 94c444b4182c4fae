// Table and column properties (LvProp) and the rules built from them.
#include <gtest/gtest.h>

#include "action_test_util.h"
#include "engine/sql/rules_table.h"
#include "engine/storage/properties.h"

namespace {

using bv::Value;
using bv::sql::TableRules;
using bv::storage::Database;
using bv::test::fixture;
using bv::test::jetErrorOf;

const std::string kJet4 = fixture("jet4/testV2000.mdb");
const std::string kJet3 = fixture("jet3/testV1997.mdb");
const std::string kRequired = fixture("jet4/fixedTextTestV2000.mdb");

bool boolOf(const bv::storage::PropertyBlock* b, std::u16string_view name) {
  const auto* p = b ? b->find(name) : nullptr;
  return p && p->value == Value(true);
}

TEST(Properties, AccessMadeValuesReadBackInBothVersions) {
  NEED_FIXTURE(kJet4);
  NEED_FIXTURE(kJet3);
  NEED_FIXTURE(kRequired);
  for (const std::string& path : {kJet4, kJet3}) {
    auto db = Database::open(path);
    auto t = db->table(u"Table1");
    auto props = bv::storage::readTableProperties(*db, t->tdefPage);
    ASSERT_NE(props.column(u"a"), nullptr) << path;  // names match without regard to case
    EXPECT_FALSE(boolOf(props.column(u"A"), u"AllowZeroLength")) << path;
    const auto* def = props.column(u"C")->find(u"DefaultValue");
    ASSERT_NE(def, nullptr) << path;
    EXPECT_EQ(def->value, Value(u"0")) << path;
    EXPECT_NE(props.object(), nullptr) << path;
  }
  auto db = Database::open(kRequired);
  auto props = bv::storage::readTableProperties(*db, db->table(u"users")->tdefPage);
  for (const auto& c : db->table(u"users")->columns)
    EXPECT_TRUE(boolOf(props.column(c.name), u"Required")) << bv::storage::toUtf8(c.name);
}

TEST(Properties, EveryFixtureTableParses) {
  int tables = 0;
  for (const char* sub : {"jet3", "jet4"}) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(fixture(sub), ec)) {
      auto db = Database::open(e.path().string());
      for (const auto& name : db->userTableNames()) {
        EXPECT_NO_THROW(bv::storage::readTableProperties(*db, db->table(name)->tdefPage)) << e.path();
        EXPECT_NO_THROW(bv::sql::readTableRules(*db, *db->table(name))) << e.path();
        ++tables;
      }
    }
  }
  if (tables == 0) GTEST_SKIP() << "fixtures absent";
}

TEST(Properties, ContradictoryBlobsAreDamageNotCrashes) {
  NEED_FIXTURE(kJet4);
  auto db = Database::open(kJet4);
  auto good = bv::test::lvPropBlob({{u"", {bv::test::textProp(u"ValidationRule", u"[E]>0")}}});
  EXPECT_NO_THROW(bv::storage::parseProperties(*db, good));
  auto cut = good;
  cut.resize(cut.size() - 3);  // the last chunk claims more than there is
  EXPECT_EQ(jetErrorOf([&] { bv::storage::parseProperties(*db, cut); }), 3049);
  auto badIndex = good;
  badIndex[badIndex.size() - 2 * 5 - 4] = 9;  // the entry's name position, past the names
  EXPECT_EQ(jetErrorOf([&] { bv::storage::parseProperties(*db, badIndex); }), 3049);
  EXPECT_EQ(jetErrorOf([&] { bv::storage::parseProperties(*db, {'X', 'Y', 'Z', 0, 1, 2}); }), 3049);
  EXPECT_TRUE(bv::storage::parseProperties(*db, {}).blocks.empty());
}

// Table1 of testV2000: A Text(50) (AllowZeroLength No, primary key), B Text(100), C Byte,
// D Integer, E Long, F Double, G Date/Time, H Currency, I Yes/No; C-F and H default to 0.
class TableRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kJet4)) GTEST_SKIP() << "fixture absent: " << kJet4;
    db_ = Database::open(kJet4);
    table_ = db_->table(u"Table1");
  }
  TableRules rulesWith(const std::vector<std::pair<std::u16string, std::vector<bv::test::PropValue>>>& blocks) {
    return TableRules(*table_, bv::storage::parseProperties(*db_, bv::test::lvPropBlob(blocks)), true);
  }
  std::vector<Value> row(std::u16string a, int32_t e) {
    std::vector<Value> r(table_->columns.size());
    r[static_cast<size_t>(table_->findColumn(u"A"))] = Value(std::move(a));
    r[static_cast<size_t>(table_->findColumn(u"E"))] = Value(e);
    return r;
  }
  size_t col(std::u16string_view n) const { return static_cast<size_t>(table_->findColumn(n)); }
  std::unique_ptr<Database> db_;
  std::shared_ptr<const bv::storage::TableDef> table_;
};

TEST_F(TableRulesTest, TheFixturesOwnRules) {
  TableRules rules = bv::sql::readTableRules(*db_, *table_);
  EXPECT_EQ(jetErrorOf([&] { rules.check(row(u"", 1)); }), 3315);
  EXPECT_EQ(jetErrorOf([&] { rules.check(row(u"x", 1)); }), 0);
  // An UPDATE that leaves A alone does not answer for it.
  std::vector<bool> changed(table_->columns.size(), false);
  changed[col(u"E")] = true;
  EXPECT_EQ(jetErrorOf([&] { rules.check(row(u"", 1), &changed); }), 0);
  auto d = rules.defaults();
  EXPECT_EQ(d[col(u"C")], Value(uint8_t{0}));
  EXPECT_EQ(d[col(u"D")], Value(int16_t{0}));
  EXPECT_EQ(d[col(u"H")], Value(bv::Currency{0}));
  EXPECT_TRUE(d[col(u"A")].isNull());
  EXPECT_TRUE(d[col(u"G")].isNull());
}

TEST_F(TableRulesTest, RequiredRefusesNullInEveryWrite) {
  auto rules = rulesWith({{u"B", {bv::test::boolProp(u"Required", true)}}});
  EXPECT_EQ(jetErrorOf([&] { rules.check(row(u"x", 1)); }), 3314);
  std::vector<bool> changed(table_->columns.size(), false);
  EXPECT_EQ(jetErrorOf([&] { rules.check(row(u"x", 1), &changed); }), 3314);
  auto r = row(u"x", 1);
  r[col(u"B")] = Value(u"");
  EXPECT_EQ(jetErrorOf([&] { rules.check(r); }), 0) << "zero-length text is not Null";
}

TEST_F(TableRulesTest, ColumnValidationRulesAndTheirText) {
  auto rules = rulesWith({{u"E", {bv::test::textProp(u"ValidationRule", u">0")}},
                          {u"D", {bv::test::textProp(u"ValidationRule", u"Between 1 And 9"),
                                  bv::test::textProp(u"ValidationText", u"D must be a digit")}},
                          {u"B", {bv::test::textProp(u"ValidationRule", u"Like \"b*\" Or Is Null")}}});
  EXPECT_EQ(jetErrorOf([&] { rules.check(row(u"x", 5)); }), 0) << "Null D and B pass: the rule gives Null";
  EXPECT_EQ(jetErrorOf([&] { rules.check(row(u"x", 0)); }), 3317);
  auto r = row(u"x", 5);
  r[col(u"D")] = Value(int16_t{12});
  try {
    rules.check(r);
    FAIL() << "12 passed Between 1 And 9";
  } catch (const bv::JetError& e) {
    EXPECT_EQ(e.number(), 3317);
    EXPECT_STREQ(e.what(), "D must be a digit");
  }
  r[col(u"D")] = Value(int16_t{3});
  r[col(u"B")] = Value(u"apple");
  EXPECT_EQ(jetErrorOf([&] { rules.check(r); }), 3317);
  r[col(u"B")] = Value(u"Banana");
  EXPECT_EQ(jetErrorOf([&] { rules.check(r); }), 0);
}

TEST_F(TableRulesTest, TableValidationRuleSeesTheWholeRow) {
  auto rules = rulesWith({{u"", {bv::test::textProp(u"ValidationRule", u"[E] < [D] Or [D] Is Null")}}});
  auto r = row(u"x", 5);
  EXPECT_EQ(jetErrorOf([&] { rules.check(r); }), 0);
  r[col(u"D")] = Value(int16_t{9});
  EXPECT_EQ(jetErrorOf([&] { rules.check(r); }), 0);
  r[col(u"D")] = Value(int16_t{2});
  EXPECT_EQ(jetErrorOf([&] { rules.check(r); }), 3316);
}

TEST_F(TableRulesTest, DefaultsAreEvaluatedAndConverted) {
  auto rules = rulesWith({{u"B", {bv::test::textProp(u"DefaultValue", u"=\"n\" & \"/a\"")}},
                          {u"E", {bv::test::textProp(u"DefaultValue", u"6*7")}},
                          {u"G", {bv::test::textProp(u"DefaultValue", u"#2001-02-03#")}},
                          {u"C", {bv::test::textProp(u"DefaultValue", u"300")}}});
  EXPECT_NE(jetErrorOf([&] { rules.defaults(); }), 0) << "300 does not fit a Byte column";
  auto fine = rulesWith({{u"B", {bv::test::textProp(u"DefaultValue", u"=\"n\" & \"/a\"")}},
                         {u"E", {bv::test::textProp(u"DefaultValue", u"6*7")}},
                         {u"G", {bv::test::textProp(u"DefaultValue", u"#2001-02-03#")}}});
  auto d = fine.defaults();
  EXPECT_EQ(d[col(u"B")], Value(u"n/a"));
  EXPECT_EQ(d[col(u"E")], Value(int32_t{42}));
  ASSERT_NE(d[col(u"G")].get<bv::DateTime>(), nullptr);
  EXPECT_DOUBLE_EQ(d[col(u"G")].as<bv::DateTime>().days, 36925.0);
}

}  // namespace
