// How one open database shares its file with other opens, in this process or others:
//   - every open holds the "open" byte of the database file: shared for a shared open,
//     exclusive for an exclusive one (so each refuses the other: 3045);
//   - a writer holds the "writer" byte exclusively for the whole of its change, so writers
//     take turns and never interleave their pages;
//   - a reader holds the "commit" byte shared while a statement reads, and a writer holds
//     it exclusively while it writes its pages to the file: readers never see half a change;
//   - a shared read-write open has an entry in name.ldb (lock_file.h).
// Waiting is bounded: a writer that cannot get its turn fails with 3218.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/storage/file_lock.h"
#include "engine/storage/lock_file.h"

namespace bv::storage {

// Lock bytes on the database file. They lie beyond the largest file the format allows
// (2 GB less these bytes), and below 2^31 so that 32-bit lock implementations hold them.
inline constexpr uint64_t kOpenLockByte = 0x7FFFFF00;
inline constexpr uint64_t kWriterLockByte = 0x7FFFFF01;
inline constexpr uint64_t kCommitLockByte = 0x7FFFFF02;
inline constexpr uint64_t kLockFileGuardByte = 0x7FFFFF03;

struct ShareOptions {
  bool exclusive = false;
  bool writable = false;      // opened for writing (a shared writable open gets an .ldb entry)
  std::string userName = "Admin";
  std::string computerName;   // empty: this machine's name
  int timeoutMs = 5000;       // how long a writer (or reader) waits for its turn
};

class ShareSession {
 public:
  // Takes the open byte; JetError 3045 when another open holds the database exclusively
  // (or, for an exclusive open, when anyone else has it open).
  ShareSession(const std::string& path, const ShareOptions& options);
  ~ShareSession();

  bool exclusive() const { return options_.exclusive; }
  const LockFileEntry* lockFileEntry() const { return entry_.get(); }

  // Nestable within one open. Each returns true when the outermost hold began, i.e. when
  // pages cached earlier may be out of date (other users may have written since).
  bool beginWrite();
  void endWrite();
  bool beginRead();
  void endRead();
  // Around the writing of a unit's pages (inside beginWrite/endWrite).
  void beginCommit();
  void endCommit();

 private:
  std::string path_;
  ShareOptions options_;
  std::unique_ptr<FileLocks> locks_;
  std::unique_ptr<LockFileEntry> entry_;
  int writeDepth_ = 0;
  int readDepth_ = 0;
  bool readHeld_ = false;  // the shared commit byte is held for readers
};

// This machine's name as the lock file records it.
std::string computerName();

}  // namespace bv::storage
