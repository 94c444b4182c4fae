#include "engine/sql/conv_decimal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "engine/storage/error.h"

namespace bv::sql::dec {
namespace {

// Unsigned integer of any size, little-endian 32-bit limbs, no leading zero limbs.
struct Big {
  std::vector<uint32_t> w;

  static Big of(uint64_t v) {
    Big b;
    while (v) {
      b.w.push_back(static_cast<uint32_t>(v));
      v >>= 32;
    }
    return b;
  }
  void trim() {
    while (!w.empty() && w.back() == 0) w.pop_back();
  }
  bool zero() const { return w.empty(); }
  int bits() const {
    if (w.empty()) return 0;
    int n = static_cast<int>(w.size() - 1) * 32;
    for (uint32_t top = w.back(); top; top >>= 1) ++n;
    return n;
  }
  bool bit(int i) const {
    size_t k = static_cast<size_t>(i) / 32;
    return k < w.size() && ((w[k] >> (i % 32)) & 1u);
  }
  void mulSmall(uint32_t m, uint32_t addend = 0) {
    uint64_t carry = addend;
    for (auto& x : w) {
      uint64_t t = static_cast<uint64_t>(x) * m + carry;
      x = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    if (carry) w.push_back(static_cast<uint32_t>(carry));
  }
  uint32_t divSmall(uint32_t d) {
    uint64_t rem = 0;
    for (size_t i = w.size(); i-- > 0;) {
      uint64_t cur = (rem << 32) | w[i];
      w[i] = static_cast<uint32_t>(cur / d);
      rem = cur % d;
    }
    trim();
    return static_cast<uint32_t>(rem);
  }
};

int cmp(const Big& a, const Big& b) {
  if (a.w.size() != b.w.size()) return a.w.size() < b.w.size() ? -1 : 1;
  for (size_t i = a.w.size(); i-- > 0;)
    if (a.w[i] != b.w[i]) return a.w[i] < b.w[i] ? -1 : 1;
  return 0;
}

Big addBig(const Big& a, const Big& b) {
  Big r;
  uint64_t carry = 0;
  for (size_t i = 0; i < std::max(a.w.size(), b.w.size()); ++i) {
    uint64_t t = carry + (i < a.w.size() ? a.w[i] : 0) + (i < b.w.size() ? b.w[i] : 0);
    r.w.push_back(static_cast<uint32_t>(t));
    carry = t >> 32;
  }
  if (carry) r.w.push_back(static_cast<uint32_t>(carry));
  return r;
}

Big subBig(const Big& a, const Big& b) {  // requires a >= b
  Big r;
  int64_t borrow = 0;
  for (size_t i = 0; i < a.w.size(); ++i) {
    int64_t t = static_cast<int64_t>(a.w[i]) - (i < b.w.size() ? b.w[i] : 0) - borrow;
    borrow = t < 0 ? 1 : 0;
    r.w.push_back(static_cast<uint32_t>(t + (borrow << 32)));
  }
  r.trim();
  return r;
}

Big mulBig(const Big& a, const Big& b) {
  Big r;
  r.w.assign(a.w.size() + b.w.size(), 0);
  for (size_t i = 0; i < a.w.size(); ++i) {
    uint64_t carry = 0;
    for (size_t j = 0; j < b.w.size(); ++j) {
      uint64_t t = static_cast<uint64_t>(a.w[i]) * b.w[j] + r.w[i + j] + carry;
      r.w[i + j] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    r.w[i + b.w.size()] += static_cast<uint32_t>(carry);
  }
  r.trim();
  return r;
}

// Binary long division; operands here are at most a few hundred bits.
Big divBig(const Big& a, const Big& b, Big* rem) {
  Big q, r;
  for (int i = a.bits() - 1; i >= 0; --i) {
    r.mulSmall(2, a.bit(i) ? 1 : 0);
    q.mulSmall(2, 0);
    if (cmp(r, b) >= 0) {
      r = subBig(r, b);
      if (q.w.empty()) q.w.push_back(0);
      q.w[0] |= 1;
    }
  }
  q.trim();
  r.trim();
  *rem = r;
  return q;
}

Big pow10(int n) {
  Big b = Big::of(1);
  for (int i = 0; i < n; ++i) b.mulSmall(10);
  return b;
}

Big magnitude(const Decimal& d) {
  Big b;
  b.w = {static_cast<uint32_t>(d.lo), static_cast<uint32_t>(d.lo >> 32),
         static_cast<uint32_t>(d.hi), static_cast<uint32_t>(d.hi >> 32)};
  b.trim();
  return b;
}

// Divides by 10^n, rounding half to even.
Big divPow10Round(Big m, int n) {
  if (n <= 0) return m;
  Big rem;
  Big q = divBig(m, pow10(n), &rem);
  Big twice = addBig(rem, rem);
  int c = cmp(twice, pow10(n));
  if (c > 0 || (c == 0 && q.bit(0))) q = addBig(q, Big::of(1));
  return q;
}

[[noreturn]] void overflow() { throw JetError(6, "Overflow: the result does not fit a Decimal"); }

// Builds a Decimal from an exact magnitude and scale, giving up fractional digits (with
// rounding) when it is too large, as Variant Decimal arithmetic does.
Decimal make(bool negative, Big m, int scale) {
  if (scale > kMaxScale) {
    m = divPow10Round(std::move(m), scale - kMaxScale);
    scale = kMaxScale;
  }
  while (m.bits() > 96 && scale > 0) {
    // Drop as many digits as needed in one step when far too large.
    int drop = std::max(1, (m.bits() - 96) * 3 / 10);
    drop = std::min(drop, scale);
    m = divPow10Round(std::move(m), drop);
    scale -= drop;
  }
  if (m.bits() > 96) overflow();
  Decimal d;
  d.negative = negative && !m.zero();
  m.w.resize(4, 0);
  d.lo = m.w[0] | (static_cast<uint64_t>(m.w[1]) << 32);
  d.hi = m.w[2] | (static_cast<uint64_t>(m.w[3]) << 32);
  d.scale = static_cast<uint8_t>(scale);
  d.precision = 28;
  return d;
}

// Both magnitudes brought to the larger scale.
void align(const Decimal& a, const Decimal& b, Big* ma, Big* mb, int* scale) {
  *ma = magnitude(a);
  *mb = magnitude(b);
  *scale = std::max(a.scale, b.scale);
  *ma = mulBig(*ma, pow10(*scale - a.scale));
  *mb = mulBig(*mb, pow10(*scale - b.scale));
}

Decimal stripZeros(Decimal d) {
  Big m = magnitude(d);
  int scale = d.scale;
  while (scale > 0 && !m.zero()) {
    Big t = m;
    if (t.divSmall(10) != 0) break;
    m = t;
    --scale;
  }
  return make(d.negative, m, scale);
}

}  // namespace

Decimal fromInt64(int64_t v, int scale) {
  uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  return make(v < 0, Big::of(mag), scale);
}

Decimal fromDouble(double d) {
  if (!std::isfinite(d)) overflow();
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", d);  // 15 significant digits
  std::string s(buf);
  auto e = s.find('e');
  int exp = std::atoi(s.c_str() + e + 1);
  std::string digits;
  for (size_t i = 0; i < e; ++i)
    if (s[i] >= '0' && s[i] <= '9') digits += s[i];
  bool neg = s[0] == '-';
  // value = digits x 10^(exp - 14)
  int scale = 14 - exp;
  Big m;
  for (char c : digits) m.mulSmall(10, static_cast<uint32_t>(c - '0'));
  if (scale < 0) {
    m = mulBig(m, pow10(-scale));
    scale = 0;
  }
  if (m.bits() > 96 + 4 * scale) overflow();
  return stripZeros(make(neg, m, scale));
}

std::optional<Decimal> fromText(std::u16string_view t) {
  size_t i = 0;
  while (i < t.size() && t[i] == u' ') ++i;
  bool neg = false;
  if (i < t.size() && (t[i] == u'-' || t[i] == u'+')) neg = t[i++] == u'-';
  Big m;
  int scale = 0, digits = 0;
  bool point = false;
  for (; i < t.size(); ++i) {
    char16_t c = t[i];
    if (c >= u'0' && c <= u'9') {
      m.mulSmall(10, c - u'0');
      ++digits;
      if (point) ++scale;
    } else if (c == u'.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  while (i < t.size() && t[i] == u' ') ++i;
  if (digits == 0 || i != t.size()) return std::nullopt;
  try {
    return make(neg, m, scale);
  } catch (const JetError&) {
    return std::nullopt;
  }
}

double toDouble(const Decimal& d) {
  double v = static_cast<double>(d.hi) * 18446744073709551616.0 + static_cast<double>(d.lo);
  v /= std::pow(10.0, d.scale);
  return d.negative ? -v : v;
}

std::u16string toText(const Decimal& d) {
  Big m = magnitude(d);
  std::string digits;
  while (!m.zero()) digits += static_cast<char>('0' + m.divSmall(10));
  while (digits.size() <= d.scale) digits += '0';
  std::reverse(digits.begin(), digits.end());
  std::string intPart = digits.substr(0, digits.size() - d.scale);
  std::string frac = digits.substr(digits.size() - d.scale);
  while (!frac.empty() && frac.back() == '0') frac.pop_back();
  std::string s = intPart + (frac.empty() ? "" : "." + frac);
  if (d.negative && s != "0") s = "-" + s;
  return std::u16string(s.begin(), s.end());
}

bool isZero(const Decimal& d) { return d.hi == 0 && d.lo == 0; }

Decimal negate(const Decimal& a) {
  Decimal r = a;
  r.negative = !a.negative && !isZero(a);
  return r;
}

Decimal add(const Decimal& a, const Decimal& b) {
  Big ma, mb;
  int scale;
  align(a, b, &ma, &mb, &scale);
  if (a.negative == b.negative) return make(a.negative, addBig(ma, mb), scale);
  if (cmp(ma, mb) >= 0) return make(a.negative, subBig(ma, mb), scale);
  return make(b.negative, subBig(mb, ma), scale);
}

Decimal sub(const Decimal& a, const Decimal& b) { return add(a, negate(b)); }

Decimal mul(const Decimal& a, const Decimal& b) {
  return make(a.negative != b.negative, mulBig(magnitude(a), magnitude(b)), a.scale + b.scale);
}

Decimal div(const Decimal& a, const Decimal& b) {
  if (isZero(b)) throw JetError(11, "Division by zero");
  // q = a / b with kMaxScale digits after the point (one more to round on).
  int k = kMaxScale + 1 + b.scale - a.scale;
  Big num = magnitude(a);
  Big den = magnitude(b);
  if (k >= 0)
    num = mulBig(num, pow10(k));
  else
    den = mulBig(den, pow10(-k));
  Big rem;
  Big q = divBig(num, den, &rem);
  // A non-zero remainder is below the last digit: append a sticky digit so that a
  // quotient just above a half rounds up rather than to even.
  q.mulSmall(10, rem.zero() ? 0 : 1);
  q = divPow10Round(q, 2);
  return stripZeros(make(a.negative != b.negative, q, kMaxScale));
}

int compare(const Decimal& a, const Decimal& b) {
  bool za = isZero(a), zb = isZero(b);
  bool na = a.negative && !za, nb = b.negative && !zb;
  if (na != nb) return na ? -1 : 1;
  Big ma, mb;
  int scale;
  align(a, b, &ma, &mb, &scale);
  int c = cmp(ma, mb);
  return na ? -c : c;
}

Decimal roundTo(const Decimal& a, int scale) {
  if (scale < 0) scale = 0;
  if (a.scale <= scale) return a;
  return make(a.negative, divPow10Round(magnitude(a), a.scale - scale), scale);
}

std::optional<Decimal> rescale(const Decimal& a, int scale) {
  if (scale < 0 || scale > kMaxScale) return std::nullopt;
  Big m = magnitude(a);
  if (a.scale > scale)
    m = divPow10Round(m, a.scale - scale);
  else
    m = mulBig(m, pow10(scale - a.scale));
  if (m.bits() > 96) return std::nullopt;
  return make(a.negative, m, scale);
}

int integerDigits(const Decimal& a) {
  Big m = magnitude(a);
  Big rem;
  Big ip = divBig(m, pow10(a.scale), &rem);
  int n = 0;
  while (!ip.zero()) {
    ip.divSmall(10);
    ++n;
  }
  return n;
}

Decimal truncate(const Decimal& a) {
  Big rem;
  Big ip = divBig(magnitude(a), pow10(a.scale), &rem);
  return make(a.negative, ip, 0);
}

Decimal floor(const Decimal& a) {
  Big rem;
  Big ip = divBig(magnitude(a), pow10(a.scale), &rem);
  if (a.negative && !rem.zero()) ip = addBig(ip, Big::of(1));
  return make(a.negative, ip, 0);
}

Decimal fromCurrency(Currency c) { return stripZeros(fromInt64(c.scaled, 4)); }

Currency toCurrency(const Decimal& d) {
  auto r = rescale(d, 4);
  // The negative side holds one unit more (-922,337,203,685,477.5808).
  const uint64_t limit = static_cast<uint64_t>(INT64_MAX) + (r && r->negative ? 1 : 0);
  if (!r || r->hi != 0 || r->lo > limit) overflow();
  return Currency{static_cast<int64_t>(r->negative ? 0 - r->lo : r->lo)};
}

}  // namespace bv::sql::dec
