#include "engine/storage/table_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <random>

#include "engine/storage/data_page_edit.h"
#include "engine/storage/index_writer.h"
#include "engine/storage/long_value_write.h"
#include "engine/storage/page_pool.h"
#include "engine/storage/row_encode.h"
#include "engine/storage/tabledef.h"
#include "engine/storage/tdef_edit.h"
#include "engine/storage/write_unit.h"

namespace bv::storage {

namespace {

constexpr int32_t kErrNoCurrentRecord = 3167;  // the row was deleted or never existed

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// A random (version 4) GUID for a Replication ID AutoNumber column.
Guid newGuid() {
  static std::mt19937_64 gen{std::random_device{}()};
  Guid g;
  for (size_t i = 0; i < 16; i += 8) {
    const uint64_t r = gen();
    for (size_t k = 0; k < 8; ++k) g.bytes[i + k] = static_cast<uint8_t>(r >> (8 * k));
  }
  g.bytes[7] = static_cast<uint8_t>((g.bytes[7] & 0x0F) | 0x40);  // version nibble (u16 LE at 6)
  g.bytes[8] = static_cast<uint8_t>((g.bytes[8] & 0x3F) | 0x80);  // variant
  return g;
}

std::shared_ptr<const TableDef> lookUp(const Database& db, std::u16string_view name) { return db.table(name); }

}  // namespace

struct TableWriter::Impl {
  WriteUnit& unit;
  Database& db;
  TableDef t;  // counters kept as written
  std::shared_ptr<const TableDef> shape;  // what the cursor decodes with
  TableIndexes indexes;
  PagePool rows;
  LongValueWriter lv;
  mutable TableCursor reader;

  Impl(WriteUnit& u, std::shared_ptr<const TableDef> def)
      : unit(u),
        db(u.db()),
        t(*def),
        shape(std::move(def)),
        indexes(u, t),
        rows(u, t.ownedMap, t.freeMap, t.tdefPage, smallestRow(db, t)),
        lv(u, t),
        reader(db.scan(shape)) {
    if (t.ownedMap.isNull())
      throw JetError(3049, "The table '" + toUtf8(t.name) + "' has no page map, so rows cannot be added to it.");
    learnColumns();
  }

  // What the definition says of each column, worked out once.
  std::vector<char> keyColumn;  // some index keys on it
  // An update may rewrite its bytes inside the row: fixed size, in no index, not numbered
  // by the table itself.
  std::vector<char> patchable;
  uint32_t rowColumns = 0;  // the column count every row of the current layout stores
  uint32_t fixedEnd = 0;    // the end of the fixed area

  void learnColumns() {
    keyColumn.assign(t.columns.size(), 0);
    for (const RealIndexDef& ri : t.realIndexes)
      for (const IndexColumn& ic : ri.columns)
        if (const int pos = t.columnByNumber(ic.columnNumber); pos >= 0) keyColumn[static_cast<size_t>(pos)] = 1;
    patchable.assign(t.columns.size(), 0);
    rowColumns = t.maxColumns;
    for (size_t i = 0; i < t.columns.size(); ++i) {
      const ColumnDef& c = t.columns[i];
      rowColumns = std::max<uint32_t>(rowColumns, c.number + 1u);
      if (c.fixed && c.type != ColType::Bool) fixedEnd = std::max<uint32_t>(fixedEnd, c.fixedOffset + c.length);
      patchable[i] = (c.fixed || c.type == ColType::Bool) && !c.isLongValue() && !c.autoNumber &&
                     !c.guidAutoNumber && !keyColumn[i];
    }
  }

  // The size of a row of Nulls: a page that cannot take one is full.
  static uint32_t smallestRow(const Database& db, const TableDef& t) {
    std::vector<EncodedField> none(t.columns.size());
    for (size_t i = 0; i < t.columns.size(); ++i)
      if (t.columns[i].fixed) none[i].bytes.assign(t.columns[i].length, 0);
    return static_cast<uint32_t>(rowSize(db, t, none));
  }

  // ---- reading what is stored

  // Positions the reader on a live row; JetError 3167 if there is none at `id`.
  void seek(RowId id) const {
    if (!reader.seek(id))
      throw JetError(kErrNoCurrentRecord, "There is no row " + std::to_string(id.page) + ":" +
                                              std::to_string(id.row) + " in table '" + toUtf8(t.name) +
                                              "' (it was deleted or never existed).");
  }

