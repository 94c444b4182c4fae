// Byte-range locks on a file, through a handle of their own (so that closing the
// database's data handle never drops them). Natively these are Linux open-file-description
// locks: they conflict with every other lock on the file, including the classic POSIX locks
// Wine's server places for LockFileEx, and between two handles of one process. In the
// Windows build they are LockFileEx locks.
//
// Offsets may lie beyond the end of the file; the engine's lock bytes all do, so that
// Windows' mandatory locking never blocks a read or write of the file's pages.
#pragma once

#include <cstdint>
#include <string>

namespace bv::storage {

class FileLocks {
 public:
  // Opens `path` for locking; read-write when allowed, else read-only (exclusive locks then
  // cannot be placed and are reported as placed: no one can change such a file anyway).
  // Throws JetError 3024/3051 when the file cannot be opened at all. `create` creates the
  // file when missing (the .ldb).
  explicit FileLocks(const std::string& path, bool create = false);
  ~FileLocks();
  FileLocks(const FileLocks&) = delete;
  FileLocks& operator=(const FileLocks&) = delete;

  enum class Mode { Shared, Exclusive };
  // Places a lock without waiting: false when another handle holds a conflicting one.
  bool tryLock(uint64_t offset, Mode mode);
  // Retries until `timeoutMs` has passed (0 = one try).
  bool lock(uint64_t offset, Mode mode, int timeoutMs);
  void unlock(uint64_t offset);
  // Whether some other handle holds a lock on the byte (it is not taken by this call).
  bool heldElsewhere(uint64_t offset);
  // Whether some other handle holds a lock on any of the `count` bytes from `offset`.
  bool anyHeldElsewhere(uint64_t offset, uint64_t count);

  bool writable() const { return writable_; }
  // Reads and writes through the locking handle (the .ldb's entries).
  size_t readAt(uint64_t offset, void* buf, size_t n);
  bool writeAt(uint64_t offset, const void* buf, size_t n);
  uint64_t size();

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  bool writable_ = false;
};

}  // namespace bv::storage
