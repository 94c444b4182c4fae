// The rollback journal that makes a write unit atomic. Before the first page of a database
// is overwritten, the original image of every page the unit changes (and the file's length
// before the unit) is written to "<database path>-journal" and made durable. The journal is
// removed once the database itself is durable; a journal found later means a change was
// interrupted, and rolling it back restores the file exactly.
//
// Layout (integers little-endian):
//   header, 32 bytes:
//     0   8  "BVJOURN1"
//     8   4  page size
//     12  4  number of page records
//     16  8  length of the database file before the unit, in bytes
//     24  4  salt (random per journal; seeds every checksum)
//     28  4  checksum of bytes 0-27
//   then per record: 4 page number, 4 checksum of (page number, image), image (page size).
// A journal whose header or any record does not check, or whose length is not exactly what
// the header announces, was cut short while being written: the database was not touched yet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bv::storage {

class File;

std::string journalPath(const std::string& databasePath);

// Writes the journal for a unit about to change `pages` (ascending; each below the original
// length) of `db`: their current images are read from the file. With `durable`, the journal
// and its folder entry are flushed before this returns. Throws JetError (I/O) on failure;
// the caller removes the partial journal.
void writeJournal(File& db, const std::string& journal, uint32_t pageSize, uint64_t originalLength,
                  const std::vector<uint32_t>& pages, bool durable);

enum class JournalState {
  Absent,      // no journal: nothing to do
  Torn,        // a journal cut short; removed, the database is as it was
  RolledBack,  // a complete journal; the database was put back and the journal removed
};

// Rolls back (or discards) the journal beside a database opened for writing. With
// `durable`, the restored database and the journal's removal are flushed.
JournalState recoverJournal(File& db, const std::string& journal, bool durable = true);

// For an opener that only reads: if the database's last change was interrupted, opens the
// file for writing just long enough to roll the journal back. Throws JetError if the file
// cannot be written (the read-only open then refuses the file).
JournalState restoreInterruptedChange(const std::string& databasePath);

}  // namespace bv::storage
