// Text collation of comparisons and sorting: Jet 4's General sort order.
//
// Two texts compare as their ascending index keys do (case ignored, accents secondary,
// hyphens and apostrophes last), so that a comparison in an expression agrees with the
// order of a text index. The key covers only the first 255 characters and leaves out
// trailing spaces; when two keys are equal, the trailing spaces and then the rest of a
// longer text decide, so that only texts differing in case alone compare equal.
#include <string_view>
#include <vector>

#include "engine/sql/value_ops.h"
#include "engine/storage/text_key.h"

namespace bv::sql {
namespace {

constexpr size_t kKeyChars = 255;

char16_t fold(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
  return c;
}

// Case-insensitive comparison by code unit: used for what the key does not cover and for
// characters the sort order has no place for (U+0000, unpaired surrogates).
int compareFolded(std::u16string_view a, std::u16string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char16_t x = fold(a[i]), y = fold(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

size_t trailingSpaces(std::u16string_view s) {
  size_t n = 0;
  while (n < s.size() && s[s.size() - 1 - n] == u' ') ++n;
  return n;
}

}  // namespace

int compareText(std::u16string_view a, std::u16string_view b) {
  thread_local std::vector<uint8_t> ka, kb;
  ka.clear();
  kb.clear();
  try {
    storage::appendJet4TextKey(ka, a, true);
    storage::appendJet4TextKey(kb, b, true);
  } catch (const JetError&) {
    return compareFolded(a, b);
  }
  if (ka != kb) return ka < kb ? -1 : 1;
  std::u16string_view ha = a.substr(0, std::min(a.size(), kKeyChars));
  std::u16string_view hb = b.substr(0, std::min(b.size(), kKeyChars));
  size_t sa = trailingSpaces(ha), sb = trailingSpaces(hb);
  if (sa != sb) return sa < sb ? -1 : 1;
  return compareFolded(a.substr(ha.size()), b.substr(hb.size()));
}

}  // namespace bv::sql
