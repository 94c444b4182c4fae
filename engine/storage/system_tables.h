// The system tables every new database has (MSysObjects, MSysACEs, MSysQueries,
// MSysRelationships) and the rows it starts with: the containers, the database object,
// the four tables themselves and the access-control entries Jet gives them.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/storage/table_design.h"
#include "engine/storage/value.h"

namespace bv::storage {

// Object ids of the catalog's fixed objects.
inline constexpr int32_t kTablesContainerId = 0x0F000001;
inline constexpr int32_t kDatabasesContainerId = 0x0F000002;
inline constexpr int32_t kRelationshipsContainerId = 0x0F000003;
inline constexpr int32_t kContainersParentId = 0x0F000000;
inline constexpr int32_t kDatabaseObjectId = 0x10000000;
inline constexpr int32_t kSystemObjectFlag = static_cast<int32_t>(0x80000000u);

// MSysObjects.Type values.
inline constexpr int16_t kObjTable = 1, kObjDatabase = 2, kObjContainer = 3, kObjRelationship = 8;

// MSysObjects column positions (column numbers).
enum MSysObjectsColumn : size_t {
  kObjId, kObjParentId, kObjName, kObjType, kObjDateCreate, kObjDateUpdate, kObjOwner, kObjFlags,
  kObjDatabase_, kObjConnect, kObjForeignName, kObjRmtInfoShort, kObjRmtInfoLong, kObjLv,
  kObjLvProp, kObjLvModule, kObjLvExtra, kObjColumnCount
};

// The four tables in the order their TDEFs take pages 2, 3, 4, 5.
std::vector<TableDesign> systemTableDesigns(bool jet4);

// The owner stored in MSysObjects.Owner of objects the engine creates.
Bytes systemOwner(bool jet4);
// The owner of objects made on behalf of the default user (the database object, tables
// made by statements).
Bytes userOwner(bool jet4);

// A row of MSysObjects (every column, in column order) for an object.
std::vector<Value> catalogRow(int32_t id, int32_t parentId, const std::u16string& name, int16_t type,
                              int32_t flags, double created, const Bytes& owner);

// The rows MSysObjects and MSysACEs start with in a new database created at `created`.
std::vector<std::vector<Value>> initialCatalogRows(bool jet4, double created);
std::vector<std::vector<Value>> initialAccessRows(bool jet4);
// The access-control entries of a table made by a statement (full rights for the
// administrators and the engine's account, as Jet grants its creator).
std::vector<std::vector<Value>> newTableAccessRows(bool jet4, int32_t tableId);

}  // namespace bv::storage
