// Helpers for the index-writer tests: a writable copy of a fixture, the entries of an index
// in tree order, and the structural part of a check report.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/check.h"
#include "engine/storage/database.h"
#include "engine/storage/index_walk.h"
#include "tests/engine/storage/storage_test_util.h"

namespace bv::storage::indextest {

// A fixture copied to a temporary folder, opened for writing. `ok()` is false (and the
// test should skip) when the fixtures are absent.
struct WritableCopy {
  explicit WritableCopy(const std::string& rel) : source(test::fixturesDir() + "/" + rel) {
    if (!std::filesystem::exists(source)) return;
    copy = std::make_unique<test::TempCopy>(source);
    reopen();
  }
  bool ok() const { return copy != nullptr; }
  void reopen() {
    db.reset();
    db = Database::open(copy->path(), OpenMode::ReadWrite);
  }
  std::string source;
  std::unique_ptr<test::TempCopy> copy;
  std::unique_ptr<Database> db;
};

#define BV_NEED_FIXTURE(w) \
  if (!(w).ok()) GTEST_SKIP() << "fixture absent: " << (w).source

// Every leaf entry of the index, in the order the leaf chain gives them.
inline std::vector<IndexEntry> walkIndex(const Database& db, const TableDef& t, size_t real) {
  std::vector<IndexEntry> out;
  IndexWalker w(db, t, t.realIndexes[real]);
  IndexEntry e;
  while (w.next(e)) out.push_back(e);
  return out;
}

// Problems of a check report that are about structure: entries naming rows that are not in
// the table (tests that index made-up row ids) and rows deliberately left out of an index
// are set aside when `ignoreRowTies` is true.
inline std::vector<std::string> structuralProblems(const CheckReport& r, bool ignoreRowTies) {
  std::vector<std::string> out;
  for (const std::string& p : r.problems) {
    if (ignoreRowTies && (p.find("which is not a live row") != std::string::npos ||
                          p.find("is missing from the index") != std::string::npos ||
                          p.find("more problems of the kind: entries") != std::string::npos ||
                          p.find("more problems of the kind: missing") != std::string::npos))
      continue;
    out.push_back(p);
  }
  return out;
}

inline std::string joined(const std::vector<std::string>& v) {
  std::string s;
  for (const auto& x : v) s += x + "\n";
  return s;
}

}  // namespace bv::storage::indextest
