#include "engine/storage/tabledef.h"

#include <algorithm>
#include <unordered_set>

#include "engine/storage/table_design.h"
#include "engine/storage/text.h"

namespace bv::storage {

void throwDamaged(const std::string& what, uint32_t page) {
  throw JetError(3049, "The database is damaged: " + what + " (page " + std::to_string(page) + ").");
}

namespace {

// Bounds-checked little-endian reads over the logical TDEF buffer.
class Reader {
 public:
  Reader(const std::vector<uint8_t>& b, uint32_t page) : b_(b), page_(page) {}
  void need(size_t off, size_t n) const {
    if (off > b_.size() || n > b_.size() - off) throwDamaged("a table definition is cut short", page_);
  }
  uint8_t u8(size_t off) const {
    need(off, 1);
    return b_[off];
  }
  uint16_t u16(size_t off) const {
    need(off, 2);
    return static_cast<uint16_t>(b_[off] | (b_[off + 1] << 8));
  }
  uint32_t u32(size_t off) const {
    need(off, 4);
    return static_cast<uint32_t>(b_[off]) | (static_cast<uint32_t>(b_[off + 1]) << 8) |
           (static_cast<uint32_t>(b_[off + 2]) << 16) | (static_cast<uint32_t>(b_[off + 3]) << 24);
  }
  // A name: J3 u8 length + code-page bytes; J4 u16 byte length + UCS-2LE.
  std::u16string name(size_t& off, bool jet4, uint16_t codePage) const {
    if (jet4) {
      uint16_t len = u16(off);
      need(off + 2, len);
      std::u16string s = decodeJet4Text(b_.data() + off + 2, len);
      off += 2u + len;
      return s;
    }
    uint8_t len = u8(off);
    need(off + 1, len);
    std::u16string s = decodeCodePage(b_.data() + off + 1, len, codePage);
    off += 1u + len;
    return s;
  }

