// The fixture of the TableWriter tests: a private copy of a fixture file opened for
// writing, and the checks every committed change must pass.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "engine/storage/write_unit.h"
#include "tests/engine/storage/storage_test_util.h"
#include "tests/engine/storage/write/table_model.h"

namespace bv::storage {

class TableWriterTest : public ::testing::Test {
 protected:
  void open(const std::string& rel) {
    const std::string src = test::fixturesDir() + "/" + rel;
    if (!std::filesystem::exists(src)) GTEST_SKIP() << "fixture absent: " << src;
    copy_ = std::make_unique<test::TempCopy>(src);
    db_ = Database::open(copy_->path(), OpenMode::ReadWrite);
  }
  // Everything a committed change must satisfy.
  void verify(std::u16string_view table, const test::TableModel& model) {
    test::expectTableMatches(*db_, table, model);
    test::expectCheckPasses(*db_);
    if (test::haveMdbExport()) test::expectMdbExportAgrees(*db_, copy_->path(), table);
  }
  static int errorOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const JetError& e) {
      return e.number();
    }
    return 0;
  }
  // Every page the unit changed, with its bytes.
  std::pair<std::vector<uint32_t>, std::vector<Bytes>> snapshot(const WriteUnit& unit) const {
    std::vector<Bytes> images;
    for (uint32_t p : unit.changedPages()) images.emplace_back(db_->page(p).data(), db_->page(p).data() + unit.pageSize());
    return {unit.changedPages(), images};
  }
  std::unique_ptr<test::TempCopy> copy_;
  std::unique_ptr<Database> db_;
};

}  // namespace bv::storage
