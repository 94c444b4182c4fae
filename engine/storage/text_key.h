// Text index keys in the "General" sort order (LCID 1033), Jet 3 and Jet 4.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace bv::storage {

// Jet error raised when a value holds a character the sort order gives no key for (the key
// cannot be built, so the row must not be written into an index).
inline constexpr int32_t kErrKeyNotEncodable = 3251;

// Appends the key body of `text` (what follows the 0x7F / 0x80 flag byte) for an index
// column. Only the first 255 UTF-16 units count and trailing spaces are ignored. `ascending`
// false gives the descending form. Throws JetError(kErrKeyNotEncodable) for a character
// without sort data (Jet 4: U+0000, lone surrogates, U+FFFE/U+FFFF; Jet 3: anything outside
// code page 1252 and the bytes 0x00 and 0x1A).
void appendJet3TextKey(std::vector<uint8_t>& out, std::u16string_view text, bool ascending);
void appendJet4TextKey(std::vector<uint8_t>& out, std::u16string_view text, bool ascending);

// The code-page-1252 byte of a UTF-16 unit, or -1 when it has none. The five bytes that
// code page leaves undefined stand for U+0081, U+008D, U+008F, U+0090, U+009D.
int cp1252Byte(char16_t c);

}  // namespace bv::storage
