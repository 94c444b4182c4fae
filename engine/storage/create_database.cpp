#include "engine/storage/create_database.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <set>

#include "engine/storage/error.h"
#include "engine/storage/file.h"
#include "engine/storage/index_page.h"
#include "engine/storage/key_encode.h"
#include "engine/storage/page_build.h"
#include "engine/storage/row_image.h"
#include "engine/storage/system_tables.h"
#include "engine/storage/table_design.h"
#include "engine/storage/tdef_encode.h"

namespace bv::storage {

namespace {

void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The header page: engine name, version, then the masked region with the code page, the
// sort order, an empty password and (Jet 4) the creation date.
std::vector<uint8_t> headerPage(bool jet4, const CreateOptions& o, double created) {
  const uint32_t ps = jet4 ? 4096 : 2048;
  std::vector<uint8_t> p(ps, 0);
  p[1] = 0x01;
  std::memcpy(p.data() + 4, "Standard Jet DB", 16);
  p[0x14] = jet4 ? 0x01 : 0x00;
  // Fields at the start of the masked region that every new file carries.
  p[0x19] = 0x01;
  p[0x1C] = 0x01;
  p[0x1D] = 0x01;
  for (uint32_t i = 0; i < 4; ++i) p[0x20 + 4 * i] = static_cast<uint8_t>(2 + i);
  put16(p, 0x3C, o.codePage);
  if (jet4) {
    // The engine build that wrote the file, the sort order, the creation date.
    put16(p, 0x6A, 9511);
    put16(p, 0x6E, o.sortOrder);
    uint64_t bits;
    std::memcpy(&bits, &created, 8);
    for (int i = 0; i < 8; ++i) p[0x72 + i] = static_cast<uint8_t>(bits >> (8 * i));
    // An empty password is stored as the second mask alone: the creation day, repeated.
    const int32_t day = static_cast<int32_t>(created);
    for (uint32_t i = 0; i < 40; ++i) p[0x42 + i] = static_cast<uint8_t>(static_cast<uint32_t>(day) >> (8 * (i % 4)));
    put32(p, 0x98, 1620);
    std::memcpy(p.data() + 0x9C, "4.0", 4);
  } else {
    p[0x38] = 0x01;
    put16(p, 0x3A, o.sortOrder);
    put16(p, 0x56, 9502);
  }
  // The last 512 bytes: counters that start at 1 (as Jet leaves them in a new file).
  const uint32_t tail = ps - 512;
  for (uint32_t i = tail; i < ps; i += 2) p[i + 1] = 0x01;
  p[tail] = 0x01;
  xorHeaderMask(p.data(), jet4 ? JetVersion::Jet4 : JetVersion::Jet3);
  return p;
}

// One system table while the file is being laid out.
struct Planned {
  TableDesign design;
  TableDef def;
  uint32_t tdefPage = 0;
  std::vector<uint32_t> mapsPages;  // the pages holding the table's usage maps
  std::vector<uint32_t> indexRoots;
  uint32_t dataPage = 0;  // 0 when the table starts empty
  std::vector<std::vector<Value>> rows;
};

// How many inline usage maps (with their offset-table slots) one data page holds.
size_t mapsPerPage(bool jet4) {
  const size_t room = (jet4 ? 4096 : 2048) - (jet4 ? 14 : 10);
  return room / (5 + inlineMapBitmapBytes(jet4) + 2);
}

}  // namespace

double currentDateTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  // Days from 1899-12-30 to the civil date (proleptic Gregorian), plus the time of day.
  int y = local.tm_year + 1900, m = local.tm_mon + 1;
  const int d = local.tm_mday;
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long days1970 = static_cast<long>(era) * 146097 + doe - 719468;
  const double secs = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
  return static_cast<double>(days1970 + 25569) + secs / 86400.0;
}

