#include "engine/server/database_open.h"

#include <windows.h>

#include "engine/server/text.h"
#include "engine/storage/error.h"


namespace bv::server {

namespace {

bool fileIsReadOnly(const std::wstring& path) {
  const DWORD attrs = GetFileAttributesW(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY) &&
         !(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

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

// Shared opens for writing get an entry in the .ldb; an exclusive open keeps everyone else
// out (3045 for them) and makes none.
storage::OpenOptions options(const OpenRequest& request, storage::OpenMode mode) {
  storage::OpenOptions o;
  o.mode = mode;
  o.exclusive = request.exclusive;
  o.password = request.password;
  return o;
}

}  // namespace

OpenedDatabase openDatabaseFile(const OpenRequest& request) {
  // A NUL inside the name would end it early for the file system: another file would open.
  if (request.path.find(L'\0') != std::wstring::npos)
    throw JetError(3044, "The path '" + narrowUtf8(request.path.substr(0, request.path.find(L'\0'))) +
                             "...' is not valid: it contains a NUL character.");
  const std::wstring resolved = resolvePath(request.path);
  const std::string path = narrowUtf8(resolved);
  OpenedDatabase out;
  // A file marked read-only is opened for reading, as Jet does, whoever runs the program
  // (the attribute binds even where file permissions would let a privileged user write).
  if (request.readOnly || fileIsReadOnly(resolved)) {
    out.db = storage::Database::open(path, options(request, storage::OpenMode::ReadOnly));
    out.readOnly = true;
    return out;
  }
  out.db = storage::Database::open(path, options(request, storage::OpenMode::ReadWrite));
  return out;
}

}  // namespace bv::server