  struct Stored {
    Bytes raw;  // rawBytes() when read
    std::vector<Value> values;
    std::vector<Bytes> longFields;  // stored Memo/OLE fields (empty when Null)
  };

  // The row read last, kept until the next change: an update usually follows a read of the
  // same row, which then need not be decoded twice.
  mutable std::optional<std::pair<RowId, Stored>> lastRead;

  const Stored& readCached(RowId id) const {
    // A hit only while the stored bytes are unchanged (another writer may have changed the
    // row meanwhile).
    if (!lastRead || !(lastRead->first == id) || lastRead->second.raw != rawBytes(id)) {
      lastRead.reset();
      lastRead.emplace(id, readStored(id));
    }
    return lastRead->second;
  }

  // The row as stored, taken out of the cache: the cache is dropped before anything changes.
  Stored takeCached(RowId id) {
    readCached(id);
    Stored s = std::move(lastRead->second);
    lastRead.reset();
    return s;
  }

  // The bytes of the row's slot (and of its moved copy), with the slot flags.
  Bytes rawBytes(RowId id) const {
    Bytes out;
    Database::RowBytes rb = db.rowBytes(id.page, id.row);
    if (!rb.valid) return out;
    out.assign(rb.data(), rb.data() + rb.size());
    out.push_back(static_cast<uint8_t>(rb.slotFlags >> 8));
    if ((rb.slotFlags & kRowOverflow) && rb.size() >= 4) {
      const RowPointer rp = RowPointer::fromRaw(get32(rb.data()));
      Database::RowBytes target = db.rowBytes(rp.page, rp.row);
      if (target.valid) out.insert(out.end(), target.data(), target.data() + target.size());
    }
    return out;
  }

  Stored readStored(RowId id) const {
    seek(id);
    Stored s;
    s.raw = rawBytes(id);
    reader.readRow(s.values);
    s.longFields.resize(t.columns.size());
    for (size_t i = 0; i < t.columns.size(); ++i) {
      if (!t.columns[i].isLongValue()) continue;
      const uint8_t* d;
      size_t n;
      if (reader.storedField(i, d, n)) s.longFields[i].assign(d, d + n);
    }
    return s;
  }

  // What a delete needs of the row: the columns some index keys on and the stored long
  // value fields (to free them); other columns stay Null, undecoded. Not kept as lastRead.
  Stored readForRemove(RowId id) {
    if (lastRead && lastRead->first == id && lastRead->second.raw == rawBytes(id)) return takeCached(id);
    lastRead.reset();
    seek(id);
    Stored s;
    s.values.resize(t.columns.size());
    s.longFields.resize(t.columns.size());
    for (size_t i = 0; i < t.columns.size(); ++i) {
      if (keyColumn[i]) s.values[i] = reader.value(i);
      if (!t.columns[i].isLongValue()) continue;
      const uint8_t* d;
      size_t n;
      if (reader.storedField(i, d, n)) s.longFields[i].assign(d, d + n);
    }
    return s;
  }

  // ---- building a row

  struct Planned {
    std::vector<EncodedField> fields;
    std::vector<Bytes> longData;   // Memo/OLE data to write (changed columns only)
    std::vector<char> writeLong;   // 1: write longData[i] now
    std::vector<char> inRow;       // for written long values: kept in the row
  };

  Bytes longBytes(const ColumnDef& c, const Value& v) const {
    if (c.type == ColType::Memo) {
      const std::u16string* s = v.get<std::u16string>();
      if (!s) throw JetError(kErrConversion, "The column '" + toUtf8(c.name) + "' takes text.");
      return encodeText(db, c, *s, c.compressedUnicode);
    }
    const Bytes* b = v.get<Bytes>();
    if (!b) throw JetError(kErrConversion, "The column '" + toUtf8(c.name) + "' takes bytes.");
    return *b;
  }

