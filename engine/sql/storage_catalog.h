// The tables of an open database file as statement execution reads them.
#pragma once

#include "engine/sql/source.h"
#include "engine/storage/database.h"

namespace bv::sql {

class StorageCatalog : public Catalog {
 public:
  explicit StorageCatalog(const storage::Database& db) : db_(db) {}
  std::shared_ptr<const TableSource> findTable(std::u16string_view name) const override;
  bool hasOtherObject(std::u16string_view name) const override;
  TextOrder textOrder() const override { return db_.isJet4() ? TextOrder::Jet4 : TextOrder::Jet3; }

 private:
  const storage::Database& db_;
};

// A stored column as statements see it (Text lengths in characters).
SourceColumn sourceColumn(const storage::ColumnDef& c, bool jet4);

}  // namespace bv::sql
