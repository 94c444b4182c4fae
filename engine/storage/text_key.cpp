#include "engine/storage/text_key.h"

#include <algorithm>
#include <string>

#include "engine/storage/error.h"
#include "engine/storage/text_key_tables.h"

namespace bv::storage {
namespace {

constexpr size_t kMaxKeyChars = 255;

// Text that takes part in a key: the first 255 units without trailing spaces.
std::u16string_view keyText(std::u16string_view text) {
  text = text.substr(0, std::min(text.size(), kMaxKeyChars));
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

[[noreturn]] void notEncodable(char16_t c) {
  char buf[8];
  static const char* hex = "0123456789ABCDEF";
  for (int i = 0; i < 4; ++i) buf[i] = hex[(c >> (12 - 4 * i)) & 0xF];
  buf[4] = 0;
  throw JetError(kErrKeyNotEncodable,
                 std::string("The character U+") + buf +
                     " has no place in the text sort order, so no index key can be built for it.");
}

void invertFrom(std::vector<uint8_t>& out, size_t from) {
  for (size_t i = from; i < out.size(); ++i) out[i] = static_cast<uint8_t>(~out[i]);
}

// ---------------------------------------------------------------- Jet 3

bool significantLetter(uint8_t b) {
  switch (b | 0x20) {
    case 'a': case 'c': case 'e': case 'i': case 'n': case 'o': case 's': case 'u': case 'y':
      return true;
    default:
      return false;
  }
}

// ---------------------------------------------------------------- Jet 4

const textkey::Jet4Run* searchRun(char16_t c) {
  const textkey::Jet4Run* begin = textkey::kJet4Runs;
  const textkey::Jet4Run* end = begin + textkey::kJet4RunCount;
  auto it = std::upper_bound(begin, end, c,
                             [](char16_t v, const textkey::Jet4Run& r) { return v < r.first; });
  if (it == begin) return nullptr;
  --it;
  return c <= it->last ? it : nullptr;
}

// Latin-1 characters, most of the text keys are built from, looked up directly.
const textkey::Jet4Run* findRun(char16_t c) {
  static const auto* latin1 = [] {
    static const textkey::Jet4Run* table[256];
    for (unsigned i = 0; i < 256; ++i) table[i] = searchRun(static_cast<char16_t>(i));
    return table;
  }();
  return c < 256 ? latin1[c] : searchRun(c);
}

// Inline bytes of code point `c` within run `r`.
void appendInline(std::vector<uint8_t>& out, const textkey::Jet4Run& r, char16_t c) {
  size_t at = out.size();
  out.insert(out.end(), r.inlineBytes, r.inlineBytes + r.inlineLen);
  if (r.step == 0) return;
  // Count up: add (c - first) to the big-endian number just written.
  uint32_t carry = static_cast<uint32_t>(c - r.first);
  for (size_t i = out.size(); i > at && carry != 0; --i) {
    uint32_t sum = out[i - 1] + (carry & 0xFF);
    out[i - 1] = static_cast<uint8_t>(sum);
    carry = (carry >> 8) + (sum >> 8);
  }
}

}  // namespace

int cp1252Byte(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
  switch (c) {
    case 0x81: case 0x8D: case 0x8F: case 0x90: case 0x9D: return c;
    case 0x20AC: return 0x80; case 0x201A: return 0x82; case 0x0192: return 0x83;
    case 0x201E: return 0x84; case 0x2026: return 0x85; case 0x2020: return 0x86;
    case 0x2021: return 0x87; case 0x02C6: return 0x88; case 0x2030: return 0x89;
    case 0x0160: return 0x8A; case 0x2039: return 0x8B; case 0x0152: return 0x8C;
    case 0x017D: return 0x8E; case 0x2018: return 0x91; case 0x2019: return 0x92;
    case 0x201C: return 0x93; case 0x201D: return 0x94; case 0x2022: return 0x95;
    case 0x2013: return 0x96; case 0x2014: return 0x97; case 0x02DC: return 0x98;
    case 0x2122: return 0x99; case 0x0161: return 0x9A; case 0x203A: return 0x9B;
    case 0x0153: return 0x9C; case 0x017E: return 0x9E; case 0x0178: return 0x9F;
    default: return -1;
  }
}

// Jet 3 body: the inline codes, then `00` when nothing is accented, otherwise a nibble stream
// (0, then per accented character one `2` per significant letter since the previous accented
// character and its accent nibble, then 0, padded to whole bytes) in place of that `00`.
void appendJet3TextKey(std::vector<uint8_t>& out, std::u16string_view text, bool ascending) {
  text = keyText(text);
  size_t start = out.size();
  std::vector<uint8_t> nibbles{0};
  bool accented = false;
  unsigned significant = 0;
  for (char16_t c : text) {
    int b = cp1252Byte(c);
    if (b < 0 || !textkey::kJet3Chars[b].known) notEncodable(c);
    const textkey::Jet3Char& e = textkey::kJet3Chars[b];
    out.insert(out.end(), e.codes, e.codes + e.count);
    if (e.accent != 0) {
      accented = true;
      nibbles.insert(nibbles.end(), significant, 2);
      nibbles.push_back(e.accent);
      significant = 0;
    } else if (significantLetter(static_cast<uint8_t>(b))) {
      ++significant;
    }
  }
  if (!accented) {
    out.push_back(0);
  } else {
    nibbles.push_back(0);
    if (nibbles.size() % 2) nibbles.push_back(0);
    for (size_t i = 0; i < nibbles.size(); i += 2)
      out.push_back(static_cast<uint8_t>(nibbles[i] << 4 | nibbles[i + 1]));
  }
  if (!ascending) invertFrom(out, start);
}

// Jet 4 body:
//   INLINE 01 ACCENTS [01 01 [KANA FF 02 80 FF 80 [FF]] [01 MOVED]] 00
// A character's position is the number of characters with inline bytes before it; ACCENTS
// holds one entry per position (filler 02 when the character has none), trailing bytes
// <= 02 dropped; a moved character records its position counted in ACCENTS bytes.
void appendJet4TextKey(std::vector<uint8_t>& out, std::u16string_view text, bool ascending) {
  text = keyText(text);
  size_t start = out.size();
  out.reserve(start + 2 * text.size() + 8);  // most characters give one or two inline bytes
  // Scratch kept between calls: a key is built for every row written.
  thread_local std::vector<uint8_t> accents, kanaFlags, moved;
  accents.clear();
  kanaFlags.clear();
  moved.clear();
  bool loneByte = false;              // ACCENTS starts with a mark that follows no letter
  size_t lastEntryEnd = 0;            // end (exclusive) of the newest entry in `accents`
  bool haveEntry = false;
  for (char16_t c : text) {
    const textkey::Jet4Run* r = findRun(c);
    if (!r) notEncodable(c);
    if (r->isCombining) {
      if (haveEntry) {
        accents[lastEntryEnd - 1] = static_cast<uint8_t>(accents[lastEntryEnd - 1] + r->combine);
      } else if (loneByte) {
        accents[0] = static_cast<uint8_t>(accents[0] + r->combine);
      } else {
        accents.insert(accents.begin(), r->combine);
        loneByte = true;
      }
      continue;
    }
    auto kind = static_cast<textkey::Jet4Kind>(r->kind);
    if (kind == textkey::Jet4Kind::Moved) {
      uint32_t q = static_cast<uint32_t>(accents.size()) - (loneByte ? 1u : 0u);
      uint16_t pos = static_cast<uint16_t>(0x8000u | ((7u + 4u * q) & 0x7FFFu));
      moved.insert(moved.end(), {static_cast<uint8_t>(pos >> 8), static_cast<uint8_t>(pos), 0x06,
                                 r->moved});
      continue;
    }
    if (r->inlineLen == 0) continue;  // ignored
    appendInline(out, *r, c);
    if (r->accentLen)
      accents.insert(accents.end(), r->accent, r->accent + r->accentLen);
    else
      accents.push_back(0x02);
    lastEntryEnd = accents.size();
    haveEntry = true;
    if (r->kana) kanaFlags.push_back(r->kana);
  }
  while (!accents.empty() && accents.back() <= 0x02) accents.pop_back();
  out.push_back(0x01);
  out.insert(out.end(), accents.begin(), accents.end());
  bool hasKana = !kanaFlags.empty();
  if (hasKana || !moved.empty()) {
    out.insert(out.end(), {0x01, 0x01});
    if (hasKana) {
      while (!kanaFlags.empty() && kanaFlags.back() == 3) kanaFlags.pop_back();
      for (size_t i = 0; i < kanaFlags.size(); i += 3) {
        uint8_t b = 0x80;
        for (size_t j = 0; j < 3 && i + j < kanaFlags.size(); ++j)
          b = static_cast<uint8_t>(b | kanaFlags[i + j] << (4 - 2 * j));
        out.push_back(b);
      }
      out.insert(out.end(), {0xFF, 0x02, 0x80, 0xFF, 0x80});
      if (!moved.empty()) out.push_back(0xFF);
    }
    if (!moved.empty()) {
      out.push_back(0x01);
      out.insert(out.end(), moved.begin(), moved.end());
    }
  }
  out.push_back(0x00);
  if (!ascending) {
    invertFrom(out, start);
    out.push_back(0x00);
  }
}

}  // namespace bv::storage
