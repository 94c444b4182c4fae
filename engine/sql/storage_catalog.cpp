#include "engine/sql/storage_catalog.h"

#include <algorithm>
#include <unordered_set>

#include "engine/storage/index_walk.h"

namespace bv::sql {

namespace {

class StorageCursor : public RowCursor {
 public:
  StorageCursor(storage::TableCursor c) : cur_(std::move(c)) {}
  bool next() override { return cur_.next(); }
  RowId rowId() const override { return cur_.rowId(); }
  const Value& value(size_t column) override { return cur_.value(column); }

 private:
  storage::TableCursor cur_;
};

bool startsWith(const std::vector<uint8_t>& key, const std::vector<uint8_t>& prefix) {
  return key.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), key.begin());
}

// The rows an index names within key ranges, each read through a seek.
class IndexRangeCursor : public RowCursor {
 public:
  IndexRangeCursor(const storage::Database& db, std::shared_ptr<const storage::TableDef> def,
                   const storage::RealIndexDef& index, std::vector<KeyRange> ranges)
      : db_(db), def_(std::move(def)), index_(index), ranges_(std::move(ranges)),
        cur_(db.scan(def_)) {
    if (ranges_.empty()) whole_ = true;
  }
  bool next() override {
    while (nextEntry())
      if (cur_.seek(id_)) return true;
    return false;
  }
  // Advances to the next entry within the ranges (not yet read from the table).
  bool nextEntry() {
    for (;;) {
      if (!positioned_) {
        if (whole_) {
          if (started_) return false;
          walker_.emplace(db_, *def_, index_);
        } else {
          if (range_ >= ranges_.size()) return false;
          // One walker seeks every range: the pages above the leaves are parsed once.
          if (walker_)
            walker_->seek(ranges_[range_].low);
          else
            walker_.emplace(db_, *def_, index_, ranges_[range_].low);
        }
        started_ = positioned_ = true;
      }
      storage::IndexEntry e;
      if (!walker_->next(e) || (!whole_ && past(e.key, ranges_[range_].high))) {
        positioned_ = false;
        if (whole_) return false;
        ++range_;
        continue;
      }
      if (ranges_.size() > 1 && !seen_.insert((uint64_t(e.dataPage) << 8) | e.dataRow).second) continue;
      id_ = RowId{e.dataPage, e.dataRow};
      return true;
    }
  }
  RowId entryId() const { return id_; }
  RowId rowId() const override { return cur_.rowId(); }
  const Value& value(size_t column) override { return cur_.value(column); }

 private:
  static bool past(const std::vector<uint8_t>& key, const std::vector<uint8_t>& high) {
    if (startsWith(key, high)) return false;
    return std::lexicographical_compare(high.begin(), high.end(), key.begin(), key.end());
  }
  const storage::Database& db_;
  std::shared_ptr<const storage::TableDef> def_;
  const storage::RealIndexDef& index_;
  std::vector<KeyRange> ranges_;
  storage::TableCursor cur_;
  std::optional<storage::IndexWalker> walker_;
  size_t range_ = 0;
  RowId id_;
  bool whole_ = false, started_ = false, positioned_ = false;
  std::unordered_set<uint64_t> seen_;
};

// The rows an index range names, read in the order of the file: the row ids are
// gathered and sorted first, so that each data page is read once and in file order.
class FileOrderCursor : public RowCursor {
 public:
  FileOrderCursor(const storage::Database& db, std::shared_ptr<const storage::TableDef> def,
                  std::unique_ptr<IndexRangeCursor> entries)
      : cur_(db.scan(def)) {
    while (entries->nextEntry()) ids_.push_back(entries->entryId());
    std::sort(ids_.begin(), ids_.end(), [](RowId a, RowId b) {
      return a.page != b.page ? a.page < b.page : a.row < b.row;
    });
    ids_.erase(std::unique(ids_.begin(), ids_.end()), ids_.end());
  }
  bool next() override {
    while (pos_ < ids_.size())
      if (cur_.seek(ids_[pos_++])) return true;
    return false;
  }
  RowId rowId() const override { return cur_.rowId(); }
  const Value& value(size_t column) override { return cur_.value(column); }

 private:
  storage::TableCursor cur_;
  std::vector<RowId> ids_;
  size_t pos_ = 0;
};

class StorageTable : public TableSource {
 public:
  StorageTable(const storage::Database& db, std::shared_ptr<const storage::TableDef> def)
      : db_(db), def_(std::move(def)) {
    for (const auto& c : def_->columns) columns_.push_back(sourceColumn(c, db.isJet4()));
    for (const auto& ix : def_->indexes) {
      if (ix.realIndex < 0 || size_t(ix.realIndex) >= def_->realIndexes.size() || ix.columns.empty())
        continue;
      SourceIndex si;
      si.name = ix.name;
      si.ignoreNulls = ix.ignoreNulls;
      si.jet4 = db.isJet4();
      bool ok = true;
      for (const auto& ic : ix.columns) {
        int pos = def_->columnByNumber(ic.columnNumber);
        if (pos < 0) ok = false;
        else if (def_->columns[pos].isText() && def_->columns[pos].sortOrder != 0 &&
                 def_->columns[pos].sortOrder != 1033)
          si.textKeysUsable = false;  // keys of another language's order
        si.columns.push_back(pos);
        si.ascending.push_back(ic.ascending);
      }
      if (!ok) continue;
      indexes_.push_back(std::move(si));
      real_.push_back(ix.realIndex);
    }
  }
  const std::vector<SourceIndex>& indexes() const override { return indexes_; }
  std::unique_ptr<RowCursor> indexScan(size_t index, const std::vector<KeyRange>& ranges,
                                       bool indexOrder) const override {
    auto cur = std::make_unique<IndexRangeCursor>(db_, def_, def_->realIndexes[real_.at(index)], ranges);
    if (indexOrder) return cur;
    return std::make_unique<FileOrderCursor>(db_, def_, std::move(cur));
  }
  const std::u16string& name() const override { return def_->name; }
  const std::vector<SourceColumn>& columns() const override { return columns_; }
  std::unique_ptr<RowCursor> scan() const override {
    return std::make_unique<StorageCursor>(db_.scan(def_));
  }

 private:
  const storage::Database& db_;
  std::shared_ptr<const storage::TableDef> def_;
  std::vector<SourceColumn> columns_;
  std::vector<SourceIndex> indexes_;
  std::vector<int> real_;  // per entry of indexes_: its real index
};

}  // namespace

SourceColumn sourceColumn(const storage::ColumnDef& c, bool jet4) {
  SourceColumn s;
  s.name = c.name;
  s.type = c.type;
  if (c.type == ColType::Text) s.maxLength = jet4 ? c.length / 2 : c.length;
  else if (c.type == ColType::Binary) s.maxLength = c.length;
  s.precision = c.type == ColType::Decimal ? c.precision : 18;
  s.scale = c.scale;
  s.autoNumber = c.autoNumber || c.guidAutoNumber;
  return s;
}

std::shared_ptr<const TableSource> StorageCatalog::findTable(std::u16string_view name) const {
  const storage::CatalogEntry* e = db_.findObject(name);
  if (!e || (e->kind != storage::ObjectKind::UserTable && e->kind != storage::ObjectKind::SystemTable))
    return nullptr;
  return std::make_shared<StorageTable>(db_, db_.table(e->name));
}

bool StorageCatalog::hasOtherObject(std::u16string_view name) const {
  const storage::CatalogEntry* e = db_.findObject(name);
  return e && (e->kind == storage::ObjectKind::Query || e->kind == storage::ObjectKind::LinkedTable);
}

}  // namespace bv::sql
