#include "engine/storage/write_unit.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "engine/storage/error.h"
#include "engine/storage/file.h"
#include "engine/storage/journal.h"
#include "engine/storage/usage_map_edit.h"

namespace bv::storage {

namespace {
const RowPointer kGlobalMap{1, 0};  // page 1, row 0: bit set = page free
constexpr uint32_t kMaxPages = 0x1000000;  // row pointers hold 24-bit page numbers

// Stamps are handed out in blocks, one per unit, so no two units share one.
constexpr uint64_t kStampsPerUnit = uint64_t{1} << 40;
std::atomic<uint64_t> nextUnitStamp{kStampsPerUnit};
}  // namespace

WriteUnit::WriteUnit(Database& db, WriteOptions options) : db_(db), options_(options) {
  if (db.mode() != OpenMode::ReadWrite && !options.dryRun)
    throw JetError(3027, "Cannot update. The database '" + db.path() + "' is opened read-only.");
  if (db.unit_) throw JetError(3049, "A change to the database '" + db.path() + "' is already in progress.");
  // A journal left by a change that could not be put back (a failing device): restore the
  // file, and read it afresh, before changing anything.
  if (File::exists(journalPath(db.path()))) db.refresh();
  if (File::exists(journalPath(db.path())))
    throw JetError(3049, "The last change to the database '" + db.path() +
                             "' was interrupted and could not be undone yet; open it again for writing to restore it.");
  originalPageCount_ = pageCount_ = db.cache().pageCount();
  baseStamp_ = lastStamp_ = nextUnitStamp.fetch_add(kStampsPerUnit);
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
  const ChangedPages::Entry* e = pages_.find(n);
  return e ? &e->bytes : nullptr;
}

PageRef WriteUnit::original(uint32_t n) const {
  if (n >= pageCount_)
    throw JetError(3049, "The database is damaged: page " + std::to_string(n) +
                             " lies beyond the end of the file (" + std::to_string(pageCount_) + " pages).");
  return db_.cache().get(n);
}

PageRef WriteUnit::page(uint32_t n) const {
  if (auto* p = find(n)) return PageRef(*p, n, db_.pageSize());
  return original(n);
}

const uint8_t* WriteUnit::read(uint32_t n, PageRef& hold, uint64_t& stamp) const {
  if (const ChangedPages::Entry* e = pages_.find(n)) {
    stamp = e->stamp;
    return e->bytes.get();
  }
  hold = original(n);
  stamp = baseStamp_;
  return hold.data();
}

uint8_t* WriteUnit::modify(uint32_t n) {
  // A table definition page about to change: parsed definitions are read again on next use.
  if (ChangedPages::Entry* e = pages_.find(n)) {
    if (e->bytes[0] == 0x02) db_.invalidateTables();
    e->stamp = ++lastStamp_;
    return e->bytes.get();
  }
  PageRef orig = page(n);
  if (orig[0] == 0x02) db_.invalidateTables();
  std::shared_ptr<uint8_t[]> copy(new uint8_t[db_.pageSize()]);
  std::memcpy(copy.get(), orig.data(), db_.pageSize());
  return pages_.put(n, std::move(copy), ++lastStamp_).bytes.get();
}

uint32_t WriteUnit::allocate() {
  // A page the global map marks free (pages 0-2 are never handed out), else a new one at
  // the end of the file. Only bits are cleared here, and clearing a bit never allocates,
  // so making room in a map (which allocates bitmap pages) cannot recurse.
  for (uint32_t p : db_.usageMapPages(kGlobalMap)) {
    if (p < 3) continue;
    setPageInMap(*this, kGlobalMap, p, false);
    std::memset(modify(p), 0, db_.pageSize());
    return p;
  }
  if (pageCount_ >= kMaxPages)
    throw JetError(3035, "The database '" + db_.path() + "' has reached the largest size the format allows.");
  const uint32_t n = pageCount_++;
  std::shared_ptr<uint8_t[]> fresh(new uint8_t[db_.pageSize()]());
  pages_.put(n, std::move(fresh), ++lastStamp_);
  // The global map marks pages past the end of the file free; this one is now in use.
  if (mapHasPage(db_, kGlobalMap, n)) setPageInMap(*this, kGlobalMap, n, false);
  return n;
}

void WriteUnit::release(uint32_t n) {
  if (n < 3 || n >= pageCount_)
    throw JetError(3049, "Page " + std::to_string(n) + " of '" + db_.path() + "' cannot be given back.");
  std::memset(modify(n), 0, db_.pageSize());
  setPageInMap(*this, kGlobalMap, n, true);
}

std::vector<uint32_t> WriteUnit::changedPages() const {
  std::vector<uint32_t> out;
  out.reserve(pages_.size());
  for (const ChangedPages::Entry& e : pages_) out.push_back(e.page);
  std::sort(out.begin(), out.end());
  return out;
}

void WriteUnit::commit() {
  if (!active_) throw JetError(3049, "The change to '" + db_.path() + "' has already ended.");
  if (options_.dryRun) throw JetError(3027, "A trial change to '" + db_.path() + "' cannot be committed.");
  if (pages_.empty()) {
    finish();
    return;
  }
  File& f = db_.cache().file();
  const uint32_t ps = db_.pageSize();
  const std::string journal = journalPath(db_.path());
  const uint64_t originalLength = static_cast<uint64_t>(originalPageCount_) * ps;
  std::vector<uint32_t> existing = changedPages();
  existing.erase(std::lower_bound(existing.begin(), existing.end(), originalPageCount_), existing.end());

  // 1. The originals, durable before the database is touched. A failure here leaves the
  //    database untouched; a partial journal left behind would be recognised as torn.
  try {
    writeJournal(f, journal, ps, originalLength, existing, options_.durable);
  } catch (const JetError&) {
    try {
      File::remove(journal);
    } catch (const JetError&) {
    }
    abandon();
    throw;
  }
  // 2. The pages, in runs of neighbours, then the database made durable; removing the
  //    journal is the moment the change takes effect.
  try {
    writePages(f);
    if (options_.durable) f.flush();
    File::remove(journal);
  } catch (const JetError& e) {
    // Put the file back from the journal now; if even that fails, the journal stays and
    // the next open puts it back.
    bool restored = false;
    try {
      restored = recoverJournal(f, journal, options_.durable) == JournalState::RolledBack;
    } catch (const JetError&) {
    }
    abandon();
    if (restored) throw;
    throw JetError(e.number(), std::string(e.what()) + " The database '" + db_.path() +
                                   "' could not be put back yet; open it again for writing to restore it.");
  }
  // The change is in place and the journal gone; a folder that cannot be flushed only means
  // a machine crash could bring the journal back, which would undo the change whole.
  if (options_.durable) {
    try {
      File::syncDirectoryOf(journal);
    } catch (const JetError&) {
    }
  }
  finish();
}

void WriteUnit::writePages(File& f) {
  const uint32_t ps = db_.pageSize();
  constexpr size_t kRunPages = 256;
  std::vector<uint8_t> run;
  uint32_t runStart = 0;
  auto flushRun = [&] {
    if (!run.empty()) f.writeAt(static_cast<uint64_t>(runStart) * ps, run.data(), run.size());
    run.clear();
  };
  for (const uint32_t n : changedPages()) {
    const size_t inRun = run.size() / ps;
    if (inRun == kRunPages || (inRun > 0 && n != runStart + inRun)) flushRun();
    if (run.empty()) runStart = n;
    const uint8_t* bytes = pages_.find(n)->bytes.get();
    run.insert(run.end(), bytes, bytes + ps);
  }
  flushRun();
}

// After a failed commit: the file is as before (or will be at the next open); the caches
// must not keep anything read while it was being written.
void WriteUnit::abandon() {
  pages_.clear();
  pageCount_ = originalPageCount_;
  db_.cache().clear();
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
  for (const ChangedPages::Entry& e : pages_) cache.invalidate(e.page);
  cache.setPageCount(pageCount_);
  pages_.clear();
  active_ = false;
  db_.unit_ = nullptr;
  db_.invalidateTables();
  if (db_.catalogDirty_) db_.catalogChanged();
}

}  // namespace bv::storage
