// big.mdb: Customers and Orders (see bench_data.h).
#include <set>
#include <vector>

#include "bench/data/bench_data.h"
#include "bench/data/build_file.h"
#include "bench/data/text_pieces.h"
#include "engine/storage/create_table.h"
#include "engine/storage/error.h"
#include "engine/storage/table_writer.h"

namespace bv::bench {

namespace {

using storage::ColumnDesign;
using storage::IndexDesign;
using storage::TableDesign;

TableDesign customersDesign() {
  TableDesign t;
  t.name = u"Customers";
  t.columns = {ColumnDesign{.name = u"ID", .type = ColType::Long},
               ColumnDesign{.name = u"Name", .type = ColType::Text, .size = 100, .compressedUnicode = true},
               ColumnDesign{.name = u"City", .type = ColType::Text, .size = 50, .compressedUnicode = true}};
  t.indexes = {IndexDesign{.name = u"PrimaryKey", .columns = {{u"ID"}}, .primaryKey = true, .unique = true,
                           .required = true},
               IndexDesign{.name = u"NameIdx", .columns = {{u"Name"}}, .unique = true}};
  return t;
}

TableDesign ordersDesign() {
  TableDesign t;
  t.name = u"Orders";
  t.columns = {ColumnDesign{.name = u"ID", .type = ColType::Long, .autoNumber = true},
               ColumnDesign{.name = u"Customer", .type = ColType::Text, .size = 50, .compressedUnicode = true},
               ColumnDesign{.name = u"Qty", .type = ColType::Long},
               ColumnDesign{.name = u"Price", .type = ColType::Currency},
               ColumnDesign{.name = u"Shipped", .type = ColType::DateTime},
               ColumnDesign{.name = u"Paid", .type = ColType::Bool},
               ColumnDesign{.name = u"Note", .type = ColType::Memo, .compressedUnicode = true}};
  t.indexes = {IndexDesign{.name = u"PrimaryKey", .columns = {{u"ID"}}, .primaryKey = true, .unique = true,
                           .required = true},
               IndexDesign{.name = u"CustomerIdx", .columns = {{u"Customer"}}}};
  return t;
}

// Customers 1..n; returns the names as stored. A name the unique index already holds in
// another spelling (case or accents) gets a number after it.
std::vector<std::u16string> writeCustomers(storage::WriteUnit& unit, Dice& dice, uint32_t n) {
  const auto given = givenNames(), family = familyNames(), town = cities();
  storage::TableWriter w(unit, u"Customers");
  std::vector<std::u16string> names;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t pair = i % static_cast<uint32_t>(given.size() * family.size());
    std::u16string name = std::u16string(given[pair % given.size()]) + u" " + family[pair / given.size()];
    if (i >= given.size() * family.size()) name += u" " + digits(i / (given.size() * family.size()) + 1);
    const Value city = dice.chance(3, 100) ? Value() : Value(std::u16string(town[dice.below(town.size())]));
    const std::u16string base = name;
    for (uint32_t attempt = 2;; ++attempt) {
      try {
        w.insert(std::vector<Value>{Value(static_cast<int32_t>(i + 1)), Value(name), city});
        break;
      } catch (const JetError& e) {
        if (e.number() != 3022 || attempt > 50) throw;
        name = base + u" " + digits(attempt);
      }
    }
    names.push_back(name);
  }
  return names;
}

Value note(Dice& dice) {
  const uint32_t roll = dice.below(10000);
  if (roll < 4900) return Value();
  if (roll < 9790) return Value(words(dice, 1 + dice.below(30)));
  if (roll < 9840) return Value(words(dice, 100 + dice.below(201), true));
  // Page chains: two bytes a character for most of it, so 4,000 characters take two pages
  // and the longest four or more.
  const size_t chars = (dice.chance(1, 40) ? 12003 : 4001) + dice.below(61);
  return Value(words(dice, chars, true));
}

std::vector<Value> order(Dice& dice, const std::vector<std::u16string>& customers) {
  // Low customer numbers are picked more often (the lesser of two draws).
  const uint32_t n = static_cast<uint32_t>(customers.size());
  const Value customer = dice.chance(1, 100) ? Value() : Value(customers[std::min(dice.below(n), dice.below(n))]);
  const Value qty(static_cast<int32_t>(dice.between(-50, 1000)));
  // 0.0700 to 9999.9578, nine in ten whole cents.
  int64_t scaled = dice.between(700, 99999578);
  if (!dice.chance(1, 10)) scaled -= scaled % 100;
  const Value price(Currency{scaled});
  // 1995-01-01 to 2024-12-23 in whole seconds, one in five at midnight, one in fifty Null.
  Value shipped;
  if (!dice.chance(1, 50)) {
    const int64_t day = dice.between(34700, 45649);
    const int64_t second = dice.chance(1, 5) ? 0 : dice.between(1, 86399);
    shipped = Value(DateTime{static_cast<double>(day) + static_cast<double>(second) / 86400.0});
  }
  const Value paid(dice.chance(1, 2));
  return {Value(), customer, qty, price, shipped, paid, note(dice)};
}

}  // namespace

void writeBigDatabase(const std::string& path, const BigSize& size) {
  Dice dice(20240607);
  BuildFile file(path);
  std::vector<std::u16string> names;
  file.inUnit([&](storage::WriteUnit& unit) {
    storage::createTable(unit, customersDesign(), kBenchCreated);
    storage::createTable(unit, ordersDesign(), kBenchCreated);
    names = writeCustomers(unit, dice, size.customers);
  });
  for (uint32_t done = 0; done < size.orders;) {
    file.inUnit([&](storage::WriteUnit& unit) {
      storage::TableWriter w(unit, u"Orders");
      for (const uint32_t end = std::min(size.orders, done + kRowsPerUnit); done < end; ++done)
        w.insert(order(dice, names));
    });
  }
}

}  // namespace bv::bench
