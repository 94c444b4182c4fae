#include "engine/storage/tdef_encode.h"

#include <algorithm>

#include "engine/storage/error.h"
#include "engine/storage/text.h"
#include "engine/storage/text_key.h"

namespace bv::storage {

namespace {

constexpr uint32_t kJet4Magic = 1625;       // in the header, descriptors and logical blocks
constexpr uint32_t kJet4RealMagic = 1923;   // in real-index blocks

class Out {
 public:
  std::vector<uint8_t> b;
  void u8(uint8_t v) { b.push_back(v); }
  void u16(uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  }
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void rp(RowPointer p) { u32(p.page << 8 | p.row); }
  void zeros(size_t n) { b.insert(b.end(), n, 0); }
  void put32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
};

void putName(Out& o, const std::u16string& name, bool jet4) {
  if (name.empty() || name.size() > 64)
    throw JetError(3125, "'" + toUtf8(name) + "' is not a valid name (1 to 64 characters).");
  if (jet4) {
    o.u16(static_cast<uint16_t>(name.size() * 2));
    for (char16_t c : name) o.u16(c);
    return;
  }
  o.u8(static_cast<uint8_t>(name.size()));
  for (char16_t c : name) {
    const int b = cp1252Byte(c);
    if (b <= 0) throw JetError(3125, "'" + toUtf8(name) + "' is not a valid name in a Jet 3 database.");
    o.u8(static_cast<uint8_t>(b));
  }
}

void putColumn(Out& o, const ColumnDef& c, bool jet4) {
  o.u8(static_cast<uint8_t>(c.type));
  if (jet4) o.u32(kJet4Magic);
  o.u16(c.number);
  o.u16(c.varSlot);
  o.u16(c.number);
  if (jet4) {
    if (c.type == ColType::Decimal) {
      o.u8(c.precision);
      o.u8(c.scale);
    } else {
      o.u16(1033);
    }
    o.u8(0);
    o.u8(0);  // sort version: General
    o.u8(c.flags);
    o.u8(c.extraFlags);
    o.u32(0);
  } else {
    o.u16(1);
    o.u16(1033);
    o.u16(1252);
    o.u8(c.flags);
  }
  o.u16(c.fixed ? c.fixedOffset : 0);
  o.u16(c.length);
}

std::u16string folded(const std::u16string& s) {
  std::u16string r = s;
  for (char16_t& c : r) c = foldCase(c);
  return r;
}

}  // namespace

std::vector<uint8_t> encodeTableDef(const TableDef& t, bool jet4) {
  Out o;
  // Page header (completed when split into pages) and the fixed header.
  o.u8(0x02);
  o.u8(0x01);
  o.u16(0);
  o.u32(0);
  o.u32(0);  // length, filled in at the end
  if (jet4) o.u32(kJet4Magic);
  o.u32(t.rowCount);
  o.u32(t.autoNumber);
  if (jet4) {
    o.u8(1);
    o.zeros(15);
  }
  o.u8(t.tableType);
  o.u16(t.maxColumns);
  o.u16(t.varSlots);
  o.u16(static_cast<uint16_t>(t.columns.size()));
  o.u32(static_cast<uint32_t>(t.indexes.size()));
  o.u32(static_cast<uint32_t>(t.realIndexes.size()));
  o.rp(t.ownedMap);
  o.rp(t.freeMap);

  for (const RealIndexDef& ri : t.realIndexes) {
    o.u32(0);
    o.u32(ri.distinctKeys);
    if (jet4) o.u32(0);
  }
  for (const ColumnDef& c : t.columns) putColumn(o, c, jet4);
  for (const ColumnDef& c : t.columns) putName(o, c.name, jet4);

  for (const RealIndexDef& ri : t.realIndexes) {
    if (jet4) o.u32(kJet4RealMagic);
    for (size_t k = 0; k < 10; ++k) {
      if (k < ri.columns.size()) {
        o.u16(ri.columns[k].columnNumber);
        o.u8(ri.columns[k].ascending ? 0x01 : 0x00);
      } else {
        o.u16(0xFFFF);
        o.u8(0);
      }
    }
    o.rp(ri.usageMap);
    o.u32(ri.rootPage);
    if (jet4) o.u32(0);
    o.u8(ri.flags);
    if (jet4) o.zeros(5);
  }

  // Logical indexes in name order; each keeps its own index number.
  std::vector<const IndexDef*> logical;
  for (const IndexDef& d : t.indexes) logical.push_back(&d);
  std::stable_sort(logical.begin(), logical.end(), [](const IndexDef* a, const IndexDef* b) {
    return folded(a->name) < folded(b->name);
  });
  for (const IndexDef* d : logical) {
    if (jet4) o.u32(kJet4Magic);
    o.u32(static_cast<uint32_t>(d->indexNumber));
    o.u32(static_cast<uint32_t>(d->realIndex));
    if (d->foreignKey) {
      o.u8(d->fkSide);
      o.u32(static_cast<uint32_t>(d->fkOtherIndex));
      o.u32(d->fkOtherTable);
      o.u8(d->cascadeFlags1);
      o.u8(d->cascadeFlags2);
      o.u8(2);
    } else {
      o.u8(0);
      o.u32(0xFFFFFFFFu);
      o.u32(0);
      // What Jet writes in the cascade bytes of an index that is not a foreign key.
      o.u8(0x04);
      o.u8(0x04);
      o.u8(d->primaryKey ? 1 : 0);
    }
    if (jet4) o.u32(0);
  }
  for (const IndexDef* d : logical) putName(o, d->name, jet4);

  for (const ColumnDef& c : t.columns) {
    if (!c.isLongValue()) continue;
    o.u16(c.number);
    o.rp(c.lvOwnedMap);
    o.rp(c.lvFreeMap);
  }
  o.u16(0xFFFF);
  o.put32(8, static_cast<uint32_t>(o.b.size()));
  return std::move(o.b);
}

uint32_t tdefPagesNeeded(size_t length, uint32_t pageSize) {
  if (length <= pageSize) return 1;
  const size_t rest = length - pageSize;
  return static_cast<uint32_t>(1 + (rest + (pageSize - 8) - 1) / (pageSize - 8));
}

std::vector<std::vector<uint8_t>> tdefPageImages(const std::vector<uint8_t>& buffer,
                                                 const std::vector<uint32_t>& pages, bool jet4) {
  const uint32_t ps = jet4 ? 4096 : 2048;
  if (pages.size() != tdefPagesNeeded(buffer.size(), ps))
    throw JetError(3049, "Internal error: wrong number of pages for a table definition.");
  std::vector<std::vector<uint8_t>> out;
  size_t pos = 0;
  for (size_t i = 0; i < pages.size(); ++i) {
    std::vector<uint8_t> pg(ps, 0);
    size_t used;
    if (i == 0) {
      used = std::min<size_t>(buffer.size(), ps);
      std::copy(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(used), pg.begin());
      pos = used;
    } else {
      const size_t n = std::min<size_t>(buffer.size() - pos, ps - 8);
      std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(pos),
                buffer.begin() + static_cast<std::ptrdiff_t>(pos + n), pg.begin() + 8);
      pos += n;
      used = n + 8;
    }
    pg[0] = 0x02;
    pg[1] = 0x01;
    if (jet4) {
      const size_t free = used + 8 >= ps ? 0 : ps - used - 8;
      pg[2] = static_cast<uint8_t>(free);
      pg[3] = static_cast<uint8_t>(free >> 8);
    } else {
      pg[2] = 'V';
      pg[3] = 'C';
    }
    const uint32_t next = i + 1 < pages.size() ? pages[i + 1] : 0;
    for (int k = 0; k < 4; ++k) pg[4 + k] = static_cast<uint8_t>(next >> (8 * k));
    out.push_back(std::move(pg));
  }
  return out;
}

}  // namespace bv::storage
