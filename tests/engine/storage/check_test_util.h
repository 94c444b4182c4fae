// Temporary copies of fixture files for tests that change or damage them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace bv::testutil {

namespace fs = std::filesystem;

inline fs::path fixture(const std::string& rel) { return fs::path(BV_FIXTURES_DIR) / rel; }

// A private copy of a fixture in its own temporary folder, removed afterwards.
class TempCopy {
 public:
  explicit TempCopy(const std::string& rel) {
    std::random_device rd;
    dir_ = fs::temp_directory_path() / ("bv_check_" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(dir_);
    path_ = dir_ / fs::path(rel).filename();
    fs::copy_file(fixture(rel), path_);
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
  }
  ~TempCopy() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  TempCopy(const TempCopy&) = delete;
  TempCopy& operator=(const TempCopy&) = delete;

  std::string path() const { return path_.string(); }
  std::vector<uint8_t> read(uint64_t offset, size_t n) const {
    std::ifstream in(path_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::vector<uint8_t> b(n);
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(n));
    b.resize(static_cast<size_t>(in.gcount()));
    return b;
  }
  void write(uint64_t offset, const std::vector<uint8_t>& bytes) const {
    std::fstream f(path_, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  void truncate(uint64_t size) const { fs::resize_file(path_, size); }
  uint64_t size() const { return fs::file_size(path_); }

 private:
  fs::path dir_, path_;
};

}  // namespace bv::testutil
