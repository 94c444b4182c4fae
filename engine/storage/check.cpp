#include "engine/storage/check.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "engine/storage/data_page.h"
#include "engine/storage/error.h"
#include "engine/storage/index_page.h"
#include "engine/storage/key_encode.h"
#include "engine/storage/text_key.h"

namespace bv::storage {
namespace {

constexpr uint8_t kDataPage = 0x01;
constexpr uint32_t kLvalTag = 0x4C41564C;  // "LVAL" read as u32 LE
constexpr int kMaxTreeDepth = 64;
constexpr uint16_t kGeneralSortOrder = 1033;
constexpr uint16_t kWesternCodePage = 1252;
constexpr uint8_t kIdxUnique = 0x01, kIdxIgnoreNulls = 0x02, kIdxRequired = 0x08;

uint32_t rowKey(uint32_t page, uint8_t row) { return page << 8 | row; }
std::string rowName(uint32_t raw) {
  return "row " + std::to_string(raw >> 8) + ":" + std::to_string(raw & 0xFF);
}

std::string hexBytes(const std::vector<uint8_t>& b) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < b.size() && i < 48; ++i) {
    if (i) s += ' ';
    s += d[b[i] >> 4];
    s += d[b[i] & 15];
  }
  if (b.size() > 48) s += " ...";
  return s;
}

// One real index's expected entries, gathered while the table is scanned.
struct ExpectedIndex {
  std::unordered_map<uint32_t, std::vector<uint8_t>> keys;  // row -> key
  std::unordered_set<uint32_t> nullRows;   // rows left out because every key column is Null
  std::vector<std::vector<uint8_t>> uniqueKeys;  // keys without Null parts (unique indexes)
  size_t keyFailures = 0;     // rows whose key this engine cannot build
  std::string firstKeyError;
  bool unsupported = false;  // keys in a sort order this engine cannot build
};

class Checker {
 public:
  Checker(const Database& db, const CheckOptions& opt, CheckReport& r)
      : db_(db), opt_(opt), r_(r), pageCount_(db.pageCount()) {}

  void run() {
    scanPages();
    readGlobalMap();
    std::set<uint32_t> done;
    for (const CatalogEntry& e : db_.catalog()) {
      if (e.kind != ObjectKind::UserTable && e.kind != ObjectKind::SystemTable) continue;
      if (!done.insert(e.tdefPage()).second) {
        ctx_ = "table '" + toUtf8(e.name) + "': ";
        problem("definition", "its definition page " + std::to_string(e.tdefPage()) +
                                  " also belongs to another table");
        continue;
      }
      checkTable(e);
    }
    flushCounts();
  }

 private:
  // ---- reporting, with a cap per table and kind
  void problem(const std::string& kind, const std::string& text) {
    size_t& n = listed_[ctx_ + "\x1f" + kind];
    if (++n <= opt_.maxListed) r_.problems.push_back(ctx_ + text);
  }
  void flushCounts() {
    for (const auto& [k, n] : listed_) {
      if (n <= opt_.maxListed) continue;
      auto sep = k.find('\x1f');
      r_.problems.push_back(k.substr(0, sep) + "... and " + std::to_string(n - opt_.maxListed) +
                            " more problems of the kind: " + k.substr(sep + 1));
    }
  }

  // ---- whole-file facts
  void scanPages() {
    type_.assign(pageCount_, 0);
    owner_.assign(pageCount_, 0);
    for (uint32_t n = 0; n < pageCount_; ++n) {
      try {
        PageRef p = db_.page(n);
        type_[n] = p[0];
        if (p[0] == kDataPage && p.size() >= 8) {
          owner_[n] = p.u32(4);
          noteOverflowTargets(p);
        }
      } catch (const JetError& e) {
        problem("unreadable page", "page " + std::to_string(n) + ": " + e.what());
      }
    }
  }

