// Values to the bytes a data row stores: one column's field (fixed or variable bytes, or
// only a null-mask bit for Yes/No), and the whole row laid out as the reader expects it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "engine/storage/database.h"
#include "engine/storage/value.h"

namespace bv::storage {

// Error numbers of the row encoder (descriptions name the column).
inline constexpr int32_t kErrFieldTooSmall = 3163;       // text or binary longer than the column
inline constexpr int32_t kErrConversion = 3421;          // a value the column cannot hold as given
inline constexpr int32_t kErrNumericOverflow = 3349;     // a Decimal beyond the column's precision
inline constexpr int32_t kErrRecordTooLarge = 3047;      // the row does not fit on a page

// What row encoding needs to know of a database: its format, code page and page size.
struct RowFormat {
  bool jet4 = true;
  uint16_t codePage = 1252;  // Jet 3 text
  uint32_t pageSize = 4096;
  static RowFormat of(const Database& db) { return {db.isJet4(), db.codePage(), db.pageSize()}; }
};

// One column as the row will store it.
struct EncodedField {
  bool present = false;  // false = Null; for Yes/No the value itself (true = Yes)
  Bytes bytes;           // fixed-area or variable-area bytes (none for Yes/No)
};

// Text as a column stores it. Jet 4: compressed (FF FE + one byte per character) only when
// `compressible`, every character is U+0001..U+00FF and the result is shorter; otherwise
// UTF-16LE (a value starting with U+FEFF, which would read as the compression mark, is
// written as the compressed mark followed by a switch to two-byte mode). Jet 3: the
// column's code page; JetError kErrConversion for a character the code page cannot hold.
Bytes encodeText(const RowFormat& f, const ColumnDef& c, std::u16string_view text, bool compressible);
inline Bytes encodeText(const Database& db, const ColumnDef& c, std::u16string_view text, bool compressible) {
  return encodeText(RowFormat::of(db), c, text, compressible);
}

// The field of a column that is not Memo/OLE (Memo/OLE fields come from the long-value
// writer). `v` must already have the column's kind; Null is allowed (Yes/No: No).
// Throws JetError kErrFieldTooSmall, kErrConversion or kErrNumericOverflow.
EncodedField encodeField(const RowFormat& f, const ColumnDef& c, const Value& v);
inline EncodedField encodeField(const Database& db, const ColumnDef& c, const Value& v) {
  return encodeField(RowFormat::of(db), c, v);
}

// The row bytes: column count (the table's max columns), fixed area, variable data in
// slot order, end-of-data and variable offsets, the Jet 3 jump table, variable count and
// null mask. `fields` holds one entry per column, in TableDef::columns order.
// Throws JetError kErrRecordTooLarge if the row exceeds maxRowSize().
Bytes assembleRow(const RowFormat& f, const TableDef& t, std::span<const EncodedField> fields);
inline Bytes assembleRow(const Database& db, const TableDef& t, std::span<const EncodedField> fields) {
  return assembleRow(RowFormat::of(db), t, fields);
}

// Length of the row assembleRow() would build, without building it.
size_t rowSize(const RowFormat& f, const TableDef& t, std::span<const EncodedField> fields);
inline size_t rowSize(const Database& db, const TableDef& t, std::span<const EncodedField> fields) {
  return rowSize(RowFormat::of(db), t, fields);
}

// The longest row a data page can hold (one slot on an empty page).
uint32_t maxRowSize(const RowFormat& f);
inline uint32_t maxRowSize(const Database& db) { return maxRowSize(RowFormat::of(db)); }

}  // namespace bv::storage
