#include "engine/storage/file.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/storage/error.h"
#include "engine/storage/wide_path.h"
#include "engine/storage/io_faults.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#endif

namespace bv::storage {

namespace {
[[noreturn]] void fail(int number, const std::string& what, const std::string& path) {
  throw JetError(number, what + " '" + path + "'.");
}

[[noreturn]] void failWrite(bool diskFull, const std::string& what, const std::string& path) {
  if (diskFull) fail(3026, "Not enough space on the disk: " + what, path);
  fail(3043, "Disk or device error: " + what, path);
}

// Applies an injected fault to a change operation. A Crash ends the process here; the
// write faults that store half the bytes first are handled by the callers.
void injectedFailure(IoFault f, const std::string& what, const std::string& path) {
  if (f == IoFault::Crash) std::_Exit(kInjectedCrashExit);
  if (f == IoFault::Error) failWrite(false, what, path);
  if (f == IoFault::DiskFull) failWrite(true, what, path);
}
}  // namespace

#ifdef _WIN32

namespace {

bool diskFullError(DWORD e) { return e == ERROR_DISK_FULL || e == ERROR_HANDLE_DISK_FULL; }

// Writes at an offset; false with GetLastError() set when it fails.
bool writeSome(HANDLE h, uint64_t at, const char* p, size_t n, DWORD& put) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<DWORD>(at >> 32);
  put = 0;
  return WriteFile(h, p, static_cast<DWORD>(n), &put, &ov) && put != 0;
}
}  // namespace

File::File(const std::string& path, bool writable) : writable_(writable), path_(path) {
  std::wstring w = widePath(path);
  DWORD attrs = GetFileAttributesW(w.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) fail(3024, "Could not find the file", path);
  if (attrs & FILE_ATTRIBUTE_DIRECTORY) fail(3044, "The path is a folder, not a database file:", path);
  DWORD access = GENERIC_READ | (writable ? GENERIC_WRITE : 0);
  HANDLE h = CreateFileW(w.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) fail(3024, "Could not find the file", path);
    fail(3051, "The file cannot be opened (in use, or no permission):", path);
  }
  handle_ = h;
}

std::unique_ptr<File> File::create(const std::string& path) {
  std::unique_ptr<File> f(new File());
  f->path_ = path;
  f->writable_ = true;
  HANDLE h = CreateFileW(widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) failWrite(diskFullError(GetLastError()), "cannot create", path);
  f->handle_ = h;
  return f;
}

bool File::exists(const std::string& path) {
  return GetFileAttributesW(widePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void File::remove(const std::string& path) {
  injectedFailure(ioFaultFor(IoOp::Remove), "cannot remove", path);
  if (!DeleteFileW(widePath(path).c_str())) {
    DWORD e = GetLastError();
    if (e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND) failWrite(false, "cannot remove", path);
  }
}

// NTFS records folder entries in its own log; there is no portable way to flush a folder.
void File::syncDirectoryOf(const std::string&) {}

File::File(const std::string& path, CreateNew) : writable_(true), path_(path) {
  std::wstring w = widePath(path);
  HANDLE h = CreateFileW(w.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    if (e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS) fail(3204, "The database already exists:", path);
    fail(3044, "The database cannot be created at", path);
  }
  handle_ = h;
}

File::~File() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
}

uint64_t File::size() const {
  LARGE_INTEGER sz;
  if (!GetFileSizeEx(static_cast<HANDLE>(handle_), &sz)) fail(3040, "Cannot read the size of", path_);
  return static_cast<uint64_t>(sz.QuadPart);
}

size_t File::readAt(uint64_t offset, void* buf, size_t n) const {
  if (ioFaultFor(IoOp::Read) != IoFault::None) fail(3040, "Disk or device error while reading", path_);
  size_t done = 0;
  while (done < n) {
    OVERLAPPED ov{};
    uint64_t at = offset + done;
    ov.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
    ov.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(handle_), static_cast<char*>(buf) + done,
                  static_cast<DWORD>(n - done), &got, &ov)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      fail(3040, "Disk or device error while reading", path_);
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

size_t File::readPagesAt(uint64_t offset, uint8_t* const* pages, size_t count, size_t pageSize) const {
  std::vector<uint8_t> run(count * pageSize);
  const size_t got = readAt(offset, run.data(), run.size());
  for (size_t k = 0; k < count && k * pageSize < got; ++k)
    std::memcpy(pages[k], run.data() + k * pageSize, std::min(pageSize, got - k * pageSize));
  return got;
}

void File::writeAt(uint64_t offset, const void* buf, size_t n) {
  const IoFault f = ioFaultFor(IoOp::Write);
  const char* p = static_cast<const char*>(buf);
  HANDLE h = static_cast<HANDLE>(handle_);
  if (f == IoFault::ShortWrite || f == IoFault::TornWrite) {
    DWORD put = 0;
    writeSome(h, offset, p, n / 2, put);
    if (f == IoFault::TornWrite) std::_Exit(kInjectedCrashExit);
    failWrite(false, "a write was cut short on", path_);
  }
  injectedFailure(f, "cannot write", path_);
  size_t done = 0;
  while (done < n) {
    DWORD put = 0;
    if (!writeSome(h, offset + done, p + done, n - done, put))
      failWrite(diskFullError(GetLastError()), "cannot write", path_);
    done += put;
  }
}

void File::flush() {
  injectedFailure(ioFaultFor(IoOp::Sync), "cannot flush", path_);
  if (!FlushFileBuffers(static_cast<HANDLE>(handle_))) failWrite(false, "cannot flush", path_);
}

void File::truncate(uint64_t size) {
  injectedFailure(ioFaultFor(IoOp::Truncate), "cannot cut", path_);
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size);
  HANDLE h = static_cast<HANDLE>(handle_);
  if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !SetEndOfFile(h))
    failWrite(diskFullError(GetLastError()), "cannot cut", path_);
}

