#include "engine/storage/index_writer.h"

#include <optional>
#include <string>

#include "engine/storage/error.h"
#include "engine/storage/index_split.h"
#include "engine/storage/index_tree_edit.h"
#include "engine/storage/key_encode.h"
#include "engine/storage/tdef_layout.h"
#include "engine/storage/text_key.h"
#include "engine/storage/write_unit.h"

namespace bv::storage {
namespace {

constexpr uint8_t kIdxUnique = 0x01, kIdxIgnoreNulls = 0x02, kIdxRequired = 0x08;
constexpr uint16_t kGeneralSortOrder = 1033;
constexpr uint16_t kWesternCodePage = 1252;
constexpr int32_t kErrDuplicateKey = 3022;
constexpr int32_t kErrNullInIndex = 3058;

// One real index: its definition, how to name it, and its tree.
struct Index {
  size_t real = 0;
  std::string name;         // the logical names sharing this tree, quoted
  std::vector<IndexColumn> columns;
  bool unique = false, ignoreNulls = false, noNulls = false;  // noNulls: primary key or required
  std::string unsupported;  // why no key can be built with confidence; empty when keys can
  size_t rootOffset = 0;
  uint32_t distinct = 0;
  std::unique_ptr<IndexTreeEditor> tree;
};

// A row's place in one index: its entry, or none when the index leaves the row out.
struct Placement {
  bool present = false;
  bool anyNull = false;
  IndexEntry entry;
};

}  // namespace

struct TableIndexes::Impl {
  WriteUnit& unit;
  TableDef table;
  bool jet4;
  std::vector<Index> indexes;

  Impl(WriteUnit& u, const TableDef& t) : unit(u), table(t), jet4(u.jet4()) {}

  std::string where(const Index& ix) const {
    return "index " + ix.name + " of table '" + toUtf8(table.name) + "'";
  }

  std::string unsupportedReason(const RealIndexDef& ri) const {
    const Database& db = unit.db();
    for (const IndexColumn& ic : ri.columns) {
      const int pos = table.columnByNumber(ic.columnNumber);
      if (pos < 0) return "it names column number " + std::to_string(ic.columnNumber) + ", which the table does not have";
      const ColumnDef& c = table.columns[pos];
      const std::string col = "column '" + toUtf8(c.name) + "'";
      if (c.type == ColType::Memo) return col + " is a Memo column, whose keys this engine does not build";
      if (c.type == ColType::OLE || c.type == ColType::Complex)
        return col + " has a type whose keys this engine does not build";
      if (c.type == ColType::Decimal && !jet4) return col + " is a Decimal column in a Jet 3 file";
      if (!c.isText()) continue;
      const uint16_t lcid = c.sortOrder ? c.sortOrder : db.sortOrder();
      if (lcid != kGeneralSortOrder)
        return col + " uses sort order " + std::to_string(lcid) + "; only the General sort order (1033) is supported";
      if (jet4 && db.sortVersion() != 0)
        return "the database uses version " + std::to_string(db.sortVersion()) +
               " of its sort order; only the General sort order of Access 2000-2003 is supported";
      const uint16_t cp = c.codePage ? c.codePage : db.codePage();
      if (!jet4 && cp != kWesternCodePage)
        return col + " is stored in code page " + std::to_string(cp) + "; only code page 1252 is supported";
    }
    return {};
  }

  // Where the row goes in the index: throws when no key can be built or, for values about
  // to be written (`written`), when the index does not accept them. Values already stored
  // are only located: a row Access stored against the rules can still be deleted.
  Placement place(const Index& ix, std::span<const Value> row, RowId id, bool written = true) const {
    if (!ix.unsupported.empty())
      throw JetError(kErrKeyNotEncodable, "Cannot change table '" + toUtf8(table.name) + "': no key of " +
                                              where(ix) + " can be built with confidence: " + ix.unsupported + ".");
    Placement p;
    bool allNull = true;
    for (const IndexColumn& ic : ix.columns) {
      const int pos = table.columnByNumber(ic.columnNumber);
      const bool isNull = table.columns[pos].type != ColType::Bool &&
                          (static_cast<size_t>(pos) >= row.size() || row[pos].isNull());
      p.anyNull |= isNull;
      allNull &= isNull;
    }
    if (written && p.anyNull && ix.noNulls)
      throw JetError(kErrNullInIndex, "The " + where(ix) + " does not accept Null values.");
    if (allNull && ix.ignoreNulls) return p;
    std::vector<uint8_t> key;
    try {
      key = encodeKey(table.realIndexes[ix.real], table, row, jet4);
    } catch (const JetError& e) {
      if (e.number() != kErrKeyNotEncodable) throw;
      throw JetError(kErrKeyNotEncodable, "No key of " + where(ix) + " can be built for the row: " + e.what());
    }
    const size_t limit = indexEntryArea(jet4) / 4 - 8;
    if (written && key.size() > limit)
      throw JetError(kErrKeyNotEncodable, "The key of " + where(ix) + " would be " + std::to_string(key.size()) +
                                              " bytes long; this engine writes keys of at most " +
                                              std::to_string(limit) + " bytes.");
    p.present = true;
    p.entry = IndexEntry{std::move(key), id.page, id.row, 0};
    return p;
  }

  void checkUnique(Index& ix, const Placement& p, const RowId* replacing) {
    if (!ix.unique || !p.present || p.anyNull) return;
    if (ix.tree->findOtherWithKey(p.entry.key, replacing))
      throw JetError(kErrDuplicateKey, "The change would put a value into " + where(ix) +
                                           " that another row already has there; the index allows no duplicates.");
  }

