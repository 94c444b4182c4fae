#include "engine/server/database_open.h"

#include <windows.h>

#include "engine/server/text.h"
#include "engine/storage/error.h"

namespace bv::server {

namespace {

// Under Wine a client may name the file by its Unix path ("/home/me/x.mdb"), which Windows
// path rules read as a path on the current drive. When nothing exists under that reading,
// Wine's own mapping of Unix names gives the file's DOS name. Elsewhere nothing changes.
std::wstring resolvePath(const std::wstring& path) {
  if (path.empty() || path[0] != L'/' || GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
    return path;
  using UnixToDos = WCHAR*(CDECL*)(LPCSTR);
  const auto map = reinterpret_cast<UnixToDos>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  if (!map) return path;
  WCHAR* dos = map(narrowUtf8(path).c_str());
  if (!dos) return path;
  std::wstring out = dos;
  HeapFree(GetProcessHeap(), 0, dos);
  return out;
}

}  // namespace

std::wstring databasePath(const std::wstring& name) {
  // A NUL inside the name would end it early for the file system: another file would open.
  if (name.find(L'\0') != std::wstring::npos)
    throw JetError(3044, "The path '" + narrowUtf8(name.substr(0, name.find(L'\0'))) +
                             "...' is not valid: it contains a NUL character.");
  return resolvePath(name);
}

OpenedDatabase openDatabaseFile(const OpenRequest& request) {
  storage::OpenOptions options;
  options.mode = request.readOnly ? storage::OpenMode::ReadOnly : storage::OpenMode::ReadWrite;
  options.exclusive = request.exclusive;
  options.password = request.password;
  OpenedDatabase out;
  out.db = storage::Database::open(narrowUtf8(databasePath(request.path)), options);
  // A file nobody may write is opened read-only by the storage layer, as Jet does.
  out.readOnly = out.db->mode() == storage::OpenMode::ReadOnly;
  return out;
}

}  // namespace bv::server
