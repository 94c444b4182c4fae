#include "engine/storage/column_properties.h"

#include <algorithm>
#include <functional>

#include "engine/storage/error.h"
#include "engine/storage/properties.h"
#include "engine/storage/property_encode.h"
#include "engine/storage/system_tables.h"
#include "engine/storage/table_writer.h"
#include "engine/storage/write_unit.h"

namespace bv::storage {

namespace {

// The catalog row of the table defined at `tdefPage`.
RowId catalogRowOf(const Database& db, uint32_t tdefPage) {
  auto sys = db.tableAt(2, u"MSysObjects");
  const int cId = sys->findColumn(u"Id");
  TableCursor cur = db.scan(sys);
  while (cur.next()) {
    const int32_t* n = cur.value(static_cast<size_t>(cId)).get<int32_t>();
    if (n && static_cast<uint32_t>(*n) == tdefPage) return cur.rowId();
  }
  throw JetError(3011, "The catalog has no row for the table defined at page " + std::to_string(tdefPage) + ".");
}

// Reads the table's property list, lets `change` edit it, and writes it back when `change`
// says it changed something.
void editProperties(WriteUnit& unit, uint32_t tdefPage, const std::function<bool(ObjectProperties&)>& change) {
  Database& db = unit.db();
  const RowId row = catalogRowOf(db, tdefPage);
  TableWriter catalog(unit, 2);
  std::vector<Value> values = catalog.read(row);
  ObjectProperties props;
  if (const Bytes* b = values[kObjLvProp].get<Bytes>()) props = parseProperties(db, *b);
  if (!change(props)) return;
  // A list without a block for the table itself starts with an empty one, as Access writes it.
  if (!props.blocks.empty() && !props.blocks.front().name.empty())
    props.blocks.insert(props.blocks.begin(), PropertyBlock{});
  const bool empty = std::all_of(props.blocks.begin(), props.blocks.end(),
                                 [](const PropertyBlock& b) { return b.properties.empty(); });
  values[kObjLvProp] = empty ? Value() : Value(encodeProperties(props, db.isJet4()));
  catalog.update(row, values);
}

void setProperty(PropertyBlock& block, Property p, bool keep) {
  auto it = std::find_if(block.properties.begin(), block.properties.end(),
                         [&](const Property& q) { return q.name == p.name; });
  if (it != block.properties.end()) block.properties.erase(it);
  if (keep) block.properties.push_back(std::move(p));
}

}  // namespace

void setColumnProperties(WriteUnit& unit, uint32_t tdefPage, const ColumnDesign& column) {
  editProperties(unit, tdefPage, [&](ObjectProperties& props) {
    auto it = std::find_if(props.blocks.begin(), props.blocks.end(),
                           [&](const PropertyBlock& b) { return !b.name.empty() && jetNameEquals(b.name, column.name); });
    if (it == props.blocks.end()) {
      props.blocks.push_back(PropertyBlock{column.name, {}});
      it = props.blocks.end() - 1;
    }
    setProperty(*it, {u"Required", static_cast<uint8_t>(ColType::Bool), 0, Value(true)}, column.required);
    setProperty(*it, {u"DefaultValue", static_cast<uint8_t>(ColType::Memo), 0, Value(column.defaultValue)},
                !column.defaultValue.empty());
    if (it->properties.empty()) props.blocks.erase(it);
    return true;
  });
}

void removeColumnProperties(WriteUnit& unit, uint32_t tdefPage, const std::u16string& column) {
  editProperties(unit, tdefPage, [&](ObjectProperties& props) {
    return std::erase_if(props.blocks,
                         [&](const PropertyBlock& b) { return !b.name.empty() && jetNameEquals(b.name, column); }) > 0;
  });
}

}  // namespace bv::storage
