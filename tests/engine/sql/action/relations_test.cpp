// Relationships as MSysRelationships records them, and the key lookups integrity uses.
#include <gtest/gtest.h>

#include "action_test_util.h"
#include "engine/sql/rules_relations.h"
#include "engine/storage/relationships.h"

namespace {

using bv::Value;
using bv::storage::Database;
using bv::test::fixture;

// Table1 (id, otherfk1, otherfk2, data, otherfk3) refers to Table2.id through otherfk1
// (cascading deletes) and to Table3.id through otherfk2 (cascading updates).
TEST(Relationships, ReadFromBothVersions) {
  for (const std::string path : {fixture("jet3/indexTestV1997.mdb"), fixture("jet4/indexTestV2003.mdb")}) {
    NEED_FIXTURE(path);
    auto db = Database::open(path);
    auto rels = bv::storage::readRelationships(*db);
    ASSERT_EQ(rels.size(), 2u) << path;
    for (const auto& r : rels) {
      EXPECT_EQ(r.table, u"Table1");
      ASSERT_EQ(r.columns.size(), 1u);
      EXPECT_EQ(r.referencedColumns[0], u"id");
      EXPECT_TRUE(r.enforced());
      if (r.referencedTable == u"Table2") {
        EXPECT_EQ(r.columns[0], u"otherfk1");
        EXPECT_TRUE(r.cascadeDeletes());
        EXPECT_FALSE(r.cascadeUpdates());
      } else {
        EXPECT_EQ(r.referencedTable, u"Table3");
        EXPECT_EQ(r.columns[0], u"otherfk2");
        EXPECT_TRUE(r.cascadeUpdates());
        EXPECT_FALSE(r.cascadeDeletes());
      }
    }
  }
}

TEST(Relationships, NoneWithoutRows) {
  const std::string path = fixture("jet4/testV2000.mdb");
  NEED_FIXTURE(path);
  auto db = Database::open(path);
  EXPECT_TRUE(bv::storage::readRelationships(*db).empty());
  EXPECT_TRUE(bv::sql::Integrity(*db).empty());
}

TEST(Integrity, LinksResolveToColumnsAndKeysFindTheirRows) {
  const std::string path = fixture("jet4/indexTestV2000.mdb");
  NEED_FIXTURE(path);
  auto db = Database::open(path);
  bv::sql::Integrity in(*db);
  auto t1 = db->table(u"Table1");
  const bv::sql::Link* toTable2 = nullptr;
  for (const auto& l : in.links())
    if (l.table == t1->tdefPage && l.referencedTable == db->table(u"Table2")->tdefPage) toTable2 = &l;
  ASSERT_NE(toTable2, nullptr);
  EXPECT_EQ(toTable2->columns, std::vector<int>{t1->findColumn(u"otherfk1")});
  // Rows of Table1: otherfk1 = 0, 1, 1, 2.
  const auto& rows = in.rows(t1->tdefPage, toTable2->columns);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows.at({Value(int32_t{1})}).size(), 2u);
  EXPECT_EQ(rows.count({Value(int32_t{7})}), 0u);
  // Keys compare as values do: an Integer 2 finds the Long 2.
  EXPECT_EQ(rows.count({Value(int16_t{2})}), 1u);
  // Added and removed rows keep the lookup in step.
  std::vector<Value> row(t1->columns.size());
  row[static_cast<size_t>(t1->findColumn(u"otherfk1"))] = Value(int32_t{7});
  in.rowAdded(t1->tdefPage, {99, 1}, row);
  EXPECT_EQ(in.rows(t1->tdefPage, toTable2->columns).count({Value(int32_t{7})}), 1u);
  in.rowRemoved(t1->tdefPage, {99, 1}, row);
  EXPECT_EQ(in.rows(t1->tdefPage, toTable2->columns).count({Value(int32_t{7})}), 0u);
  // A row with a Null in its key neither needs nor provides a related row.
  EXPECT_TRUE(bv::sql::Integrity::keyOf(std::vector<Value>(t1->columns.size()), toTable2->columns).empty());
}

}  // namespace
