// TableCursor: a streaming scan of one table's rows.
#include <cstring>

#include "engine/storage/data_page.h"
#include "engine/storage/database.h"
#include "engine/storage/tabledef.h"

namespace bv::storage {

namespace {

int16_t rdI16(const uint8_t* p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }
uint32_t rdU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t rdU64(const uint8_t* p) { return rdU32(p) | (static_cast<uint64_t>(rdU32(p + 4)) << 32); }

// Bytes a value of a fixed-size type needs; 0 for types of any length.
size_t neededBytes(ColType t) {
  switch (t) {
    case ColType::Byte: return 1;
    case ColType::Integer: return 2;
    case ColType::Long:
    case ColType::Single: return 4;
    case ColType::Currency:
    case ColType::Double:
    case ColType::DateTime: return 8;
    case ColType::Guid: return 16;
    case ColType::Decimal: return 17;
    default: return 0;
  }
}

}  // namespace

struct TableCursor::Impl {
  const Database& db;
  std::shared_ptr<const TableDef> t;
  bool j4;
  std::vector<uint32_t> pages;
  size_t pageIdx = 0;
  PageRef cur;  // page being walked
  int slotCount = 0;
  int slot = -1;

  // Current row.
  bool onRow = false;
  RowId id;
  PageRef rowPage;  // page the row's bytes are on (differs from cur for moved rows)
  uint32_t rs = 0, re = 0;  // row bytes [rs, re) within rowPage
  uint32_t colCount = 0;
  uint32_t maskStart = 0;
  bool varParsed = false;
  uint32_t varCount = 0;
  uint32_t varTableStart = 0;  // first byte of the variable offset table (row-relative)
  std::vector<uint32_t> varOff;  // varCount + 1 entries, row-relative
  std::vector<Value> values;
  std::vector<uint8_t> decoded;

  Impl(const Database& d, std::shared_ptr<const TableDef> table)
      : db(d), t(std::move(table)), j4(d.isJet4()) {
    bool pastEnd = false;
    pages = db.usageMapPages(t->ownedMap, &pastEnd);
    if (pastEnd) throwDamaged("the table's pages reach past the end of the file (it is truncated)", t->tdefPage);
    values.resize(t->columns.size());
    decoded.assign(t->columns.size(), 0);
  }

  [[noreturn]] void damaged(const std::string& what) const { throwDamaged(what, id.page); }

  // Follows overflow pointers from a header slot to the row's bytes. False if the row is
  // gone (deleted target).
  bool resolve(PageRef page, RowSpan span) {
    for (int hops = 0; span.flags & kRowOverflow; ++hops) {
      if (hops > 8 || span.end - span.start < 4) damaged("an overflow row pointer is damaged");
      const RowPointer rp = RowPointer::fromRaw(rdU32(page.data() + span.start));
      Database::RowBytes rb = db.rowBytes(rp.page, rp.row);
      if (!rb.valid) damaged("an overflow row points at a missing row");
      page = rb.page;
      span.start = rb.start;
      span.end = rb.end;
      // The target carries the deleted flag so that scans skip it; only a further
      // overflow flag matters here.
      span.flags = rb.slotFlags == (kRowDeleted | kRowOverflow) ? 0 : (rb.slotFlags & kRowOverflow);
    }
    rowPage = std::move(page);
    rs = span.start;
    re = span.end;
    return startRow();
  }

  bool startRow() {
    const uint8_t* p = rowPage.data();
    const uint32_t len = re - rs;
    const uint32_t head = j4 ? 2 : 1;
    if (len < head) damaged("a row is shorter than its header");
    colCount = j4 ? static_cast<uint32_t>(p[rs] | (p[rs + 1] << 8)) : p[rs];
    const uint32_t maskLen = (colCount + 7) / 8;
    if (len < head + maskLen) damaged("a row is shorter than its null mask");
    maskStart = len - maskLen;
    varParsed = false;
    std::fill(decoded.begin(), decoded.end(), 0);
    onRow = true;
    return true;
  }

