// Text collation of comparisons and sorting: the General sort order of the file's format
// (Jet 4's, or Access 97's for Jet 3 files).
//
// Two texts compare as their ascending index keys do (case ignored, accents secondary,
// hyphens and apostrophes last), so that a comparison in an expression agrees with the
// order of a text index. The key covers only the first 255 characters and leaves out
// trailing spaces; when two keys are equal, the trailing spaces and then the rest of a
// longer text decide, so that only texts differing in case alone compare equal.
#include <algorithm>
#include <functional>
#include <string>
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

// Most text is printable ASCII, where every character (except the apostrophe and the
// hyphen, which the order moves to the end of the key) has a key of one or two inline
// bytes and no accent part: such texts compare by those bytes alone, without building
// keys.
struct AsciiWeights {
  uint8_t bytes[128][2] = {};
  uint8_t length[128] = {};
  bool usable = true;
  AsciiWeights() {
    std::vector<uint8_t> k;
    for (char16_t c = 0x21; c < 0x7F; ++c) {
      if (c == u'\'' || c == u'-') continue;
      k.clear();
      storage::appendJet4TextKey(k, std::u16string_view(&c, 1), true);
      size_t n = k.size() - 2;
      if (k.size() < 3 || k.size() > 4 || k[n] != 1 || k[n + 1] != 0) {
        usable = false;
        continue;
      }
      length[c] = static_cast<uint8_t>(n);
      for (size_t i = 0; i < n; ++i) bytes[c][i] = k[i];
    }
    // A space only counts inside a text ("a a"), a lone one is trailing.
    k.clear();
    storage::appendJet4TextKey(k, u"a a", true);
    size_t la = length[u'a'];
    if (k.size() != 2 * la + 3) {
      usable = false;
    } else {
      length[u' '] = 1;
      bytes[u' '][0] = k[la];
    }
  }
};

// Walks the inline bytes of a plain ASCII text.
class InlineBytes {
 public:
  InlineBytes(const AsciiWeights& w, std::u16string_view s) : w_(w), s_(s) {}
  int next() {  // -1 at the end
    if (i_ >= s_.size()) return -1;
    char16_t c = s_[i_];
    int b = w_.bytes[c][j_];
    if (++j_ >= w_.length[c]) {
      j_ = 0;
      ++i_;
    }
    return b;
  }

 private:
  const AsciiWeights& w_;
  std::u16string_view s_;
  size_t i_ = 0, j_ = 0;
};

bool plainAscii(std::u16string_view s) {
  for (char16_t c : s)
    if (c < 0x20 || c >= 0x7F || c == u'\'' || c == u'-') return false;
  return true;
}

// The tie-break once two keys are equal: trailing spaces, then what lies past the key.
int afterEqualKeys(std::u16string_view a, std::u16string_view b) {
  std::u16string_view ha = a.substr(0, std::min(a.size(), kKeyChars));
  std::u16string_view hb = b.substr(0, std::min(b.size(), kKeyChars));
  size_t sa = trailingSpaces(ha), sb = trailingSpaces(hb);
  if (sa != sb) return sa < sb ? -1 : 1;
  return compareFolded(a.substr(ha.size()), b.substr(hb.size()));
}

int compareAscii(const AsciiWeights& w, std::u16string_view a, std::u16string_view b) {
  std::u16string_view ka = a.substr(0, std::min(a.size(), kKeyChars));
  std::u16string_view kb = b.substr(0, std::min(b.size(), kKeyChars));
  ka.remove_suffix(trailingSpaces(ka));
  kb.remove_suffix(trailingSpaces(kb));
  InlineBytes sa(w, ka), sb(w, kb);
  for (;;) {
    int x = sa.next(), y = sb.next();
    if (x != y) return x < y ? -1 : 1;  // the end (-1) sorts first: the key goes on with 01
    if (x < 0) break;
  }
  return afterEqualKeys(a, b);
}

void appendKey(std::vector<uint8_t>& out, std::u16string_view s, TextOrder order) {
  if (order == TextOrder::Jet3) storage::appendJet3TextKey(out, s, true);
  else storage::appendJet4TextKey(out, s, true);
}

