#include "engine/storage/drop_table.h"

#include <set>

#include "engine/storage/error.h"
#include "engine/storage/table_writer.h"
#include "engine/storage/system_tables.h"
#include "engine/storage/write_unit.h"

namespace bv::storage {

namespace {

// Rows of a system table whose column `col` holds `id`.
std::vector<RowId> rowsWithId(const Database& db, const TableDef& t, const char16_t* col, int32_t id) {
  std::vector<RowId> out;
  const int c = t.findColumn(col);
  TableCursor cur = db.scan(t);
  while (cur.next()) {
    const int32_t* v = cur.value(static_cast<size_t>(c)).get<int32_t>();
    if (v && *v == id) out.push_back(cur.rowId());
  }
  return out;
}

bool inRelationship(const Database& db, const std::u16string& name) {
  const CatalogEntry* e = db.findObject(u"MSysRelationships");
  if (!e) return false;
  auto rels = db.table(u"MSysRelationships");
  const int a = rels->findColumn(u"szObject"), b = rels->findColumn(u"szReferencedObject");
  TableCursor cur = db.scan(rels);
  while (cur.next()) {
    for (int c : {a, b}) {
      if (c < 0) continue;
      const std::u16string* s = cur.value(static_cast<size_t>(c)).get<std::u16string>();
      if (s && jetNameEquals(*s, name)) return true;
    }
  }
  return false;
}

}  // namespace

void dropTable(WriteUnit& unit, const std::u16string& name) {
  Database& db = unit.db();
  const CatalogEntry* e = db.findObject(name);
  if (!e || e->kind != ObjectKind::UserTable)
    throw JetError(3376, "Table '" + toUtf8(name) + "' does not exist.");
  const std::u16string tableName = e->name;
  if (inRelationship(db, tableName))
    throw JetError(3303, "The table '" + toUtf8(tableName) + "' is part of one or more relationships.");
  const int32_t id = e->id;
  const TableDef t = *db.tableAt(e->tdefPage(), tableName);

  // Every page the table owns, and the pages its usage maps sit on.
  std::set<uint32_t> pages(t.tdefPages.begin(), t.tdefPages.end());
  std::set<uint32_t> mapPages;
  auto collect = [&](RowPointer map) {
    if (map.isNull()) return;
    mapPages.insert(map.page);
    for (uint32_t p : db.usageMapPages(map)) pages.insert(p);
  };
  collect(t.ownedMap);
  collect(t.freeMap);
  for (const ColumnDef& c : t.columns) {
    collect(c.lvOwnedMap);
    collect(c.lvFreeMap);
  }
  for (const RealIndexDef& ri : t.realIndexes) {
    collect(ri.usageMap);
    pages.insert(ri.rootPage);
  }
  // A page of maps goes too when the table's maps are all it holds.
  size_t tableMaps = 0;
  auto count = [&](RowPointer m) { tableMaps += m.isNull() ? 0 : 1; };
  count(t.ownedMap);
  count(t.freeMap);
  for (const ColumnDef& c : t.columns) {
    count(c.lvOwnedMap);
    count(c.lvFreeMap);
  }
  for (const RealIndexDef& ri : t.realIndexes) count(ri.usageMap);
  for (uint32_t mp : mapPages) {
    const PageRef pr = db.page(mp);
    if (pr[0] == 0x01 && pr.u32(4) == 0 && mapPages.size() == 1 &&
        pr.u16(db.isJet4() ? 12 : 8) == tableMaps)
      pages.insert(mp);
  }

  const std::vector<RowId> aceRows = rowsWithId(db, *db.table(u"MSysACEs"), u"ObjectId", id);
  const std::vector<RowId> catalogRows = rowsWithId(db, *db.tableAt(2), u"Id", id);
  TableWriter aces(unit, u"MSysACEs");
  for (const RowId& r : aceRows) aces.remove(r);
  TableWriter catalog(unit, 2);
  for (const RowId& r : catalogRows) catalog.remove(r);
  for (uint32_t p : pages) {
    if (p > 1) unit.release(p);
  }
  db.catalogChanged();
}

}  // namespace bv::storage
