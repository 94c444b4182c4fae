#include "engine/server/registration.h"

#include <olectl.h>

#include <optional>

namespace bv::server {

namespace {

struct EngineClass {
  const wchar_t* clsid;
  const wchar_t* progId;
  const wchar_t* title;
};

const EngineClass kClasses[] = {
    {L"{00000100-0000-0010-8000-00AA006D2EA4}", L"DAO.DBEngine.36", L"DAO DBEngine 3.6"},
    {L"{00000101-0000-0010-8000-00AA006D2EA4}", L"DAO.PrivateDBEngine.36", L"DAO PrivateDBEngine 3.6"},
};

std::wstring classKey(const EngineClass& c) { return std::wstring(L"CLSID\\") + c.clsid; }

// The default value of root\sub (environment strings expanded, quotes removed), if any.
std::optional<std::wstring> readDefault(HKEY root, const std::wstring& sub) {
  HKEY key;
  if (RegOpenKeyExW(root, sub.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = 0, bytes = 0;
  std::optional<std::wstring> out;
  if (RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()),
                         &bytes) == ERROR_SUCCESS) {
      value.resize(wcsnlen(value.c_str(), bytes / sizeof(wchar_t)));
      if (type == REG_EXPAND_SZ) {
        wchar_t expanded[MAX_PATH * 2];
        DWORD n = ExpandEnvironmentStringsW(value.c_str(), expanded, MAX_PATH * 2);
        if (n > 0 && n <= MAX_PATH * 2) value = expanded;
      }
      if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"')
        value = value.substr(1, value.size() - 2);
      out = value;
    }
  }
  RegCloseKey(key);
  return out;
}

bool writeDefault(HKEY root, const std::wstring& sub, const wchar_t* name, const std::wstring& value) {
  HKEY key;
  if (RegCreateKeyExW(root, sub.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  const LONG rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

std::wstring fullPath(const std::wstring& path) {
  wchar_t buf[MAX_PATH * 2];
  DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 2, buf, nullptr);
  return (n > 0 && n < MAX_PATH * 2) ? std::wstring(buf, n) : path;
}

bool sameText(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                               static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool samePath(const std::wstring& a, const std::wstring& b) { return sameText(fullPath(a), fullPath(b)); }

std::wstring fileName(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

RegistrationResult registerServer(HKEY root, const std::wstring& modulePath) {
  RegistrationResult result;
  // Check both classes before writing anything, so that a refusal changes nothing.
  for (const EngineClass& c : kClasses) {
    const auto current = readDefault(root, classKey(c) + L"\\InprocServer32");
    if (current && !current->empty() && !samePath(*current, modulePath) &&
        !sameText(fileName(*current), fileName(modulePath))) {
      result.hr = SELFREG_E_CLASS;
      result.message = std::wstring(L"daoengine: not registered: the DAO 3.6 class ") + c.clsid +
                       L" (" + c.progId + L") belongs to another server, " + *current +
                       L"; it is left as it is.";
      return result;
    }
  }
  for (const EngineClass& c : kClasses) {
    const std::wstring key = classKey(c);
    const std::wstring server = key + L"\\InprocServer32";
    const bool ok = writeDefault(root, key, nullptr, c.title) &&
                    writeDefault(root, server, nullptr, modulePath) &&
                    writeDefault(root, server, L"ThreadingModel", L"Apartment") &&
                    writeDefault(root, key + L"\\ProgID", nullptr, c.progId) &&
                    writeDefault(root, c.progId, nullptr, c.title) &&
                    writeDefault(root, std::wstring(c.progId) + L"\\CLSID", nullptr, c.clsid);
    if (!ok) {
      result.hr = SELFREG_E_CLASS;
      result.message = std::wstring(L"daoengine: the registry refused the keys of ") + c.clsid + L".";
      return result;
    }
    result.message += std::wstring(L"daoengine: ") + c.progId + L" " + c.clsid + L" -> " + modulePath + L"\n";
  }
  return result;
}

RegistrationResult unregisterServer(HKEY root, const std::wstring& modulePath) {
  RegistrationResult result;
  for (const EngineClass& c : kClasses) {
    const auto current = readDefault(root, classKey(c) + L"\\InprocServer32");
    if (!current) continue;
    if (!samePath(*current, modulePath)) {
      result.message += std::wstring(L"daoengine: ") + c.clsid + L" left alone: it belongs to " +
                        *current + L"\n";
      continue;
    }
    RegDeleteTreeW(root, classKey(c).c_str());
    const auto progClass = readDefault(root, std::wstring(c.progId) + L"\\CLSID");
    if (progClass && sameText(*progClass, c.clsid)) RegDeleteTreeW(root, c.progId);
    result.message += std::wstring(L"daoengine: removed ") + c.progId + L" " + c.clsid + L"\n";
  }
  return result;
}

}  // namespace bv::server
