#include "engine/storage/row_encode.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/data_page.h"
#include "engine/storage/text.h"
#include "engine/storage/text_key.h"

namespace bv::storage {

namespace {

std::string colName(const ColumnDef& c) { return "'" + toUtf8(c.name) + "'"; }

[[noreturn]] void conversion(const ColumnDef& c, const std::string& why) {
  throw JetError(kErrConversion, "The column " + colName(c) + " cannot hold the value: " + why + ".");
}

[[noreturn]] void tooLong(const ColumnDef& c, size_t have, size_t max, const char* unit) {
  throw JetError(kErrFieldTooSmall, "The value for the column " + colName(c) + " is too long (" +
                                        std::to_string(have) + " " + unit + "; the column holds " +
                                        std::to_string(max) + ").");
}

void putLE(Bytes& b, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The byte of a character in a single-byte code page, or -1 if it has none.
int codePageByte(char16_t ch, uint16_t codePage) {
  if (codePage == 1252 || codePage == 0) return cp1252Byte(ch);
  if (ch < 0x80) return ch;
  if (const char16_t* high = codePageHighHalf(codePage)) {
    for (int i = 0; i < 128; ++i)
      if (high[i] == ch) return 0x80 + i;
    return -1;
  }
  return ch <= 0xFF ? ch : -1;  // decoded as Latin-1
}

// Integer value of an integer-kind Value (Byte, Integer, Long); false for other kinds.
bool integerOf(const Value& v, int64_t& out) {
  if (auto p = v.get<uint8_t>()) return out = *p, true;
  if (auto p = v.get<int16_t>()) return out = *p, true;
  if (auto p = v.get<int32_t>()) return out = *p, true;
  return false;
}

// 128-bit magnitude as four 32-bit words, most significant first (the stored order).
struct Words {
  uint32_t w[4];
};

Words wordsOf(const Decimal& d) {
  return {{static_cast<uint32_t>(d.hi >> 32), static_cast<uint32_t>(d.hi), static_cast<uint32_t>(d.lo >> 32),
           static_cast<uint32_t>(d.lo)}};
}

// x * 10; false on overflow.
bool mul10(Words& x) {
  uint64_t carry = 0;
  for (int i = 3; i >= 0; --i) {
    const uint64_t v = static_cast<uint64_t>(x.w[i]) * 10 + carry;
    x.w[i] = static_cast<uint32_t>(v);
    carry = v >> 32;
  }
  return carry == 0;
}

// x / 10, returning the remainder.
uint32_t div10(Words& x) {
  uint64_t rem = 0;
  for (int i = 0; i < 4; ++i) {
    const uint64_t v = (rem << 32) | x.w[i];
    x.w[i] = static_cast<uint32_t>(v / 10);
    rem = v % 10;
  }
  return static_cast<uint32_t>(rem);
}

bool lessThan(const Words& a, const Words& b) {
  for (int i = 0; i < 4; ++i)
    if (a.w[i] != b.w[i]) return a.w[i] < b.w[i];
  return false;
}

Bytes encodeDecimal(const ColumnDef& c, const Decimal& d) {
  Words m = wordsOf(d);
  int scale = d.scale;
  while (scale < c.scale) {
    if (!mul10(m)) throw JetError(kErrNumericOverflow, "The value is too large for the column " + colName(c) + ".");
    ++scale;
  }
  while (scale > c.scale) {
    if (div10(m) != 0) conversion(c, "it has more digits after the point than the column's scale");
    --scale;
  }
  Words limit{{0, 0, 0, 1}};
  bool limitFits = true;
  for (int i = 0; i < c.precision && limitFits; ++i) limitFits = mul10(limit);
  if (limitFits && !lessThan(m, limit))
    throw JetError(kErrNumericOverflow, "The value has more digits than the column " + colName(c) + " allows.");
  Bytes b;
  const bool zero = !(m.w[0] | m.w[1] | m.w[2] | m.w[3]);
  b.push_back(d.negative && !zero ? 0x80 : 0x00);
  for (int i = 0; i < 4; ++i) putLE(b, m.w[i], 4);
  return b;
}

uint32_t fixedSize(const ColumnDef& c) { return c.length; }

}  // namespace

Bytes encodeText(const RowFormat& fmt, const ColumnDef& c, std::u16string_view s, bool compressible) {
  Bytes b;
  if (!fmt.jet4) {
    const uint16_t cp = c.codePage ? c.codePage : fmt.codePage;
    b.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
      const int v = codePageByte(s[i], cp);
      if (v < 0)
        conversion(c, "the character U+" + [&] {
          char buf[8];
          std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(s[i]));
          return std::string(buf);
        }() + " does not exist in the database's code page " + std::to_string(cp));
      b.push_back(static_cast<uint8_t>(v));
    }
    return b;
  }
  bool oneByte = compressible && s.size() > 2;
  for (size_t i = 0; oneByte && i < s.size(); ++i) oneByte = s[i] >= 0x01 && s[i] <= 0xFF;
  if (oneByte) {
    b.reserve(2 + s.size());
    b.push_back(0xFF);
    b.push_back(0xFE);
    for (char16_t ch : s) b.push_back(static_cast<uint8_t>(ch));
    return b;
  }
  b.reserve(2 * s.size() + 3);
  if (!s.empty() && s[0] == 0xFEFF) {
    // FF FE first would be read as the compression mark: say so, then switch to two bytes.
    b.push_back(0xFF);
    b.push_back(0xFE);
    b.push_back(0x00);
  }
  for (char16_t ch : s) putLE(b, ch, 2);
  return b;
}

