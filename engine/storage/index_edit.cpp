#include "engine/storage/index_edit.h"

#include <algorithm>
#include <set>
#include <utility>

#include "engine/storage/error.h"
#include "engine/storage/index_page.h"
#include "engine/storage/key_encode.h"
#include "engine/storage/page_build.h"
#include "engine/storage/tdef_encode.h"
#include "engine/storage/write_unit.h"

namespace bv::storage {

namespace {

constexpr uint8_t kUnique = 0x01;  // the unique bit of a real index's flags

// Builds a B-tree over sorted entries on new pages; returns the root and every page used.
uint32_t buildTree(WriteUnit& unit, uint32_t tdefPage, std::vector<IndexEntry> level, std::vector<uint32_t>& used) {
  const bool jet4 = unit.jet4();
  const IndexPageLayout layout = IndexPageLayout::forJet4(jet4);
  const size_t room = layout.pageSize - layout.firstEntry;
  bool leaf = true;
  while (true) {
    // Group the level into pages, filling each as far as whole entries go.
    std::vector<std::vector<IndexEntry>> groups(1);
    size_t fill = 0;
    for (IndexEntry& e : level) {
      const size_t n = e.key.size() + (leaf ? 4 : 8);
      if (fill + n > room && !groups.back().empty()) {
        groups.emplace_back();
        fill = 0;
      }
      fill += n;
      groups.back().push_back(std::move(e));
    }
    std::vector<uint32_t> pages;
    for (size_t i = 0; i < groups.size(); ++i) pages.push_back(unit.allocate());
    std::vector<IndexEntry> parents;
    for (size_t i = 0; i < groups.size(); ++i) {
      IndexPage p;
      p.type = leaf ? kIndexLeafPage : kIndexNodePage;
      p.tdefPage = tdefPage;
      p.prev = i > 0 ? pages[i - 1] : 0;
      p.next = i + 1 < groups.size() ? pages[i + 1] : 0;
      p.entries = groups[i];
      const std::vector<uint8_t> img = encodeIndexPage(p, jet4, 0);
      std::copy(img.begin(), img.end(), unit.modify(pages[i]));
      used.push_back(pages[i]);
      if (!groups[i].empty()) {
        IndexEntry up = groups[i].back();
        up.child = pages[i];
        parents.push_back(std::move(up));
      }
    }
    if (pages.size() == 1) return pages[0];
    level = std::move(parents);
    leaf = false;
  }
}

[[noreturn]] void noSuchIndex(const std::u16string& index, const TableDef& t) {
  throw JetError(3371, "Cannot find the index '" + toUtf8(index) + "' on the table '" + toUtf8(t.name) + "'.");
}

}  // namespace

void rewriteTableDef(WriteUnit& unit, TableDef& t) {
  const bool jet4 = unit.jet4();
  const std::vector<uint8_t> buf = encodeTableDef(t, jet4);
  const uint32_t need = tdefPagesNeeded(buf.size(), unit.pageSize());
  std::vector<uint32_t> pages = t.tdefPages;
  while (pages.size() < need) pages.push_back(unit.allocate());
  while (pages.size() > need) {
    unit.release(pages.back());
    pages.pop_back();
  }
  const auto images = tdefPageImages(buf, pages, jet4);
  for (size_t i = 0; i < pages.size(); ++i) std::copy(images[i].begin(), images[i].end(), unit.modify(pages[i]));
  t.tdefPages = pages;
}

int addIndex(WriteUnit& unit, const std::u16string& table, const IndexDesign& design) {
  Database& db = unit.db();
  const bool jet4 = db.isJet4();
  TableDef t = *db.table(table);
  for (const IndexDef& d : t.indexes) {
    if (jetNameEquals(d.name, design.name))
      throw JetError(3375, "The table '" + toUtf8(t.name) + "' already has an index named '" + toUtf8(design.name) + "'.");
    if (design.primaryKey && d.primaryKey)
      throw JetError(3283, "The table '" + toUtf8(t.name) + "' already has a primary key.");
  }
  if (design.columns.empty() || design.columns.size() > 10)
    throw JetError(3264, "An index names between 1 and 10 columns.");

  RealIndexDef ri;
  for (const IndexColumnDesign& c : design.columns) {
    const int pos = t.findColumn(c.column);
    if (pos < 0)
      throw JetError(3265, "The table '" + toUtf8(t.name) + "' has no column named '" + toUtf8(c.column) + "'.");
    const ColumnDef& col = t.columns[static_cast<size_t>(pos)];
    if (col.type == ColType::OLE || (col.type == ColType::Memo && !jet4))
      throw JetError(3367, "The column '" + toUtf8(col.name) + "' cannot be indexed.");
    ri.columns.push_back({col.number, c.ascending});
  }
  ri.flags = realFlagsOf(design, jet4);

  IndexDef d = logicalIndexOf(design, ri.columns, jet4);
  for (const IndexDef& x : t.indexes) d.indexNumber = std::max(d.indexNumber, x.indexNumber + 1);
  if (design.foreignKey && design.fkSide == 1) {
    // The referenced end: the rows are already indexed by a unique index on these columns.
    for (size_t r = 0; r < t.realIndexes.size(); ++r) {
      const RealIndexDef& have = t.realIndexes[r];
      if ((have.flags & kUnique) && have.columns.size() == ri.columns.size() &&
          std::equal(ri.columns.begin(), ri.columns.end(), have.columns.begin(),
                     [](const IndexColumn& a, const IndexColumn& b) { return a.columnNumber == b.columnNumber; })) {
        d.realIndex = static_cast<int>(r);
        d.realFlags = have.flags;
        d.firstPage = have.rootPage;
        t.indexes.push_back(d);
        rewriteTableDef(unit, t);
        return d.indexNumber;
      }
    }
    throw JetError(3609, "The table '" + toUtf8(t.name) + "' has no unique index on the columns the relationship refers to.");
  }

  // The keys of the rows already in the table, checked against the index's rules.
  std::vector<IndexEntry> entries;
  // Rows with a Null in some key column: a unique index holds any number of them, as it does
  // when rows are added later.
  std::set<std::pair<uint32_t, uint8_t>> nullKeyed;
  TableCursor cur = db.scan(t);
  std::vector<Value> row;
  while (cur.next()) {
    cur.readRow(row);
    const bool allNull = allKeyColumnsNull(ri.columns, t, row);
    const bool anyNull = std::any_of(ri.columns.begin(), ri.columns.end(), [&](const IndexColumn& c) {
      return row[static_cast<size_t>(t.columnByNumber(c.columnNumber))].isNull();
    });
    if ((design.required || design.primaryKey) && anyNull)
      throw JetError(3058, "The index '" + toUtf8(design.name) + "' does not allow Null, and a row holds one.");
    if (design.ignoreNulls && allNull) continue;
    if (anyNull) nullKeyed.emplace(cur.rowId().page, cur.rowId().row);
    IndexEntry e;
    e.key = encodeKey(ri, t, row, jet4);
    e.dataPage = cur.rowId().page;
    e.dataRow = cur.rowId().row;
    entries.push_back(std::move(e));
  }
  std::sort(entries.begin(), entries.end(), [](const IndexEntry& a, const IndexEntry& b) { return compareEntries(a, b) < 0; });
  uint32_t distinct = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i > 0 && entries[i].key == entries[i - 1].key) {
      if ((ri.flags & kUnique) && !nullKeyed.count({entries[i].dataPage, entries[i].dataRow}))
        throw JetError(3022, "The index '" + toUtf8(design.name) + "' would hold duplicate values.");
      continue;
    }
    ++distinct;
  }
  ri.distinctKeys = distinct;

  std::vector<uint32_t> treePages;
  ri.rootPage = buildTree(unit, t.tdefPage, std::move(entries), treePages);
  // The index's usage map, on a page of its own.
  const uint32_t mapsPage = unit.allocate();
  const uint32_t first = *std::min_element(treePages.begin(), treePages.end());
  const std::vector<uint8_t> mapsImg = buildDataPage(0, {inlineUsageMap(first, treePages, jet4)}, jet4);
  std::copy(mapsImg.begin(), mapsImg.end(), unit.modify(mapsPage));
  ri.usageMap = RowPointer{mapsPage, 0};

  d.realIndex = static_cast<int>(t.realIndexes.size());
  d.firstPage = ri.rootPage;
  d.realFlags = ri.flags;
  t.realIndexes.push_back(ri);
  t.indexes.push_back(d);
  rewriteTableDef(unit, t);
  return d.indexNumber;
}

