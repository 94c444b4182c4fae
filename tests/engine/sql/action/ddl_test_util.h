// The fixture of the data-definition tests: a database our code created (Jet 4 or Jet 3),
// statements run on it, refusals that must leave the file byte for byte as it was, and the
// outside readers (mdbtools) and our own check to read the result back.
#pragma once

#include <gtest/gtest.h>

#include "engine/sql/action.h"
#include "engine/sql/parser.h"
#include "engine/storage/check.h"
#include "engine/storage/create_database.h"
#include "engine/storage/error.h"
#include "engine/storage/table_writer.h"
#include "engine/storage/write_unit.h"
#include "tests/engine/storage/storage_test_util.h"

namespace bv::sql {

using storage::Database;
using storage::JetVersion;
using storage::OpenMode;

class DdlTest : public ::testing::TestWithParam<JetVersion> {
 protected:
  bool jet4() const { return GetParam() == JetVersion::Jet4; }
  void SetUp() override {
    path_ = dir_.dir() + "/ddl.mdb";
    storage::CreateOptions o;
    o.created = 45000;
    storage::createDatabase(path_, GetParam(), o);
  }
  int64_t run(const std::u16string& sql, bool dryRun = false) {
    auto db = Database::open(path_, OpenMode::ReadWrite);
    ActionOptions o;
    o.dryRun = dryRun;
    o.failOnError = true;  // a row that breaks a rule fails the statement, as `brimvale run` does
    return executeAction(*db, parseStatement(sql), {}, o);
  }
  // Runs a statement that must fail with `number` and leave the file unchanged.
  void refused(const std::u16string& sql, int number) {
    const std::vector<uint8_t> before = test::TempCopy(path_).read();
    try {
      run(sql);
      ADD_FAILURE() << "expected error " << number << " for " << storage::toUtf8(sql);
    } catch (const JetError& e) {
      EXPECT_EQ(e.number(), number) << storage::toUtf8(sql) << ": " << e.what();
    }
    EXPECT_EQ(test::TempCopy(path_).read(), before) << storage::toUtf8(sql);
  }
  std::string problems() {
    auto db = Database::open(path_);
    std::string s;
    for (const auto& p : storage::checkDatabase(*db).problems) s += p + "\n";
    return s;
  }
  // Adds rows through the storage layer.
  void addRows(const std::u16string& table, const std::vector<std::vector<Value>>& rows) {
    auto db = Database::open(path_, OpenMode::ReadWrite);
    storage::WriteUnit unit(*db);
    storage::TableWriter w(unit, table);
    for (const auto& r : rows) w.insert(r);
    unit.commit();
  }
  std::string mdb(const std::string& args) {
    int status = 0;
    std::string out = test::runCommand(args + " 2>&1", &status);
    return status == 0 ? out : "FAILED: " + out;
  }
  test::TempCopy dir_{""};
  std::string path_;
};

inline std::string jetVersionName(const ::testing::TestParamInfo<JetVersion>& info) {
  return info.param == JetVersion::Jet4 ? "Jet4" : "Jet3";
}

}  // namespace bv::sql