#else

namespace {
bool diskFullError(int e) { return e == ENOSPC || e == EDQUOT; }
}  // namespace

File::File(const std::string& path, bool writable) : writable_(writable), path_(path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) fail(3024, "Could not find the file", path);
    fail(3044, "The path is not valid:", path);
  }
  if (S_ISDIR(st.st_mode)) fail(3044, "The path is a folder, not a database file:", path);
  fd_ = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd_ < 0) {
    if (errno == ENOENT) fail(3024, "Could not find the file", path);
    fail(3051, "The file cannot be opened (in use, or no permission):", path);
  }
}

std::unique_ptr<File> File::create(const std::string& path) {
  std::unique_ptr<File> f(new File());
  f->path_ = path;
  f->writable_ = true;
  f->fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (f->fd_ < 0) failWrite(diskFullError(errno), "cannot create", path);
  return f;
}

bool File::exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

void File::remove(const std::string& path) {
  injectedFailure(ioFaultFor(IoOp::Remove), "cannot remove", path);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) failWrite(false, "cannot remove", path);
}

void File::syncDirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  injectedFailure(ioFaultFor(IoOp::Sync), "cannot flush the folder of", path);
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) failWrite(false, "cannot open the folder of", path);
  const int rc = ::fsync(fd);
  const int err = errno;
  ::close(fd);
  // Some file systems cannot flush a folder (EINVAL); their entries are durable anyway.
  if (rc != 0 && err != EINVAL) failWrite(false, "cannot flush the folder of", path);
}

File::File(const std::string& path, CreateNew) : writable_(true), path_(path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    if (errno == EEXIST) fail(3204, "The database already exists:", path);
    fail(3044, "The database cannot be created at", path);
  }
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

uint64_t File::size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) fail(3040, "Cannot read the size of", path_);
  return static_cast<uint64_t>(st.st_size);
}

namespace {
// Fills the parts from consecutive bytes at `offset`; returns the bytes read (fewer only at
// the end of the file).
size_t preadAll(int fd, iovec* parts, size_t count, uint64_t offset, const std::string& path) {
  size_t done = 0;
  size_t first = 0;  // the part the next read starts in
  while (first < count) {
    ssize_t got = ::preadv(fd, parts + first, static_cast<int>(count - first), static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      fail(3040, "Disk or device error while reading", path);
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
    // Step past the parts filled; a part filled in part goes on where it stopped.
    size_t left = static_cast<size_t>(got);
    while (first < count && left >= parts[first].iov_len) left -= parts[first++].iov_len;
    if (first < count && left > 0) {
      parts[first].iov_base = static_cast<uint8_t*>(parts[first].iov_base) + left;
      parts[first].iov_len -= left;
    }
  }
  return done;
}
}  // namespace

size_t File::readAt(uint64_t offset, void* buf, size_t n) const {
  if (ioFaultFor(IoOp::Read) != IoFault::None) fail(3040, "Disk or device error while reading", path_);
  iovec one{buf, n};
  return preadAll(fd_, &one, 1, offset, path_);
}

size_t File::readPagesAt(uint64_t offset, uint8_t* const* pages, size_t count, size_t pageSize) const {
  if (ioFaultFor(IoOp::Read) != IoFault::None) fail(3040, "Disk or device error while reading", path_);
  std::vector<iovec> parts(count);
  for (size_t k = 0; k < count; ++k) parts[k] = iovec{pages[k], pageSize};
  return preadAll(fd_, parts.data(), count, offset, path_);
}

void File::writeAt(uint64_t offset, const void* buf, size_t n) {
  const IoFault f = ioFaultFor(IoOp::Write);
  const char* p = static_cast<const char*>(buf);
  if (f == IoFault::ShortWrite || f == IoFault::TornWrite) {
    ssize_t ignored = ::pwrite(fd_, p, n / 2, static_cast<off_t>(offset));
    (void)ignored;
    if (f == IoFault::TornWrite) std::_Exit(kInjectedCrashExit);
    failWrite(false, "a write was cut short on", path_);
  }
  injectedFailure(f, "cannot write", path_);
  size_t done = 0;
  while (done < n) {
    ssize_t put = ::pwrite(fd_, p + done, n - done, static_cast<off_t>(offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) failWrite(diskFullError(errno), "cannot write", path_);
    if (put == 0) failWrite(true, "cannot write", path_);
    done += static_cast<size_t>(put);
  }
}

void File::flush() {
  injectedFailure(ioFaultFor(IoOp::Sync), "cannot flush", path_);
  if (::fsync(fd_) != 0) failWrite(diskFullError(errno), "cannot flush", path_);
}

void File::truncate(uint64_t size) {
  injectedFailure(ioFaultFor(IoOp::Truncate), "cannot cut", path_);
  while (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    if (errno == EINTR) continue;
    failWrite(diskFullError(errno), "cannot cut", path_);
  }
}

#endif

}  // namespace bv::storage
