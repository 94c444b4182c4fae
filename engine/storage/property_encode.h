// Writing an LvProp blob (the properties of a table and its columns) in the layout
// parseProperties reads: signature, the chunk of property names, then one block per object.
#pragma once

#include "engine/storage/properties.h"

namespace bv::storage {

// Text and Memo values are written as the database stores text (Jet 3 code page 1252,
// Jet 4 UCS-2), Yes/No as one byte, Long as four. JetError 3251 for other value kinds.
Bytes encodeProperties(const ObjectProperties& props, bool jet4);

}  // namespace bv::storage
