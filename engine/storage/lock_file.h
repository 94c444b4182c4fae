// The lock file (name.ldb) beside a database opened for shared writing: one 64-byte entry
// per user (32 bytes computer name, 32 bytes user name, each padded with zero bytes), up
// to 255 of them. An entry is live while its owner holds the slot's lock byte; a slot whose
// lock no one holds is stale and may be reused. The last user out deletes the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/storage/file_lock.h"

namespace bv::storage {

inline constexpr int kLockFileSlots = 255;
inline constexpr size_t kLockFileEntrySize = 64;

// name.mdb -> name.ldb; a name without the .mdb extension gets .ldb appended.
std::string lockFilePath(const std::string& databasePath);

class LockFileEntry {
 public:
  // Claims a slot. `guard` serialises the claiming, releasing and deleting of the lock file
  // between users (an exclusive lock byte on the database file, held only meanwhile).
  // JetError 3051 when the lock file cannot be made (no right to create files in the
  // folder), 3045 when all 255 slots are taken, 3218 when the guard stays locked.
  LockFileEntry(const std::string& databasePath, FileLocks& databaseLocks, uint64_t guardByte,
                const std::string& computerName, const std::string& userName, int timeoutMs);
  ~LockFileEntry();
  LockFileEntry(const LockFileEntry&) = delete;
  LockFileEntry& operator=(const LockFileEntry&) = delete;

  int slot() const { return slot_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  FileLocks& databaseLocks_;
  uint64_t guardByte_;
  int timeoutMs_;
  std::unique_ptr<FileLocks> file_;
  int slot_ = -1;
};

}  // namespace bv::storage