  // Pages that moved rows live on: their slots are flagged deleted, yet they hold rows.
  void noteOverflowTargets(const PageRef& p) {
    const bool jet4 = db_.isJet4();
    const int count = dataPageRowCount(p, jet4);
    for (int i = 0; i < count; ++i) {
      RowSpan s;
      if (!locateRow(p, jet4, count, i, s)) return;
      if ((s.flags & kRowOverflow) && !(s.flags & kRowDeleted) && s.end - s.start >= 4)
        overflowTargets_.insert(p.u32(s.start) >> 8);
    }
  }

  void readGlobalMap() {
    free_.assign(pageCount_, false);
    try {
      for (uint32_t p : db_.usageMapPages(RowPointer{1, 0}))
        if (p < pageCount_) free_[p] = true;
      ++r_.usageMaps;
    } catch (const JetError& e) {
      problem("global map", std::string("the global page map cannot be read: ") + e.what());
    }
  }

  std::vector<uint32_t> mapPages(RowPointer map, const std::string& what) {
    if (map.isNull()) return {};
    try {
      auto pages = db_.usageMapPages(map);
      ++r_.usageMaps;
      return pages;
    } catch (const JetError& e) {
      problem("usage map", what + " cannot be read: " + e.what());
      return {};
    }
  }

  // Table definition and index pages belong to exactly one structure.
  void claim(uint32_t page, const std::string& what) {
    const std::string owner = ctx_.substr(0, ctx_.size() - 2) + " (" + what + ")";
    auto [it, fresh] = claimed_.emplace(page, owner);
    if (!fresh && it->second != owner)
      problem("shared page", "page " + std::to_string(page) + " also belongs to " + it->second);
  }

  void mustBeInUse(uint32_t page, const std::string& what) {
    if (page < pageCount_ && free_[page])
      problem("global map", what + " page " + std::to_string(page) +
                                " is marked free in the global page map");
  }

  // ---- one table
  void checkTable(const CatalogEntry& e) {
    ctx_ = "table '" + toUtf8(e.name) + "': ";
    std::shared_ptr<const TableDef> def;
    try {
      def = db_.tableAt(e.tdefPage(), e.name);
    } catch (const JetError& err) {
      problem("definition", std::string("the table definition cannot be read: ") + err.what());
      return;
    }
    ++r_.tables;
    for (uint32_t p : def->tdefPages) {
      mustBeInUse(p, "table definition");
      claim(p, "definition");
    }
    checkDataPages(*def);
    checkLongValueMaps(*def);

    std::vector<ExpectedIndex> expected(def->realIndexes.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      if (keysSupported(*def, def->realIndexes[i])) continue;
      expected[i].unsupported = true;
      r_.notes.push_back(ctx_ + "index " + indexName(*def, static_cast<int>(i)) +
                         ": entries were not compared with the rows: its text sort order is not supported");
    }
    std::unordered_set<uint32_t> live;
    scanRows(def, expected, live);
    const bool user = e.kind == ObjectKind::UserTable || def->tableType == 0x4E;
    if (user && def->rowCount != live.size())
      problem("row count", "the definition records " + std::to_string(def->rowCount) +
                               " rows but the table holds " + std::to_string(live.size()));
    const std::string tableCtx = ctx_;
    for (size_t i = 0; i < def->realIndexes.size(); ++i) {
      ctx_ = tableCtx + "index " + indexName(*def, static_cast<int>(i)) + ": ";
      checkIndex(*def, def->realIndexes[i], expected[i], live);
    }
    ctx_ = tableCtx;
  }

  static std::string indexName(const TableDef& def, int real) {
    std::string names;
    for (const IndexDef& ix : def.indexes)
      if (ix.realIndex == real) names += (names.empty() ? "'" : ", '") + toUtf8(ix.name) + "'";
    return names.empty() ? "#" + std::to_string(real) : names;
  }

