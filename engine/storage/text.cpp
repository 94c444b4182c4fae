#include "engine/storage/text.h"

#include <bit>
#include <cstring>

#include "engine/storage/database.h"

namespace bv::storage {

namespace {
// cp1252 0x80-0x9F; the undefined bytes map to the C1 control of the same value.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
}  // namespace

std::u16string decodeCodePage(const uint8_t* p, size_t n, uint16_t codePage) {
  std::u16string out;
  out.resize(n);
  if (const char16_t* high = codePageHighHalf(codePage)) {
    for (size_t i = 0; i < n; ++i) out[i] = p[i] < 0x80 ? static_cast<char16_t>(p[i]) : high[p[i] - 0x80];
    return out;
  }
  const bool w1252 = codePage == 1252 || codePage == 0;
  for (size_t i = 0; i < n; ++i) {
    uint8_t b = p[i];
    out[i] = (w1252 && b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : static_cast<char16_t>(b);
  }
  return out;
}

std::u16string decodeJet4Text(const uint8_t* p, size_t n) {
  std::u16string out;
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    out.resize(n - 2);  // never more characters than bytes
    char16_t* o = out.data();
    bool compressed = true;
    size_t i = 2;
    while (i < n) {
      if (p[i] == 0x00) {
        // A zero byte switches between one-byte and two-byte mode.
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        *o++ = static_cast<char16_t>(p[i++]);
      } else {
        if (i + 1 >= n) break;
        *o++ = static_cast<char16_t>(p[i] | (p[i + 1] << 8));
        i += 2;
      }
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
  }
  out.resize(n / 2);
  if constexpr (std::endian::native == std::endian::little) {
    if (n >= 2) std::memcpy(out.data(), p, n / 2 * 2);
  } else {
    for (size_t i = 0; i < n / 2; ++i) out[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
  }
  return out;
}

char16_t foldCase(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A pairs: mostly even = upper, odd = lower; 0x139-0x148 and
    // 0x179-0x17E the other way round.
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
      return (c % 2 == 0) ? static_cast<char16_t>(c - 1) : c;
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    return (c % 2 == 1) ? static_cast<char16_t>(c - 1) : c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 32);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 32);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 80);
  return c;
}

bool jetNameEquals(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && foldCase(a[i]) != foldCase(b[i])) return false;
  return true;
}

std::string toUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // unpaired surrogate
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::u16string fromUtf8(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    auto b = static_cast<uint8_t>(s[i]);
    uint32_t c = 0xFFFD;
    size_t len = 1;
    if (b < 0x80) {
      c = b;
    } else if (b >= 0xC2 && b < 0xE0) {
      len = 2;
    } else if (b >= 0xE0 && b < 0xF0) {
      len = 3;
    } else if (b >= 0xF0 && b < 0xF5) {
      len = 4;
    }
    if (len > 1) {
      bool ok = i + len <= s.size();
      uint32_t v = b & (0xFF >> (len + 1));
      for (size_t k = 1; ok && k < len; ++k) {
        auto cb = static_cast<uint8_t>(s[i + k]);
        if ((cb & 0xC0) != 0x80) ok = false;
        v = (v << 6) | (cb & 0x3F);
      }
      const uint32_t minimum = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
      if (ok && v >= minimum && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
        c = v;
      } else {
        len = 1;
      }
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += len;
  }
  return out;
}

}  // namespace bv::storage
