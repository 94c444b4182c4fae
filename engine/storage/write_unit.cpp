#include "engine/storage/write_unit.h"

#include <cstring>

#include "engine/storage/error.h"
#include "engine/storage/file.h"

namespace bv::storage {

WriteUnit::WriteUnit(Database& db, WriteOptions options) : db_(db), options_(options) {
  if (db.mode() != OpenMode::ReadWrite)
    throw JetError(3027, "Cannot update. The database '" + db.path() + "' is opened read-only.");
  if (db.unit_) throw JetError(3049, "A change to the database '" + db.path() + "' is already in progress.");
  originalPageCount_ = pageCount_ = db.cache().pageCount();
  db.unit_ = this;
}

WriteUnit::~WriteUnit() {
  if (active_) {
    try {
      rollback();
    } catch (...) {
    }
  }
}

const std::shared_ptr<uint8_t[]>* WriteUnit::find(uint32_t n) const {
  auto it = pages_.find(n);
  return it == pages_.end() ? nullptr : &it->second;
}

PageRef WriteUnit::page(uint32_t n) const {
  if (auto* p = find(n)) return PageRef(*p, n, db_.pageSize());
  if (n >= pageCount_)
    throw JetError(3049, "The database is damaged: page " + std::to_string(n) +
                             " lies beyond the end of the file (" + std::to_string(pageCount_) + " pages).");
  return db_.cache().get(n);
}

uint8_t* WriteUnit::modify(uint32_t n) {
  PageRef orig = page(n);
  // A table definition page about to change: parsed definitions are read again on next use.
  if (orig[0] == 0x02) db_.invalidateTables();
  if (auto* p = find(n)) return p->get();
  std::shared_ptr<uint8_t[]> copy(new uint8_t[db_.pageSize()]);
  std::memcpy(copy.get(), orig.data(), db_.pageSize());
  return pages_.emplace(n, std::move(copy)).first->second.get();
}

uint32_t WriteUnit::allocate() {
  const uint32_t n = pageCount_++;
  std::shared_ptr<uint8_t[]> fresh(new uint8_t[db_.pageSize()]());
  pages_[n] = std::move(fresh);
  return n;
}

void WriteUnit::release(uint32_t n) { std::memset(modify(n), 0, db_.pageSize()); }

std::vector<uint32_t> WriteUnit::changedPages() const {
  std::vector<uint32_t> out;
  out.reserve(pages_.size());
  for (const auto& [n, bytes] : pages_) out.push_back(n);
  return out;
}

void WriteUnit::commit() {
  if (!active_) throw JetError(3049, "The change to '" + db_.path() + "' has already ended.");
  File& f = db_.cache().file();
  const uint32_t ps = db_.pageSize();
  for (const auto& [n, bytes] : pages_) f.writeAt(static_cast<uint64_t>(n) * ps, bytes.get(), ps);
  if (options_.durable) f.flush();
  finish();
}

void WriteUnit::rollback() {
  if (!active_) return;
  pageCount_ = originalPageCount_;
  pages_.clear();
  finish();
}

void WriteUnit::finish() {
  PageCache& cache = db_.cache();
  for (const auto& [n, bytes] : pages_) cache.invalidate(n);
  cache.setPageCount(pageCount_);
  pages_.clear();
  active_ = false;
  db_.unit_ = nullptr;
  db_.invalidateTables();
  if (db_.catalogDirty_) db_.catalogChanged();
}

}  // namespace bv::storage