  // Encodes every column. `keep` (update only) gives stored long-value fields to reuse for
  // columns whose value did not change.
  Planned plan(std::span<const Value> vals, const Stored* old) const {
    Planned p;
    const size_t n = t.columns.size();
    p.fields.resize(n);
    p.longData.resize(n);
    p.writeLong.assign(n, 0);
    p.inRow.assign(n, 0);
    for (size_t i = 0; i < n; ++i) {
      const ColumnDef& c = t.columns[i];
      if (!c.isLongValue()) {
        p.fields[i] = encodeField(db, c, vals[i]);
        continue;
      }
      if (vals[i].isNull()) continue;
      p.fields[i].present = true;
      if (old && old->values[i] == vals[i] && !old->longFields[i].empty()) {
        p.fields[i].bytes = old->longFields[i];
        continue;
      }
      p.longData[i] = longBytes(c, vals[i]);
      p.writeLong[i] = 1;
      p.inRow[i] = p.longData[i].size() <= LongValueWriter::kInlineMax;
      p.fields[i].bytes.assign(LongValueWriter::kHeaderSize + (p.inRow[i] ? p.longData[i].size() : 0), 0);
    }
    // Too long for a page: move the largest values kept in the row out of it.
    while (rowSize(db, t, p.fields) > maxRowSize(db)) {
      int pick = -1;
      for (size_t i = 0; i < n; ++i)
        if (p.writeLong[i] && p.inRow[i] &&
            (pick < 0 || p.longData[i].size() > p.longData[static_cast<size_t>(pick)].size()))
          pick = static_cast<int>(i);
      if (pick < 0) break;
      p.inRow[pick] = 0;
      p.fields[pick].bytes.assign(LongValueWriter::kHeaderSize, 0);
    }
    if (rowSize(db, t, p.fields) > maxRowSize(db))
      throw JetError(kErrRecordTooLarge, "The row is too large for table '" + toUtf8(t.name) + "' (" +
                                             std::to_string(rowSize(db, t, p.fields)) + " bytes; a page holds " +
                                             std::to_string(maxRowSize(db)) + ").");
    for (size_t i = 0; i < n; ++i)
      if (p.writeLong[i] && !p.inRow[i]) lv.checkStorable(t.columns[i], p.longData[i].size());
    return p;
  }

  // Writes the planned long values and lays out the row.
  Bytes build(Planned& p) {
    for (size_t i = 0; i < t.columns.size(); ++i)
      if (p.writeLong[i]) p.fields[i].bytes = lv.write(t.columns[i], p.longData[i], p.inRow[i]);
    return assembleRow(db, t, p.fields);
  }

  // ---- AutoNumber

  // Fills AutoNumber columns given as Null; returns the counter to store (the old one if
  // unchanged). Explicit values raise the counter so that it is never handed out again.
  uint32_t fillAutoNumbers(std::vector<Value>& vals) const {
    int64_t counter = t.autoNumber;
    for (size_t i = 0; i < t.columns.size(); ++i) {
      const ColumnDef& c = t.columns[i];
      if (c.guidAutoNumber && c.type == ColType::Guid && vals[i].isNull()) vals[i] = Value(newGuid());
      if (!c.autoNumber || c.type != ColType::Long) continue;
      if (vals[i].isNull()) {
        if (counter >= std::numeric_limits<int32_t>::max())
          throw JetError(3049, "The AutoNumber column '" + toUtf8(c.name) + "' of table '" + toUtf8(t.name) +
                                   "' has no numbers left.");
        vals[i] = Value(static_cast<int32_t>(++counter));
      } else if (const int32_t* v = vals[i].get<int32_t>(); v && *v > counter) {
        counter = *v;
      }
    }
    return static_cast<uint32_t>(counter);
  }

  void storeAutoNumber(uint32_t counter) {
    if (counter == t.autoNumber) return;
    writeLastAutoNumber(unit, t.tdefPage, counter);
    t.autoNumber = counter;
  }

  // ---- placing row bytes

  RowId putNew(std::span<const uint8_t> bytes, uint16_t flags) {
    const uint32_t page = rows.pageFor(bytes.size());
    DataPageEditor ed(unit.modify(page), unit.pageSize(), unit.jet4(), page);
    const int slot = ed.insert(bytes, flags);
    rows.noteChanged(page);
    return RowId{page, static_cast<uint8_t>(slot)};
  }

  void afterFree(uint32_t page) {
    DataPageEditor ed(unit.modify(page), unit.pageSize(), unit.jet4(), page);
    if (ed.empty())
      rows.release(page);
    else
      rows.noteChanged(page);
  }