// Keys of recently compared texts. A join or a sort compares the same texts over and
// over, and building a key is the costly part. Short texts get a table that grows with the
// number of keys built (a statement comparing a few hundred texts should not pay for
// filling a large one); long ones (a long constant compared with every row) a small one.
class KeyCache {
 public:
  explicit KeyCache(TextOrder order) : order_(order) {}
  // The key of `s`, or nullptr when the sort order has no key for one of its characters.
  // `avoid` is a key the caller still holds, which must not be overwritten.
  const std::vector<uint8_t>* keyOf(std::u16string_view s, const std::vector<uint8_t>* avoid) {
    Entry* e = nullptr;
    if (s.size() <= kCachedChars * 8) {
      growIfBusy(avoid);
      size_t h = std::hash<std::u16string_view>()(s);
      e = s.size() <= kCachedChars ? &slots_[h % slots_.size()] : &longSlots_[h % kLongSlots];
      if (e->filled && e->text == s) return e->encodable ? &e->key : nullptr;
      if (&e->key == avoid) e = nullptr;
    }
    if (!e) e = &scratch_[&scratch_[0].key == avoid ? 1 : 0];
    ++built_;
    e->text.assign(s);
    e->key.clear();
    e->filled = true;
    try {
      appendKey(e->key, s, order_);
      e->encodable = true;
    } catch (const JetError&) {
      e->encodable = false;
    }
    return e->encodable ? &e->key : nullptr;
  }

 private:
  static constexpr size_t kFirstSlots = 64;
  static constexpr size_t kMaxSlots = 4096;
  static constexpr size_t kLongSlots = 64;
  static constexpr size_t kCachedChars = 64;
  struct Entry {
    std::u16string text;
    std::vector<uint8_t> key;
    bool filled = false;
    bool encodable = false;
  };

  // Once many keys were built for the table's size, a larger table starts empty. Never while
  // the caller holds a key from the table (`avoid`), which the swap would free.
  void growIfBusy(const std::vector<uint8_t>* avoid) {
    if (slots_.empty()) {
      slots_.resize(kFirstSlots);
      longSlots_.resize(kLongSlots);
      return;
    }
    if (built_ < slots_.size() * 4 || slots_.size() >= kMaxSlots || avoid) return;
    slots_ = std::vector<Entry>(slots_.size() * 8 > kMaxSlots ? kMaxSlots : slots_.size() * 8);
    built_ = 0;
  }

  TextOrder order_;
  size_t built_ = 0;
  std::vector<Entry> slots_;
  std::vector<Entry> longSlots_;
  Entry scratch_[2];
};

thread_local TextOrder tlsOrder = TextOrder::Jet4;

// Jet 4 keys leave U+0000 out: texts holding it compare as if it were not there.
bool holdsNul(std::u16string_view s) { return s.find(char16_t(0)) != std::u16string_view::npos; }
std::u16string withoutNul(std::u16string_view s) {
  std::u16string out;
  for (char16_t c : s)
    if (c) out.push_back(c);
  return out;
}

int compareKeyed(std::u16string_view a, std::u16string_view b, TextOrder order) {
  thread_local KeyCache jet4(TextOrder::Jet4), jet3(TextOrder::Jet3);
  KeyCache& cache = order == TextOrder::Jet3 ? jet3 : jet4;
  const std::vector<uint8_t>* ka = cache.keyOf(a, nullptr);
  const std::vector<uint8_t>* kb = ka ? cache.keyOf(b, ka) : nullptr;
  if (!ka || !kb) return compareFolded(a, b);
  if (*ka != *kb) return *ka < *kb ? -1 : 1;
  return afterEqualKeys(a, b);
}

}  // namespace

TextOrder currentTextOrder() { return tlsOrder; }

TextOrderScope::TextOrderScope(TextOrder order) : saved_(tlsOrder) { tlsOrder = order; }
TextOrderScope::~TextOrderScope() { tlsOrder = saved_; }

int compareText(std::u16string_view a, std::u16string_view b) {
  static const AsciiWeights ascii;
  TextOrder order = tlsOrder;
  if (order == TextOrder::Jet4) {
    if (ascii.usable && plainAscii(a) && plainAscii(b)) return compareAscii(ascii, a, b);
    if (holdsNul(a) || holdsNul(b)) {
      int c = compareKeyed(withoutNul(a), withoutNul(b), order);
      return c ? c : compareFolded(a, b);
    }
  }
  return compareKeyed(a, b, order);
}

void appendTextBucket(std::u16string_view s, std::string& out) {
  TextOrder order = tlsOrder;
  std::u16string stripped;
  if (order == TextOrder::Jet4 && holdsNul(s)) {
    stripped = withoutNul(s);
    s = stripped;
  }
  std::vector<uint8_t> key;
  try {
    appendKey(key, s, order);
  } catch (const JetError&) {
    key.clear();
    for (char16_t c : s) {
      char16_t f = fold(c);
      key.push_back(uint8_t(f >> 8));
      key.push_back(uint8_t(f));
    }
  }
  out.append(reinterpret_cast<const char*>(key.data()), key.size());
  out.push_back('\0');
}

}  // namespace bv::sql
