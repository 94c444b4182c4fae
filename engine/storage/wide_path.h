// Windows file names: the engine keeps paths as UTF-8, the wide Win32 calls take UTF-16.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <string>

namespace bv::storage {

inline std::wstring widePath(const std::string& s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

}  // namespace bv::storage
#endif
