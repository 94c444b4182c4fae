// The Options argument of Database.Execute: the bits Jet accepts for a statement run on an
// Access database, and a clear refusal of every other bit.
#pragma once

#include <cstdint>

namespace bv::server {

struct ExecuteOptions {
  bool failOnError = false;  // dbFailOnError (128): roll everything back on the first error
};

// Accepted: dbDenyWrite 1, dbInconsistent 16, dbConsistent 32 (not both), dbFailOnError 128,
// dbSeeChanges 512. Refused with JetError 3001: dbSQLPassThrough 64 (needs an ODBC source),
// dbRunAsync 1024 and dbExecDirect 2048 (ODBCDirect only), and every unknown bit.
ExecuteOptions decodeExecuteOptions(int64_t bits);

}  // namespace bv::server