void createDatabase(const std::string& path, JetVersion version, const CreateOptions& options) {
  const bool jet4 = version == JetVersion::Jet4;
  if (options.sortOrder != 1033 || options.codePage != 1252)
    throw JetError(3251, "Only the General sort order with code page 1252 can be used for a new database.");
  const double created = options.created != 0 ? options.created : currentDateTime();
  const uint32_t ps = jet4 ? 4096 : 2048;

  // Lay out the pages: TDEFs on 2..5, then per table its page of usage maps and the roots
  // of its indexes, then the data pages of the tables that start with rows.
  std::vector<Planned> tables;
  uint32_t next = 2;
  for (TableDesign& s : systemTableDesigns(jet4)) {
    Planned t;
    t.def = layoutTable(s, jet4);
    t.design = std::move(s);
    t.tdefPage = next++;
    tables.push_back(std::move(t));
  }
  tables[0].rows = initialCatalogRows(jet4, created);
  tables[1].rows = initialAccessRows(jet4);
  for (Planned& t : tables) {
    size_t maps = 2 + t.def.realIndexes.size();
    for (const ColumnDef& c : t.def.columns) maps += c.isLongValue() ? 2 : 0;
    for (size_t i = 0; i * mapsPerPage(jet4) < maps; ++i) t.mapsPages.push_back(next++);
    for (size_t i = 0; i < t.def.realIndexes.size(); ++i) t.indexRoots.push_back(next++);
  }
  for (Planned& t : tables) {
    if (!t.rows.empty()) t.dataPage = next++;
  }
  const uint32_t pageCount = next;
  std::vector<std::vector<uint8_t>> pages(pageCount);
  pages[0] = headerPage(jet4, options, created);

  // Page 1: the global map (every page in use) and the second, empty map beside it.
  pages[1] = buildDataPage(1, {globalUsageMap(pageCount, jet4), inlineUsageMap(0, {}, jet4)}, jet4);

  for (Planned& t : tables) {
    TableDef& d = t.def;
    d.tdefPage = t.tdefPage;
    d.rowCount = static_cast<uint32_t>(t.rows.size());
    std::vector<std::vector<std::vector<uint8_t>>> maps(t.mapsPages.size());
    size_t mapCount = 0;
    auto addMap = [&](std::vector<uint32_t> listed) {
      const size_t page = mapCount / mapsPerPage(jet4);
      maps[page].push_back(inlineUsageMap(0, listed, jet4));
      ++mapCount;
      return RowPointer{t.mapsPages[page], static_cast<uint8_t>(maps[page].size() - 1)};
    };
    std::vector<uint32_t> dataPages;
    if (t.dataPage) dataPages.push_back(t.dataPage);
    d.ownedMap = addMap(dataPages);
    d.freeMap = addMap(dataPages);
    for (ColumnDef& c : d.columns) {
      if (!c.isLongValue()) continue;
      c.lvOwnedMap = addMap({});
      c.lvFreeMap = addMap({});
    }
    // Rows, then every index over them as one leaf page each.
    std::vector<RowId> ids;
    std::vector<std::vector<uint8_t>> images;
    for (size_t r = 0; r < t.rows.size(); ++r) {
      images.push_back(encodeRowImage(d, t.rows[r], jet4));
      ids.push_back({t.dataPage, static_cast<uint8_t>(r)});
    }
    if (t.dataPage) pages[t.dataPage] = buildDataPage(t.tdefPage, images, jet4);
    for (size_t i = 0; i < d.realIndexes.size(); ++i) {
      RealIndexDef& ri = d.realIndexes[i];
      ri.rootPage = t.indexRoots[i];
      ri.usageMap = addMap({ri.rootPage});
      IndexPage leaf;
      leaf.type = kIndexLeafPage;
      leaf.tdefPage = t.tdefPage;
      std::set<std::vector<uint8_t>> distinct;
      for (size_t r = 0; r < t.rows.size(); ++r) {
        IndexEntry e;
        e.key = encodeKey(ri, d, t.rows[r], jet4);
        e.dataPage = ids[r].page;
        e.dataRow = ids[r].row;
        distinct.insert(e.key);
        leaf.entries.push_back(std::move(e));
      }
      std::sort(leaf.entries.begin(), leaf.entries.end(),
                [](const IndexEntry& a, const IndexEntry& b) { return compareEntries(a, b) < 0; });
      ri.distinctKeys = static_cast<uint32_t>(distinct.size());
      // Jet leaves the entries of a new database's indexes uncompressed.
      pages[ri.rootPage] = encodeIndexPage(leaf, jet4, 0);
    }
    for (IndexDef& x : d.indexes) x.firstPage = d.realIndexes[static_cast<size_t>(x.realIndex)].rootPage;
    for (size_t i = 0; i < maps.size(); ++i) pages[t.mapsPages[i]] = buildDataPage(0, maps[i], jet4);
    const std::vector<uint8_t> buf = encodeTableDef(d, jet4);
    if (tdefPagesNeeded(buf.size(), ps) != 1)
      throw JetError(3049, "Internal error: a system table definition needs more than one page.");
    pages[t.tdefPage] = tdefPageImages(buf, {t.tdefPage}, jet4)[0];
  }

  auto f = std::make_unique<File>(path, File::CreateNew{});
  try {
    for (uint32_t n = 0; n < pageCount; ++n) f->writeAt(static_cast<uint64_t>(n) * ps, pages[n].data(), ps);
    f->flush();
  } catch (...) {
    f.reset();  // closed first: an open file cannot be removed everywhere
    try {
      File::remove(path);
    } catch (const JetError&) {
      // The write error is the one to report.
    }
    throw;
  }
}

}  // namespace bv::storage
