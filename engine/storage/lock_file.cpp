#include "engine/storage/lock_file.h"

#include <cstdio>
#include <cstring>

#include "engine/storage/error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace bv::storage {

namespace {

// A slot's lock byte lies far past the entries, so that Windows' mandatory locking never
// blocks another user reading the list of who is in the database.
constexpr uint64_t kSlotLockBase = 0x10000000;

void removeFile(const std::string& path) {
#ifdef _WIN32
  const int n = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), w.data(), n);
  DeleteFileW(w.c_str());
#else
  ::unlink(path.c_str());
#endif
}

void putPadded(uint8_t* out, const std::string& s) {
  std::memset(out, 0, 32);
  std::memcpy(out, s.data(), s.size() < 31 ? s.size() : 31);
}

// Releases the guard byte however the claim ends.
struct GuardHold {
  FileLocks& locks;
  uint64_t byte;
  ~GuardHold() { locks.unlock(byte); }
};

}  // namespace

std::string lockFilePath(const std::string& databasePath) {
  const size_t n = databasePath.size();
  if (n >= 4 && databasePath[n - 4] == '.') {
    std::string ext = databasePath.substr(n - 3);
    for (auto& c : ext) c = static_cast<char>(c | 0x20);
    if (ext == "mdb") return databasePath.substr(0, n - 3) + "ldb";
  }
  return databasePath + ".ldb";
}

LockFileEntry::LockFileEntry(const std::string& databasePath, FileLocks& databaseLocks, uint64_t guardByte,
                             const std::string& computerName, const std::string& userName, int timeoutMs)
    : path_(lockFilePath(databasePath)), databaseLocks_(databaseLocks), guardByte_(guardByte), timeoutMs_(timeoutMs) {
  if (!databaseLocks_.lock(guardByte_, FileLocks::Mode::Exclusive, timeoutMs_))
    throw JetError(3218, "Could not open '" + databasePath + "': its lock file is being changed by another user.");
  GuardHold hold{databaseLocks_, guardByte_};
  try {
    file_ = std::make_unique<FileLocks>(path_, true);
  } catch (const JetError&) {
    throw JetError(3051, "Cannot create the lock file '" + path_ +
                             "': shared use of a database needs the right to create files in its folder.");
  }
  for (int i = 0; i < kLockFileSlots; ++i) {
    if (!file_->tryLock(kSlotLockBase + static_cast<uint64_t>(i), FileLocks::Mode::Exclusive)) continue;
    uint8_t entry[kLockFileEntrySize];
    putPadded(entry, computerName);
    putPadded(entry + 32, userName);
    if (!file_->writeAt(static_cast<uint64_t>(i) * kLockFileEntrySize, entry, sizeof entry)) {
      file_->unlock(kSlotLockBase + static_cast<uint64_t>(i));
      throw JetError(3051, "Cannot write the lock file '" + path_ + "'.");
    }
    slot_ = i;
    return;
  }
  throw JetError(3045, "Could not use '" + databasePath + "': 255 users already have it open.");
}

LockFileEntry::~LockFileEntry() {
  if (!file_) return;
  const bool guarded = databaseLocks_.lock(guardByte_, FileLocks::Mode::Exclusive, timeoutMs_);
  file_->unlock(kSlotLockBase + static_cast<uint64_t>(slot_));
  // Without the guard, leave the file to whoever comes last.
  const bool othersIn = !guarded || file_->anyHeldElsewhere(kSlotLockBase, kLockFileSlots);
  file_.reset();  // Windows deletes only files no handle has open
  if (!othersIn) removeFile(path_);
  if (guarded) databaseLocks_.unlock(guardByte_);
}

}  // namespace bv::storage
