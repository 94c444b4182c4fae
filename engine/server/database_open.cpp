#include "engine/server/database_open.h"

#include <windows.h>

#include "engine/server/text.h"


namespace bv::server {

namespace {

bool fileIsReadOnly(const std::wstring& path) {
  const DWORD attrs = GetFileAttributesW(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY) &&
         !(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

OpenedDatabase openDatabaseFile(const OpenRequest& request) {
  // Exclusive use is accepted but not enforced yet: the storage layer opens files shared.
  const std::string path = narrowUtf8(request.path);
  OpenedDatabase out;
  // A file marked read-only is opened for reading, as Jet does, whoever runs the program
  // (the attribute binds even where file permissions would let a privileged user write).
  if (request.readOnly || fileIsReadOnly(request.path)) {
    out.db = storage::Database::open(path, storage::OpenMode::ReadOnly, request.password);
    out.readOnly = true;
    return out;
  }
  out.db = storage::Database::open(path, storage::OpenMode::ReadWrite, request.password);
  return out;
}

}  // namespace bv::server