  // Where a moved row now lives (its header slot holds a 4-byte row pointer); reads only.
  RowId movedTo(RowId id) const {
    const Database::RowBytes rb = db.rowBytes(id.page, id.row);
    if (!rb.valid || rb.size() < 4) throwDamaged("an overflow row pointer is damaged", id.page);
    const RowPointer rp = RowPointer::fromRaw(get32(rb.data()));
    const Database::RowBytes target = db.rowBytes(rp.page, rp.row);
    if (!target.valid || target.page.u32(4) != t.tdefPage) throwDamaged("an overflow row points at a missing row", id.page);
    return RowId{rp.page, rp.row};
  }

  void freeSlot(RowId id) {
    DataPageEditor(unit.modify(id.page), unit.pageSize(), unit.jet4(), id.page).free(id.row);
  }

  // Replaces the row at header slot `id`: in place when it fits there, else on another page
  // behind a forwarding pointer (the header slot keeps its number).
  void replaceRow(RowId id, std::span<const uint8_t> bytes) {
    DataPageEditor home(unit.modify(id.page), unit.pageSize(), unit.jet4(), id.page);
    const bool wasMoved = (home.flags(id.row) & kRowOverflow) != 0;
    const RowId target = wasMoved ? movedTo(id) : RowId{};
    if (home.canReplace(id.row, bytes.size())) {
      home.replace(id.row, bytes, 0);
      rows.noteChanged(id.page);
      if (wasMoved) {
        freeSlot(target);
        afterFree(target.page);
      }
      return;
    }
    if (wasMoved) {
      DataPageEditor there(unit.modify(target.page), unit.pageSize(), unit.jet4(), target.page);
      if (there.canReplace(target.row, bytes.size())) {
        there.replace(target.row, bytes, kRowMovedHere);
        rows.noteChanged(target.page);
        return;
      }
    }
    const RowId now = putNew(bytes, kRowMovedHere);
    if (wasMoved) {
      freeSlot(target);
      afterFree(target.page);
    }
    uint8_t ptr[4];
    put32(ptr, now.page << 8 | now.row);
    DataPageEditor(unit.modify(id.page), unit.pageSize(), unit.jet4(), id.page).replace(id.row, ptr, kRowOverflow);
    rows.noteChanged(id.page);
  }

