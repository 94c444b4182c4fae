// Positioned reads and writes on a database file. The only source of the engine that uses
// operating-system headers (file.cpp, POSIX or Win32).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bv::storage {

class File {
 public:
  // Opens an existing file. JetError 3024 if it does not exist, 3044 if the path names a
  // directory, 3051 if it cannot be opened (permissions, locked).
  File(const std::string& path, bool writable);
  // Creates a new, empty file, opened for writing. Never replaces anything: JetError 3204
  // if the path already exists, 3044 if the file cannot be made there.
  struct CreateNew {};
  File(const std::string& path, CreateNew);
  ~File();
  // Deletes a file (best effort; used to take back a file whose creation failed).
  static void remove(const std::string& path);
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  uint64_t size() const;
  // Reads exactly n bytes at offset; returns the number read (short only at end of file).
  size_t readAt(uint64_t offset, void* buf, size_t n) const;
  // Writes exactly n bytes at offset (JetError 3026-style failure on a short write).
  void writeAt(uint64_t offset, const void* buf, size_t n);
  void flush();
  bool writable() const { return writable_; }

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  bool writable_ = false;
  std::string path_;
};

}  // namespace bv::storage
