#include "engine/storage/index_writer.h"

#include <algorithm>
#include <bit>
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
  std::vector<int> positions;  // of the key columns in the table's columns (-1: none)
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

// Whether two values of a key column give the same key, known without building it: equal
// values of one kind, floating-point ones bit for bit (0 and -0 key apart).
bool sameKeyValue(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Kind::Single:
      return std::bit_cast<uint32_t>(a.as<float>()) == std::bit_cast<uint32_t>(b.as<float>());
    case Kind::Double:
      return std::bit_cast<uint64_t>(a.as<double>()) == std::bit_cast<uint64_t>(b.as<double>());
    case Kind::DateTime:
      return std::bit_cast<uint64_t>(a.as<DateTime>().days) == std::bit_cast<uint64_t>(b.as<DateTime>().days);
    default:
      return a == b;
  }
}

const Value& valueAt(std::span<const Value> row, int pos) {
  static const Value kNull;
  return pos >= 0 && static_cast<size_t>(pos) < row.size() ? row[static_cast<size_t>(pos)] : kNull;
}

}  // namespace

// One index's part in a row change: the entry taken out and the one put in.
struct TableIndexes::Change::Step {
  size_t index = 0;
  Placement old, fresh;
};

TableIndexes::Change::Change() = default;
TableIndexes::Change::~Change() = default;
TableIndexes::Change::Change(Change&&) noexcept = default;
TableIndexes::Change& TableIndexes::Change::operator=(Change&&) noexcept = default;

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
    // New pages of the tree must be listed in its page map.
    if (ri.usageMap.isNull()) return "the index has no page map";
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

  void refuseUnsupported(const Index& ix) const {
    if (!ix.unsupported.empty())
      throw JetError(kErrKeyNotEncodable, "Cannot change table '" + toUtf8(table.name) + "': no key of " +
                                              where(ix) + " can be built with confidence: " + ix.unsupported + ".");
  }

  // Whether some (`any`) and every (`all`) key column of the row is Null; Yes/No columns
  // never are.
  void nulls(const Index& ix, std::span<const Value> row, bool& any, bool& all) const {
    any = false;
    all = true;
    for (const int pos : ix.positions) {
      const bool isNull = table.columns[static_cast<size_t>(pos)].type != ColType::Bool && valueAt(row, pos).isNull();
      any |= isNull;
      all &= isNull;
    }
  }

  void refuseNull(const Index& ix, bool anyNull) const {
    if (anyNull && ix.noNulls) throw JetError(kErrNullInIndex, "The " + where(ix) + " does not accept Null values.");
  }

  // The key columns hold the same values in both rows, so the row keeps its entry.
  static bool keepsKey(const Index& ix, std::span<const Value> a, std::span<const Value> b) {
    for (const int pos : ix.positions)
      if (!sameKeyValue(valueAt(a, pos), valueAt(b, pos))) return false;
    return true;
  }

  // Where the row goes in the index: throws when no key can be built or, for values about
  // to be written (`written`), when the index does not accept them. Values already stored
  // are only located: a row Access stored against the rules can still be deleted.
  Placement place(const Index& ix, std::span<const Value> row, RowId id, bool written = true) const {
    refuseUnsupported(ix);
    Placement p;
    bool allNull = true;
    nulls(ix, row, p.anyNull, allNull);
    if (written) refuseNull(ix, p.anyNull);
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

  static bool same(const Placement& a, const Placement& b) {
    return a.present == b.present && (!a.present || a.entry == b.entry);
  }

  // The steps of an update: the new rows' rules first (as check()), then, with `unique`,
  // duplicates, then the entries that move must be found (as checkRemove()).
  std::vector<Change::Step> updateSteps(std::span<const Value> oldRow, std::span<const Value> newRow, RowId id,
                                        bool unique) {
    std::vector<Change::Step> steps;
    for (size_t i = 0; i < indexes.size(); ++i) {
      const Index& ix = indexes[i];
      if (keepsKey(ix, oldRow, newRow)) {
        refuseUnsupported(ix);
        bool any, all;
        nulls(ix, newRow, any, all);
        refuseNull(ix, any);
        continue;
      }
      steps.push_back({i, {}, place(ix, newRow, id)});
    }
    if (unique)
      for (const Change::Step& s : steps) checkUnique(indexes[s.index], s.fresh, &id);
    std::erase_if(steps, [&](Change::Step& s) {
      s.old = place(indexes[s.index], oldRow, id, false);
      if (same(s.old, s.fresh)) return true;
      mustHold(indexes[s.index], s.old);
      return false;
    });
    return steps;
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
    for (const IndexColumn& ic : ri.columns) ix.positions.push_back(table.columnByNumber(ic.columnNumber));
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
  if (newRow.empty())
    prepareRemove(oldRow, id);
  else
    impl_->updateSteps(oldRow, newRow, id, false);
}

TableIndexes::Change TableIndexes::prepareInsert(std::span<const Value> row) const {
  Impl& m = *impl_;
  Change c;
  for (size_t i = 0; i < m.indexes.size(); ++i) c.steps_.push_back({i, {}, m.place(m.indexes[i], row, RowId{})});
  for (const Change::Step& s : c.steps_) m.checkUnique(m.indexes[s.index], s.fresh, nullptr);
  return c;
}

TableIndexes::Change TableIndexes::prepareUpdate(std::span<const Value> oldRow, std::span<const Value> newRow,
                                                 RowId id) const {
  Change c;
  c.steps_ = impl_->updateSteps(oldRow, newRow, id, true);
  return c;
}

TableIndexes::Change TableIndexes::prepareRemove(std::span<const Value> oldRow, RowId id) const {
  Impl& m = *impl_;
  Change c;
  for (size_t i = 0; i < m.indexes.size(); ++i) {
    c.steps_.push_back({i, m.place(m.indexes[i], oldRow, id, false), {}});
    m.mustHold(m.indexes[i], c.steps_.back().old);
  }
  return c;
}

void TableIndexes::apply(Change& change, RowId id) {
  Impl& m = *impl_;
  for (Change::Step& s : change.steps_) {
    s.fresh.entry.dataPage = id.page;
    s.fresh.entry.dataRow = id.row;
    m.drop(m.indexes[s.index], s.old);
    m.add(m.indexes[s.index], s.fresh);
  }
}

void TableIndexes::insertRow(std::span<const Value> row, RowId id) {
  Change c = prepareInsert(row);
  apply(c, id);
}

void TableIndexes::removeRow(std::span<const Value> row, RowId id) {
  Change c = prepareRemove(row, id);
  apply(c, id);
}

void TableIndexes::updateRow(std::span<const Value> oldRow, std::span<const Value> newRow, RowId id) {
  Change c = prepareUpdate(oldRow, newRow, id);
  apply(c, id);
}

}  // namespace bv::storage
