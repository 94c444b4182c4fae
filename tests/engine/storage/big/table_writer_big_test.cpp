// The randomized TableWriter run on the two large generated files: the 200,000-row Orders
// (primary key, text index, memos) and the 120-column Wide table (indexes on many types).
// Short runs: the checks after each batch read the whole file.
#include <gtest/gtest.h>

#include "tests/engine/storage/write/table_writer_random.h"

namespace bv::storage::randomized {
namespace {

TEST(TableWriterRandomBig, OrdersOfBigJet4) { run(Scenario{"generated/big_jet4.mdb", u"Orders", 24, 2, 200, false}); }

TEST(TableWriterRandomBig, WideJet4) { run(Scenario{"generated/wide_jet4.mdb", u"Wide", 23, 2, 40, false}); }

}  // namespace
}  // namespace bv::storage::randomized
