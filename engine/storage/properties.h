// The properties Access keeps for a table and its columns (Required, AllowZeroLength,
// DefaultValue, ValidationRule, ...): the LvProp blob of the table's MSysObjects row.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/database.h"
#include "engine/storage/value.h"

namespace bv::storage {

struct Property {
  std::u16string name;
  uint8_t dataType = 0;  // column type codes (1 Yes/No, 2 Byte, 4 Long, 10 Text, 12 Memo, ...)
  uint8_t ddl = 0;       // 1 for the engine's own properties, 0 for the ones Access adds
  Value value;           // decoded by dataType (Text/Memo as text, others as stored)
};

// The properties of one object: the table itself (empty name) or one of its columns.
struct PropertyBlock {
  std::u16string name;
  std::vector<Property> properties;
  const Property* find(std::u16string_view propertyName) const;
};

struct ObjectProperties {
  std::vector<PropertyBlock> blocks;
  // The table's own block, or nullptr.
  const PropertyBlock* object() const;
  // The block of the column with that name (Jet's case-insensitive match), or nullptr.
  const PropertyBlock* column(std::u16string_view columnName) const;
};

// Parses an LvProp blob. Text is decoded as the database stores text (Jet 3 code page,
// Jet 4 UCS-2). An empty blob gives no blocks; JetError 3049 for a blob whose lengths
// contradict each other.
ObjectProperties parseProperties(const Database& db, const Bytes& blob);

// The properties stored for the table whose definition starts at `tdefPage` (none when
// its catalog row has no LvProp).
ObjectProperties readTableProperties(const Database& db, uint32_t tdefPage);

}  // namespace bv::storage
