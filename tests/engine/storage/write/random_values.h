// Random cell values of every column type for the write tests: Nulls, edge numbers, text
// in many scripts (only code-page characters for Jet 3), long values of every size.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/database.h"
#include "engine/storage/text_key.h"

namespace bv::test {

class RandomValues {
 public:
  RandomValues(uint32_t seed, const storage::Database& db) : rng_(seed), jet4_(db.isJet4()) {}

  std::mt19937& rng() { return rng_; }
  double longTextChance = 0.2;  // a Text value of any length up to the column's (else short)
  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }

  // One value per column (TableDef::columns order). With `longValuesInRow`, Memo/OLE values
  // stay short enough to be kept in the row.
  std::vector<Value> row(const storage::TableDef& t, bool longValuesInRow, double nullChance = 0.15) {
    std::vector<Value> out;
    for (const auto& c : t.columns) out.push_back(value(c, longValuesInRow, nullChance));
    return out;
  }

  Value value(const storage::ColumnDef& c, bool longValuesInRow, double nullChance = 0.15) {
    if (c.type == ColType::Bool) return Value(chance(0.5));
    if (chance(nullChance) && !c.autoNumber) return Value();
    switch (c.type) {
      case ColType::Byte: return Value(static_cast<uint8_t>(pickEdge<int>({0, 1, 255}, 0, 255)));
      case ColType::Integer: return Value(static_cast<int16_t>(pickEdge<int>({-32768, -1, 0, 32767}, -32768, 32767)));
      case ColType::Long:
        return Value(static_cast<int32_t>(pickEdge<int64_t>({INT32_MIN, -1, 0, INT32_MAX}, INT32_MIN, INT32_MAX)));
      case ColType::Currency:
        return Value(Currency{pickEdge<int64_t>({INT64_MIN, -10000, 0, 10000, INT64_MAX}, -(int64_t{1} << 50), int64_t{1} << 50)});
      case ColType::Single: return Value(static_cast<float>(realValue()));
      case ColType::Double: return Value(realValue());
      case ColType::DateTime: {
        const double day = std::uniform_int_distribution<int>(-657434, 2958465)(rng_);
        return Value(DateTime{day + below(86400) / 86400.0});
      }
      case ColType::Guid: {
        Guid g;
        for (auto& b : g.bytes) b = static_cast<uint8_t>(below(256));
        return Value(g);
      }
      case ColType::Decimal: {
        Decimal d;
        d.scale = c.scale;
        d.precision = c.precision;
        uint64_t limit = 1;
        for (int i = 0; i < std::min<int>(c.precision, 18); ++i) limit *= 10;
        d.lo = std::uniform_int_distribution<uint64_t>(0, limit - 1)(rng_);
        d.negative = d.lo != 0 && chance(0.5);
        return Value(d);
      }
      case ColType::Binary: {
        const size_t n = c.fixed ? c.length : static_cast<size_t>(below(c.length + 1));
        return Value(bytes(n));
      }
      case ColType::OLE: return Value(bytes(longSize(longValuesInRow, 1)));
      case ColType::Text: {
        const size_t max = jet4_ ? c.length / 2u : c.length;
        const size_t n = c.fixed ? max : (chance(longTextChance) ? static_cast<size_t>(below(static_cast<int>(max) + 1))
                                                     : static_cast<size_t>(below(static_cast<int>(std::min<size_t>(max, 20)) + 1)));
        std::u16string s = text(n);
        if (c.fixed) s.resize(max, u' ');
        return Value(s);
      }
      case ColType::Memo: return Value(text(longSize(longValuesInRow, jet4_ ? 2 : 1)));
      default: return Value();
    }
  }

  // Text of n UTF-16 units from one of several scripts (Jet 3: code page 1252 only).
  std::u16string text(size_t n) {
    std::u16string s;
    const int script = below(jet4_ ? 7 : 3);
    while (s.size() < n) {
      char16_t ch;
      switch (script) {
        case 0: ch = static_cast<char16_t>(u'a' + below(26) - (chance(0.3) ? 32 : 0)); break;
        case 1: ch = chance(0.5) ? static_cast<char16_t>(0xC0 + below(64)) : static_cast<char16_t>(u' ' + below(95)); break;
        case 2: {
          static const char16_t kMix[] = u"aZ09 -'é€ŠœŸ¿ßøÆ";
          ch = kMix[below(static_cast<int>(sizeof kMix / sizeof kMix[0]) - 1)];
          break;
        }
        case 3: ch = static_cast<char16_t>(0x391 + below(0x3C9 - 0x391)); break;    // Greek
        case 4: ch = static_cast<char16_t>(0x410 + below(64)); break;               // Cyrillic
        case 5: ch = static_cast<char16_t>(0x4E00 + below(0x2000)); break;          // CJK
        default: ch = static_cast<char16_t>(chance(0.5) ? 0x5D0 + below(27) : 0x627 + below(20)); break;  // Hebrew, Arabic
      }
      if (ch == 0xD7) ch = u'x';
      s.push_back(ch);
    }
    return s;
  }

  Bytes bytes(size_t n) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(below(256));
    return b;
  }

 private:
  template <class T>
  T pickEdge(std::initializer_list<T> edges, T lo, T hi) {
    if (chance(0.2)) return *(edges.begin() + below(static_cast<int>(edges.size())));
    return std::uniform_int_distribution<T>(lo, hi)(rng_);
  }

  double realValue() {
    switch (below(4)) {
      case 0: return 0.0;
      case 1: return std::uniform_real_distribution<double>(-1e6, 1e6)(rng_);
      case 2: return static_cast<double>(below(1000));
      default: return std::uniform_real_distribution<double>(-1, 1)(rng_) * std::pow(10.0, below(60) - 30);
    }
  }

  // Sizes (in units of `unit` bytes) of long values: in the row, one LVAL row, or chains.
  size_t longSize(bool inRow, size_t unit) {
    if (inRow) return static_cast<size_t>(below(31));  // at most 62 bytes
    switch (below(5)) {
      case 0: return static_cast<size_t>(below(40));
      case 1: return static_cast<size_t>(below(300));
      case 2: return static_cast<size_t>(below(4100 / static_cast<int>(unit)));
      case 3: return static_cast<size_t>(below(20000 / static_cast<int>(unit)));
      // (mdb-export prints at most 200,000 bytes of a memo: 60,000 UTF-16 units stay below.)
      default: return chance(0.2) ? static_cast<size_t>(below(60000)) : static_cast<size_t>(below(9000));
    }
  }

  std::mt19937 rng_;
  bool jet4_;
};

}  // namespace bv::test
