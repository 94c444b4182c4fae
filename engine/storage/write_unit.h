// One atomic unit of change to a database file. Every page a statement changes is changed
// in memory first; commit() makes all of the changes reach the file, and a unit that ends
// without commit() (rollback(), an exception, the destructor) leaves the file as it was.
//
// While a unit is active, every read through its Database (Database::page, table scans,
// index walks) sees the unit's own changes, so writers can read what they just wrote.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/storage/changed_pages.h"
#include "engine/storage/database.h"

namespace bv::storage {

struct WriteOptions {
  // Durable: fsync the journal, then the database, before the journal is removed. Off for
  // bulk work: still atomic against a failing process, not against a failing machine.
  bool durable = true;
  // A trial: the unit may be started on a read-only database, sees its own changes like
  // any unit, and refuses to commit (it can only be rolled back).
  bool dryRun = false;
};

class File;

class WriteUnit {
 public:
  // Starts a unit on a database opened ReadWrite. JetError 3027 on a read-only database,
  // 3049-style failure if a unit is already active on it.
  explicit WriteUnit(Database& db, WriteOptions options = {});
  ~WriteUnit();  // rolls back unless committed
  WriteUnit(const WriteUnit&) = delete;
  WriteUnit& operator=(const WriteUnit&) = delete;

  Database& db() const { return db_; }
  bool jet4() const { return db_.isJet4(); }
  uint32_t pageSize() const { return db_.pageSize(); }
  // Pages of the file as the unit sees it (grows with allocate()).
  uint32_t pageCount() const { return pageCount_; }

  // The page as the unit sees it (its own changes included). Same as Database::page().
  PageRef page(uint32_t n) const;
  // The same, with the page's stamp (below), in one look-up: the unit's copy (its address
  // stays valid until the unit ends) or the file's page, which `hold` keeps alive.
  const uint8_t* read(uint32_t n, PageRef& hold, uint64_t& stamp) const;
  // A writable copy of page n, owned by the unit. The pointer stays valid until the unit
  // ends; later reads of the page see the changed bytes. Asking for a table-definition
  // page drops the database's parsed definitions, so Database::table()/tableAt() parse
  // the changed bytes again (definitions handed out earlier stay valid but stale).
  uint8_t* modify(uint32_t n);
  // A new page, all zero bytes, already writable (modify() gives the same pointer): a page
  // the global usage map marks free, or one past the end of the file. The page is taken
  // out of the global free map by this call.
  uint32_t allocate();
  // Gives a page back: it is zeroed and marked free in the global usage map.
  void release(uint32_t n);

  // Makes every change reach the file atomically, through a rollback journal beside the
  // database (journal.h). After commit() the unit is finished, also when it fails: then it
  // throws a JetError (I/O: 3040, 3043, 3026) and the file is as it was before the unit.
  void commit();
  // Drops every change; the file and the database's caches are as before the unit.
  void rollback();
  bool active() const { return active_; }

  // Pages changed (or allocated) so far, ascending.
  std::vector<uint32_t> changedPages() const;

  // A number that changes whenever page n may have changed: each modify(), allocate() and
  // release() of the page gives it a new one, and no two units share any. Callers that keep
  // something derived from a page's bytes reuse it while the stamp stays the same, instead
  // of comparing the bytes; so whoever writes a page must ask modify() for it first.
  uint64_t stamp(uint32_t n) const {
    const ChangedPages::Entry* e = pages_.find(n);
    return e ? e->stamp : baseStamp_;
  }

 private:
  friend class Database;
  // The unit's copy of page n, or nullptr when the unit has not changed it.
  const std::shared_ptr<uint8_t[]>* find(uint32_t n) const;
  // Page n of the file as it was when the unit began (or a new page's absence reported).
  PageRef original(uint32_t n) const;
  void writePages(File& f);
  void abandon();
  void finish();

  Database& db_;
  WriteOptions options_;
  bool active_ = true;
  uint32_t originalPageCount_ = 0;
  uint32_t pageCount_ = 0;
  // The stamp of pages the unit has not changed; changed pages count up from it.
  uint64_t baseStamp_ = 0;
  uint64_t lastStamp_ = 0;
  ChangedPages pages_;  // ordered only when written
};

}  // namespace bv::storage