  void checkWidth(std::span<const Value> row) const {
    if (row.size() != t.columns.size())
      throw JetError(kErrConversion, "A row for table '" + toUtf8(t.name) + "' needs " +
                                         std::to_string(t.columns.size()) + " values, not " +
                                         std::to_string(row.size()) + ".");
  }
};

TableWriter::TableWriter(WriteUnit& unit, std::u16string_view tableName)
    : impl_(std::make_unique<Impl>(unit, lookUp(unit.db(), tableName))) {}
TableWriter::TableWriter(WriteUnit& unit, uint32_t tdefPage)
    : impl_(std::make_unique<Impl>(unit, unit.db().tableAt(tdefPage))) {}
TableWriter::~TableWriter() = default;

const TableDef& TableWriter::table() const { return impl_->t; }

RowId TableWriter::insert(std::span<const Value> row) { return insert(std::vector<Value>(row.begin(), row.end())); }

RowId TableWriter::insert(std::vector<Value>&& vals) {
  Impl& m = *impl_;
  m.lastRead.reset();
  m.checkWidth(vals);
  const uint32_t counter = m.fillAutoNumbers(vals);
  Impl::Planned p = m.plan(vals, nullptr);
  TableIndexes::Change entries = m.indexes.prepareInsert(vals);
  // Nothing was written so far; from here on the row goes in.
  const Bytes bytes = m.build(p);
  const RowId id = m.putNew(bytes, 0);
  m.indexes.apply(entries, id);
  writeRowCount(m.unit, m.t.tdefPage, ++m.t.rowCount);
  m.storeAutoNumber(counter);
  return id;
}

void TableWriter::update(RowId id, std::span<const Value> row) {
  Impl& m = *impl_;
  m.checkWidth(row);
  const Impl::Stored old = m.takeCached(id);
  std::vector<Value> vals(row.begin(), row.end());
  // An AutoNumber given as Null keeps its number.
  for (size_t i = 0; i < vals.size(); ++i)
    if ((m.t.columns[i].autoNumber || m.t.columns[i].guidAutoNumber) && vals[i].isNull()) vals[i] = old.values[i];
  const uint32_t counter = m.fillAutoNumbers(vals);
  Impl::Planned p = m.plan(vals, &old);
  TableIndexes::Change entries = m.indexes.prepareUpdate(old.values, vals, id);
  if (m.db.rowBytes(id.page, id.row).slotFlags & kRowOverflow) m.movedTo(id);  // damage shows before writing
  std::vector<std::vector<RowPointer>> freed(vals.size());
  for (size_t i = 0; i < vals.size(); ++i)
    if (m.t.columns[i].isLongValue() && !old.longFields[i].empty() &&
        (p.writeLong[i] || !p.fields[i].present))
      freed[i] = m.lv.rowsOf(old.longFields[i]);
  // Written from here on.
  for (size_t i = 0; i < vals.size(); ++i)
    if (!freed[i].empty()) m.lv.free(m.t.columns[i], freed[i]);
  const Bytes bytes = m.build(p);
  m.replaceRow(id, bytes);
  m.indexes.apply(entries, id);
  m.storeAutoNumber(counter);
}

bool TableWriter::updateFixed(RowId id, std::span<const int> columns, std::span<const Value> values) {
  Impl& m = *impl_;
  if (columns.size() != values.size()) return false;
  for (int c : columns)
    if (c < 0 || static_cast<size_t>(c) >= m.t.columns.size() || !m.patchable[static_cast<size_t>(c)]) return false;
  const Database::RowBytes rb = m.db.rowBytes(id.page, id.row);
  if (!rb.valid || (rb.slotFlags & (kRowDeleted | kRowOverflow))) return false;
  // Only a row laid out for the table's current columns has them where the definition says.
  const bool j4 = m.unit.jet4();
  const uint32_t head = j4 ? 2 : 1;
  const uint32_t maskLen = (m.rowColumns + 7) / 8;
  const uint8_t* row = rb.data();
  const uint32_t stored = j4 ? (row[0] | row[1] << 8) : row[0];
  if (stored != m.rowColumns || rb.size() < head + m.fixedEnd + maskLen) return false;
  // Every value is encoded (and refused) before anything is written.
  std::vector<EncodedField> fields;
  fields.reserve(columns.size());
  for (size_t k = 0; k < columns.size(); ++k)
    fields.push_back(encodeField(m.db, m.t.columns[static_cast<size_t>(columns[k])], values[k]));
  m.lastRead.reset();
  uint8_t* out = m.unit.modify(id.page) + rb.start;
  uint8_t* mask = out + rb.size() - maskLen;
  for (size_t k = 0; k < columns.size(); ++k) {
    const ColumnDef& c = m.t.columns[static_cast<size_t>(columns[k])];
    const EncodedField& f = fields[k];
    const uint8_t bit = static_cast<uint8_t>(1u << (c.number % 8));
    mask[c.number / 8] = f.present ? (mask[c.number / 8] | bit) : (mask[c.number / 8] & ~bit);
    if (c.type == ColType::Bool) continue;
    uint8_t* at = out + head + c.fixedOffset;
    if (f.bytes.size() == c.length)
      std::memcpy(at, f.bytes.data(), c.length);
    else
      std::memset(at, 0, c.length);  // a Null keeps no bytes
  }
  return true;
}

void TableWriter::remove(RowId id) {
  Impl& m = *impl_;
  const Impl::Stored old = m.readForRemove(id);
  std::vector<std::vector<RowPointer>> freed(old.values.size());
  for (size_t i = 0; i < old.values.size(); ++i)
    if (!old.longFields[i].empty()) freed[i] = m.lv.rowsOf(old.longFields[i]);
  const bool moved = (m.db.rowBytes(id.page, id.row).slotFlags & kRowOverflow) != 0;
  const RowId target = moved ? m.movedTo(id) : RowId{};
  // Refused (keys, missing entries) before writing.
  TableIndexes::Change entries = m.indexes.prepareRemove(old.values, id);
  // Written from here on.
  for (size_t i = 0; i < old.values.size(); ++i)
    if (!freed[i].empty()) m.lv.free(m.t.columns[i], freed[i]);
  if (moved) {
    m.freeSlot(target);
    if (target.page != id.page) m.afterFree(target.page);
  }
  m.freeSlot(id);
  m.indexes.apply(entries, id);
  writeRowCount(m.unit, m.t.tdefPage, --m.t.rowCount);
  m.afterFree(id.page);
}

std::vector<Value> TableWriter::read(RowId id) const { return impl_->readCached(id).values; }

}  // namespace bv::storage
