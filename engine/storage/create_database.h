// Making a new, empty database file: header page, global page map, the system tables with
// their indexes, usage maps and first rows, exactly as a new Jet database has them.
#pragma once

#include <cstdint>
#include <string>

#include "engine/storage/database.h"

namespace bv::storage {

struct CreateOptions {
  // Creation date (days since 1899-12-30); 0 takes the current time. Fixing it makes the
  // file's bytes depend only on what is created in it.
  double created = 0;
  // The sort order (collation LCID) and code page. Only the General order (1033) with
  // code page 1252 has index-key data in this engine; others are refused.
  uint16_t sortOrder = 1033;
  uint16_t codePage = 1252;
};

// Writes a new database at `path`. Never replaces a file: JetError 3204 if the path exists,
// 3044 if it cannot be written, 3001-style 3251 for options this engine cannot honour. A
// failure part-way removes the partly written file.
void createDatabase(const std::string& path, JetVersion version, const CreateOptions& options = {});

// The current local time as a Date/Time value.
double currentDateTime();

}  // namespace bv::storage
