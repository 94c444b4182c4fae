#include "engine/storage/file_lock.h"

#include <chrono>
#include <thread>

#include "engine/storage/error.h"
#include "engine/storage/wide_path.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace bv::storage {

namespace {
// Waits between tries grow from 1 ms to 16 ms: short for the quick statements that usually
// hold the locks, without spinning the processor.
void pause(int attempt) {
  std::this_thread::sleep_for(std::chrono::milliseconds(1 << (attempt < 4 ? attempt : 4)));
}
}  // namespace

bool FileLocks::lock(uint64_t offset, Mode mode, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (int attempt = 0;; ++attempt) {
    if (tryLock(offset, mode)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    pause(attempt);
  }
}

#ifdef _WIN32

FileLocks::FileLocks(const std::string& path, bool create) {
  const std::wstring w = widePath(path);
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE h = CreateFileW(w.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                         create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  writable_ = h != INVALID_HANDLE_VALUE;
  if (!writable_ && !create)
    h = CreateFileW(w.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = GetLastError();
    if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND)
      throw JetError(3024, "Could not find the file '" + path + "'.");
    throw JetError(3051, "The file '" + path + "' cannot be opened for locking (no permission).");
  }
  handle_ = h;
}

FileLocks::~FileLocks() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
}

bool FileLocks::tryLock(uint64_t offset, Mode mode) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (mode == Mode::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  if (LockFileEx(static_cast<HANDLE>(handle_), flags, 0, 1, 0, &ov)) return true;
  return false;
}

void FileLocks::unlock(uint64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  UnlockFileEx(static_cast<HANDLE>(handle_), 0, 1, 0, &ov);
}

bool FileLocks::heldElsewhere(uint64_t offset) {
  if (!tryLock(offset, Mode::Exclusive)) return true;
  unlock(offset);
  return false;
}

bool FileLocks::anyHeldElsewhere(uint64_t offset, uint64_t count) {
  for (uint64_t i = 0; i < count; ++i)
    if (heldElsewhere(offset + i)) return true;
  return false;
}

size_t FileLocks::readAt(uint64_t offset, void* buf, size_t n) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (!ReadFile(static_cast<HANDLE>(handle_), buf, static_cast<DWORD>(n), &got, &ov)) return 0;
  return got;
}

bool FileLocks::writeAt(uint64_t offset, const void* buf, size_t n) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD put = 0;
  return WriteFile(static_cast<HANDLE>(handle_), buf, static_cast<DWORD>(n), &put, &ov) && put == n;
}

uint64_t FileLocks::size() {
  LARGE_INTEGER sz;
  if (!GetFileSizeEx(static_cast<HANDLE>(handle_), &sz)) return 0;
  return static_cast<uint64_t>(sz.QuadPart);
}

#else

FileLocks::FileLocks(const std::string& path, bool create) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
  writable_ = fd_ >= 0;
  if (fd_ < 0 && !create) fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    if (errno == ENOENT) throw JetError(3024, "Could not find the file '" + path + "'.");
    throw JetError(3051, "The file '" + path + "' cannot be opened for locking (no permission).");
  }
}

FileLocks::~FileLocks() {
  if (fd_ >= 0) ::close(fd_);
}

namespace {
struct flock byteRange(uint64_t offset, short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = 1;
  fl.l_pid = 0;  // required by open-file-description locks
  return fl;
}
}  // namespace

bool FileLocks::tryLock(uint64_t offset, Mode mode) {
  if (mode == Mode::Exclusive && !writable_) return true;
  struct flock fl = byteRange(offset, mode == Mode::Exclusive ? F_WRLCK : F_RDLCK);
  while (fcntl(fd_, F_OFD_SETLK, &fl) != 0) {
    if (errno == EINTR) continue;
    return false;
  }
  return true;
}

void FileLocks::unlock(uint64_t offset) {
  struct flock fl = byteRange(offset, F_UNLCK);
  while (fcntl(fd_, F_OFD_SETLK, &fl) != 0 && errno == EINTR) {
  }
}

bool FileLocks::heldElsewhere(uint64_t offset) { return anyHeldElsewhere(offset, 1); }

// One question for the whole range: the kernel reports a conflicting lock on any byte of it.
bool FileLocks::anyHeldElsewhere(uint64_t offset, uint64_t count) {
  struct flock fl = byteRange(offset, F_WRLCK);
  fl.l_len = static_cast<off_t>(count);
  if (fcntl(fd_, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

size_t FileLocks::readAt(uint64_t offset, void* buf, size_t n) {
  ssize_t got = ::pread(fd_, buf, n, static_cast<off_t>(offset));
  return got < 0 ? 0 : static_cast<size_t>(got);
}

bool FileLocks::writeAt(uint64_t offset, const void* buf, size_t n) {
  return ::pwrite(fd_, buf, n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n);
}

uint64_t FileLocks::size() {
  struct stat st {};
  return fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

#endif

}  // namespace bv::storage
