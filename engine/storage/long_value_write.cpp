#include "engine/storage/long_value_write.h"

#include <cstring>
#include <unordered_set>

#include "engine/storage/data_page_edit.h"
#include "engine/storage/row_encode.h"
#include "engine/storage/tabledef.h"
#include "engine/storage/usage_map_edit.h"
#include "engine/storage/write_unit.h"

namespace bv::storage {

namespace {

constexpr uint32_t kInlineForm = 0x80000000u;
constexpr uint32_t kSingleRowForm = 0x40000000u;
constexpr uint32_t kLengthMask = 0x3FFFFFFFu;

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
uint32_t rawPointer(RowPointer rp) { return rp.page << 8 | rp.row; }

}  // namespace

LongValueWriter::LongValueWriter(WriteUnit& unit, const TableDef&) : unit_(unit) {}
LongValueWriter::~LongValueWriter() = default;

void LongValueWriter::checkStorable(const ColumnDef& c, size_t size) const {
  if (size > kLengthMask)
    throw JetError(kErrFieldTooSmall, "The value for the column '" + toUtf8(c.name) + "' is longer than a long value can be.");
  if (c.lvOwnedMap.isNull())
    throw JetError(3049, "The column '" + toUtf8(c.name) +
                             "' has no page map for long values, so this engine cannot store a value of " +
                             std::to_string(size) + " bytes in it.");
}

PagePool& LongValueWriter::pool(const ColumnDef& c) {
  auto& p = pools_[c.number];
  if (!p) p = std::make_unique<PagePool>(unit_, c.lvOwnedMap, c.lvFreeMap, kLvalOwner, kInlineMax + 1);
  return *p;
}

RowPointer LongValueWriter::putRow(const ColumnDef& c, std::span<const uint8_t> bytes) {
  PagePool& pp = pool(c);
  const uint32_t page = pp.pageFor(bytes.size());
  DataPageEditor ed(unit_.modify(page), unit_.pageSize(), unit_.jet4(), page);
  const int slot = ed.insert(bytes, 0);
  pp.noteChanged(page);
  return RowPointer{page, static_cast<uint8_t>(slot)};
}

Bytes LongValueWriter::write(const ColumnDef& c, std::span<const uint8_t> data, bool inRow) {
  Bytes field(kHeaderSize, 0);
  const uint32_t len = static_cast<uint32_t>(data.size());
  if (inRow) {
    put32(field.data(), len | kInlineForm);
    field.insert(field.end(), data.begin(), data.end());
    return field;
  }
  checkStorable(c, data.size());
  const size_t maxRow = maxRowSize(unit_.db());
  if (data.size() <= maxRow) {
    put32(field.data(), len | kSingleRowForm);
    put32(field.data() + 4, rawPointer(putRow(c, data)));
    return field;
  }
  // A chain: written last piece first, so that each piece can name the next.
  const size_t piece = maxRow - 4;
  const size_t pieces = (data.size() + piece - 1) / piece;
  RowPointer next;
  Bytes row;
  for (size_t k = pieces; k-- > 0;) {
    const size_t from = k * piece, n = std::min(piece, data.size() - from);
    row.assign(4, 0);
    put32(row.data(), rawPointer(next));
    row.insert(row.end(), data.begin() + static_cast<std::ptrdiff_t>(from),
               data.begin() + static_cast<std::ptrdiff_t>(from + n));
    next = putRow(c, row);
  }
  put32(field.data(), len);
  put32(field.data() + 4, rawPointer(next));
  return field;
}

std::vector<RowPointer> LongValueWriter::rowsOf(std::span<const uint8_t> field) const {
  std::vector<RowPointer> rows;
  if (field.size() < kHeaderSize) throw JetError(3049, "The database is damaged: a long value header is cut short.");
  const uint32_t head = get32(field.data());
  const uint32_t length = head & kLengthMask;
  if (head & kInlineForm) return rows;
  const Database& db = unit_.db();
  auto lval = [&](RowPointer rp) {
    Database::RowBytes rb = db.rowBytes(rp.page, rp.row);
    if (!rb.valid || (rb.slotFlags & kRowDeleted) || rb.page.u32(4) != kLvalOwner)
      throwDamaged("a long value points at a row that is not a long-value row", rp.page);
    return rb;
  };
  RowPointer rp = RowPointer::fromRaw(get32(field.data() + 4));
  if (head & kSingleRowForm) {
    lval(rp);
    rows.push_back(rp);
    return rows;
  }
  std::unordered_set<uint32_t> seen;
  size_t got = 0;
  while (got < length) {
    if (rp.isNull()) throwDamaged("a long value chain ends early", 0);
    if (!seen.insert(rawPointer(rp)).second) throwDamaged("a long value chain loops", rp.page);
    Database::RowBytes rb = lval(rp);
    if (rb.size() <= 4) throwDamaged("an empty piece in a long value chain", rp.page);
    rows.push_back(rp);
    got += rb.size() - 4;
    rp = RowPointer::fromRaw(get32(rb.data()));
  }
  return rows;
}

void LongValueWriter::free(const ColumnDef& c, std::span<const RowPointer> rows) {
  for (const RowPointer& rp : rows) {
    DataPageEditor ed(unit_.modify(rp.page), unit_.pageSize(), unit_.jet4(), rp.page);
    ed.free(rp.row);
    // Only a page this column's map lists is this column's to hand back or offer for rows.
    if (c.lvOwnedMap.isNull() || !mapHasPage(unit_.db(), c.lvOwnedMap, rp.page)) continue;
    if (ed.empty())
      pool(c).release(rp.page);
    else
      pool(c).noteChanged(rp.page);
  }
}

}  // namespace bv::storage