  void checkDataPages(const TableDef& def) {
    std::vector<uint32_t> owned = mapPages(def.ownedMap, "the owned-pages map");
    std::vector<uint32_t> freeMap = mapPages(def.freeMap, "the free-space map");
    std::set<uint32_t> ownedSet(owned.begin(), owned.end());
    for (uint32_t p : owned) {
      if (p >= pageCount_) {
        problem("owned map", "the owned-pages map lists page " + std::to_string(p) +
                                 ", beyond the end of the file");
      } else if (type_[p] != kDataPage || owner_[p] != def.tdefPage) {
        problem("owned map", "the owned-pages map lists page " + std::to_string(p) +
                                 ", which is not a data page of this table");
      } else {
        mustBeInUse(p, "data");
        checkFreeSpaceField(p);
      }
    }
    std::vector<uint32_t> leaked;
    for (uint32_t p = 0; p < pageCount_; ++p) {
      if (type_[p] != kDataPage || owner_[p] != def.tdefPage || free_[p] || ownedSet.count(p)) continue;
      if (holdsNoLiveRow(p))
        leaked.push_back(p);
      else
        problem("owned map", "data page " + std::to_string(p) +
                                 " names this table but is missing from its owned-pages map (it holds rows)");
    }
    if (!leaked.empty()) {
      std::string list;
      for (size_t i = 0; i < leaked.size() && i < 10; ++i) list += (i ? ", " : "") + std::to_string(leaked[i]);
      if (leaked.size() > 10) list += ", ...";
      r_.notes.push_back(ctx_ + "leaked pages: " + std::to_string(leaked.size()) +
                         " data page(s) naming this table hold only deleted rows and are in no usage map "
                         "(space left unused, no rows hidden): " + list);
    }
    for (uint32_t p : freeMap)
      if (!ownedSet.count(p))
        problem("free map", "the free-space map lists page " + std::to_string(p) +
                                ", which the table does not own");
  }

  // A data page whose every slot is deleted (or that has none): nothing on it is a row.
  bool holdsNoLiveRow(uint32_t pageNo) {
    if (overflowTargets_.count(pageNo)) return false;
    try {
      PageRef p = db_.page(pageNo);
      const int count = dataPageRowCount(p, db_.isJet4());
      if (count < 0) return false;
      const uint32_t table = rowCountOffset(db_.isJet4()) + 2;
      for (int i = 0; i < count; ++i)
        if (!(p.u16(table + 2 * static_cast<uint32_t>(i)) & kRowDeleted)) return false;
      return true;
    } catch (const JetError&) {
      return false;
    }
  }

  void checkFreeSpaceField(uint32_t pageNo) {
    PageRef p = db_.page(pageNo);
    const bool jet4 = db_.isJet4();
    const int count = dataPageRowCount(p, jet4);
    if (count < 0) {
      problem("data page", "data page " + std::to_string(pageNo) + ": the row table overflows the page");
      return;
    }
    uint32_t lowest = p.size();
    for (int i = 0; i < count; ++i) {
      RowSpan s;
      if (!locateRow(p, jet4, count, i, s)) {
        problem("data page", "data page " + std::to_string(pageNo) + ": row " + std::to_string(i) +
                                 " lies outside the page");
        return;
      }
      lowest = std::min<uint32_t>(lowest, s.start);
    }
    const uint32_t table = rowCountOffset(jet4) + 2 + 2 * static_cast<uint32_t>(count);
    if (p.u16(2) != lowest - table)
      problem("data page", "data page " + std::to_string(pageNo) + ": the free-space field says " +
                               std::to_string(p.u16(2)) + " bytes, the page has " +
                               std::to_string(lowest - table));
  }

  void checkLongValueMaps(const TableDef& def) {
    for (const ColumnDef& c : def.columns) {
      if (!c.isLongValue()) continue;
      const std::string what = "the long-value map of column '" + toUtf8(c.name) + "'";
      std::vector<uint32_t> owned = mapPages(c.lvOwnedMap, what);
      std::set<uint32_t> ownedSet(owned.begin(), owned.end());
      for (uint32_t p : owned) {
        if (p >= pageCount_ || type_[p] != kDataPage || owner_[p] != kLvalTag)
          problem("long-value map", what + " lists page " + std::to_string(p) +
                                        ", which is not a long-value page");
      }
      for (uint32_t p : mapPages(c.lvFreeMap, what + " (free space)"))
        if (!ownedSet.count(p))
          problem("long-value map", what + " (free space) lists page " + std::to_string(p) +
                                        ", which the column does not own");
    }
  }

