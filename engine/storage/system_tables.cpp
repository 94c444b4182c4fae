#include "engine/storage/system_tables.h"

namespace bv::storage {

namespace {

// Descriptor flag bits Jet sets on the columns of system tables.
constexpr uint8_t kSysCol = 0x10, kSysOwnerCol = 0x30;

ColumnDesign col(const char16_t* name, ColType type, uint8_t extra = kSysCol) {
  ColumnDesign c;
  c.name = name;
  c.type = type;
  c.size = 255;
  c.extraFlags = extra;
  return c;
}

IndexDesign index(const char16_t* name, std::vector<const char16_t*> columns) {
  IndexDesign s;
  s.name = name;
  for (const char16_t* c : columns) s.columns.push_back({c, true});
  return s;
}

Bytes sid(uint8_t a, uint8_t b) { return Bytes{a, b}; }

// The security identifiers the access-control entries of a new database name: the
// administrators, the users and the engine's own account, each version its own.
struct Sids {
  Bytes admins, users, engine;
};
Sids sidsFor(bool jet4) {
  if (jet4) return {sid(0x07, 0xE8), sid(0x06, 0xED), sid(0x06, 0xE8)};
  return {sid(0x03, 0x01), sid(0x02, 0x04), sid(0x02, 0x01)};
}

}  // namespace

Bytes systemOwner(bool jet4) { return jet4 ? sid(0x06, 0xEA) : sid(0x02, 0x03); }
Bytes userOwner(bool jet4) { return sidsFor(jet4).admins; }

std::vector<TableDesign> systemTableDesigns(bool jet4) {
  std::vector<TableDesign> out;

  TableDesign objects;
  objects.name = u"MSysObjects";
  objects.system = true;
  objects.columns = {col(u"Id", ColType::Long),          col(u"ParentId", ColType::Long),
                     col(u"Name", ColType::Text),        col(u"Type", ColType::Integer),
                     col(u"DateCreate", ColType::DateTime), col(u"DateUpdate", ColType::DateTime),
                     col(u"Owner", ColType::Binary, kSysOwnerCol), col(u"Flags", ColType::Long),
                     col(u"Database", ColType::Memo),    col(u"Connect", ColType::Memo),
                     col(u"ForeignName", ColType::Text), col(u"RmtInfoShort", ColType::Binary),
                     col(u"RmtInfoLong", ColType::OLE),  col(u"Lv", ColType::OLE),
                     col(u"LvProp", ColType::OLE),       col(u"LvModule", ColType::OLE),
                     col(u"LvExtra", ColType::OLE)};
  IndexDesign parentName = index(u"ParentIdName", {u"ParentId", u"Name"});
  parentName.unique = true;
  IndexDesign id = index(u"Id", {u"Id"});
  id.primaryKey = true;
  objects.indexes = {parentName, id};
  out.push_back(std::move(objects));

  TableDesign aces;
  aces.name = u"MSysACEs";
  aces.system = true;
  aces.columns = {col(u"ObjectId", ColType::Long), col(u"SID", ColType::Binary, kSysOwnerCol),
                  col(u"ACM", ColType::Long), col(u"FInheritable", ColType::Bool)};
  IndexDesign objectId = index(u"ObjectId", {u"ObjectId"});
  objectId.required = true;
  aces.indexes = {objectId};
  out.push_back(std::move(aces));

  TableDesign queries;
  queries.name = u"MSysQueries";
  queries.system = true;
  queries.columns = {col(u"ObjectId", ColType::Long), col(u"Attribute", ColType::Byte),
                     col(u"Order", ColType::Binary),  col(u"Name1", ColType::Text),
                     col(u"Name2", ColType::Text),    col(u"Expression", ColType::Memo),
                     col(u"Flag", ColType::Integer)};
  if (jet4) queries.columns.push_back(col(u"LvExtra", ColType::Long));
  IndexDesign objAttr = index(u"ObjectIdAttribute", {u"ObjectId", u"Attribute", u"Order"});
  objAttr.primaryKey = true;
  queries.indexes = {objAttr};
  out.push_back(std::move(queries));

  TableDesign rels;
  rels.name = u"MSysRelationships";
  rels.system = true;
  rels.columns = {col(u"szRelationship", ColType::Text), col(u"grbit", ColType::Long),
                  col(u"ccolumn", ColType::Long),        col(u"icolumn", ColType::Long),
                  col(u"szObject", ColType::Text),       col(u"szColumn", ColType::Text),
                  col(u"szReferencedObject", ColType::Text), col(u"szReferencedColumn", ColType::Text)};
  for (const char16_t* n : {u"szRelationship", u"szObject", u"szReferencedObject"}) {
    IndexDesign s = index(n, {n});
    s.ignoreNulls = true;
    rels.indexes.push_back(s);
  }
  out.push_back(std::move(rels));
  return out;
}

std::vector<Value> catalogRow(int32_t id, int32_t parentId, const std::u16string& name, int16_t type,
                              int32_t flags, double created, const Bytes& owner) {
  std::vector<Value> row(kObjColumnCount);
  row[kObjId] = Value(id);
  row[kObjParentId] = Value(parentId);
  row[kObjName] = Value(name);
  row[kObjType] = Value(type);
  row[kObjDateCreate] = Value(DateTime{created});
  row[kObjDateUpdate] = Value(DateTime{created});
  row[kObjOwner] = Value(owner);
  row[kObjFlags] = Value(flags);
  return row;
}

std::vector<std::vector<Value>> initialCatalogRows(bool jet4, double created) {
  const Bytes sys = systemOwner(jet4);
  std::vector<std::vector<Value>> rows;
  rows.push_back(catalogRow(kTablesContainerId, kContainersParentId, u"Tables", kObjContainer,
                            kSystemObjectFlag, created, sys));
  rows.push_back(catalogRow(kDatabasesContainerId, kContainersParentId, u"Databases", kObjContainer,
                            kSystemObjectFlag, created, sys));
  rows.push_back(catalogRow(kRelationshipsContainerId, kContainersParentId, u"Relationships", kObjContainer,
                            kSystemObjectFlag, created, sys));
  rows.push_back(catalogRow(kDatabaseObjectId, kDatabasesContainerId, u"MSysDb", kObjDatabase,
                            kSystemObjectFlag, created, userOwner(jet4)));
  int32_t page = 2;
  for (const TableDesign& t : systemTableDesigns(jet4))
    rows.push_back(catalogRow(page++, kTablesContainerId, t.name, kObjTable, kSystemObjectFlag, created, sys));
  return rows;
}

std::vector<std::vector<Value>> initialAccessRows(bool jet4) {
  const Sids s = sidsFor(jet4);
  struct Ace {
    int32_t object;
    const Bytes* sid;
    int32_t acm;
    bool inheritable;
  };
  // Rights (ACM bit masks) as Jet grants them on a new database's objects.
  const Ace aces[] = {
      {2, &s.admins, 393216, false},
      {3, &s.admins, 393216, false},
      {4, &s.admins, 393216, false},
      {5, &s.admins, 917504, false},
      {kTablesContainerId, &s.users, 983294, true},
      {kTablesContainerId, &s.admins, jet4 ? 393217 : 1048319, !jet4},
      {kRelationshipsContainerId, &s.users, 983294, true},
      {kRelationshipsContainerId, &s.admins, 393217, false},
      {kDatabasesContainerId, &s.admins, 393216, false},
      {kDatabaseObjectId, &s.admins, 393230, false},
      {kDatabaseObjectId, &s.engine, 14, false},
      {4, &s.engine, 20, false},
      {5, &s.engine, 20, false},
      {2, &s.engine, 20, false},
      {kTablesContainerId, &s.engine, 1048319, true},
      {kRelationshipsContainerId, &s.engine, 1048575, true},
  };
  std::vector<std::vector<Value>> rows;
  for (const Ace& a : aces)
    rows.push_back({Value(a.object), Value(*a.sid), Value(a.acm), Value(a.inheritable)});
  return rows;
}

std::vector<std::vector<Value>> newTableAccessRows(bool jet4, int32_t tableId) {
  const Sids s = sidsFor(jet4);
  return {{Value(tableId), Value(s.admins), Value(int32_t{1048319}), Value(false)},
          {Value(tableId), Value(s.engine), Value(int32_t{1048319}), Value(false)}};
}

}  // namespace bv::storage
