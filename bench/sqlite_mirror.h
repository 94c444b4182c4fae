// The sqlite3 copy of big.mdb the benchmarks compare with: the same rows of Orders and
// Customers and the same indexes (primary keys; the text indexes case-blind, as Jet's are).
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/shell_quote.h"

namespace bv::bench {

// Writes `dir`/big.sqlite from the CSV that `exporter` (a command taking DB TABLE, e.g.
// "mdb-export") prints for each table of `mdb`. False when a step fails.
inline bool makeSqliteMirror(const std::string& exporter, const std::string& mdb, const std::string& dir) {
  std::ofstream(dir + "/setup.sql")
      << "CREATE TABLE Orders (ID INTEGER PRIMARY KEY, Customer TEXT, Qty INTEGER, Price REAL,\n"
         "  Shipped TEXT, Paid INTEGER, Note TEXT);\n"
         "CREATE TABLE Customers (ID INTEGER PRIMARY KEY, Name TEXT, City TEXT);\n"
         ".import --csv --skip 1 orders.csv Orders\n"
         ".import --csv --skip 1 customers.csv Customers\n"
         "CREATE INDEX CustomerIdx ON Orders (Customer COLLATE NOCASE);\n"
         "CREATE UNIQUE INDEX NameIdx ON Customers (Name COLLATE NOCASE);\n"
         "ANALYZE;\n";
  const std::string cmd = "cd " + shellQuote(dir) + " && " + exporter + " " + shellQuote(mdb) + " Orders > orders.csv && " +
                          exporter + " " + shellQuote(mdb) + " Customers > customers.csv && " +
                          "sqlite3 big.sqlite < setup.sql > /dev/null && rm orders.csv customers.csv setup.sql";
  return std::system(cmd.c_str()) == 0;
}

}  // namespace bv::bench