  void scanRows(const std::shared_ptr<const TableDef>& def, std::vector<ExpectedIndex>& expected,
                std::unordered_set<uint32_t>& live) {
    const bool jet4 = db_.isJet4();
    std::vector<Value> row;
    int64_t maxAuto = 0;
    try {
      TableCursor cur = db_.scan(def);
      while (true) {
        try {
          if (!cur.next()) break;
        } catch (const JetError& err) {
          problem("rows", std::string("the table scan stopped: ") + err.what());
          break;
        }
        const RowId id = cur.rowId();
        const uint32_t raw = rowKey(id.page, id.row);
        live.insert(raw);
        ++r_.rows;
        try {
          cur.readRow(row);
        } catch (const JetError& err) {
          problem("rows", rowName(raw) + " cannot be read: " + err.what());
          continue;
        }
        for (size_t i = 0; i < def->realIndexes.size(); ++i)
          expectEntry(*def, def->realIndexes[i], expected[i], raw, row, jet4);
        for (size_t c = 0; c < def->columns.size() && c < row.size(); ++c)
          if (def->columns[c].autoNumber && row[c].get<int32_t>())
            maxAuto = std::max(maxAuto, static_cast<int64_t>(*row[c].get<int32_t>()));
      }
    } catch (const JetError& err) {
      problem("rows", std::string("the table cannot be scanned: ") + err.what());
    }
    // The next AutoNumber is the recorded one + 1, so it must not lie below a value in use.
    if (maxAuto > static_cast<int64_t>(def->autoNumber))
      problem("autonumber", "the definition records " + std::to_string(def->autoNumber) +
                                " as the last AutoNumber, but the value " + std::to_string(maxAuto) +
                                " is in use");
  }

  // Text keys are built for the General sort order (LCID 1033) only.
  bool keysSupported(const TableDef& def, const RealIndexDef& ix) const {
    for (const IndexColumn& ic : ix.columns) {
      int pos = def.columnByNumber(ic.columnNumber);
      if (pos < 0 || !def.columns[pos].isText()) continue;
      const uint16_t lcid = def.columns[pos].sortOrder ? def.columns[pos].sortOrder : db_.sortOrder();
      if (lcid != kGeneralSortOrder || (db_.isJet4() && db_.sortVersion() != 0)) return false;
      // Jet 3 text is stored in the database's code page; keys are built from code page 1252.
      const uint16_t cp = def.columns[pos].codePage ? def.columns[pos].codePage : db_.codePage();
      if (!db_.isJet4() && cp != kWesternCodePage) return false;
    }
    return true;
  }

  void expectEntry(const TableDef& def, const RealIndexDef& ix, ExpectedIndex& ex, uint32_t raw,
                   const std::vector<Value>& row, bool jet4) {
    if (ex.unsupported) return;
    try {
      bool anyNull = false;
      for (const IndexColumn& ic : ix.columns) {
        int pos = def.columnByNumber(ic.columnNumber);
        if (pos >= 0 && def.columns[pos].type != ColType::Bool &&
            (static_cast<size_t>(pos) >= row.size() || row[pos].isNull()))
          anyNull = true;
      }
      if (anyNull && (ix.flags & kIdxRequired))
        problem("required", rowName(raw) + " has a Null key column in an index that requires values");
      if ((ix.flags & kIdxIgnoreNulls) && allKeyColumnsNull(ix.columns, def, row)) {
        ex.nullRows.insert(raw);
        return;
      }
      std::vector<uint8_t> key = encodeKey(ix, def, row, jet4);
      if ((ix.flags & kIdxUnique) && !anyNull) ex.uniqueKeys.push_back(key);
      ex.keys.emplace(raw, std::move(key));
    } catch (const JetError& err) {
      // Without the row's key its entry cannot be compared. A value the sort order has no
      // key for (a character without sort data) is a limit of this engine, not damage.
      if (err.number() != kErrKeyNotEncodable) {
        problem("key", rowName(raw) + ": no key can be built: " + err.what());
      } else if (ex.keyFailures++ == 0) {
        ex.firstKeyError = rowName(raw) + ": " + err.what();
      }
    }
  }

