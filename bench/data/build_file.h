// A new database file filled in a series of units of change. The units are not durable
// (no fsync): the file is made by one process and thrown away if that process fails.
#pragma once

#include <memory>
#include <string>

#include "engine/storage/create_database.h"
#include "engine/storage/database.h"
#include "engine/storage/write_unit.h"

namespace bv::bench {

// Every date recorded in the catalog (2024-06-07 00:00), so that the bytes depend only on
// what is written.
inline constexpr double kBenchCreated = 45450.0;
// Rows written per unit: bounds the pages one unit holds in memory.
inline constexpr uint32_t kRowsPerUnit = 25000;

class BuildFile {
 public:
  explicit BuildFile(const std::string& path) {
    storage::CreateOptions options;
    options.created = kBenchCreated;
    storage::createDatabase(path, storage::JetVersion::Jet4, options);
    db_ = storage::Database::open(path, storage::OpenMode::ReadWrite);
  }

  // Runs `work` in a unit of its own and commits it.
  template <class Work> void inUnit(Work&& work) {
    storage::WriteUnit unit(*db_, storage::WriteOptions{.durable = false});
    work(unit);
    unit.commit();
  }

 private:
  std::unique_ptr<storage::Database> db_;
};

}  // namespace bv::bench
