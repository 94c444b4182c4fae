// The sample database: a small shop (customers, products, orders, order lines) with
// indexes, relationships with referential integrity and text in several scripts. Made
// from this description alone, so the same call always gives the same bytes.
#pragma once

#include <string>

namespace bv::tool {

// Writes the sample to `path` (a new file; error 3204 if it exists) in Jet 4 format.
void writeSampleShop(const std::string& path);

}  // namespace bv::tool
