#include "engine/storage/csv_export.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

namespace bv::storage {

namespace {

void appendInt(int64_t v, std::string& out) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

template <class F>
void appendFloat(F v, std::string& out) {
  if (std::isnan(v)) {
    out += "NaN";
    return;
  }
  if (std::isinf(v)) {
    out += v < 0 ? "-Infinity" : "Infinity";
    return;
  }
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void appendPadded(unsigned v, int width, std::string& out) {
  char buf[12];
  int n = 0;
  do {
    buf[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  for (int i = n; i < width; ++i) out.push_back('0');
  while (n) out.push_back(buf[--n]);
}

// Civil date from a day count relative to 1970-01-01 (proleptic Gregorian).
void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

void appendHex(const uint8_t* p, size_t n, std::string& out) {
  static const char digits[] = "0123456789abcdef";
  const size_t at = out.size();
  out.resize(at + 2 * n);
  char* o = out.data() + at;
  for (size_t i = 0; i < n; ++i) {
    o[2 * i] = digits[p[i] >> 4];
    o[2 * i + 1] = digits[p[i] & 15];
  }
}

// Writes UTF-16LE units [p, e) as UTF-8 with quotes doubled; `o` must have room for
// 3 bytes per unit. Returns the new end.
char* writeUtf16Le(const uint8_t* p, const uint8_t* e, char* o) {
  auto unit = [](const uint8_t* q) { return static_cast<uint32_t>(q[0] | (q[1] << 8)); };
  while (e - p >= 2) {
    if constexpr (std::endian::native == std::endian::little) {
      // Runs of plain ASCII (no quote) go four units at a time.
      while (e - p >= 8) {
        uint64_t x;
        std::memcpy(&x, p, 8);
        const uint64_t q = x ^ 0x0022002200220022ull;  // a zero lane marks a quote
        const bool hasQuote = ((q - 0x0001000100010001ull) & ~q & 0x8000800080008000ull) != 0;
        if ((x & 0xFF80FF80FF80FF80ull) != 0 || hasQuote) break;
        o[0] = static_cast<char>(p[0]);
        o[1] = static_cast<char>(p[2]);
        o[2] = static_cast<char>(p[4]);
        o[3] = static_cast<char>(p[6]);
        o += 4;
        p += 8;
      }
      if (e - p < 2) break;
    }
    uint32_t c = unit(p);
    p += 2;
    if (c < 0x80) {
      if (c == '"') *o++ = '"';
      *o++ = static_cast<char>(c);
      continue;
    }
    if (c < 0x800) {
      *o++ = static_cast<char>(0xC0 | (c >> 6));
      *o++ = static_cast<char>(0x80 | (c & 0x3F));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && e - p >= 2 && unit(p) >= 0xDC00 && unit(p) <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(p) - 0xDC00);
      p += 2;
      *o++ = static_cast<char>(0xF0 | (c >> 18));
      *o++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *o++ = static_cast<char>(0x80 | (c & 0x3F));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;  // unpaired surrogate
    *o++ = static_cast<char>(0xE0 | (c >> 12));
    *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return o;
}

void appendQuotedText(const std::u16string& s, std::string& out) {
  const size_t at = out.size();
  out.resize(at + 3 * s.size() + 2);
  char* o = out.data() + at;
  *o++ = '"';
  if constexpr (std::endian::native == std::endian::little) {
    const auto* b = reinterpret_cast<const uint8_t*>(s.data());
    o = writeUtf16Le(b, b + 2 * s.size(), o);
  } else {
    std::vector<uint8_t> le(2 * s.size());
    for (size_t i = 0; i < s.size(); ++i) {
      le[2 * i] = static_cast<uint8_t>(s[i] & 0xFF);
      le[2 * i + 1] = static_cast<uint8_t>(s[i] >> 8);
    }
    o = writeUtf16Le(le.data(), le.data() + le.size(), o);
  }
  *o++ = '"';
  out.resize(static_cast<size_t>(o - out.data()));
}

// A column name in the header line: quoted only when it holds a separator or quote.
void appendName(const std::u16string& name, std::string& out) {
  bool quote = false;
  for (char16_t c : name)
    if (c == ',' || c == '"' || c == '\n' || c == '\r') quote = true;
  if (quote) {
    appendQuotedText(name, out);
  } else {
    out += toUtf8(name);
  }
}

}  // namespace

void appendDateTime(double days, std::string& out) {
  if (!(days > -657435.0 && days < 2958466.0)) {  // outside 0100-01-01 .. 9999-12-31
    appendFloat(days, out);
    return;
  }
  int64_t day = static_cast<int64_t>(days);  // toward zero
  double frac = std::fabs(days - static_cast<double>(day));
  int64_t secs = std::llround(frac * 86400.0);
  if (secs >= 86400) {
    secs -= 86400;
    day += 1;
  }
  int64_t y;
  unsigned m, d;
  civilFromDays(day - 25569, y, m, d);  // 1899-12-30 is 25569 days before 1970-01-01
  char buf[19] = {'0', '0', '0', '0', '-', '0', '0', '-', '0', '0', ' ', '0', '0', ':', '0', '0', ':', '0', '0'};
  auto put = [&buf](int at, unsigned v, int width) {
    for (int i = width - 1; i >= 0; --i, v /= 10) buf[at + i] = static_cast<char>('0' + v % 10);
  };
  put(0, static_cast<unsigned>(y), 4);
  put(5, m, 2);
  put(8, d, 2);
  put(11, static_cast<unsigned>(secs / 3600), 2);
  put(14, static_cast<unsigned>(secs / 60 % 60), 2);
  put(17, static_cast<unsigned>(secs % 60), 2);
  out.append(buf, sizeof buf);
}

void appendDecimal(const Decimal& d, std::string& out) {
  // Magnitude as four 32-bit words, most significant first; repeated division by 10.
  uint32_t w[4] = {static_cast<uint32_t>(d.hi >> 32), static_cast<uint32_t>(d.hi),
                   static_cast<uint32_t>(d.lo >> 32), static_cast<uint32_t>(d.lo)};
  char digits[48];
  int n = 0;
  for (;;) {
    uint64_t rem = 0;
    bool zero = true;
    for (auto& word : w) {
      const uint64_t cur = (rem << 32) | word;
      word = static_cast<uint32_t>(cur / 10);
      rem = cur % 10;
      if (word) zero = false;
    }
    digits[n++] = static_cast<char>('0' + rem);
    if (zero) break;
  }
  while (n <= d.scale) digits[n++] = '0';
  bool allZero = true;
  for (int i = 0; i < n; ++i)
    if (digits[i] != '0') allZero = false;
  if (d.negative && !allZero) out.push_back('-');
  for (int i = n - 1; i >= 0; --i) {
    out.push_back(digits[i]);
    if (i == d.scale && i != 0) out.push_back('.');
  }
}

void appendGuid(const Guid& g, std::string& out) {
  static const char digits[] = "0123456789ABCDEF";
  // Display order: u32 LE, u16 LE, u16 LE, then 8 bytes as stored.
  static const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  out.push_back('{');
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    const uint8_t b = g.bytes[static_cast<size_t>(order[i])];
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  out.push_back('}');
}

void appendJet4CsvText(const uint8_t* p, size_t n, std::string& out) {
  const size_t at = out.size();
  out.resize(at + 2 * n + 2);  // compressed bytes become at most 2, UTF-16 pairs at most 3
  char* o = out.data() + at;
  *o++ = '"';
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    bool compressed = true;
    size_t i = 2;
    while (i < n) {
      if (compressed) {
        const uint8_t b = p[i++];
        if (b == 0) {
          compressed = false;  // a zero byte switches to two-byte mode
        } else if (b < 0x80) {
          if (b == '"') *o++ = '"';
          *o++ = static_cast<char>(b);
        } else {
          *o++ = static_cast<char>(0xC0 | (b >> 6));
          *o++ = static_cast<char>(0x80 | (b & 0x3F));
        }
        continue;
      }
      size_t j = i;
      while (j + 1 < n && p[j] != 0) j += 2;
      o = writeUtf16Le(p + i, p + j, o);
      if (j < n && p[j] == 0) {
        compressed = true;
        i = j + 1;
      } else {
        break;  // a dangling odd byte
      }
    }
  } else {
    o = writeUtf16Le(p, p + (n & ~size_t{1}), o);
  }
  *o++ = '"';
  out.resize(static_cast<size_t>(o - out.data()));
}

void appendCsvValue(const Value& v, std::string& out) {
  switch (v.kind()) {
    case Kind::Null: break;
    case Kind::Bool: out.push_back(v.as<bool>() ? '1' : '0'); break;
    case Kind::Byte: appendInt(v.as<uint8_t>(), out); break;
    case Kind::Integer: appendInt(v.as<int16_t>(), out); break;
    case Kind::Long: appendInt(v.as<int32_t>(), out); break;
    case Kind::Currency: {
      const int64_t s = v.as<Currency>().scaled;
      const uint64_t mag = s < 0 ? 0 - static_cast<uint64_t>(s) : static_cast<uint64_t>(s);
      if (s < 0) out.push_back('-');
      char buf[24];
      auto r = std::to_chars(buf, buf + sizeof buf, mag / 10000);
      out.append(buf, r.ptr);
      out.push_back('.');
      appendPadded(static_cast<unsigned>(mag % 10000), 4, out);
      break;
    }
    case Kind::Single: appendFloat(v.as<float>(), out); break;
    case Kind::Double: appendFloat(v.as<double>(), out); break;
    case Kind::DateTime: appendDateTime(v.as<DateTime>().days, out); break;
    case Kind::Text: appendQuotedText(v.as<std::u16string>(), out); break;
    case Kind::Binary: {
      const Bytes& b = v.as<Bytes>();
      if (b.empty()) out += "\"\"";  // empty, but not Null
      appendHex(b.data(), b.size(), out);
      break;
    }
    case Kind::Guid: appendGuid(v.as<Guid>(), out); break;
    case Kind::Decimal: appendDecimal(v.as<Decimal>(), out); break;
  }
}

bool exportCsv(const Database& db, const TableDef& table,
               const std::function<bool(const char*, size_t)>& write, uint64_t* rows) {
  std::string buf;
  buf.reserve(1 << 20);
  for (size_t i = 0; i < table.columns.size(); ++i) {
    if (i) buf.push_back(',');
    appendName(table.columns[i].name, buf);
  }
  buf.push_back('\n');
  uint64_t count = 0;
  TableCursor cur = db.scan(table);
  const size_t n = table.columns.size();
  // Jet 4 text goes from its stored bytes straight to UTF-8, without an intermediate string.
  std::vector<uint8_t> direct(n, 0);
  for (size_t i = 0; i < n; ++i) direct[i] = db.isJet4() && table.columns[i].isText();
  const uint8_t* raw;
  size_t rawLen;
  while (cur.next()) {
    for (size_t i = 0; i < n; ++i) {
      if (i) buf.push_back(',');
      if (!direct[i]) {
        appendCsvValue(cur.value(i), buf);
      } else if (cur.rawValue(i, raw, rawLen)) {
        appendJet4CsvText(raw, rawLen, buf);
      }
    }
    buf.push_back('\n');
    ++count;
    if (buf.size() >= (1 << 20)) {
      if (!write(buf.data(), buf.size())) return false;
      buf.clear();
    }
  }
  if (!buf.empty() && !write(buf.data(), buf.size())) return false;
  if (rows) *rows = count;
  return true;
}

}  // namespace bv::storage
