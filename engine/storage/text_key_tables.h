// Per-character data of the "General" sort order that text index keys are built from.
// The tables themselves are generated (scripts/gen_text_key_tables.py).
#pragma once

#include <cstdint>

namespace bv::storage::textkey {

// One code-page-1252 byte in a Jet 3 key.
struct Jet3Char {
  uint8_t known;      // 0: no established code for this byte
  uint8_t count;      // inline codes (0..2)
  uint8_t codes[2];
  uint8_t accent;     // accent nibble (0 = unaccented)
};
extern const Jet3Char kJet3Chars[256];

enum class Jet4Kind : uint8_t { Plain, Accent, Kana, Moved, Combining, Ignored };

// A run of UTF-16 code points [first, last] sharing their data. With step = 1 the inline
// bytes, read as one big-endian number, grow by one per code point.
struct Jet4Run {
  uint16_t first, last;
  uint8_t step;
  uint8_t kind;         // Jet4Kind
  uint8_t inlineLen;
  uint8_t inlineBytes[4];
  uint8_t accentLen;    // 0: the filler 02 stands for this character
  uint8_t accent[2];
  uint8_t isCombining;
  uint8_t combine;      // added to the previous character's accent entry
  uint8_t moved;        // code in the moved-character section (kind Moved)
  uint8_t kana;         // 2 or 3; 0 = not kana-flagged
};
extern const Jet4Run kJet4Runs[];
extern const unsigned kJet4RunCount;

}  // namespace bv::storage::textkey
