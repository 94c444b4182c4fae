#include "engine/server/create_options.h"

#include <cwchar>
#include <cwctype>

#include "engine/server/text.h"
#include "engine/storage/error.h"

namespace bv::server {

namespace {

constexpr int64_t kVersion10 = 1, kEncrypt = 2, kDecrypt = 4, kVersion11 = 8, kVersion20 = 16,
                  kVersion30 = 32, kVersion40 = 64;

uint16_t localeNumber(const std::wstring& key, const std::wstring& text) {
  const std::wstring t = trimmed(text);
  wchar_t* end = nullptr;
  const unsigned long n = std::wcstoul(t.c_str(), &end, 0);  // 0x0409 or 1033
  if (t.empty() || *end != L'\0' || n > 0xFFFF)
    throw JetError(3001, "Invalid argument: the locale entry " + narrowUtf8(key) + "=" +
                             narrowUtf8(text) + " is not a number.");
  return static_cast<uint16_t>(n);
}

}  // namespace

CreateRequest decodeCreateArguments(const std::wstring& locale, int64_t bits) {
  CreateRequest out;
  const int64_t versions = bits & (kVersion10 | kVersion11 | kVersion20 | kVersion30 | kVersion40);
  const int64_t known = kVersion10 | kEncrypt | kDecrypt | kVersion11 | kVersion20 | kVersion30 | kVersion40;
  if (bits < 0 || (bits & ~known) != 0 || (versions & (versions - 1)) != 0 ||
      ((bits & kEncrypt) && (bits & kDecrypt)))
    throw JetError(3001, "Invalid argument: CreateDatabase's Option " + std::to_string(bits) +
                             " is not one format (dbVersion30, dbVersion40) with at most "
                             "dbEncrypt or dbDecrypt.");
  if (versions & (kVersion10 | kVersion11 | kVersion20))
    throw JetError(3251, "This engine creates Jet 3 (dbVersion30) and Jet 4 (dbVersion40) "
                         "files only, not the Jet 1.x/2.0 formats.");
  if (bits & kEncrypt) throw JetError(3251, "This engine cannot create encrypted database files.");
  out.version = (versions == kVersion30) ? storage::JetVersion::Jet3 : storage::JetVersion::Jet4;

  size_t pos = 0;
  while (pos <= locale.size()) {
    size_t end = locale.find(L';', pos);
    if (end == std::wstring::npos) end = locale.size();
    const std::wstring entry = locale.substr(pos, end - pos);
    pos = end + 1;
    const size_t eq = entry.find(L'=');
    if (eq == std::wstring::npos) continue;
    const std::wstring key = trimmed(entry.substr(0, eq)), value = entry.substr(eq + 1);
    if (sameText(key, L"LANGID")) out.options.sortOrder = localeNumber(key, value);
    else if (sameText(key, L"CP")) out.options.codePage = localeNumber(key, value);
    else if (sameText(key, L"PWD") && !value.empty())
      throw JetError(3251, "This engine cannot create password-protected database files.");
  }
  return out;
}

}  // namespace bv::server
