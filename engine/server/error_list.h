// The engine's errors: what its Errors collection shows. Every failed call of the engine or
// of one of its databases replaces the whole list (most specific error first); a call that
// succeeds leaves it alone, as DAO does.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace bv::server {

struct ErrorRecord {
  LONG number = 0;           // Jet's error number (3078 unknown table, ...)
  std::wstring description;
  std::wstring source;       // "DAO.Database", "DAO.DBEngine", ...
};

class ErrorList {
 public:
  void replace(std::vector<ErrorRecord> records) { records_ = std::move(records); }
  const std::vector<ErrorRecord>& records() const { return records_; }

 private:
  std::vector<ErrorRecord> records_;
};

// Shared by an engine, its Errors collection and the databases it opened, so that each of
// them stays usable whatever order the client releases them in.
using ErrorListPtr = std::shared_ptr<ErrorList>;

}  // namespace bv::server
