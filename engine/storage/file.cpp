#include "engine/storage/file.h"

#include "engine/storage/error.h"

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
[[noreturn]] void fail(int number, const std::string& what, const std::string& path) {
  throw JetError(number, what + " '" + path + "'.");
}
}  // namespace

#ifdef _WIN32

namespace {
std::wstring widen(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}
}  // namespace

File::File(const std::string& path, bool writable) : writable_(writable), path_(path) {
  std::wstring w = widen(path);
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

File::File(const std::string& path, CreateNew) : writable_(true), path_(path) {
  std::wstring w = widen(path);
  HANDLE h = CreateFileW(w.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    if (e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS) fail(3204, "The database already exists:", path);
    fail(3044, "The database cannot be created at", path);
  }
  handle_ = h;
}

void File::remove(const std::string& path) { DeleteFileW(widen(path).c_str()); }

File::~File() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
}

uint64_t File::size() const {
  LARGE_INTEGER sz;
  if (!GetFileSizeEx(static_cast<HANDLE>(handle_), &sz)) fail(3049, "Cannot read the size of", path_);
  return static_cast<uint64_t>(sz.QuadPart);
}

size_t File::readAt(uint64_t offset, void* buf, size_t n) const {
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
      fail(3049, "Reading failed on", path_);
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

void File::writeAt(uint64_t offset, const void* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    OVERLAPPED ov{};
    uint64_t at = offset + done;
    ov.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
    ov.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD put = 0;
    if (!WriteFile(static_cast<HANDLE>(handle_), static_cast<const char*>(buf) + done,
                   static_cast<DWORD>(n - done), &put, &ov) || put == 0)
      fail(3026, "Writing failed (disk full or device error) on", path_);
    done += put;
  }
}

void File::flush() {
  if (!FlushFileBuffers(static_cast<HANDLE>(handle_))) fail(3026, "Flushing failed on", path_);
}

#else

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

File::File(const std::string& path, CreateNew) : writable_(true), path_(path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    if (errno == EEXIST) fail(3204, "The database already exists:", path);
    fail(3044, "The database cannot be created at", path);
  }
}

void File::remove(const std::string& path) { ::unlink(path.c_str()); }

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

uint64_t File::size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) fail(3049, "Cannot read the size of", path_);
  return static_cast<uint64_t>(st.st_size);
}

size_t File::readAt(uint64_t offset, void* buf, size_t n) const {
  size_t done = 0;
  while (done < n) {
    ssize_t got = ::pread(fd_, static_cast<char*>(buf) + done, n - done,
                          static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      fail(3049, "Reading failed on", path_);
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

void File::writeAt(uint64_t offset, const void* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t put = ::pwrite(fd_, static_cast<const char*>(buf) + done, n - done,
                           static_cast<off_t>(offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) fail(3026, "Writing failed (disk full or device error) on", path_);
    done += static_cast<size_t>(put);
  }
}

void File::flush() {
  if (::fsync(fd_) != 0) fail(3026, "Flushing failed on", path_);
}

#endif

}  // namespace bv::storage
