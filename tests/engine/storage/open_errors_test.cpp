// Opening files that are missing, not databases, truncated, damaged, password-protected
// or encrypted: each gives its Jet error and never a crash.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/storage/csv_export.h"
#include "engine/storage/database.h"
#include "tests/engine/storage/storage_test_util.h"

namespace bv::test {
namespace {

using storage::Database;
using storage::JetVersion;
using storage::OpenMode;

const std::string kJet4 = fixturesDir() + "/jet4/testV2000.mdb";
const std::string kJet3 = fixturesDir() + "/jet3/testV1997.mdb";

// The Jet error number an open gives, 0 if it opens.
int openError(const std::string& path, const std::u16string& password = {}) {
  try {
    Database::open(path, OpenMode::ReadOnly, password);
    return 0;
  } catch (const JetError& e) {
    return e.number();
  }
}

// Opens and exports every user table; returns the first Jet error number, 0 if none.
int readEverything(const std::string& path) {
  try {
    auto db = Database::open(path);
    for (const auto& name : db->userTableNames())
      storage::exportCsv(*db, *db->table(name), [](const char*, size_t) { return true; });
    return 0;
  } catch (const JetError& e) {
    return e.number();
  }
}

TEST(OpenErrors, MissingFileAndFolder) {
  EXPECT_EQ(openError("/nonexistent/dir/nothing.mdb"), 3024);
  TempCopy dir("");
  EXPECT_EQ(openError(dir.dir() + "/absent.mdb"), 3024);
  EXPECT_EQ(openError(dir.dir()), 3044);
}

TEST(OpenErrors, NotAJetDatabase) {
  TempCopy f("");
  f.write({});
  EXPECT_EQ(openError(f.path()), 3343) << "empty file";
  f.write(std::vector<uint8_t>(8192, 'a'));
  EXPECT_EQ(openError(f.path()), 3343) << "text file";

  TempCopy ace(kJet4);
  auto bytes = ace.read();
  std::memcpy(&bytes[4], "Standard ACE DB", 16);
  ace.write(bytes);
  EXPECT_EQ(openError(ace.path()), 3343) << "Access 2007 file";

  bytes = TempCopy(kJet4).read();
  bytes[0x14] = 0x05;
  ace.write(bytes);
  EXPECT_EQ(openError(ace.path()), 3343) << "unknown format version";
}

TEST(OpenErrors, TruncatedFiles) {
  TempCopy f(kJet4);
  auto bytes = f.read();
  ASSERT_GT(bytes.size(), 40u * 4096);
  // Cut inside a page: refused at once.
  f.write(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4096 * 5 + 1000));
  EXPECT_EQ(openError(f.path()), 3049);
  // Cut at a page boundary: the pages that are gone are reported when they are needed.
  f.write(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4096 * 12));
  EXPECT_EQ(readEverything(f.path()), 3049);
  // Only the header page left.
  f.write(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4096));
  EXPECT_EQ(openError(f.path()), 3049);
}

TEST(OpenErrors, PasswordRequiredAndAccepted) {
  for (const auto& [path, version] : {std::pair{kJet4, JetVersion::Jet4}, std::pair{kJet3, JetVersion::Jet3}}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(Database::open(path)->hasPassword());
    TempCopy f(path);
    setPassword(f, version, u"S3cret");
    EXPECT_EQ(openError(f.path()), 3031);
    EXPECT_EQ(openError(f.path(), u"s3cret"), 3031) << "passwords are case-sensitive";
    EXPECT_EQ(openError(f.path(), u"S3cre"), 3031);
    auto db = Database::open(f.path(), OpenMode::ReadOnly, u"S3cret");
    EXPECT_TRUE(db->hasPassword());
    EXPECT_FALSE(db->userTableNames().empty());
  }
}

TEST(OpenErrors, EncryptedDatabaseRefused) {
  TempCopy f(kJet4);
  auto bytes = f.read();
  storage::xorHeaderMask(bytes.data(), JetVersion::Jet4);
  bytes[0x3E] = 0x5A;  // a database key
  storage::xorHeaderMask(bytes.data(), JetVersion::Jet4);
  f.write(bytes);
  EXPECT_EQ(openError(f.path()), 3343);
}

// Pages whose contents contradict the rest: a clear error, not a crash or a wrong read.
TEST(OpenErrors, ContradictoryPages) {
  const uint32_t ps = 4096;
  auto db = Database::open(kJet4);
  const auto t = db->table(u"Table1");
  const auto dataPages = db->usageMapPages(t->ownedMap);
  ASSERT_FALSE(dataPages.empty());
  const uint32_t tdef = t->tdefPage, data = dataPages.front();

  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
  };
  const std::vector<Case> cases = {
      {"table definition page type", [&](auto& b) { b[size_t{tdef} * ps] = 0x01; }},
      {"column count beyond the page", [&](auto& b) { b[size_t{tdef} * ps + 45] = 0xFF; b[size_t{tdef} * ps + 46] = 0x7F; }},
      {"data page row count", [&](auto& b) { b[size_t{data} * ps + 12] = 0xFF; b[size_t{data} * ps + 13] = 0xFF; }},
      {"row offset above the page end", [&](auto& b) { b[size_t{data} * ps + 15] = 0x1F; }},
      {"row offset inside the offset table", [&](auto& b) { b[size_t{data} * ps + 14] = 2; b[size_t{data} * ps + 15] = 0; }},
      {"row column count", [&](auto& b) {
         const size_t row = size_t{data} * ps + (b[size_t{data} * ps + 14] | ((b[size_t{data} * ps + 15] & 0x1F) << 8));
         b[row] = 0xFF;
         b[row + 1] = 0xFF;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempCopy f(kJet4);
    auto bytes = f.read();
    c.damage(bytes);
    f.write(bytes);
    EXPECT_EQ(readEverything(f.path()), 3049);
  }
}

// Bytes flipped at random places of a small file: any outcome but a crash or an error
// other than JetError is acceptable.
TEST(OpenErrors, RandomDamageGivesOnlyJetErrors) {
  const auto original = TempCopy(kJet3).read();
  TempCopy f(kJet3);
  uint64_t seed = 0x9E3779B97F4A7C15ull;
  auto rnd = [&seed]() {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return seed;
  };
  int failures = 0;
  for (int round = 0; round < 150; ++round) {
    auto bytes = original;
    const int flips = 1 + static_cast<int>(rnd() % 40);
    for (int i = 0; i < flips; ++i) bytes[2048 + rnd() % (bytes.size() - 2048)] = static_cast<uint8_t>(rnd());
    f.write(bytes);
    try {
      if (readEverything(f.path()) != 0) ++failures;
    } catch (const std::exception& e) {
      ADD_FAILURE() << "round " << round << ": " << e.what();
    }
  }
  EXPECT_GT(failures, 0) << "no damage was ever noticed";
}

}  // namespace
}  // namespace bv::test
