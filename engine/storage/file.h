// Positioned reads and writes on a database file (and its journal). The only source of the
// engine that uses operating-system headers (file.cpp, POSIX or Win32).
//
// I/O failures are JetErrors: 3040 a read failed, 3026 the disk is full, 3043 any other
// failure to write, flush, cut or remove a file. Every operation passes through the test
// hook of io_faults.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Creates a file for writing, or empties an existing one.
  static std::unique_ptr<File> create(const std::string& path);
  static bool exists(const std::string& path);
  // Removes a file; no error if it is already gone.
  static void remove(const std::string& path);
  // Makes the folder entries of the folder holding `path` durable (creations, removals).
  static void syncDirectoryOf(const std::string& path);

  uint64_t size() const;
  // Reads exactly n bytes at offset; returns the number read (short only at end of file).
  size_t readAt(uint64_t offset, void* buf, size_t n) const;
  // Reads `count` consecutive pages of `pageSize` bytes from `offset`, page k into pages[k],
  // in one call where the system allows; returns the bytes read (less at the end of file).
  size_t readPagesAt(uint64_t offset, uint8_t* const* pages, size_t count, size_t pageSize) const;
  // Writes exactly n bytes at offset, growing the file if needed.
  void writeAt(uint64_t offset, const void* buf, size_t n);
  // Makes everything written durable (fsync).
  void flush();
  // Cuts (or extends) the file to `size` bytes.
  void truncate(uint64_t size);
  bool writable() const { return writable_; }
  const std::string& path() const { return path_; }

 private:
  File() = default;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  bool writable_ = false;
  std::string path_;
};

}  // namespace bv::storage
