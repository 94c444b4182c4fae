// wide.mdb: one table of 120 columns of every type (see bench_data.h).
#include <array>
#include <cstring>
#include <limits>
#include <vector>

#include "bench/data/bench_data.h"
#include "bench/data/build_file.h"
#include "bench/data/text_pieces.h"
#include "engine/storage/create_table.h"
#include "engine/storage/table_writer.h"

namespace bv::bench {

namespace {

using storage::ColumnDesign;
using storage::IndexDesign;

struct Slot {
  ColType type;
  const char16_t* suffix;
  uint16_t size;
  bool compressed;
};

// The cycle of column types; column n (1..119) has kCycle[(n - 1) % 15].
constexpr Slot kCycle[] = {
    {ColType::Text, u"TEXT", 50, true},          {ColType::Long, u"LONG", 0, false},
    {ColType::Double, u"DOUBLE", 0, false},      {ColType::DateTime, u"SHORT_DATE_TIME", 0, false},
    {ColType::Bool, u"BOOLEAN", 0, false},       {ColType::Currency, u"MONEY", 0, false},
    {ColType::Integer, u"INT", 0, false},        {ColType::Byte, u"BYTE", 0, false},
    {ColType::Single, u"FLOAT", 0, false},       {ColType::Decimal, u"NUMERIC", 0, false},
    {ColType::Guid, u"GUID", 0, false},          {ColType::Binary, u"BINARY", 16, false},
    {ColType::Memo, u"MEMO", 0, true},           {ColType::Text, u"TEXT", 255, false},
    {ColType::OLE, u"OLE", 0, false}};
constexpr int kColumns = 119;
constexpr uint32_t kEdgeEvery = 997;

std::u16string columnName(int n) {
  std::u16string number = digits(static_cast<uint64_t>(n));
  return u"C" + std::u16string(3 - number.size(), u'0') + number + u"_" + kCycle[(n - 1) % 15].suffix;
}

storage::TableDesign wideDesign() {
  storage::TableDesign t;
  t.name = u"Wide";
  t.columns.push_back(ColumnDesign{.name = u"ID", .type = ColType::Long, .autoNumber = true});
  for (int n = 1; n <= kColumns; ++n) {
    const Slot& s = kCycle[(n - 1) % 15];
    ColumnDesign c{.name = columnName(n), .type = s.type, .size = s.size, .compressedUnicode = s.compressed};
    if (s.type == ColType::Decimal) c.scale = 4;
    t.columns.push_back(c);
  }
  auto on = [](int n, bool ascending = true) { return storage::IndexColumnDesign{columnName(n), ascending}; };
  t.indexes = {
      IndexDesign{.name = u"PrimaryKey", .columns = {{u"ID"}}, .primaryKey = true, .unique = true, .required = true},
      IndexDesign{.name = u"ix_text", .columns = {on(1)}},
      IndexDesign{.name = u"ix_double", .columns = {on(3)}},
      IndexDesign{.name = u"ix_date_desc", .columns = {on(4, false)}},
      IndexDesign{.name = u"ix_multi", .columns = {on(2), on(5), on(7, false)}},
      IndexDesign{.name = u"ix_money", .columns = {on(6)}},
      IndexDesign{.name = u"ix_numeric_desc", .columns = {on(25, false)}},
      IndexDesign{.name = u"ix_guid", .columns = {on(11)}, .unique = true, .ignoreNulls = true},
      IndexDesign{.name = u"ix_text_multi", .columns = {on(16), on(17, false)}, .ignoreNulls = true}};
  return t;
}

double scaledDouble(int64_t mantissa, int exponent) {
  double v = static_cast<double>(mantissa) / 1000.0;
  for (; exponent > 0; --exponent) v *= 10.0;
  for (; exponent < 0; ++exponent) v /= 10.0;
  return v;
}

Bytes randomBytes(Dice& dice, size_t n) {
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(dice.below(256));
  return b;
}

Decimal decimalOf(int64_t scaledBy10000) {
  Decimal d;
  d.negative = scaledBy10000 < 0;
  d.lo = static_cast<uint64_t>(scaledBy10000 < 0 ? -scaledBy10000 : scaledBy10000);
  d.scale = 4;
  return d;
}

// A value for a column of the cycle in an ordinary row.
Value randomValue(Dice& dice, const Slot& s, bool indexedText) {
  switch (s.type) {
    case ColType::Text:
      return Value(words(dice, 1 + dice.below(indexedText ? 12 : 30), !indexedText && dice.chance(1, 4)));
    case ColType::Long: return Value(static_cast<int32_t>(dice.between(-1000000, 1000000)));
    case ColType::Double:
      return Value(scaledDouble(dice.between(-500000, 500000), static_cast<int>(dice.between(-15, 15))));
    case ColType::DateTime:
      return Value(DateTime{static_cast<double>(dice.between(34700, 45657)) +
                            static_cast<double>(dice.between(0, 86399)) / 86400.0});
    case ColType::Bool: return Value(dice.chance(1, 2));
    case ColType::Currency: return Value(Currency{dice.between(-10000000000, 10000000000)});
    case ColType::Integer: return Value(static_cast<int16_t>(dice.between(-32768, 32767)));
    case ColType::Byte: return Value(static_cast<uint8_t>(dice.below(256)));
    case ColType::Single:
      return Value(static_cast<float>(scaledDouble(dice.between(-500000, 500000), static_cast<int>(dice.between(-6, 6)))));
    case ColType::Decimal: return Value(decimalOf(dice.between(-1000000000000, 1000000000000)));
    case ColType::Guid: {
      Guid g;
      for (auto& b : g.bytes) b = static_cast<uint8_t>(dice.below(256));
      return Value(g);
    }
    case ColType::Binary: return Value(randomBytes(dice, 1 + dice.below(16)));
    case ColType::Memo:
      return Value(dice.chance(1, 200) ? words(dice, 300 + dice.below(2201), true) : words(dice, dice.below(26)));
    case ColType::OLE:
      return Value(randomBytes(dice, dice.chance(1, 100) ? 200 + dice.below(3001) : dice.below(40)));
    default: return Value();
  }
}

// Boundary values; `k` (0..3) picks one of four for each type.
// GUIDs are left to the caller: their index is unique.
Value edgeValue(const Slot& s, uint32_t k, bool indexedText) {
  switch (s.type) {
    case ColType::Text: {
      if (indexedText) return Value(std::array<const char16_t*, 4>{u"", u"a", u"ZZZZ", u"Ü"}[k]);
      return Value(std::array<const char16_t*, 4>{u"", u"tab\there \"quote\" back\\slash", u"emoji \U0001F600 é",
                                                  u"ctl \u0001 \u001F"}[k]);
    }
    case ColType::Long:
      return Value(std::array<int32_t, 4>{std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), 0, -1}[k]);
    case ColType::Double:
      return Value(std::array<double, 4>{std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
                                         std::numeric_limits<double>::denorm_min(), -0.0}[k]);
    case ColType::DateTime: return Value(DateTime{std::array<double, 4>{-657434.0, 2958465.999988426, 0.0, -1.25}[k]});
    case ColType::Bool: return Value(k % 2 == 0);
    case ColType::Currency:
      return Value(Currency{std::array<int64_t, 4>{std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min(), 1, -1}[k]});
    case ColType::Integer: return Value(std::array<int16_t, 4>{-32768, 32767, 0, -1}[k]);
    case ColType::Byte: return Value(std::array<uint8_t, 4>{0, 127, 128, 255}[k]);
    case ColType::Single:
      return Value(std::array<float, 4>{std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(),
                                        std::numeric_limits<float>::denorm_min(), 0.1f}[k]);
    case ColType::Decimal:
      return Value(decimalOf(std::array<int64_t, 4>{999999999999999999, -999999999999999999, 1, -1}[k]));
    case ColType::Binary: return Value(std::array<Bytes, 4>{Bytes{}, Bytes{0}, Bytes(16, 0), Bytes{0xFF}}[k]);
    case ColType::Memo: return Value(std::array<const char16_t*, 4>{u"", u"x", u"tab\t\"q\" \\", u"edge"}[k]);
    case ColType::OLE: return Value(Bytes(std::array<size_t, 4>{0, 1, 64, 65}[k], 0xA5));
    default: return Value();
  }
}

std::vector<Value> wideRow(Dice& dice, uint32_t index) {
  std::vector<Value> row{Value()};
  const bool edge = index % kEdgeEvery == 0;
  for (int n = 1; n <= kColumns; ++n) {
    const Slot& s = kCycle[(n - 1) % 15];
    const bool indexedText = n == 1 || n == 16;
    if (edge && s.type == ColType::Guid) {
      Guid g;  // all zero but the row number: unique, and at one end of the order
      std::memcpy(g.bytes.data() + 12, &index, sizeof index);
      row.push_back(Value(g));
    } else if (edge) {
      row.push_back(edgeValue(s, static_cast<uint32_t>(index / kEdgeEvery + static_cast<uint32_t>(n)) % 4, indexedText));
    } else if (s.type != ColType::Bool && dice.chance(1, 10)) {
      row.push_back(Value());
    } else {
      row.push_back(randomValue(dice, s, indexedText));
    }
  }
  return row;
}

}  // namespace

void writeWideDatabase(const std::string& path, uint32_t rows) {
  Dice dice(20240608);
  BuildFile file(path);
  file.inUnit([&](storage::WriteUnit& unit) { storage::createTable(unit, wideDesign(), kBenchCreated); });
  for (uint32_t done = 0; done < rows;) {
    file.inUnit([&](storage::WriteUnit& unit) {
      storage::TableWriter w(unit, u"Wide");
      // A wide row is several times the size of an order: fewer of them a unit.
      for (const uint32_t end = std::min(rows, done + kRowsPerUnit / 5); done < end; ++done) w.insert(wideRow(dice, done));
    });
  }
}

}  // namespace bv::bench