  // ---- one index tree
  struct TreeWalk {
    std::vector<std::vector<uint32_t>> levels;              // pages per depth, in key order
    std::unordered_map<uint32_t, std::pair<uint32_t, uint32_t>> links;  // page -> prev, next
    std::unordered_set<uint32_t> pages;
    std::vector<IndexEntry> leaves;
    int leafDepth = -1;
  };

  void walkPage(const TableDef& def, uint32_t pageNo, int depth, TreeWalk& w) {
    const std::string where = "index page " + std::to_string(pageNo);
    if (depth > kMaxTreeDepth) {
      problem("tree", where + ": the tree is deeper than any index can be");
      return;
    }
    if (pageNo < 3 || pageNo >= pageCount_) {
      problem("tree", where + " lies outside the file");
      return;
    }
    if (!w.pages.insert(pageNo).second) {
      problem("tree", where + " is reached twice");
      return;
    }
    IndexPage ip;
    try {
      PageRef p = db_.page(pageNo);
      ip = decodeIndexPage(std::span<const uint8_t>(p.data(), p.size()), db_.isJet4(), pageNo);
    } catch (const JetError& err) {
      problem("tree", err.what());
      return;
    }
    ++r_.indexPages;
    mustBeInUse(pageNo, "index");
    claim(pageNo, "tree");
    if (ip.tdefPage != def.tdefPage)
      problem("tree", where + " names table definition " + std::to_string(ip.tdefPage));
    if (ip.freeSpace != db_.pageSize() - ip.usedEnd)
      problem("tree", where + ": the free-space field says " + std::to_string(ip.freeSpace) +
                          " bytes, the page has " + std::to_string(db_.pageSize() - ip.usedEnd));
    if (ip.leaf() && ip.tail != 0) problem("tree", where + ": a leaf page has a tail page");
    for (size_t i = 1; i < ip.entries.size(); ++i)
      if (compareEntries(ip.entries[i - 1], ip.entries[i]) >= 0)
        problem("order", where + ": entry " + std::to_string(i) + " is not above the one before it");
    if (w.levels.size() <= static_cast<size_t>(depth)) w.levels.resize(depth + 1);
    w.levels[depth].push_back(pageNo);
    w.links[pageNo] = {ip.prev, ip.next};
    if (ip.leaf()) {
      if (w.leafDepth >= 0 && w.leafDepth != depth)
        problem("tree", where + ": leaves lie at different depths");
      w.leafDepth = depth;
      for (auto& e : ip.entries) w.leaves.push_back(std::move(e));
      return;
    }
    if (ip.entries.empty() && ip.tail == 0)
      problem("tree", where + ": an intermediate page without children");
    for (const IndexEntry& e : ip.entries) {
      const size_t before = w.leaves.size();
      walkPage(def, e.child, depth + 1, w);
      // A parent entry equals (or at least bounds) the last entry below it.
      if (w.leaves.size() > before && compareEntries(w.leaves.back(), e) > 0)
        problem("tree", where + ": the entry for child page " + std::to_string(e.child) +
                            " is below the entries of that child");
    }
    if (ip.tail) walkPage(def, ip.tail, depth + 1, w);
  }

  void checkLinks(const TreeWalk& w) {
    for (size_t d = 0; d < w.levels.size(); ++d) {
      const auto& lv = w.levels[d];
      for (size_t i = 0; i < lv.size(); ++i) {
        const auto& [prev, next] = w.links.at(lv[i]);
        const uint32_t wantPrev = i ? lv[i - 1] : 0, wantNext = i + 1 < lv.size() ? lv[i + 1] : 0;
        if (prev != wantPrev || next != wantNext)
          problem("links", "index page " + std::to_string(lv[i]) + ": sibling links " +
                               std::to_string(prev) + "/" + std::to_string(next) + ", expected " +
                               std::to_string(wantPrev) + "/" + std::to_string(wantNext));
      }
    }
  }

