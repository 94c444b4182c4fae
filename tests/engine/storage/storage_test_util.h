// Helpers shared by the storage tests: fixture lists, running reference tools, CSV
// parsing that keeps quoted and unquoted fields apart, temporary copies of fixtures.
#pragma once

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "engine/storage/database.h"

namespace bv::test {

inline std::string fixturesDir() { return BV_FIXTURES_DIR; }

// The .mdb files of a fixture folder, sorted by name.
inline std::vector<std::string> fixtureFiles(const std::string& sub) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(fixturesDir() + "/" + sub, ec))
    if (e.path().extension() == ".mdb") out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

inline std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q.push_back(c);
  }
  return q + "'";
}

// Runs a shell command and returns its stdout; `status` receives the exit status.
inline std::string runCommand(const std::string& cmd, int* status = nullptr) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) {
    if (status) *status = -1;
    return out;
  }
  char buf[1 << 16];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = pclose(p);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

struct CsvField {
  std::string text;
  bool quoted = false;
  bool operator==(const CsvField&) const = default;
};
using CsvRow = std::vector<CsvField>;

// Parses CSV with "" escapes and newlines inside quotes.
inline std::vector<CsvRow> parseCsv(const std::string& s) {
  std::vector<CsvRow> rows;
  CsvRow row;
  CsvField f;
  size_t i = 0;
  bool fieldStarted = false;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '"' && !fieldStarted) {
      f.quoted = true;
      ++i;
      while (i < s.size()) {
        if (s[i] == '"') {
          if (i + 1 < s.size() && s[i + 1] == '"') {
            f.text.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        f.text.push_back(s[i++]);
      }
      fieldStarted = true;
      continue;
    }
    if (c == ',') {
      row.push_back(std::move(f));
      f = CsvField();
      fieldStarted = false;
      ++i;
      continue;
    }
    if (c == '\n' || c == '\r') {
      row.push_back(std::move(f));
      f = CsvField();
      fieldStarted = false;
      rows.push_back(std::move(row));
      row.clear();
      i += (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ? 2 : 1;
      continue;
    }
    f.text.push_back(c);
    fieldStarted = true;
    ++i;
  }
  if (fieldStarted || !row.empty()) {
    row.push_back(std::move(f));
    rows.push_back(std::move(row));
  }
  return rows;
}

// A private copy of a fixture, removed with its folder on destruction.
class TempCopy {
 public:
  explicit TempCopy(const std::string& source, const std::string& name = "copy.mdb") {
    char tmpl[] = "/tmp/bv_storage_XXXXXX";
    dir_ = mkdtemp(tmpl);
    path_ = dir_ + "/" + name;
    if (source.empty()) return;
    std::filesystem::copy_file(source, path_);
    std::filesystem::permissions(path_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
  }
  ~TempCopy() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& path() const { return path_; }
  const std::string& dir() const { return dir_; }
  std::vector<uint8_t> read() const {
    std::ifstream in(path_, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  void write(const std::vector<uint8_t>& bytes) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

 private:
  std::string dir_, path_;
};

// Writes a database password into a copy's header, as Jet stores it.
inline void setPassword(TempCopy& f, storage::JetVersion v, const std::u16string& pw) {
  auto bytes = f.read();
  storage::xorHeaderMask(bytes.data(), v);
  if (v == storage::JetVersion::Jet4) {
    double created;
    std::memcpy(&created, &bytes[0x72], 8);
    const auto day = static_cast<uint32_t>(static_cast<int32_t>(created));
    for (size_t i = 0; i < 40; ++i) {
      const size_t unit = i / 2;
      const uint8_t plain = unit < pw.size() ? static_cast<uint8_t>(pw[unit] >> (8 * (i % 2))) : 0;
      bytes[0x42 + i] = plain ^ static_cast<uint8_t>(day >> (8 * (i % 4)));
    }
  } else {
    for (size_t i = 0; i < 20; ++i) bytes[0x42 + i] = i < pw.size() ? static_cast<uint8_t>(pw[i]) : 0;
  }
  storage::xorHeaderMask(bytes.data(), v);
  f.write(bytes);
}

}  // namespace bv::test