  void parseVar() {
    const uint8_t* p = rowPage.data() + rs;
    const uint32_t len = re - rs;
    const uint32_t head = j4 ? 2 : 1;
    varParsed = true;
    if (j4) {
      if (maskStart < head + 2) damaged("a row has no room for its variable count");
      const uint32_t vpos = maskStart - 2;
      varCount = static_cast<uint32_t>(p[vpos] | (p[vpos + 1] << 8));
      if (2ull * (varCount + 1) > vpos - head) damaged("a row's variable offset table overflows the row");
      varTableStart = vpos - 2 * (varCount + 1);
      varOff.resize(varCount + 1);
      for (uint32_t i = 0; i <= varCount; ++i) {
        const uint32_t at = vpos - 2 * (i + 1);
        varOff[i] = static_cast<uint32_t>(p[at] | (p[at + 1] << 8));
      }
    } else {
      if (maskStart < head + 1) damaged("a row has no room for its variable count");
      const uint32_t vpos = maskStart - 1;
      varCount = p[vpos];
      const uint32_t jumps = (len - 1) / 256;
      if (jumps + varCount + 1 > vpos - head) damaged("a row's variable offset table overflows the row");
      varTableStart = vpos - jumps - (varCount + 1);
      // The last jump entry is a placeholder when the data ends below its boundary.
      const uint32_t usable = std::min(jumps, varTableStart / 256);
      varOff.resize(varCount + 1);
      for (uint32_t i = 0; i <= varCount; ++i) {
        uint32_t v = p[vpos - jumps - 1 - i];
        for (uint32_t j = 0; j < usable; ++j)
          if (p[vpos - 1 - j] <= i) v += 256;
        varOff[i] = v;
      }
    }
    const uint32_t lo = head;
    for (uint32_t i = 0; i <= varCount; ++i)
      if (varOff[i] < lo || varOff[i] > varTableStart) damaged("a variable column offset points outside its row");
  }

  Value decodeBytes(const ColumnDef& c, const uint8_t* v, size_t n) const {
    const size_t need = neededBytes(c.type);
    if (n < need) damaged("a value is shorter than its type");
    switch (c.type) {
      case ColType::Byte: return Value(v[0]);
      case ColType::Integer: return Value(rdI16(v));
      case ColType::Long: return Value(static_cast<int32_t>(rdU32(v)));
      case ColType::Currency: return Value(Currency{static_cast<int64_t>(rdU64(v))});
      case ColType::Single: {
        float f;
        std::memcpy(&f, v, 4);
        return Value(f);
      }
      case ColType::Double: {
        double d;
        std::memcpy(&d, v, 8);
        return Value(d);
      }
      case ColType::DateTime: {
        double d;
        std::memcpy(&d, v, 8);
        return Value(DateTime{d});
      }
      case ColType::Guid: {
        Guid g;
        std::memcpy(g.bytes.data(), v, 16);
        return Value(g);
      }
      case ColType::Decimal: {
        Decimal d;
        d.negative = (v[0] & 0x80) != 0;
        d.hi = (static_cast<uint64_t>(rdU32(v + 1)) << 32) | rdU32(v + 5);
        d.lo = (static_cast<uint64_t>(rdU32(v + 9)) << 32) | rdU32(v + 13);
        d.scale = c.scale;
        d.precision = c.precision;
        return Value(d);
      }
      case ColType::Text: return Value(db.decodeText(v, n));
      case ColType::Memo: {
        Bytes b = db.readLongValue(v, n);
        return Value(db.decodeText(b.data(), b.size()));
      }
      case ColType::OLE: return Value(db.readLongValue(v, n));
      default: return Value(Bytes(v, v + n));  // Binary, and the undocumented fixed blob
    }
  }

  // Null-mask bit of a column; false when the row predates the column.
  bool present(const ColumnDef& c) const {
    if (c.number >= colCount) return false;
    return (rowPage.data()[rs + maskStart + c.number / 8] >> (c.number % 8)) & 1;
  }

  // The field bytes of a present, non-Yes/No column; false if the row has no such field.
  bool field(const ColumnDef& c, const uint8_t*& data, size_t& size) {
    const uint8_t* p = rowPage.data() + rs;
    if (c.fixed) {
      const uint32_t at = (j4 ? 2u : 1u) + c.fixedOffset;
      const size_t n = c.length ? c.length : neededBytes(c.type);
      if (at + n > maskStart) damaged("a fixed column lies outside its row");
      data = p + at;
      size = n;
      return true;
    }
    if (!varParsed) parseVar();
    if (c.varSlot >= varCount) return false;
    const uint32_t b = varOff[c.varSlot], e = varOff[c.varSlot + 1u];
    if (b > e) damaged("a variable column has a negative length");
    data = p + b;
    size = e - b;
    return true;
  }

