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
#include "engine/storage/index_page.h"
#include "engine/storage/index_walk.h"
#include "engine/storage/text_key.h"

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

// The raw decoders on their own: the input's tail as an index page of either version
// (re-encoded when it decodes) and as UTF-16 text for both text key builders.
void rawDecoders(const uint8_t* data, size_t size) {
  for (bool jet4 : {false, true}) {
    const size_t ps = jet4 ? 4096 : 2048;
    if (size < ps) continue;
    std::span<const uint8_t> page(data + size - ps, ps);
    try {
      auto ip = bv::storage::decodeIndexPage(page, jet4, 0);
      auto again = bv::storage::decodeIndexPage(bv::storage::encodeIndexPage(ip, jet4), jet4, 0);
      if (again.entries != ip.entries) __builtin_trap();  // encoding lost an entry
    } catch (const bv::JetError&) {
    }
  }
  std::u16string text;
  for (size_t i = 0; i + 1 < size && text.size() < 300; i += 2)
    text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  for (bool asc : {true, false}) {
    std::vector<uint8_t> key;
    try {
      bv::storage::appendJet4TextKey(key, text, asc);
    } catch (const bv::JetError&) {
    }
    try {
      bv::storage::appendJet3TextKey(key, text, asc);
    } catch (const bv::JetError&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  rawDecoders(data, size);
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
