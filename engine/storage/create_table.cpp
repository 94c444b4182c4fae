#include "engine/storage/create_table.h"

#include <algorithm>

#include "engine/storage/create_database.h"
#include "engine/storage/error.h"
#include "engine/storage/index_page.h"
#include "engine/storage/page_build.h"
#include "engine/storage/property_encode.h"
#include "engine/storage/table_writer.h"
#include "engine/storage/system_tables.h"
#include "engine/storage/tdef_encode.h"
#include "engine/storage/write_unit.h"

namespace bv::storage {

void checkObjectName(const std::u16string& name) {
  bool ok = !name.empty() && name.size() <= 64 && name[0] != u' ';
  for (char16_t c : name) ok = ok && c >= 0x20 && c != u'.' && c != u'!' && c != u'`' && c != u'[' && c != u']';
  if (!ok) throw JetError(3125, "'" + toUtf8(name) + "' is not a valid name.");
}

uint32_t createTable(WriteUnit& unit, const TableDesign& design, double created) {
  Database& db = unit.db();
  const bool jet4 = db.isJet4();
  checkObjectName(design.name);
  for (const ColumnDesign& c : design.columns) checkObjectName(c.name);
  for (const IndexDesign& i : design.indexes) checkObjectName(i.name);
  if (const CatalogEntry* e = db.findObject(design.name); e && e->kind != ObjectKind::Other)
    throw JetError(3010, "Table '" + toUtf8(design.name) + "' already exists.");
  TableDef def = layoutTable(design, jet4);
  const size_t tdefLength = encodeTableDef(def, jet4).size();  // pointers do not change it

  std::vector<uint32_t> tdefPages;
  for (uint32_t i = 0; i < tdefPagesNeeded(tdefLength, db.pageSize()); ++i) tdefPages.push_back(unit.allocate());
  const uint32_t tdef = tdefPages.front();
  def.tdefPage = tdef;

  size_t mapCount = 2 + def.realIndexes.size();
  for (const ColumnDef& c : def.columns) mapCount += c.isLongValue() ? 2 : 0;
  const size_t perPage = ((jet4 ? 4096 : 2048) - (jet4 ? 14 : 10)) / (5 + inlineMapBitmapBytes(jet4) + 2);
  std::vector<uint32_t> mapsPages;
  for (size_t i = 0; i * perPage < mapCount; ++i) mapsPages.push_back(unit.allocate());
  for (RealIndexDef& ri : def.realIndexes) ri.rootPage = unit.allocate();

  // Maps start at the file's current end: the pages the table gets next come from there.
  const uint32_t base = unit.pageCount() - unit.pageCount() % 8;
  std::vector<std::vector<std::vector<uint8_t>>> maps(mapsPages.size());
  size_t made = 0;
  auto addMap = [&](uint32_t first, std::vector<uint32_t> listed) {
    const size_t page = made++ / perPage;
    maps[page].push_back(inlineUsageMap(first, listed, jet4));
    return RowPointer{mapsPages[page], static_cast<uint8_t>(maps[page].size() - 1)};
  };
  def.ownedMap = addMap(base, {});
  def.freeMap = addMap(base, {});
  for (ColumnDef& c : def.columns) {
    if (!c.isLongValue()) continue;
    c.lvOwnedMap = addMap(base, {});
    c.lvFreeMap = addMap(base, {});
  }
  for (RealIndexDef& ri : def.realIndexes) {
    ri.usageMap = addMap(ri.rootPage, {ri.rootPage});
    IndexPage leaf;
    leaf.type = kIndexLeafPage;
    leaf.tdefPage = tdef;
    const std::vector<uint8_t> img = encodeIndexPage(leaf, jet4, 0);
    std::copy(img.begin(), img.end(), unit.modify(ri.rootPage));
  }
  for (IndexDef& x : def.indexes) x.firstPage = def.realIndexes[static_cast<size_t>(x.realIndex)].rootPage;
  for (size_t i = 0; i < mapsPages.size(); ++i) {
    const std::vector<uint8_t> img = buildDataPage(0, maps[i], jet4);
    std::copy(img.begin(), img.end(), unit.modify(mapsPages[i]));
  }
  const std::vector<std::vector<uint8_t>> images = tdefPageImages(encodeTableDef(def, jet4), tdefPages, jet4);
  for (size_t i = 0; i < images.size(); ++i) std::copy(images[i].begin(), images[i].end(), unit.modify(tdefPages[i]));

  std::vector<Value> row =
      catalogRow(static_cast<int32_t>(tdef), kTablesContainerId, design.name, kObjTable,
                 design.system ? kSystemObjectFlag : 0, created != 0 ? created : currentDateTime(), userOwner(jet4));
  // Required and DefaultValue live in the catalog row's property list.
  ObjectProperties props;
  for (const ColumnDesign& c : design.columns) {
    PropertyBlock block;
    block.name = c.name;
    if (c.required) block.properties.push_back({u"Required", static_cast<uint8_t>(ColType::Bool), 0, Value(true)});
    if (!c.defaultValue.empty())
      block.properties.push_back({u"DefaultValue", static_cast<uint8_t>(ColType::Memo), 0, Value(c.defaultValue)});
    if (!block.properties.empty()) props.blocks.push_back(std::move(block));
  }
  if (!props.blocks.empty()) {
    props.blocks.insert(props.blocks.begin(), PropertyBlock{});
    row[kObjLvProp] = Value(encodeProperties(props, jet4));
  }
  TableWriter(unit, 2).insert(row);
  TableWriter aces(unit, u"MSysACEs");
  for (const std::vector<Value>& ace : newTableAccessRows(jet4, static_cast<int32_t>(tdef))) aces.insert(ace);
  db.catalogChanged();
  return tdef;
}

}  // namespace bv::storage
