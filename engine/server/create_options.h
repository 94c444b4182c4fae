// The arguments of CreateDatabase: the Locale text (";LANGID=0x0409;CP=1252;COUNTRY=0",
// optionally with ";PWD=...") and the Option bits (dbVersion30 32, dbVersion40 64, ...).
#pragma once

#include <cstdint>
#include <string>

#include "engine/storage/create_database.h"

namespace bv::server {

struct CreateRequest {
  storage::JetVersion version = storage::JetVersion::Jet4;
  storage::CreateOptions options;
};

// JetError 3001 for contradictory or unknown bits and a malformed locale; 3251 for what
// this engine cannot make (Jet 1.x/2.0 formats, encrypted or password-protected files).
CreateRequest decodeCreateArguments(const std::wstring& locale, int64_t optionBits);

}  // namespace bv::server
