#include "engine/storage/csv_export.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace bv::storage {

// The export's output buffer. Unlike std::string it does not zero-fill space that is
// reserved for a field and then only partly used.
class CsvSink {
 public:
  char* reserve(size_t n) {
    if (len_ + n > cap_) grow(len_ + n);
    return buf_.get() + len_;
  }
  void commit(const char* end) { len_ = static_cast<size_t>(end - buf_.get()); }
  void push_back(char c) {
    *reserve(1) = c;
    ++len_;
  }
  void append(const char* p, size_t n) {
    std::memcpy(reserve(n), p, n);
    len_ += n;
  }
  CsvSink& operator+=(const std::string& s) {
    append(s.data(), s.size());
    return *this;
  }
  CsvSink& operator+=(const char* s) {
    append(s, std::strlen(s));
    return *this;
  }
  const char* data() const { return buf_.get(); }
  size_t size() const { return len_; }
  void clear() { len_ = 0; }

 private:
  void grow(size_t need) {
    size_t cap = cap_ ? cap_ : 256;
    while (cap < need) cap *= 2;
    std::unique_ptr<char[]> b(new char[cap]);
    if (len_) std::memcpy(b.get(), buf_.get(), len_);
    buf_ = std::move(b);
    cap_ = cap;
  }
  std::unique_ptr<char[]> buf_;
  size_t len_ = 0, cap_ = 0;
};

namespace {

void appendInt(int64_t v, CsvSink& out) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, static_cast<size_t>(r.ptr - buf));
}

template <class F>
void appendFloat(F v, CsvSink& out) {
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
  out.append(buf, static_cast<size_t>(r.ptr - buf));
}

void appendPadded(unsigned v, int width, CsvSink& out) {
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

void appendHex(const uint8_t* p, size_t n, CsvSink& out) {
  static const char digits[] = "0123456789abcdef";
  char* o = out.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    o[2 * i] = digits[p[i] >> 4];
    o[2 * i + 1] = digits[p[i] & 15];
  }
  out.commit(o + 2 * n);
}

// Writes one character outside the surrogate range as UTF-8, a quote doubled. May store
// one byte past the character's end.
inline char* putBmp(uint32_t c, char* o) {
  if constexpr (std::endian::native == std::endian::little) {
    // Choose the 1-3 byte form without branching (in mixed scripts the class of the next
    // character is unpredictable) and store 4 bytes at once.
    const uint32_t two = (0xC0 | (c >> 6)) | ((0x80 | (c & 0x3F)) << 8);
    const uint32_t three = (0xE0 | (c >> 12)) | ((0x80 | ((c >> 6) & 0x3F)) << 8) | ((0x80 | (c & 0x3F)) << 16);
    const bool quote = c == '"';
    const uint32_t w = c < 0x80 ? (quote ? 0x2222u : c) : (c < 0x800 ? two : three);
    std::memcpy(o, &w, 4);
    return o + (c < 0x80 ? 1u + quote : (c < 0x800 ? 2u : 3u));
  } else {
    if (c < 0x80) {
      if (c == '"') *o++ = '"';
      *o++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *o++ = static_cast<char>(0xC0 | (c >> 6));
      *o++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *o++ = static_cast<char>(0xE0 | (c >> 12));
      *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *o++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return o;
  }
}

// Writes UTF-16LE units [p, e) as UTF-8 with quotes doubled; `o` must have room for
// 3 bytes per unit and 1 more (putBmp's wide store). Returns the new end.
char* writeUtf16Le(const uint8_t* p, const uint8_t* e, char* o) {
  auto unit = [](const uint8_t* q) { return static_cast<uint32_t>(q[0] | (q[1] << 8)); };
  while (e - p >= 2) {
    uint32_t c = unit(p);
    p += 2;
    if ((c & 0xF800) != 0xD800) {
      o = putBmp(c, o);
    } else if (c <= 0xDBFF && e - p >= 2 && (unit(p) & 0xFC00) == 0xDC00) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(p) - 0xDC00);
      p += 2;
      *o++ = static_cast<char>(0xF0 | (c >> 18));
      *o++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *o++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      o = putBmp(0xFFFD, o);  // an unpaired surrogate
    }
  }
  return o;
}

void appendQuotedText(const std::u16string& s, CsvSink& out) {
  char* o = out.reserve(3 * s.size() + 3);
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
  out.commit(o);
}

// A column name in the header line: quoted only when it holds a separator or quote.
void appendName(const std::u16string& name, CsvSink& out) {
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

void appendDateTime(double days, CsvSink& out) {
  if (!(days > -657435.0 && days < 2958466.0)) {  // outside 0100-01-01 .. 9999-12-31
    appendFloat(days, out);
    return;
  }
  int64_t day = static_cast<int64_t>(days);  // toward zero
  double frac = std::fabs(days - static_cast<double>(day));
  int64_t secs = static_cast<int64_t>(frac * 86400.0 + 0.5);  // frac >= 0: rounds half up
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

void appendDecimal(const Decimal& d, CsvSink& out) {
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

void appendGuid(const Guid& g, CsvSink& out) {
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

void appendJet4CsvText(const uint8_t* p, size_t n, CsvSink& out) {
  char* o = out.reserve(2 * n + 3);  // compressed bytes become at most 2, UTF-16 pairs at most 3
  *o++ = '"';
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    bool compressed = true;
    size_t i = 2;
    while (i < n) {
      if (compressed) {
        const uint8_t b = p[i++];
        if (b == 0)
          compressed = false;  // a zero byte switches to two-byte mode
        else
          o = putBmp(b, o);
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
  out.commit(o);
}

void appendCsvValue(const Value& v, CsvSink& out) {
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
      out.append(buf, static_cast<size_t>(r.ptr - buf));
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

// The std::string forms of the public appenders.
namespace {
template <class F>
void viaSink(std::string& out, F f) {
  CsvSink sink;
  f(sink);
  out.append(sink.data(), sink.size());
}
}  // namespace

void appendCsvValue(const Value& v, std::string& out) {
  viaSink(out, [&](CsvSink& s) { appendCsvValue(v, s); });
}
void appendDateTime(double days, std::string& out) {
  viaSink(out, [&](CsvSink& s) { appendDateTime(days, s); });
}
void appendDecimal(const Decimal& d, std::string& out) {
  viaSink(out, [&](CsvSink& s) { appendDecimal(d, s); });
}
void appendGuid(const Guid& g, std::string& out) {
  viaSink(out, [&](CsvSink& s) { appendGuid(g, s); });
}
void appendJet4CsvText(const uint8_t* p, size_t n, std::string& out) {
  viaSink(out, [&](CsvSink& s) { appendJet4CsvText(p, n, s); });
}
void appendCsvHeaderName(const std::u16string& name, std::string& out) {
  viaSink(out, [&](CsvSink& s) { appendName(name, s); });
}

bool exportCsv(const Database& db, const TableDef& table,
               const std::function<bool(const char*, size_t)>& write, uint64_t* rows) {
  CsvSink buf;
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
  if (buf.size() && !write(buf.data(), buf.size())) return false;
  if (rows) *rows = count;
  return true;
}

}  // namespace bv::storage