  Value decode(const ColumnDef& c) {
    const bool there = present(c);
    if (c.type == ColType::Bool) return c.number < colCount ? Value(there) : Value();
    const uint8_t* data;
    size_t size;
    if (!there || !field(c, data, size)) return Value();
    return decodeBytes(c, data, size);
  }

  Bytes longBuf;  // long value bytes handed out by rawValue()

  bool nextRow() {
    onRow = false;
    for (;;) {
      if (!cur) {
        if (pageIdx >= pages.size()) return false;
        const uint32_t pn = pages[pageIdx++];
        PageRef pg = db.page(pn);
        // A page the map lists but that no longer holds this table's rows is skipped.
        if (pg[0] != 0x01 || pg.u32(4) != t->tdefPage) continue;
        slotCount = dataPageRowCount(pg, j4);
        if (slotCount < 0) throwDamaged("a data page's row table overflows the page", pn);
        cur = std::move(pg);
        slot = -1;
      }
      while (++slot < slotCount) {
        RowSpan span;
        if (!locateRow(cur, j4, slotCount, slot, span))
          throwDamaged("a row offset points outside its page", cur.number());
        if (span.flags & kRowDeleted) continue;
        id = RowId{cur.number(), static_cast<uint8_t>(slot)};
        if (resolve(cur, span)) return true;
      }
      cur = PageRef();
    }
  }
};

TableCursor::TableCursor(const Database& db, std::shared_ptr<const TableDef> table)
    : impl_(std::make_unique<Impl>(db, std::move(table))) {}
TableCursor::TableCursor(TableCursor&&) noexcept = default;
TableCursor& TableCursor::operator=(TableCursor&&) noexcept = default;
TableCursor::~TableCursor() = default;

bool TableCursor::next() { return impl_->nextRow(); }

RowId TableCursor::rowId() const { return impl_->id; }

const TableDef& TableCursor::table() const { return *impl_->t; }

const Value& TableCursor::value(size_t column) {
  Impl& m = *impl_;
  if (!m.onRow) throw JetError(3021, "There is no current record.");
  if (column >= m.values.size()) throw JetError(3265, "Column position out of range.");
  if (!m.decoded[column]) {
    m.values[column] = m.decode(m.t->columns[column]);
    m.decoded[column] = 1;
  }
  return m.values[column];
}

bool TableCursor::rawValue(size_t column, const uint8_t*& data, size_t& size) {
  Impl& m = *impl_;
  if (!m.onRow) throw JetError(3021, "There is no current record.");
  if (column >= m.values.size()) throw JetError(3265, "Column position out of range.");
  const ColumnDef& c = m.t->columns[column];
  if (c.type == ColType::Bool || !m.present(c) || !m.field(c, data, size)) return false;
  if (c.isLongValue()) {
    m.db.readLongValue(data, size, m.longBuf);
    data = m.longBuf.data();
    size = m.longBuf.size();
  }
  return true;
}

bool TableCursor::storedField(size_t column, const uint8_t*& data, size_t& size) {
  Impl& m = *impl_;
  if (!m.onRow) throw JetError(3021, "There is no current record.");
  if (column >= m.values.size()) throw JetError(3265, "Column position out of range.");
  const ColumnDef& c = m.t->columns[column];
  return c.type != ColType::Bool && m.present(c) && m.field(c, data, size);
}

void TableCursor::readRow(std::vector<Value>& out) {
  out.resize(impl_->values.size());
  for (size_t i = 0; i < out.size(); ++i) out[i] = value(i);
}

bool TableCursor::seek(RowId rid) {
  Impl& m = *impl_;
  m.onRow = false;
  m.cur = PageRef();
  m.pageIdx = 0;
  Database::RowBytes rb = m.db.rowBytes(rid.page, rid.row);
  if (!rb.valid || rb.page.u32(4) != m.t->tdefPage || (rb.slotFlags & kRowDeleted)) return false;
  m.id = rid;
  return m.resolve(rb.page, RowSpan{rb.start, rb.end, rb.slotFlags});
}

}  // namespace bv::storage
