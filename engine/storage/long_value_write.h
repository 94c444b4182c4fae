// Writing long values (Memo, OLE Object): the field a row stores for one, and the LVAL
// rows behind it — kept in the row when small, one LVAL row when it fits a page, else a
// chain of LVAL rows (4-byte pointer to the next piece, then the piece's data). LVAL pages
// are listed in the column's two usage maps. Freed LVAL rows give their room back, and a
// page left without rows goes back to the file.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "engine/storage/database.h"
#include "engine/storage/page_pool.h"

namespace bv::storage {

class WriteUnit;

class LongValueWriter {
 public:
  // Values up to this many bytes stay in the row (if the row has room).
  static constexpr size_t kInlineMax = 64;
  static constexpr size_t kHeaderSize = 12;

  LongValueWriter(WriteUnit& unit, const TableDef& table);
  ~LongValueWriter();

  // Throws (writing nothing) when the column cannot keep `size` bytes outside the row:
  // it has no page map, or the value is longer than the format's 30-bit length.
  void checkStorable(const ColumnDef& c, size_t size) const;
  // Writes the data (LVAL rows unless `inRow`) and returns the field the row stores.
  Bytes write(const ColumnDef& c, std::span<const uint8_t> data, bool inRow);
  // The LVAL rows a stored field uses (none when the data is in the row). JetError 3049 if
  // the field or its chain is damaged. Reads only.
  std::vector<RowPointer> rowsOf(std::span<const uint8_t> field) const;
  // Frees rows found by rowsOf() for a field of column c.
  void free(const ColumnDef& c, std::span<const RowPointer> rows);

 private:
  PagePool& pool(const ColumnDef& c);
  RowPointer putRow(const ColumnDef& c, std::span<const uint8_t> bytes);

  WriteUnit& unit_;
  std::map<uint16_t, std::unique_ptr<PagePool>> pools_;  // by column number
};

}  // namespace bv::storage
