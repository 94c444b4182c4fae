#include "engine/server/connect_string.h"

#include <cwctype>

#include "engine/server/text.h"
#include "engine/storage/error.h"

namespace bv::server {

ConnectInfo parseConnect(const std::wstring& connect) {
  ConnectInfo info;
  const size_t firstSemi = connect.find(L';');
  const std::wstring type = trimmed(connect.substr(0, firstSemi));
  if (!type.empty() && !sameText(type, L"MS Access")) {
    throw JetError(3170, "Could not find installable ISAM: this engine opens Access database "
                         "files only, not '" + narrowUtf8(type) + "' data sources.");
  }
  if (firstSemi == std::wstring::npos) return info;
  size_t pos = firstSemi + 1;
  while (pos <= connect.size()) {
    size_t end = connect.find(L';', pos);
    if (end == std::wstring::npos) end = connect.size();
    const std::wstring entry = connect.substr(pos, end - pos);
    const size_t eq = entry.find(L'=');
    if (eq != std::wstring::npos && sameText(trimmed(entry.substr(0, eq)), L"PWD")) {
      const std::wstring value = entry.substr(eq + 1);
      info.password.assign(value.begin(), value.end());
    }
    pos = end + 1;
  }
  return info;
}

}  // namespace bv::server
