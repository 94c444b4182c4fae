// libFuzzer target: a database file made of the input bytes, read through the public
// storage API (open, catalog, every table's rows and values, every index in order, check).
// Any failure other than a JetError is a bug.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "engine/storage/check.h"
#include "engine/storage/database.h"
#include "engine/storage/index_walk.h"

namespace {

// The input goes through a file because databases are opened by path. One per process,
// removed when the process ends.
struct ScratchFile {
  std::string path;
  ScratchFile() {
    std::random_device rd;
    path = (std::filesystem::temp_directory_path() /
            ("bv_fuzz_" + std::to_string(rd()) + std::to_string(rd()) + ".mdb"))
               .string();
  }
  ~ScratchFile() {
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
};

const std::string& scratchFile() {
  static const ScratchFile file;
  return file.path;
}

void readTable(const bv::storage::Database& db, const bv::storage::CatalogEntry& e) {
  auto def = db.tableAt(e.tdefPage(), e.name);
  std::vector<bv::Value> row;
  auto cur = db.scan(def);
  while (cur.next()) cur.readRow(row);
  for (const auto& ri : def->realIndexes) {
    bv::storage::IndexWalker w(db, *def, ri);
    bv::storage::IndexEntry entry;
    while (w.next(entry)) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    std::ofstream out(scratchFile(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  try {
    auto db = bv::storage::Database::open(scratchFile());
    for (const auto& e : db->catalog()) {
      if (e.kind != bv::storage::ObjectKind::UserTable &&
          e.kind != bv::storage::ObjectKind::SystemTable)
        continue;
      try {
        readTable(*db, e);
      } catch (const bv::JetError&) {
      }
    }
    (void)bv::storage::checkDatabase(*db);
  } catch (const bv::JetError&) {
  }
  return 0;
}
