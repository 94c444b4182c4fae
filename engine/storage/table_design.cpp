#include "engine/storage/table_design.h"

#include <algorithm>

#include "engine/storage/error.h"

namespace bv::storage {

uint16_t fixedColumnSize(ColType type) {
  switch (type) {
    case ColType::Byte: return 1;
    case ColType::Integer: return 2;
    case ColType::Long: return 4;
    case ColType::Currency: return 8;
    case ColType::Single: return 4;
    case ColType::Double: return 8;
    case ColType::DateTime: return 8;
    case ColType::Guid: return 16;
    case ColType::Decimal: return 17;
    default: return 0;
  }
}

bool isFixedType(ColType type) {
  return type == ColType::Bool || fixedColumnSize(type) > 0;
}

namespace {

// Index flag bits as a real index stores them.
constexpr uint8_t kIdxUnique = 0x01, kIdxIgnoreNulls = 0x02, kIdxRequired = 0x08;

std::string utf8(const std::u16string& s) { return toUtf8(s); }

}  // namespace

TableDef layoutTable(const TableDesign& design, bool jet4) {
  if (design.columns.empty()) throw JetError(3264, "The table '" + utf8(design.name) + "' has no columns.");
  if (design.columns.size() > 255)
    throw JetError(3190, "The table '" + utf8(design.name) + "' would have more than 255 columns.");
  TableDef t;
  t.name = design.name;
  t.tableType = design.system ? 0x53 : 0x4E;
  t.autoNumber = design.lastAutoNumber;

  uint16_t fixedOffset = 0, varSlot = 0;
  size_t maxRow = 0;  // bytes every row needs for its fixed columns
  for (size_t i = 0; i < design.columns.size(); ++i) {
    const ColumnDesign& cs = design.columns[i];
    for (size_t j = 0; j < i; ++j) {
      if (jetNameEquals(design.columns[j].name, cs.name))
        throw JetError(3191, "The column '" + utf8(cs.name) + "' is defined more than once.");
    }
    ColumnDef c;
    c.name = cs.name;
    c.type = cs.type;
    c.number = static_cast<uint16_t>(i);
    c.fixed = isFixedType(cs.type);
    c.flags = static_cast<uint8_t>(kColUpdatable | (c.fixed ? kColFixed : 0) | cs.extraFlags);
    if (cs.autoNumber && cs.type == ColType::Long) {
      c.autoNumber = true;
      c.flags |= kColAutoNumber;
    } else if (cs.autoNumber && cs.type == ColType::Guid) {
      c.guidAutoNumber = true;
      c.flags |= kColGuidAutoNumber;
    }
    if (c.isText()) {
      c.sortOrder = 1033;
      c.codePage = jet4 ? 0 : 1252;
      c.compressedUnicode = jet4 && cs.compressedUnicode;
      c.extraFlags = c.compressedUnicode ? 0x01 : 0;
    }
    if (cs.type == ColType::Decimal) {
      c.precision = cs.precision;
      c.scale = cs.scale;
    }
    if (c.fixed) {
      c.length = cs.type == ColType::Bool ? 1 : fixedColumnSize(cs.type);
      // Yes/No lives in the null mask: offset 0, no bytes of the fixed area.
      c.fixedOffset = cs.type == ColType::Bool ? 0 : fixedOffset;
      fixedOffset = static_cast<uint16_t>(fixedOffset + fixedColumnSize(cs.type));
      // Fixed columns record how many variable columns precede them, as Access does.
      c.varSlot = varSlot;
      maxRow += fixedColumnSize(cs.type);
    } else {
      c.varSlot = varSlot++;
      if (cs.type == ColType::Text) {
        const uint16_t chars = cs.size == 0 ? 255 : cs.size;
        if (chars > 255)
          throw JetError(3047, "The column '" + utf8(cs.name) + "' is longer than 255 characters.");
        c.length = textLengthBytes(chars, jet4);
      } else if (cs.type == ColType::Binary) {
        const uint16_t limit = jet4 ? 510 : 255;
        c.length = cs.size == 0 ? 255 : cs.size;
        if (c.length > limit)
          throw JetError(3047, "The column '" + utf8(cs.name) + "' is longer than " + std::to_string(limit) +
                                   " bytes.");
      } else {
        c.length = 0;  // Memo / OLE: a 12-byte long-value header in the row
      }
    }
    t.columns.push_back(std::move(c));
  }
  t.maxColumns = static_cast<uint16_t>(t.columns.size());
  t.varSlots = varSlot;
  // Variable data is checked row by row when written; the fixed area and the offset table
  // and null mask around it are needed by every row, so they must fit a page.
  const size_t overhead = (jet4 ? 2 : 1) + (t.columns.size() + 7) / 8 + (jet4 ? 2 : 1) * (varSlot + 2);
  const size_t pageRoom = (jet4 ? 4096 - 14 - 2 : 2048 - 10 - 2);
  if (maxRow + overhead > pageRoom)
    throw JetError(3047, "The fixed-size columns of the table '" + utf8(design.name) + "' do not fit a page.");

  bool havePrimary = false;
  for (size_t i = 0; i < design.indexes.size(); ++i) {
    const IndexDesign& is = design.indexes[i];
    if (is.columns.empty() || is.columns.size() > 10)
      throw JetError(3264, "The index '" + utf8(is.name) + "' must name between 1 and 10 columns.");
    for (size_t j = 0; j < i; ++j) {
      if (jetNameEquals(design.indexes[j].name, is.name))
        throw JetError(3375, "The table '" + utf8(design.name) + "' already has an index named '" +
                                 utf8(is.name) + "'.");
    }
    if (is.primaryKey) {
      if (havePrimary) throw JetError(3283, "The table '" + utf8(design.name) + "' already has a primary key.");
      havePrimary = true;
    }
    std::vector<IndexColumn> columns;
    for (const IndexColumnDesign& ic : is.columns) {
      const int pos = t.findColumn(ic.column);
      if (pos < 0)
        throw JetError(3265, "The index '" + utf8(is.name) + "' names the column '" + utf8(ic.column) +
                                 "', which the table does not have.");
      const ColumnDef& col = t.columns[static_cast<size_t>(pos)];
      if (col.isLongValue() && jet4 == false)
        throw JetError(3367, "The column '" + utf8(col.name) + "' cannot be indexed.");
      if (col.type == ColType::OLE)
        throw JetError(3367, "The OLE Object column '" + utf8(col.name) + "' cannot be indexed.");
      columns.push_back({col.number, ic.ascending});
    }
    IndexDef d = logicalIndexOf(is, std::move(columns), jet4);
    d.indexNumber = static_cast<int>(i);
    const uint8_t flags = d.realFlags;
    // The referenced end of a relationship uses the B-tree of the index it points at.
    int shared = -1;
    if (is.foreignKey && is.fkSide == 1) {
      for (size_t r = 0; r < t.realIndexes.size(); ++r) {
        const RealIndexDef& ri = t.realIndexes[r];
        bool same = ri.columns.size() == d.columns.size() && (ri.flags & kIdxUnique);
        for (size_t k = 0; same && k < d.columns.size(); ++k)
          same = ri.columns[k].columnNumber == d.columns[k].columnNumber &&
                 ri.columns[k].ascending == d.columns[k].ascending;
        if (same) shared = static_cast<int>(r);
      }
    }
    if (shared >= 0) {
      d.realIndex = shared;
      d.realFlags = t.realIndexes[static_cast<size_t>(shared)].flags;
    } else {
      RealIndexDef ri;
      ri.columns = d.columns;
      ri.flags = flags;
      d.realIndex = static_cast<int>(t.realIndexes.size());
      t.realIndexes.push_back(std::move(ri));
    }
    t.indexes.push_back(std::move(d));
  }
  return t;
}

uint8_t realFlagsOf(const IndexDesign& design, bool jet4) {
  uint8_t f = 0;
  if (design.unique || design.primaryKey) f |= kIdxUnique;
  if (design.ignoreNulls) f |= kIdxIgnoreNulls;
  if (design.required) f |= kIdxRequired;
  // Every index Jet 4 writes carries 0x80; Jet 3 never sets it.
  if (jet4) f |= 0x80;
  return f;
}

IndexDef logicalIndexOf(const IndexDesign& design, std::vector<IndexColumn> columns, bool jet4) {
  IndexDef d;
  d.name = design.name;
  d.columns = std::move(columns);
  d.primaryKey = design.primaryKey;
  d.unique = design.unique || design.primaryKey;
  d.ignoreNulls = design.ignoreNulls;
  d.required = design.required;
  d.foreignKey = design.foreignKey;
  d.fkSide = design.fkSide;
  d.fkOtherIndex = design.fkOtherIndex;
  d.fkOtherTable = design.fkOtherTable;
  d.cascadeFlags1 = design.cascadeUpdate ? 0x01 : 0;
  d.cascadeFlags2 = design.cascadeDelete ? 0x01 : 0;
  d.realFlags = realFlagsOf(design, jet4);
  return d;
}

}  // namespace bv::storage
