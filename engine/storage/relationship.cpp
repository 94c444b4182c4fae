#include "engine/storage/relationship.h"

#include <algorithm>
#include <set>

#include "engine/storage/create_database.h"
#include "engine/storage/create_table.h"
#include "engine/storage/error.h"
#include "engine/storage/index_edit.h"
#include "engine/storage/key_encode.h"
#include "engine/storage/system_tables.h"
#include "engine/storage/table_writer.h"
#include "engine/storage/write_unit.h"

namespace bv::storage {

namespace {

// MSysRelationships.grbit bits.
constexpr int32_t kRelCascadeUpdate = 0x100, kRelCascadeDelete = 0x1000;

std::shared_ptr<const TableDef> userTable(const Database& db, const std::u16string& name) {
  const CatalogEntry* e = db.findObject(name);
  if (!e || e->kind != ObjectKind::UserTable) throw JetError(3371, "Cannot find the table '" + toUtf8(name) + "'.");
  return db.table(name);
}

std::vector<IndexColumn> resolve(const TableDef& t, const std::vector<std::u16string>& names) {
  std::vector<IndexColumn> out;
  for (const std::u16string& n : names) {
    const int pos = t.findColumn(n);
    if (pos < 0) throw JetError(3265, "The table '" + toUtf8(t.name) + "' has no column named '" + toUtf8(n) + "'.");
    out.push_back({t.columns[static_cast<size_t>(pos)].number, true});
  }
  return out;
}

// A name for the referenced end's index that the table does not use yet.
std::u16string referencedIndexName(const TableDef& t) {
  for (char16_t a = u'A';; ++a) {
    for (char16_t b = u'A'; b <= u'Z'; ++b) {
      std::u16string n = u".r";
      if (a > u'A') n.push_back(static_cast<char16_t>(a - 1));
      n.push_back(b);
      if (std::none_of(t.indexes.begin(), t.indexes.end(), [&](const IndexDef& d) { return jetNameEquals(d.name, n); }))
        return n;
    }
  }
}

}  // namespace

void addRelationship(WriteUnit& unit, const RelationshipDesign& design) {
  Database& db = unit.db();
  const bool jet4 = db.isJet4();
  const TableDef foreign = *userTable(db, design.table);
  const TableDef primary = *userTable(db, design.referencedTable);
  // A table may reference itself (an employee's manager is an employee): both ends are then
  // indexes of the one table.
  const bool self = foreign.tdefPage == primary.tdefPage;
  std::vector<std::u16string> refNames = design.referencedColumns;
  if (refNames.empty()) {
    for (const IndexDef& d : primary.indexes) {
      if (!d.primaryKey) continue;
      for (const IndexColumn& c : d.columns) refNames.push_back(primary.columns[static_cast<size_t>(primary.columnByNumber(c.columnNumber))].name);
    }
    if (refNames.empty())
      throw JetError(3373, "The table '" + toUtf8(primary.name) +
                               "' has no primary key: name the columns the relationship refers to.");
  }
  const std::vector<IndexColumn> fcols = resolve(foreign, design.columns);
  const std::vector<IndexColumn> pcols = resolve(primary, refNames);
  if (fcols.empty() || fcols.size() != pcols.size() || fcols.size() > 10)
    throw JetError(3368, "The relationship names " + std::to_string(fcols.size()) + " columns in '" +
                             toUtf8(foreign.name) + "' and " + std::to_string(pcols.size()) + " in '" +
                             toUtf8(primary.name) + "'.");
  const std::u16string name = design.name.empty() ? primary.name + foreign.name : design.name;
  checkObjectName(name);
  for (const CatalogEntry& e : db.catalog()) {
    if (e.parentId == kRelationshipsContainerId && jetNameEquals(e.name, name))
      throw JetError(3012, "The relationship '" + toUtf8(name) + "' already exists.");
  }

  // Every row of the referencing table must have its related row (Null keys excepted).
  {
    std::set<std::vector<uint8_t>> present;
    std::vector<KeyColumn> pk = keyColumns(pcols, primary);
    std::vector<Value> row;
    TableCursor pc = db.scan(primary);
    while (pc.next()) {
      pc.readRow(row);
      std::vector<Value> key;
      for (const IndexColumn& c : pcols) key.push_back(row[static_cast<size_t>(primary.columnByNumber(c.columnNumber))]);
      present.insert(encodeKey(pk, key, jet4));
    }
    TableCursor fc = db.scan(foreign);
    while (fc.next()) {
      fc.readRow(row);
      std::vector<Value> key;
      bool anyNull = false;
      for (const IndexColumn& c : fcols) {
        key.push_back(row[static_cast<size_t>(foreign.columnByNumber(c.columnNumber))]);
        anyNull = anyNull || key.back().isNull();
      }
      if (!anyNull && !present.count(encodeKey(pk, key, jet4)))
        throw JetError(3201, "A row of '" + toUtf8(foreign.name) + "' has no related row in '" + toUtf8(primary.name) + "'.");
    }
  }

  int nextPrimary = 0, nextForeign = 0;
  for (const IndexDef& d : primary.indexes) nextPrimary = std::max(nextPrimary, d.indexNumber + 1);
  for (const IndexDef& d : foreign.indexes) nextForeign = std::max(nextForeign, d.indexNumber + 1);
  // With one table, the referencing end is numbered after the referenced end added first.
  if (self) nextForeign = nextPrimary + 1;
  IndexDesign fk;
  fk.name = name;
  for (const std::u16string& c : design.columns) fk.columns.push_back({c, true});
  fk.foreignKey = true;
  fk.fkSide = 2;
  fk.fkOtherIndex = nextPrimary;
  fk.fkOtherTable = primary.tdefPage;
  fk.cascadeUpdate = design.cascadeUpdate;
  fk.cascadeDelete = design.cascadeDelete;
  IndexDesign pkEnd = fk;
  pkEnd.name = referencedIndexName(primary);
  pkEnd.columns.clear();
  for (const std::u16string& c : refNames) pkEnd.columns.push_back({c, true});
  pkEnd.fkSide = 1;
  pkEnd.fkOtherIndex = nextForeign;
  pkEnd.fkOtherTable = foreign.tdefPage;
  addIndex(unit, primary.name, pkEnd);
  addIndex(unit, foreign.name, fk);

  const int32_t grbit = (design.cascadeUpdate ? kRelCascadeUpdate : 0) | (design.cascadeDelete ? kRelCascadeDelete : 0);
  TableWriter rels(unit, u"MSysRelationships");
  for (size_t i = 0; i < fcols.size(); ++i) {
    std::vector<Value> r = {Value(name),
                            Value(grbit),
                            Value(static_cast<int32_t>(fcols.size())),
                            Value(static_cast<int32_t>(i)),
                            Value(foreign.name),
                            Value(foreign.columns[static_cast<size_t>(foreign.columnByNumber(fcols[i].columnNumber))].name),
                            Value(primary.name),
                            Value(primary.columns[static_cast<size_t>(primary.columnByNumber(pcols[i].columnNumber))].name)};
    rels.insert(r);
  }
  // The relationship's own object: ids of objects that are not tables count up from 0x80000000.
  int32_t id = static_cast<int32_t>(0x80000000u);
  for (const CatalogEntry& e : db.catalog())
    if (e.id < 0 && e.id >= id) id = e.id + 1;
  TableWriter(unit, 2).insert(catalogRow(id, kRelationshipsContainerId, name, kObjRelationship, 0,
                                         design.created != 0 ? design.created : currentDateTime(),
                                         userOwner(jet4)));
  db.catalogChanged();
}

}  // namespace bv::storage