  // After a tree changed: its root and distinct-key counter in the table definition.
  void record(Index& ix, uint32_t distinctBefore) {
    const uint32_t root = ix.tree->rootPage();
    if (root != table.realIndexes[ix.real].rootPage) {
      writeTdefU32(unit, table, ix.rootOffset, root);
      table.realIndexes[ix.real].rootPage = root;
    }
    if (ix.distinct != distinctBefore)
      writeTdefU32(unit, table, realIndexCounterOffset(jet4, ix.real), ix.distinct);
  }

  void add(Index& ix, const Placement& p) {
    if (!p.present) return;
    const uint32_t before = ix.distinct;
    if (ix.tree->insert(p.entry, ix.unique && !p.anyNull)) ++ix.distinct;
    record(ix, before);
  }

  void drop(Index& ix, const Placement& p) {
    if (!p.present) return;
    const uint32_t before = ix.distinct;
    if (ix.tree->remove(p.entry) && ix.distinct > 0) --ix.distinct;
    record(ix, before);
  }

  void mustHold(Index& ix, const Placement& p) {
    if (p.present && !ix.tree->contains(p.entry))
      throw JetError(3049, "The database is damaged: the " + where(ix) + " has no entry for row " +
                               std::to_string(p.entry.dataPage) + ":" + std::to_string(p.entry.dataRow) + ".");
  }
};

TableIndexes::TableIndexes(WriteUnit& unit, const TableDef& table) : impl_(std::make_unique<Impl>(unit, table)) {
  Impl& m = *impl_;
  for (size_t r = 0; r < table.realIndexes.size(); ++r) {
    const RealIndexDef& ri = table.realIndexes[r];
    Index ix;
    ix.real = r;
    ix.columns = ri.columns;
    ix.unique = (ri.flags & kIdxUnique) != 0;
    ix.ignoreNulls = (ri.flags & kIdxIgnoreNulls) != 0;
    ix.noNulls = (ri.flags & kIdxRequired) != 0;
    for (const IndexDef& l : table.indexes) {
      if (l.realIndex != static_cast<int>(r)) continue;
      ix.name += (ix.name.empty() ? "'" : ", '") + toUtf8(l.name) + "'";
      ix.noNulls |= l.primaryKey;
    }
    if (ix.name.empty()) ix.name = "#" + std::to_string(r);
    ix.unsupported = m.unsupportedReason(ri);
    // The root and counter as the unit has them now: an earlier writer in this unit may have
    // grown the tree since `table` was parsed.
    ix.rootOffset = realIndexRootOffset(table, m.jet4, r);
    const uint32_t root = readTdefU32(unit.db(), table, ix.rootOffset);
    m.table.realIndexes[r].rootPage = root;
    ix.distinct = readTdefU32(unit.db(), table, realIndexCounterOffset(m.jet4, r));
    ix.tree = std::make_unique<IndexTreeEditor>(unit, table.tdefPage, root, ri.usageMap);
    m.indexes.push_back(std::move(ix));
  }
}

TableIndexes::~TableIndexes() = default;

void TableIndexes::check(std::span<const Value> row, const RowId* replacing) const {
  // Every key first (Null rules, keys that cannot be built), then duplicates.
  const RowId id = replacing ? *replacing : RowId{};
  std::vector<Placement> ps;
  for (Index& ix : impl_->indexes) ps.push_back(impl_->place(ix, row, id));
  for (size_t i = 0; i < ps.size(); ++i) impl_->checkUnique(impl_->indexes[i], ps[i], replacing);
}

void TableIndexes::checkRemove(std::span<const Value> oldRow, RowId id, std::span<const Value> newRow) const {
  Impl& m = *impl_;
  for (Index& ix : m.indexes) {
    const Placement old = m.place(ix, oldRow, id, false);
    if (!newRow.empty()) {
      const Placement fresh = m.place(ix, newRow, id);
      if (old.present == fresh.present && (!old.present || old.entry == fresh.entry)) continue;
    }
    m.mustHold(ix, old);
  }
}

void TableIndexes::insertRow(std::span<const Value> row, RowId id) {
  Impl& m = *impl_;
  std::vector<Placement> ps;
  for (Index& ix : m.indexes) ps.push_back(m.place(ix, row, id));
  for (size_t i = 0; i < ps.size(); ++i) m.add(m.indexes[i], ps[i]);
}

void TableIndexes::removeRow(std::span<const Value> row, RowId id) {
  Impl& m = *impl_;
  std::vector<Placement> ps;
  for (Index& ix : m.indexes) ps.push_back(m.place(ix, row, id, false));
  for (size_t i = 0; i < ps.size(); ++i) m.mustHold(m.indexes[i], ps[i]);
  for (size_t i = 0; i < ps.size(); ++i) m.drop(m.indexes[i], ps[i]);
}

void TableIndexes::updateRow(std::span<const Value> oldRow, std::span<const Value> newRow, RowId id) {
  Impl& m = *impl_;
  std::vector<Placement> olds, news;
  for (Index& ix : m.indexes) {
    olds.push_back(m.place(ix, oldRow, id, false));
    news.push_back(m.place(ix, newRow, id));
  }
  auto same = [](const Placement& a, const Placement& b) {
    return a.present == b.present && (!a.present || a.entry == b.entry);
  };
  for (size_t i = 0; i < olds.size(); ++i)
    if (!same(olds[i], news[i])) m.mustHold(m.indexes[i], olds[i]);
  for (size_t i = 0; i < olds.size(); ++i) {
    if (same(olds[i], news[i])) continue;
    m.drop(m.indexes[i], olds[i]);
    m.add(m.indexes[i], news[i]);
  }
}

}  // namespace bv::storage
