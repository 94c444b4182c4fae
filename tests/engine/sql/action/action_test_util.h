// Helpers of the action-statement tests: fixtures, temporary copies, LvProp blobs.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/storage/database.h"
#include "engine/storage/error.h"

namespace bv::test {

inline std::string fixture(const std::string& rel) { return std::string(BV_FIXTURES_DIR) + "/" + rel; }

#define NEED_FIXTURE(path) \
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "fixture absent: " << (path);

// A private copy of a file in a fresh folder, removed on destruction.
class ScratchCopy {
 public:
  explicit ScratchCopy(const std::string& source, const std::string& name = "copy.mdb") {
    char tmpl[] = "/tmp/bv_action_XXXXXX";
    dir_ = mkdtemp(tmpl);
    path_ = dir_ + "/" + name;
    std::filesystem::copy_file(source, path_);
    std::filesystem::permissions(path_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
  }
  ~ScratchCopy() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& path() const { return path_; }
  const std::string& dir() const { return dir_; }
  std::vector<uint8_t> bytes() const {
    std::ifstream in(path_, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string dir_, path_;
};

// The Jet number a call fails with, 0 when it succeeds.
inline int jetErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const JetError& e) {
    return e.number();
  }
  return 0;
}

// Builds a Jet 4 LvProp blob: (block name, [(property, type, value bytes)]) with the
// names chunk first, as Access writes them.
struct PropValue {
  std::u16string name;
  uint8_t type;
  std::vector<uint8_t> value;
};
inline std::vector<uint8_t> utf16(std::u16string_view s) {
  std::vector<uint8_t> out;
  for (char16_t c : s) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}
inline PropValue textProp(std::u16string name, std::u16string_view value) { return {std::move(name), 12, utf16(value)}; }
inline PropValue boolProp(std::u16string name, bool v) { return {std::move(name), 1, {static_cast<uint8_t>(v ? 1 : 0)}}; }

inline std::vector<uint8_t> lvPropBlob(const std::vector<std::pair<std::u16string, std::vector<PropValue>>>& blocks) {
  std::vector<std::u16string> names;
  auto nameIndex = [&](const std::u16string& n) {
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i] == n) return static_cast<uint16_t>(i);
    names.push_back(n);
    return static_cast<uint16_t>(names.size() - 1);
  };
  auto put16 = [](std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
  };
  auto put32 = [&](std::vector<uint8_t>& v, uint32_t x) {
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
  };
  std::vector<std::vector<uint8_t>> chunks;
  for (const auto& [blockName, props] : blocks) {
    std::vector<uint8_t> body;
    const auto nameBytes = utf16(blockName);
    put32(body, static_cast<uint32_t>(6 + nameBytes.size()));
    put16(body, static_cast<uint32_t>(nameBytes.size()));
    body.insert(body.end(), nameBytes.begin(), nameBytes.end());
    for (const auto& p : props) {
      put16(body, static_cast<uint32_t>(8 + p.value.size()));
      body.push_back(1);
      body.push_back(p.type);
      put16(body, nameIndex(p.name));
      put16(body, static_cast<uint32_t>(p.value.size()));
      body.insert(body.end(), p.value.begin(), p.value.end());
    }
    std::vector<uint8_t> chunk;
    put32(chunk, static_cast<uint32_t>(6 + body.size()));
    put16(chunk, blockName.empty() ? 0 : 1);
    chunk.insert(chunk.end(), body.begin(), body.end());
    chunks.push_back(std::move(chunk));
  }
  std::vector<uint8_t> namesBody;
  for (const auto& n : names) {
    const auto b = utf16(n);
    put16(namesBody, static_cast<uint32_t>(b.size()));
    namesBody.insert(namesBody.end(), b.begin(), b.end());
  }
  std::vector<uint8_t> out = {'M', 'R', '2', 0};
  put32(out, static_cast<uint32_t>(6 + namesBody.size()));
  put16(out, 0x80);
  out.insert(out.end(), namesBody.begin(), namesBody.end());
  for (const auto& c : chunks) out.insert(out.end(), c.begin(), c.end());
  return out;
}

}  // namespace bv::test

#include "engine/sql/action.h"
#include "engine/sql/parser.h"
#include "engine/sql/storage_catalog.h"
#include "engine/storage/csv_export.h"

namespace bv::test {

// Runs an action statement on a database file the way the tool does (a fresh open).
inline int64_t execute(const std::string& path, std::u16string_view sql, bool failOnError = true,
                       bool dryRun = false) {
  auto db = storage::Database::open(path, dryRun ? storage::OpenMode::ReadOnly : storage::OpenMode::ReadWrite);
  sql::ActionOptions o;
  o.failOnError = failOnError;
  o.dryRun = dryRun;
  return sql::executeAction(*db, sql::parseStatement(sql), {}, o);
}

// The rows a SELECT gives, each as its CSV fields joined by '|'.
inline std::vector<std::string> selectRows(const std::string& path, std::u16string_view sql) {
  auto db = storage::Database::open(path);
  sql::StorageCatalog catalog(*db);
  sql::ResultSet r = sql::executeSelect(sql::parseStatement(sql), catalog);
  std::vector<std::string> out;
  for (const auto& row : r.rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      if (i) line += '|';
      storage::appendCsvValue(row[i], line);
    }
    out.push_back(line);
  }
  return out;
}

}  // namespace bv::test
