// Key encoding: the published example keys, and order preservation for every numeric type.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "engine/storage/error.h"
#include "engine/storage/key_encode.h"
#include "engine/storage/text_key.h"

using namespace bv;
using namespace bv::storage;
using Bytes8 = std::vector<uint8_t>;

namespace {

Bytes8 hex(const char* s) {
  Bytes8 out;
  unsigned v = 0;
  int n = 0;
  for (; *s; ++s) {
    if (*s == ' ') continue;
    v = v << 4 | static_cast<unsigned>(isdigit(*s) ? *s - '0' : (tolower(*s) - 'a' + 10));
    if (++n == 2) out.push_back(static_cast<uint8_t>(v)), v = 0, n = 0;
  }
  return out;
}

Bytes8 text4(std::u16string_view t, bool asc = true) {
  Bytes8 out;
  appendJet4TextKey(out, t, asc);
  return out;
}
Bytes8 text3(std::u16string_view t, bool asc = true) {
  Bytes8 out;
  appendJet3TextKey(out, t, asc);
  return out;
}
Bytes8 key(ColType t, const Value& v, bool asc = true, bool jet4 = true) {
  Bytes8 out;
  appendKeyPart(out, KeyColumn{t, asc}, v, jet4);
  return out;
}

}  // namespace

TEST(IndexKeyJet4Text, KnownKeys) {
  EXPECT_EQ(text4(u"-1"), hex("38 01 01 01 01 80 07 06 82 00"));
  EXPECT_EQ(text4(u"-1", false), hex("C7 FE FE FE FE 7F F8 F9 7D FF 00"));
  EXPECT_EQ(text4(u"\x0003" u"DirData"), hex("4F 59 69 4F 4A 6D 4A 01 01 01 01 80 07 06 05 00"));
  for (const char16_t* e : {u"\u00e9", u"\u00c9", u"e\u0301"}) {
    EXPECT_EQ(text4(e), hex("51 01 0E 00"));
    EXPECT_EQ(text4(e, false), hex("AE FE F1 FF 00"));
  }
  EXPECT_EQ(text4(u"Ab  "), hex("4A 4C 01 00"));
  EXPECT_EQ(text4(u"Ab  ", false), hex("B5 B3 FE FF 00"));
  EXPECT_EQ(text4(u"a-b-c"), hex("4A 4C 4D 01 01 01 01 80 0B 06 82 80 0F 06 82 00"));
  EXPECT_EQ(text4(u"\u00e9-a"), hex("51 4A 01 0E 01 01 01 80 0B 06 82 00"));
  EXPECT_EQ(text4(u"\u01c4-a"), hex("4F 78 4A 01 02 14 01 01 01 80 0F 06 82 00"));
  EXPECT_EQ(text4(u"\u0301a-"), hex("4A 01 0C 01 01 01 80 0B 06 82 00"));
  EXPECT_EQ(text4(u"\u3041\u3042"), hex("7F 02 7F 02 01 01 01 A0 FF 02 80 FF 80 00"));
  EXPECT_EQ(text4(u"\u3041\u3041\u3041\u3041"),
            hex("7F 02 7F 02 7F 02 7F 02 01 01 01 AA A0 FF 02 80 FF 80 00"));
  EXPECT_EQ(text4(u"\u3041-"), hex("7F 02 01 01 01 A0 FF 02 80 FF 80 FF 01 80 0B 06 82 00"));
  EXPECT_EQ(text4(u"Jean-Luc Kov\u00e1cs"),
            hex("5B 51 4A 62 5E 6F 4D 07 5C 64 71 4A 4D 6B 01 02 02 02 02 02 02 02 02 02 02 02 0E "
                "01 01 01 80 17 06 82 00"));
}

TEST(IndexKeyJet4Text, EmptySpacesCaseAndLength) {
  EXPECT_EQ(text4(u""), hex("01 00"));
  EXPECT_EQ(text4(u"   "), hex("01 00"));
  EXPECT_EQ(text4(u"\uFEFF"), hex("01 00"));  // ignored character
  EXPECT_EQ(text4(u"HELLO"), text4(u"hello"));
  EXPECT_NE(text4(u"a\t"), text4(u"a"));      // only U+0020 is trimmed
  // Only the first 255 units count.
  std::u16string a(255, u'x'), b = a + u"yz";
  EXPECT_EQ(text4(a), text4(b));
  // Ordering of plain words follows the alphabet, not the code points of case.
  EXPECT_LT(text4(u"apple"), text4(u"Banana"));
  EXPECT_GT(text4(u"apple", false), text4(u"Banana", false));
}

TEST(IndexKeyJet4Text, RefusesCharactersWithoutSortData) {
  for (char16_t c : {u'\0', char16_t(0xD800), char16_t(0xDFFF), char16_t(0xFFFE), char16_t(0xFFFF)}) {
    std::u16string s = u"ab";
    s += c;
    try {
      text4(s);
      ADD_FAILURE() << "no error for U+" << std::hex << unsigned(c);
    } catch (const JetError& e) {
      EXPECT_EQ(e.number(), kErrKeyNotEncodable);
    }
  }
}

