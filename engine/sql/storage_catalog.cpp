#include "engine/sql/storage_catalog.h"

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

class StorageTable : public TableSource {
 public:
  StorageTable(const storage::Database& db, std::shared_ptr<const storage::TableDef> def)
      : db_(db), def_(std::move(def)) {
    for (const auto& c : def_->columns) columns_.push_back(sourceColumn(c, db.isJet4()));
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