 private:
  const std::vector<uint8_t>& b_;
  uint32_t page_;
};

bool knownType(uint8_t t) {
  return (t >= 0x01 && t <= 0x0C) || t == 0x0F || t == 0x10 || t == 0x11;
}

}  // namespace

TableDef readTableDef(const Database& db, uint32_t page, std::u16string name) {
  const bool j4 = db.isJet4();
  const uint32_t ps = db.pageSize();
  TableDef t;
  t.name = std::move(name);
  t.tdefPage = page;

  // Gather the logical buffer: the first page whole, then bytes 8.. of each continuation.
  std::unordered_set<uint32_t> seen;
  uint32_t p = page;
  std::vector<uint8_t>& buf = t.raw;
  while (p != 0) {
    if (!seen.insert(p).second) throwDamaged("a table definition's page chain loops", page);
    PageRef pr = db.page(p);
    if (pr[0] != 0x02) throwDamaged("expected a table-definition page", p);
    if (buf.empty())
      buf.insert(buf.end(), pr.data(), pr.data() + ps);
    else
      buf.insert(buf.end(), pr.data() + 8, pr.data() + ps);
    t.tdefPages.push_back(p);
    p = pr.u32(4);
  }
  Reader r(buf, page);
  const uint32_t usedLen = r.u32(8);
  if (usedLen > buf.size()) throwDamaged("a table definition is longer than its pages", page);

  const size_t base = j4 ? 0 : static_cast<size_t>(-4);  // J3 fields sit 4 bytes earlier from 12 on
  auto at = [&](size_t j4off) { return j4 ? j4off : j4off + base; };
  t.rowCount = r.u32(at(16));
  t.autoNumber = r.u32(at(20));
  const size_t hdr = j4 ? 40 : 20;
  t.tableType = r.u8(hdr);
  t.maxColumns = r.u16(hdr + 1);
  t.varSlots = r.u16(hdr + 3);
  const uint16_t numCols = r.u16(hdr + 5);
  const uint32_t numLogical = r.u32(hdr + 7);
  const uint32_t numReal = r.u32(hdr + 11);
  t.ownedMap = RowPointer::fromRaw(r.u32(hdr + 15));
  t.freeMap = RowPointer::fromRaw(r.u32(hdr + 19));
  if (numLogical > 1000 || numReal > 1000) throwDamaged("implausible index count in a table definition", page);

  size_t off = hdr + 23;  // J3 43, J4 63
  const size_t counterSize = j4 ? 12 : 8;
  std::vector<uint32_t> distinct(numReal);
  for (uint32_t i = 0; i < numReal; ++i) distinct[i] = r.u32(off + counterSize * i + 4);
  off += counterSize * numReal;

  // Column descriptors.
  const size_t descSize = j4 ? 25 : 18;
  r.need(off, descSize * numCols);
  t.columns.resize(numCols);
  for (uint16_t i = 0; i < numCols; ++i) {
    const size_t d = off + descSize * i;
    ColumnDef& c = t.columns[i];
    const uint8_t type = r.u8(d);
    if (!knownType(type) || type == 0x0D || type == 0x0E)
      throwDamaged("unknown column type " + std::to_string(type), page);
    c.type = static_cast<ColType>(type);
    c.number = r.u16(d + (j4 ? 5 : 1));
    c.varSlot = r.u16(d + (j4 ? 7 : 3));
    const size_t ex = d + (j4 ? 11 : 9);
    if (c.type == ColType::Decimal) {
      c.precision = r.u8(ex);
      c.scale = r.u8(ex + 1);
    } else if (c.isText()) {
      c.sortOrder = r.u16(ex);
      if (!j4) c.codePage = r.u16(d + 11);
    }
    c.flags = r.u8(d + (j4 ? 15 : 13));
    if (j4) c.extraFlags = r.u8(d + 16);
    c.fixedOffset = r.u16(d + (j4 ? 21 : 14));
    c.length = r.u16(d + (j4 ? 23 : 16));
    c.fixed = (c.flags & kColFixed) != 0;
    c.autoNumber = (c.flags & kColAutoNumber) != 0;
    c.guidAutoNumber = (c.flags & kColGuidAutoNumber) != 0;
    c.hyperlink = c.type == ColType::Memo && (c.flags & kColHyperlink) != 0;
    c.compressedUnicode = j4 && c.isText() && (c.extraFlags & 0x01) != 0;
    if (c.fixed) {
      const uint16_t sz = fixedColumnSize(c.type);
      if (sz != 0 && c.length < sz) c.length = sz;
    }
    if (c.isLongValue()) c.fixed = false;
  }
  off += descSize * numCols;
  for (auto& c : t.columns) c.name = r.name(off, j4, db.codePage());

  // Real index blocks.
  const size_t realSize = j4 ? 52 : 39;
  const size_t rb0 = j4 ? 4 : 0;
  t.realIndexes.resize(numReal);
  for (uint32_t i = 0; i < numReal; ++i) {
    const size_t b = off + realSize * i;
    r.need(b, realSize);
    RealIndexDef& ri = t.realIndexes[i];
    for (int k = 0; k < 10; ++k) {
      const uint16_t col = r.u16(b + rb0 + 3 * k);
      const uint8_t fl = r.u8(b + rb0 + 3 * k + 2);
      if (col == 0xFFFF) continue;
      ri.columns.push_back(IndexColumn{col, (fl & 0x01) != 0});
    }
    ri.usageMap = RowPointer::fromRaw(r.u32(b + rb0 + 30));
    ri.rootPage = r.u32(b + rb0 + 34);
    ri.flags = r.u8(b + (j4 ? 46 : 38));
    ri.distinctKeys = distinct[i];
  }
  off += realSize * numReal;

  // Logical index blocks, then their names.
  const size_t logSize = j4 ? 28 : 20;
  const size_t lb0 = j4 ? 4 : 0;
  t.indexes.resize(numLogical);
  for (uint32_t i = 0; i < numLogical; ++i) {
    const size_t b = off + logSize * i;
    r.need(b, logSize);
    IndexDef& ix = t.indexes[i];
    ix.indexNumber = static_cast<int>(r.u32(b + lb0));
    const uint32_t real = r.u32(b + lb0 + 4);
    if (real >= numReal) throwDamaged("an index refers to a missing index tree", page);
    ix.realIndex = static_cast<int>(real);
    ix.fkSide = r.u8(b + lb0 + 8);
    ix.fkOtherIndex = static_cast<int32_t>(r.u32(b + lb0 + 9));
    ix.fkOtherTable = r.u32(b + lb0 + 13);
    ix.cascadeFlags1 = r.u8(b + lb0 + 17);
    ix.cascadeFlags2 = r.u8(b + lb0 + 18);
    const uint8_t kind = r.u8(b + lb0 + 19);
    const RealIndexDef& ri = t.realIndexes[real];
    ix.columns = ri.columns;
    ix.firstPage = ri.rootPage;
    ix.realFlags = ri.flags;
    ix.unique = (ri.flags & 0x01) != 0;
    ix.ignoreNulls = (ri.flags & 0x02) != 0;
    ix.required = (ri.flags & 0x08) != 0;
    ix.primaryKey = kind == 1;
    ix.foreignKey = kind == 2;
  }
  off += logSize * numLogical;
  for (auto& ix : t.indexes) ix.name = r.name(off, j4, db.codePage());

  // Column usage maps: u16 column number + owned + free row pointers, until 0xFFFF.
  for (int guard = 0; guard <= 4096; ++guard) {
    if (off + 2 > usedLen && off + 2 > buf.size()) break;
    const uint16_t col = r.u16(off);
    if (col == 0xFFFF) break;
    const RowPointer owned = RowPointer::fromRaw(r.u32(off + 2));
    const RowPointer freeMap = RowPointer::fromRaw(r.u32(off + 6));
    off += 10;
    for (auto& c : t.columns)
      if (c.number == col) {
        c.lvOwnedMap = owned;
        c.lvFreeMap = freeMap;
      }
  }

  std::stable_sort(t.columns.begin(), t.columns.end(),
                   [](const ColumnDef& a, const ColumnDef& b) { return a.number < b.number; });
  for (const auto& c : t.columns) {
    if (c.fixed && c.type != ColType::Bool && c.length == 0 && c.type != ColType::Binary &&
        c.type != ColType::Text)
      throwDamaged("a fixed column has no size", page);
  }
  if (usedLen <= buf.size()) buf.resize(std::max<size_t>(usedLen, std::min(off, buf.size())));
  return t;
}

int TableDef::findColumn(std::u16string_view n) const {
  for (size_t i = 0; i < columns.size(); ++i)
    if (jetNameEquals(columns[i].name, n)) return static_cast<int>(i);
  return -1;
}

int TableDef::columnByNumber(uint16_t number) const {
  for (size_t i = 0; i < columns.size(); ++i)
    if (columns[i].number == number) return static_cast<int>(i);
  return -1;
}

}  // namespace bv::storage
