// The large databases the benchmarks run on, made by our own engine from a fixed seed: the
// same sizes always give the same bytes.
//
//  big.mdb  (Jet 4) Customers: ID Long primary key, Name Text(100) with the unique index
//           NameIdx, City Text(50) (some Null); names and cities in several scripts.
//           Orders: ID AutoNumber primary key, Customer Text(50) with the non-unique index
//           CustomerIdx (about 1% Null), Qty Long, Price Currency, Shipped Date/Time (some
//           Null), Paid Yes/No, Note Memo: Null, short inline text, 100-300 characters (one
//           long-value row) and more than 4,000 characters (chains of long-value pages).
//  wide.mdb (Jet 4) Wide: ID AutoNumber primary key and 119 columns Cnnn_TYPE cycling through
//           every column type, about 10% Null, boundary values every 997th row, and indexes
//           on single, descending and multi-column keys of several types.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace bv::bench {

struct BigSize {
  uint32_t customers = 2000;
  uint32_t orders = 200000;
};

// Write a new file at `path` (JetError 3204 if it exists).
void writeBigDatabase(const std::string& path, const BigSize& size = {});
void writeWideDatabase(const std::string& path, uint32_t rows = 20000);

struct BenchSizes {
  BigSize big;
  uint32_t wideRows = 20000;
};

struct BenchDatabases {
  std::string big, wide;
};

// Called for each file made, with the seconds it took.
using MadeReport = std::function<void(const std::string& path, double seconds)>;

// big.mdb and wide.mdb in `dir`, each made there when missing (under a temporary name then
// renamed, so a file that exists is always complete).
BenchDatabases ensureBenchDatabases(const std::string& dir, const BenchSizes& sizes = {},
                                    const MadeReport& report = nullptr);

}  // namespace bv::bench