EncodedField encodeField(const RowFormat& fmt, const ColumnDef& c, const Value& v) {
  EncodedField f;
  if (c.type == ColType::Bool) {
    if (v.isNull()) return f;  // a Yes/No column cannot be Null: No
    const bool* p = v.get<bool>();
    if (!p) conversion(c, "a Yes/No column takes True or False");
    f.present = *p;
    return f;
  }
  if (v.isNull()) {
    // A fixed column keeps its bytes even when Null.
    if (c.fixed) f.bytes.assign(fixedSize(c), 0);
    return f;
  }
  f.present = true;
  Bytes& b = f.bytes;
  int64_t i = 0;
  switch (c.type) {
    case ColType::Byte:
      if (!integerOf(v, i) || !v.get<uint8_t>()) conversion(c, "a Byte column takes a Byte value");
      putLE(b, static_cast<uint64_t>(i), 1);
      break;
    case ColType::Integer:
      if (!integerOf(v, i) || v.get<int32_t>()) conversion(c, "an Integer column takes an Integer value");
      putLE(b, static_cast<uint64_t>(i), 2);
      break;
    case ColType::Long:
      if (!integerOf(v, i)) conversion(c, "a Long column takes a whole number");
      putLE(b, static_cast<uint64_t>(i), 4);
      break;
    case ColType::Currency: {
      const Currency* p = v.get<Currency>();
      if (!p) conversion(c, "a Currency column takes a Currency value");
      putLE(b, static_cast<uint64_t>(p->scaled), 8);
      break;
    }
    case ColType::Single: {
      const float* p = v.get<float>();
      if (!p) conversion(c, "a Single column takes a Single value");
      uint32_t u;
      std::memcpy(&u, p, 4);
      putLE(b, u, 4);
      break;
    }
    case ColType::Double:
    case ColType::DateTime: {
      double d;
      if (c.type == ColType::Double) {
        if (auto p = v.get<double>()) d = *p;
        else if (auto q = v.get<float>()) d = *q;
        else conversion(c, "a Double column takes a number");
      } else {
        const DateTime* p = v.get<DateTime>();
        if (!p) conversion(c, "a Date/Time column takes a date");
        d = p->days;
      }
      uint64_t u;
      std::memcpy(&u, &d, 8);
      putLE(b, u, 8);
      break;
    }
    case ColType::Guid: {
      const Guid* p = v.get<Guid>();
      if (!p) conversion(c, "a GUID column takes a GUID");
      b.assign(p->bytes.begin(), p->bytes.end());
      break;
    }
    case ColType::Decimal: {
      const Decimal* p = v.get<Decimal>();
      if (!p) conversion(c, "a Decimal column takes a Decimal value");
      b = encodeDecimal(c, *p);
      break;
    }
    case ColType::Text: {
      const std::u16string* p = v.get<std::u16string>();
      if (!p) conversion(c, "a Text column takes text");
      if (c.fixed) {
        // Fixed-length text fills its bytes, padded with spaces, never compressed.
        const size_t chars = fmt.jet4 ? c.length / 2u : c.length;
        if (p->size() > chars) tooLong(c, p->size(), chars, "characters");
        std::u16string padded = *p;
        padded.resize(chars, u' ');
        b = encodeText(fmt, c, padded, false);
        break;
      }
      const size_t maxChars = fmt.jet4 ? c.length / 2u : c.length;
      if (maxChars && p->size() > maxChars) tooLong(c, p->size(), maxChars, "characters");
      b = encodeText(fmt, c, *p, c.compressedUnicode);
      break;
    }
    case ColType::Binary:
    case ColType::Complex: {
      const Bytes* p = v.get<Bytes>();
      if (!p) conversion(c, "a Binary column takes bytes");
      if (c.length && p->size() > c.length) tooLong(c, p->size(), c.length, "bytes");
      b = *p;
      if (c.fixed) b.resize(c.length, 0);
      break;
    }
    default:
      conversion(c, "this engine does not write columns of type " + std::to_string(static_cast<int>(c.type)));
  }
  if (c.fixed && b.size() != fixedSize(c)) conversion(c, "its stored size differs from the column's");
  return f;
}

