// Text as Jet stores it: code-page bytes (Jet 3), UCS-2 or compressed Unicode (Jet 4);
// Jet's case-insensitive name comparison.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace bv::storage {

// Decodes code-page bytes. Code page 1252 (and 0, meaning the database default) is
// decoded as Windows does, including its five undefined bytes, which map to U+0081 etc.;
// so are the other single-byte Windows code pages (874, 1250, 1251, 1253-1258). Any other
// code page: bytes below 0x80 as ASCII, the rest as Latin-1.
std::u16string decodeCodePage(const uint8_t* p, size_t n, uint16_t codePage);

// Bytes 0x80-0xFF of a single-byte code page other than 1252, or nullptr if not known.
const char16_t* codePageHighHalf(uint16_t codePage);

// Jet 4 text: `FF FE` starts compressed mode (one byte per character, a 00 byte toggles
// between compressed and two-byte mode); otherwise UTF-16LE. An odd trailing byte is dropped.
std::u16string decodeJet4Text(const uint8_t* p, size_t n);

// Simple case folding used for object names (upper case for Latin-1, Latin Extended-A,
// Greek and Cyrillic letters; other characters unchanged).
char16_t foldCase(char16_t c);

}  // namespace bv::storage