void removeIndex(WriteUnit& unit, const std::u16string& table, const std::u16string& index) {
  Database& db = unit.db();
  TableDef t = *db.table(table);
  auto it = std::find_if(t.indexes.begin(), t.indexes.end(),
                         [&](const IndexDef& d) { return jetNameEquals(d.name, index); });
  if (it == t.indexes.end()) noSuchIndex(index, t);
  if (it->foreignKey)
    throw JetError(3303, "The index '" + toUtf8(index) + "' belongs to a relationship; delete the relationship first.");
  const int real = it->realIndex;
  t.indexes.erase(it);
  const bool shared = std::any_of(t.indexes.begin(), t.indexes.end(), [&](const IndexDef& d) { return d.realIndex == real; });
  if (!shared && real >= 0 && static_cast<size_t>(real) < t.realIndexes.size()) {
    const RealIndexDef ri = t.realIndexes[static_cast<size_t>(real)];
    std::vector<uint32_t> pages = db.usageMapPages(ri.usageMap);
    if (std::find(pages.begin(), pages.end(), ri.rootPage) == pages.end()) pages.push_back(ri.rootPage);
    for (uint32_t p : pages) unit.release(p);
    // A page that held only this map goes too.
    const PageRef mp = db.page(ri.usageMap.page);
    if (mp[0] == 0x01 && mp.u32(4) == 0 && mp.u16(unit.jet4() ? 12 : 8) == 1) unit.release(ri.usageMap.page);
    t.realIndexes.erase(t.realIndexes.begin() + real);
    for (IndexDef& d : t.indexes)
      if (d.realIndex > real) --d.realIndex;
  }
  rewriteTableDef(unit, t);
}

}  // namespace bv::storage
