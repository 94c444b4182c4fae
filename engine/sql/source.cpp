#include "engine/sql/source.h"

namespace bv::sql {

namespace {

class MemoryCursor : public RowCursor {
 public:
  explicit MemoryCursor(const std::vector<std::vector<Value>>& rows) : rows_(rows) {}
  bool next() override { return ++pos_ < rows_.size(); }
  RowId rowId() const override {
    return RowId{static_cast<uint32_t>(pos_ >> 8), static_cast<uint8_t>(pos_ & 0xFF)};
  }
  const Value& value(size_t column) override { return rows_[pos_][column]; }

 private:
  const std::vector<std::vector<Value>>& rows_;
  size_t pos_ = static_cast<size_t>(-1);
};

}  // namespace

std::unique_ptr<RowCursor> MemoryTable::scan() const { return std::make_unique<MemoryCursor>(rows_); }

std::shared_ptr<const TableSource> MemoryCatalog::findTable(std::u16string_view name) const {
  for (const auto& t : tables_)
    if (namesEqual(t->name(), name)) return t;
  return nullptr;
}

}  // namespace bv::sql