  void checkIndex(const TableDef& def, const RealIndexDef& ix, ExpectedIndex& ex,
                  const std::unordered_set<uint32_t>& live) {
    ++r_.indexes;
    TreeWalk w;
    walkPage(def, ix.rootPage, 0, w);
    checkLinks(w);
    r_.indexEntries += w.leaves.size();

    std::vector<uint32_t> mapped = mapPages(ix.usageMap, "the index's page map");
    std::set<uint32_t> mapSet(mapped.begin(), mapped.end());
    for (uint32_t p : w.pages)
      if (!mapSet.count(p)) problem("index map", "tree page " + std::to_string(p) + " is missing from the index's page map");
    for (uint32_t p : mapSet)
      if (!w.pages.count(p)) problem("index map", "the index's page map lists page " + std::to_string(p) + ", which is not in the tree");

    for (size_t i = 1; i < w.leaves.size(); ++i)
      if (compareEntries(w.leaves[i - 1], w.leaves[i]) >= 0)
        problem("order", "leaf entry " + std::to_string(i) + " (" +
                             rowName(rowKey(w.leaves[i].dataPage, w.leaves[i].dataRow)) +
                             ") is out of order");

    if (ex.unsupported) return;
    if (ex.keyFailures)
      r_.notes.push_back(ctx_ + "the entries of " + std::to_string(ex.keyFailures) +
                         " rows were not compared with their values, whose keys cannot be built (" +
                         ex.firstKeyError + ")");
    std::unordered_set<uint32_t> seen;
    for (const IndexEntry& e : w.leaves) {
      const uint32_t raw = rowKey(e.dataPage, e.dataRow);
      if (!live.count(raw)) {
        problem("entries", "an entry points at " + rowName(raw) + ", which is not a live row");
        continue;
      }
      if (!seen.insert(raw).second) {
        problem("entries", rowName(raw) + " is indexed more than once");
        continue;
      }
      if (ex.nullRows.count(raw)) {
        problem("entries", rowName(raw) + " has only Null key values but is indexed although the index ignores Nulls");
        continue;
      }
      auto it = ex.keys.find(raw);
      if (it == ex.keys.end()) continue;  // the row or its key could not be read (reported)
      if (it->second != e.key)
        problem("keys", rowName(raw) + ": the entry's key [" + hexBytes(e.key) +
                            "] does not match the row's values [" + hexBytes(it->second) + "]");
    }
    for (const auto& [raw, key] : ex.keys)
      if (!seen.count(raw)) problem("missing", rowName(raw) + " is missing from the index");

    if (ix.flags & kIdxUnique) {
      std::sort(ex.uniqueKeys.begin(), ex.uniqueKeys.end());
      for (size_t i = 1; i < ex.uniqueKeys.size(); ++i)
        if (ex.uniqueKeys[i] == ex.uniqueKeys[i - 1])
          problem("unique", "the unique index holds the key [" + hexBytes(ex.uniqueKeys[i]) + "] more than once");
    }
  }

  const Database& db_;
  const CheckOptions& opt_;
  CheckReport& r_;
  const uint32_t pageCount_;
  std::vector<uint8_t> type_;
  std::vector<uint32_t> owner_;
  std::vector<bool> free_;
  std::string ctx_;
  std::map<std::string, size_t> listed_;
  std::unordered_map<uint32_t, std::string> claimed_;
  std::unordered_set<uint32_t> overflowTargets_;
};

}  // namespace

CheckReport checkDatabase(const Database& db, const CheckOptions& options) {
  CheckReport report;
  Checker(db, options, report).run();
  return report;
}

}  // namespace bv::storage
