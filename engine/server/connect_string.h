// The Connect argument of OpenDatabase for an Access file: "[MS Access];PWD=secret;...".
#pragma once

#include <string>

namespace bv::server {

struct ConnectInfo {
  std::u16string password;  // empty when none is given
};

// Reads the database type (before the first ';': empty or "MS Access") and the PWD entry;
// other entries are ignored. JetError 3170 for another database type (ODBC, dBASE, ...),
// which this engine has no driver for.
ConnectInfo parseConnect(const std::wstring& connect);

}  // namespace bv::server
