#include "engine/storage/tdef_edit.h"

#include "engine/storage/tabledef.h"
#include "engine/storage/write_unit.h"

namespace bv::storage {

namespace {

// Offsets in the first TDEF page: row count, then the last AutoNumber right after it.
uint32_t rowCountField(bool jet4) { return jet4 ? 16 : 12; }

void put32At(WriteUnit& unit, uint32_t tdefPage, uint32_t offset, uint32_t v) {
  if (unit.page(tdefPage)[0] != 0x02) throwDamaged("expected a table-definition page", tdefPage);
  uint8_t* p = unit.modify(tdefPage);
  for (int i = 0; i < 4; ++i) p[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

void writeRowCount(WriteUnit& unit, uint32_t tdefPage, uint32_t rowCount) {
  put32At(unit, tdefPage, rowCountField(unit.jet4()), rowCount);
}

void writeLastAutoNumber(WriteUnit& unit, uint32_t tdefPage, uint32_t value) {
  put32At(unit, tdefPage, rowCountField(unit.jet4()) + 4, value);
}

}  // namespace bv::storage
