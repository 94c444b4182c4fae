// Holding a database for the length of one statement, as other users of the file expect:
// a reader keeps writers from writing their pages meanwhile, a writer keeps other writers
// out for the whole of its change. Both read the file afresh when other users may have
// changed it since this open last looked.
#pragma once

#include "engine/storage/database.h"
#include "engine/storage/sharing.h"

namespace bv::storage {

class ReadLock {
 public:
  explicit ReadLock(Database& db) : db_(db) {
    if (db_.sharing().beginRead()) db_.refresh();
  }
  ~ReadLock() { db_.sharing().endRead(); }
  ReadLock(const ReadLock&) = delete;
  ReadLock& operator=(const ReadLock&) = delete;

 private:
  Database& db_;
};

// JetError 3218 when another writer keeps its turn longer than the open's lock timeout.
class WriteLock {
 public:
  explicit WriteLock(Database& db) : db_(db) {
    if (db_.sharing().beginWrite()) db_.refresh();
  }
  ~WriteLock() { db_.sharing().endWrite(); }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

 private:
  Database& db_;
};

// Around WriteUnit::commit(), inside a WriteLock: waits until no reader is reading.
class CommitLock {
 public:
  explicit CommitLock(Database& db) : db_(db) { db_.sharing().beginCommit(); }
  ~CommitLock() { db_.sharing().endCommit(); }
  CommitLock(const CommitLock&) = delete;
  CommitLock& operator=(const CommitLock&) = delete;

 private:
  Database& db_;
};

}  // namespace bv::storage
