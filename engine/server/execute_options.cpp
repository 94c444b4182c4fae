#include "engine/server/execute_options.h"

#include <cstdio>
#include <string>

#include "engine/storage/error.h"

namespace bv::server {

namespace {

constexpr int64_t kDenyWrite = 1, kInconsistent = 16, kConsistent = 32, kPassThrough = 64,
                  kFailOnError = 128, kSeeChanges = 512, kRunAsync = 1024, kExecDirect = 2048;

[[noreturn]] void refuse(const std::string& why) {
  throw JetError(3001, "Invalid argument: " + why);
}

}  // namespace

ExecuteOptions decodeExecuteOptions(int64_t bits) {
  if (bits & kPassThrough)
    refuse("dbSQLPassThrough (64) sends a statement to an ODBC data source; this is an Access "
           "database file.");
  if (bits & (kRunAsync | kExecDirect))
    refuse("dbRunAsync (1024) and dbExecDirect (2048) are options of ODBCDirect workspaces only.");
  if ((bits & kInconsistent) && (bits & kConsistent))
    refuse("dbInconsistent (16) and dbConsistent (32) exclude each other.");
  const int64_t known = kDenyWrite | kInconsistent | kConsistent | kFailOnError | kSeeChanges;
  if (bits < 0 || (bits & ~known) != 0) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llX",
                  static_cast<unsigned long long>(bits < 0 ? bits : (bits & ~known)));
    refuse(std::string("Execute does not know the option bits ") + text + ".");
  }
  ExecuteOptions out;
  out.failOnError = (bits & kFailOnError) != 0;
  return out;
}

}  // namespace bv::server