TEST(IndexKeyJet3Text, AccentNibblesAndCodePage) {
  EXPECT_EQ(text3(u"AA\u00c0AA"), hex("60 60 60 60 60 02 23 00"));
  EXPECT_EQ(text3(u"AA\u00c0AA", false), hex("9F 9F 9F 9F 9F FD DC FF"));
  EXPECT_EQ(text3(u"abc"), hex("60 61 62 00"));
  EXPECT_EQ(text3(u"ABC  "), text3(u"abc"));
  // Non-significant letters (b) do not count towards the accent position.
  EXPECT_EQ(text3(u"b\u00e9"), hex("61 66 04 00"));
  EXPECT_EQ(text3(u"e\u00e9"), hex("66 66 02 40"));
  // Ligatures expand; cp1252 characters above U+00FF map back to their byte.
  EXPECT_EQ(text3(u"\u00c6"), hex("60 66 00"));
  EXPECT_EQ(text3(u"\u0160"), hex("76 0A 00"));    // S caron: 0x8A
  EXPECT_EQ(text3(u"\u0081"), hex("10 00"));       // undefined byte kept as U+0081
  EXPECT_THROW(text3(u"\u4e00"), JetError);         // not in the code page
}

TEST(IndexKeyNumbers, FixedEncodings) {
  EXPECT_EQ(key(ColType::Long, int32_t(1)), hex("7F 80 00 00 01"));
  EXPECT_EQ(key(ColType::Long, int32_t(-1)), hex("7F 7F FF FF FF"));
  EXPECT_EQ(key(ColType::Long, int32_t(1), false), hex("80 7F FF FF FE"));
  EXPECT_EQ(key(ColType::Long, Value()), hex("00"));
  EXPECT_EQ(key(ColType::Long, Value(), false), hex("FF"));
  EXPECT_EQ(key(ColType::Byte, uint8_t(200)), hex("7F C8"));
  EXPECT_EQ(key(ColType::Bool, true), hex("7F 00"));
  EXPECT_EQ(key(ColType::Bool, false), hex("7F FF"));
  EXPECT_EQ(key(ColType::Bool, false, false), hex("80 00"));
  EXPECT_EQ(key(ColType::Double, 1.0), hex("7F BF F0 00 00 00 00 00 00"));
  EXPECT_EQ(key(ColType::Double, -1.0), hex("7F 40 0F FF FF FF FF FF FF"));
}

TEST(IndexKeyNumbers, KeyOrderFollowsValueOrder) {
  std::mt19937 rng(7);
  auto check = [&](ColType t, auto gen) {
    for (bool asc : {true, false}) {
      for (int i = 0; i < 2000; ++i) {
        auto a = gen(), b = gen();
        Bytes8 ka = key(t, Value(a), asc), kb = key(t, Value(b), asc);
        if (a == b) {
          EXPECT_EQ(ka, kb);
        } else {
          EXPECT_EQ((a < b) == asc, ka < kb) << "type " << int(t) << " " << +a << " " << +b;
        }
      }
    }
  };
  check(ColType::Byte, [&] { return static_cast<uint8_t>(rng()); });
  check(ColType::Integer, [&] { return static_cast<int16_t>(rng()); });
  check(ColType::Long, [&] { return static_cast<int32_t>(rng()); });
  std::uniform_real_distribution<double> d(-1e6, 1e6);
  check(ColType::Double, [&] { return rng() % 10 == 0 ? 0.0 : d(rng); });
  check(ColType::Single, [&] { return static_cast<float>(d(rng)); });
  for (bool asc : {true, false}) {
    Bytes8 lo = key(ColType::Currency, Currency{-5}, asc), hi = key(ColType::Currency, Currency{3}, asc);
    EXPECT_EQ(lo < hi, asc);
  }
}

TEST(IndexKeyBinary, SegmentsAndLengths) {
  EXPECT_EQ(key(ColType::Binary, Bytes{}), hex("7F"));
  EXPECT_EQ(key(ColType::Binary, Bytes{1, 2, 3}), hex("7F 01 02 03 00 00 00 00 00 03"));
  EXPECT_EQ(key(ColType::Binary, Bytes{1, 2, 3, 4, 5, 6, 7, 8}), hex("7F 0102030405060708 08"));
  EXPECT_EQ(key(ColType::Binary, Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}),
            hex("7F 0102030405060708 09 0900000000000000 01"));
  // Descending keeps the continuation byte as it is.
  EXPECT_EQ(key(ColType::Binary, Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}, false),
            hex("80 FEFDFCFBFAF9F8F7 09 F6FFFFFFFFFFFFFF FE"));
  Guid g;
  for (int i = 0; i < 16; ++i) g.bytes[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(key(ColType::Guid, g), hex("7F 0302010005040706 09 08090A0B0C0D0E0F 08"));
}

TEST(IndexKeyDecimal, NegativesFirstInBothDirections) {
  Decimal pos{false, 0, 5, 2, 18}, neg{true, 0, 5, 2, 18}, big{false, 1, 0, 2, 18};
  auto k = [&](const Decimal& d, bool asc) { return key(ColType::Decimal, d, asc); };
  EXPECT_EQ(k(pos, true), hex("7F FF 00000000000000000000000000000005"));
  EXPECT_EQ(k(neg, true), hex("7F 00 FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFA"));
  EXPECT_LT(k(neg, true), k(pos, true));
  EXPECT_LT(k(pos, true), k(big, true));
  EXPECT_LT(k(neg, false), k(pos, false));
  EXPECT_GT(k(pos, false), k(big, false));
}

TEST(IndexKeyErrors, WrongKindAndUnindexableType) {
  EXPECT_THROW(key(ColType::Long, Value(u"x")), JetError);
  EXPECT_THROW(key(ColType::Complex, Value(Bytes{1})), JetError);
  KeyColumn cols[2] = {{ColType::Long, true}, {ColType::Text, true}};
  Value vals[1] = {Value(int32_t(1))};
  EXPECT_THROW(encodeKey(cols, std::span<const Value>(vals, 1), true), JetError);
  Value two[2] = {Value(int32_t(1)), Value(u"a")};
  EXPECT_EQ(encodeKey(cols, two, true), hex("7F 80000001 7F 4A 01 00"));
}
