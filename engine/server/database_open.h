// The one place where the server opens a database file, so that the way files are shared
// (exclusive or shared use, the lock file) is decided here and nowhere else.
#pragma once

#include <memory>
#include <string>

#include "engine/storage/database.h"

namespace bv::server {

struct OpenRequest {
  std::wstring path;
  bool exclusive = false;
  bool readOnly = false;
  std::u16string password;
};

struct OpenedDatabase {
  std::unique_ptr<storage::Database> db;
  // True when the file was opened read-only: asked for, or the file itself is read-only
  // (statements that change data then fail with 3027, as with Jet).
  bool readOnly = false;
};

// The file a database name given by a client stands for (see resolvePath); JetError 3044
// for a name with a NUL inside.
std::wstring databasePath(const std::wstring& name);

// Opens the file (shared or exclusive, with its entry in the lock file while open).
// JetError as storage::Database::open reports it: 3024 missing, 3051 in use or no
// permission, 3031 password, 3343 not a database, 3045 held exclusively by another user (or
// in use by others for an exclusive open), ...
OpenedDatabase openDatabaseFile(const OpenRequest& request);

}  // namespace bv::server
