// A table as its creator describes it (names, types, sizes, indexes), and the layout that
// turns such a description into a table definition: column numbers, variable slots, fixed
// offsets, real and logical indexes. Used to create system tables and user tables alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/database.h"

namespace bv::storage {

struct ColumnDesign {
  std::u16string name;
  ColType type = ColType::Text;
  // Text: characters (1-255); Binary: bytes (1-255, Jet 4 1-510). Ignored for the others.
  uint16_t size = 0;
  bool autoNumber = false;        // Long: AutoNumber; Guid: Replication ID handed out
  bool compressedUnicode = false; // Jet 4 Text/Memo: values may be stored compressed
  uint8_t precision = 18;         // Decimal
  uint8_t scale = 0;              // Decimal
  uint8_t extraFlags = 0;         // further descriptor flag bits (system tables: 0x10, 0x20)
  // Column properties kept in the catalog (not in the table definition).
  bool required = false;          // NOT NULL
  std::u16string defaultValue;    // DEFAULT, the expression as written; empty for none
};

struct IndexColumnDesign {
  std::u16string column;
  bool ascending = true;
};

struct IndexDesign {
  std::u16string name;
  std::vector<IndexColumnDesign> columns;
  bool primaryKey = false;   // implies unique
  bool unique = false;
  bool ignoreNulls = false;
  bool required = false;     // no Null key parts (user-table primary keys have it)
  // Foreign keys (one end of a relationship): the other table's TDEF page and the number
  // of its logical index; `fkSide` 1 on the referenced (primary) table, 2 on the
  // referencing one, as Access writes them.
  bool foreignKey = false;
  uint8_t fkSide = 0;
  int32_t fkOtherIndex = -1;
  uint32_t fkOtherTable = 0;
  bool cascadeUpdate = false, cascadeDelete = false;
};

struct TableDesign {
  std::u16string name;
  bool system = false;  // table type 0x53 instead of 0x4E
  uint32_t lastAutoNumber = 0;  // the AutoNumber counter: the next number handed out is one more
  std::vector<ColumnDesign> columns;
  std::vector<IndexDesign> indexes;
};

// Descriptor length of a Text column in bytes for a number of characters.
inline uint16_t textLengthBytes(uint16_t chars, bool jet4) { return jet4 ? chars * 2 : chars; }

// Lays the table out: columns numbered in order, variable columns given slots in order,
// fixed columns packed in order; every index its own real index, except that a foreign key
// on the referenced side shares the real index of a logical index with the same columns
// and uniqueness. Map pointers and pages are left null for the caller to fill in.
// Errors come from here, before anything is written: JetError 3191 (a column named twice),
// 3190 (too many columns), 3265 (an index naming an unknown column), 3283 (two primary
// keys), 3047 (a row of the table could not fit a page), 3264 (no columns).
TableDef layoutTable(const TableDesign& design, bool jet4);

// Fixed size in bytes of a type stored in the fixed area (0 for Yes/No and variable types).
uint16_t fixedColumnSize(ColType type);

// The flags of the real index a design asks for, as the TDEF stores them.
uint8_t realFlagsOf(const IndexDesign& design, bool jet4);

// The logical index a design describes over `columns` (column numbers of the table): its
// name, kind, foreign-key fields and real flags. Number, real index and root are the caller's.
IndexDef logicalIndexOf(const IndexDesign& design, std::vector<IndexColumn> columns, bool jet4);
// Whether a type is stored in the fixed area.
bool isFixedType(ColType type);

}  // namespace bv::storage