namespace {

struct Layout {
  uint32_t head = 0;       // column count bytes
  uint32_t fixedLen = 0;   // fixed area
  uint32_t varLen = 0;     // variable data
  uint32_t slots = 0;      // V
  uint32_t colCount = 0;   // column count written
  uint32_t jumps = 0;      // Jet 3 jump entries
  uint32_t total = 0;
};

Layout layoutOf(const RowFormat& fmt, const TableDef& t, std::span<const EncodedField> fields) {
  const bool j4 = fmt.jet4;
  Layout l;
  l.head = j4 ? 2 : 1;
  l.colCount = t.maxColumns;
  l.slots = t.varSlots;
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const ColumnDef& c = t.columns[i];
    l.colCount = std::max<uint32_t>(l.colCount, c.number + 1u);
    if (c.type == ColType::Bool) continue;
    if (c.fixed) {
      l.fixedLen = std::max<uint32_t>(l.fixedLen, c.fixedOffset + fixedSize(c));
    } else {
      l.slots = std::max<uint32_t>(l.slots, c.varSlot + 1u);
      if (fields[i].present) l.varLen += static_cast<uint32_t>(fields[i].bytes.size());
    }
  }
  const uint32_t maskLen = (l.colCount + 7) / 8;
  const uint32_t offBytes = j4 ? 2 : 1;
  const uint32_t base = l.head + l.fixedLen + l.varLen + offBytes * (l.slots + 1) + offBytes + maskLen;
  if (!j4) {
    // Jet 3 offsets are one byte: one jump entry per 256-byte boundary the row crosses.
    for (;;) {
      const uint32_t j = (base + l.jumps - 1) / 256;
      if (j == l.jumps) break;
      l.jumps = j;
    }
  }
  l.total = base + l.jumps;
  return l;
}

}  // namespace

uint32_t maxRowSize(const RowFormat& fmt) {
  return fmt.pageSize - rowCountOffset(fmt.jet4) - 2 - 2;
}

size_t rowSize(const RowFormat& fmt, const TableDef& t, std::span<const EncodedField> fields) {
  return layoutOf(fmt, t, fields).total;
}

Bytes assembleRow(const RowFormat& fmt, const TableDef& t, std::span<const EncodedField> fields) {
  const bool j4 = fmt.jet4;
  const Layout l = layoutOf(fmt, t, fields);
  if (l.total > maxRowSize(fmt))
    throw JetError(kErrRecordTooLarge, "The row is too large for table '" + toUtf8(t.name) + "' (" +
                                           std::to_string(l.total) + " bytes; a page holds " +
                                           std::to_string(maxRowSize(fmt)) + ").");
  Bytes row(l.total, 0);
  row[0] = static_cast<uint8_t>(l.colCount);
  if (j4) row[1] = static_cast<uint8_t>(l.colCount >> 8);
  const uint32_t maskLen = (l.colCount + 7) / 8;
  uint8_t* mask = row.data() + l.total - maskLen;
  std::vector<const EncodedField*> bySlot(l.slots, nullptr);
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const ColumnDef& c = t.columns[i];
    const EncodedField& f = fields[i];
    if (f.present) mask[c.number / 8] |= static_cast<uint8_t>(1u << (c.number % 8));
    if (c.type == ColType::Bool) continue;
    if (c.fixed)
      std::memcpy(row.data() + l.head + c.fixedOffset, f.bytes.data(), f.bytes.size());
    else if (f.present)
      bySlot[c.varSlot] = &f;
  }
  // Variable data in slot order; offsets[V] is the end of the data.
  std::vector<uint32_t> off(l.slots + 1);
  uint32_t pos = l.head + l.fixedLen;
  for (uint32_t s = 0; s < l.slots; ++s) {
    off[s] = pos;
    if (bySlot[s] && !bySlot[s]->bytes.empty()) {
      std::memcpy(row.data() + pos, bySlot[s]->bytes.data(), bySlot[s]->bytes.size());
      pos += static_cast<uint32_t>(bySlot[s]->bytes.size());
    }
  }
  off[l.slots] = pos;
  // From the end: null mask, variable count, [jump table], offsets slot 0 first, end-of-data last.
  uint32_t at = l.total - maskLen;
  if (j4) {
    at -= 2;
    row[at] = static_cast<uint8_t>(l.slots);
    row[at + 1] = static_cast<uint8_t>(l.slots >> 8);
    for (uint32_t i = 0; i <= l.slots; ++i) {
      at -= 2;
      row[at] = static_cast<uint8_t>(off[i]);
      row[at + 1] = static_cast<uint8_t>(off[i] >> 8);
    }
  } else {
    row[--at] = static_cast<uint8_t>(l.slots);
    for (uint32_t j = 0; j < l.jumps; ++j) {
      // The first slot whose offset reaches the boundary; 0xFF when the data ends below it.
      uint8_t first = 0xFF;
      for (uint32_t i = 0; i <= l.slots; ++i)
        if (off[i] >= 256 * (j + 1)) {
          first = static_cast<uint8_t>(i);
          break;
        }
      row[--at] = first;
    }
    for (uint32_t i = 0; i <= l.slots; ++i) row[--at] = static_cast<uint8_t>(off[i] & 0xFF);
  }
  return row;
}

}  // namespace bv::storage
