// Value formatting of the export and the text decoders it relies on.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/storage/csv_export.h"
#include "engine/storage/database.h"
#include "engine/storage/text.h"

namespace bv::storage {
namespace {

std::string csv(const Value& v) {
  std::string s;
  appendCsvValue(v, s);
  return s;
}

std::string date(double d) {
  std::string s;
  appendDateTime(d, s);
  return s;
}

TEST(CsvFormat, DatesAroundTheEpochAndTheRangeEnds) {
  EXPECT_EQ(date(0), "1899-12-30 00:00:00");
  EXPECT_EQ(date(1.5), "1899-12-31 12:00:00");
  // Negative days: the fraction is still the time of day.
  EXPECT_EQ(date(-1.75), "1899-12-29 18:00:00");
  EXPECT_EQ(date(-0.5), "1899-12-30 12:00:00");
  EXPECT_EQ(date(36526), "2000-01-01 00:00:00");
  EXPECT_EQ(date(60), "1900-02-28 00:00:00");
  EXPECT_EQ(date(61), "1900-03-01 00:00:00");  // 1900 was not a leap year
  // Rounding to the second carries into the next day.
  EXPECT_EQ(date(1.0 - 1e-9), "1899-12-31 00:00:00");
  EXPECT_EQ(date(2958465 + 86399.0 / 86400), "9999-12-31 23:59:59");
  EXPECT_EQ(date(-657434), "0100-01-01 00:00:00");
  // Outside years 100..9999: the day number itself.
  EXPECT_EQ(std::strtod(date(3e6).c_str(), nullptr), 3e6);
  EXPECT_EQ(date(std::numeric_limits<double>::quiet_NaN()), "NaN");
}

TEST(CsvFormat, ExactNumbers) {
  EXPECT_EQ(csv(Value(Currency{35000})), "3.5000");
  EXPECT_EQ(csv(Value(Currency{-1})), "-0.0001");
  EXPECT_EQ(csv(Value(Currency{std::numeric_limits<int64_t>::min()})), "-922337203685477.5808");
  Decimal d;
  d.lo = 12345;
  d.scale = 2;
  EXPECT_EQ(csv(Value(d)), "123.45");
  d.negative = true;
  EXPECT_EQ(csv(Value(d)), "-123.45");
  d.lo = 5;
  d.scale = 4;
  EXPECT_EQ(csv(Value(d)), "-0.0005");
  d.lo = 0;
  EXPECT_EQ(csv(Value(d)), "0.0000") << "negative zero prints without a sign";
  Decimal big;
  big.hi = ~0ull;
  big.lo = ~0ull;
  EXPECT_EQ(csv(Value(big)), "340282366920938463463374607431768211455");
  EXPECT_EQ(csv(Value(int16_t{-32768})), "-32768");
  EXPECT_EQ(csv(Value(uint8_t{255})), "255");
}

TEST(CsvFormat, FloatsReadBackExactly) {
  EXPECT_EQ(csv(Value(0.1f)), "0.1");
  EXPECT_EQ(csv(Value(0.1)), "0.1");
  for (double x : {444.555, -1.7976931348623157e308, 5e-324, 1.0 / 3}) {
    const std::string s = csv(Value(x));
    EXPECT_EQ(std::strtod(s.c_str(), nullptr), x) << s;
  }
  for (float x : {3.4028235e38f, 1.4e-45f, -4821.037f, 1.0f / 3}) {
    const std::string s = csv(Value(x));
    EXPECT_EQ(std::strtof(s.c_str(), nullptr), x) << s;
  }
}

TEST(CsvFormat, TextBinaryGuidAndNull) {
  EXPECT_EQ(csv(Value()), "");
  EXPECT_EQ(csv(Value(true)), "1");
  EXPECT_EQ(csv(Value(false)), "0");
  EXPECT_EQ(csv(Value(u"say \"hi\", then\nleave")), "\"say \"\"hi\"\", then\nleave\"");
  EXPECT_EQ(csv(Value(u"")), "\"\"");
  EXPECT_EQ(csv(Value(u"Zürich 東京 \U0001F600")), "\"Zürich 東京 \U0001F600\"");
  EXPECT_EQ(csv(Value(std::u16string(1, char16_t{0xD800}) + u"x")), "\"\uFFFDx\"") << "unpaired surrogate";
  EXPECT_EQ(csv(Value(Bytes{0x00, 0xAB, 0x10})), "00ab10");
  EXPECT_EQ(csv(Value(Bytes{})), "\"\"") << "empty binary is not Null";
  Guid g;
  for (int i = 0; i < 16; ++i) g.bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  EXPECT_EQ(csv(Value(g)), "{03020100-0504-0706-0809-0A0B0C0D0E0F}");
}

TEST(TextDecoding, Jet4CompressedAndPlain) {
  const uint8_t plain[] = {'a', 0, 0x3A, 0x04, 'b', 0, 0x7F};  // odd trailing byte dropped
  EXPECT_EQ(decodeJet4Text(plain, sizeof plain), u"aкb");
  const uint8_t compressed[] = {0xFF, 0xFE, 'a', 0xE9, 'b'};
  EXPECT_EQ(decodeJet4Text(compressed, sizeof compressed), u"aéb");
  // A zero byte switches to two-byte units and back.
  const uint8_t mixed[] = {0xFF, 0xFE, 'a', 0x00, 0x3A, 0x04, 0x3D, 0xD8, 0x01, 0xDE, 0x00, 'z'};
  EXPECT_EQ(decodeJet4Text(mixed, sizeof mixed), u"aк\U0001F601z");
  const uint8_t empty[] = {0xFF, 0xFE};
  EXPECT_EQ(decodeJet4Text(empty, sizeof empty), u"");
}

TEST(TextDecoding, DirectCsvPathAgreesWithDecodedValue) {
  const std::vector<std::vector<uint8_t>> inputs = {
      {},
      {'"', 0, 'q', 0, '"', 0},
      {0xFF, 0xFE, '"', 'a', 0xE9, ',', '"'},
      {0xFF, 0xFE, 'a', 0x00, 0x3A, 0x04, 0x3D, 0xD8, 0x01, 0xDE, 0x00, 'z'},
      {0xFF, 0xFE, 'a', 0x00, 0x3A, 0x04, 0x7F},  // dangling byte in two-byte mode
      {0x3D, 0xD8, 0x00, 0xDE, 'a', 0, 'b', 0, 'c', 0, 'd', 0, 'e', 0, 0x00, 0xD8},
      {'a', 0, 'b', 0, 'c', 0, 'd', 0, 'e', 0, 'f', 0, 'g', 0, 'h', 0, 'i', 0},
  };
  for (const auto& in : inputs) {
    std::string direct;
    appendJet4CsvText(in.data(), in.size(), direct);
    EXPECT_EQ(direct, csv(Value(decodeJet4Text(in.data(), in.size()))));
  }
}

TEST(TextDecoding, CodePage1252) {
  const uint8_t bytes[] = {'A', 0x80, 0x81, 0x8D, 0x9F, 0xE9, 0xFF};
  EXPECT_EQ(decodeCodePage(bytes, sizeof bytes, 1252), u"A€\u0081\u008DŸéÿ");
}

TEST(TextDecoding, OtherSingleByteCodePages) {
  const uint8_t russian[] = {0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2, '!'};
  EXPECT_EQ(decodeCodePage(russian, sizeof russian, 1251), u"Привет!");
  const uint8_t polish[] = {0xA3, 0xF3, 0x64, 0x9F};
  EXPECT_EQ(decodeCodePage(polish, sizeof polish, 1250), u"Łódź");
  const uint8_t greek[] = {0xC1, 0xE8, 0xDE, 0xED, 0xE1};
  EXPECT_EQ(decodeCodePage(greek, sizeof greek, 1253), u"Αθήνα");
}

TEST(TextDecoding, Utf8RoundTripAndInvalidInput) {
  const std::u16string s = u"aé東\U0001F600";
  EXPECT_EQ(fromUtf8(toUtf8(s)), s);
  EXPECT_EQ(fromUtf8("a\xFF" "b\xC3"), u"a\uFFFDb\uFFFD");
  EXPECT_EQ(fromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD") << "overlong form";
}

TEST(Names, JetNameEqualsIgnoresCaseOnly) {
  EXPECT_TRUE(jetNameEquals(u"Orders", u"oRDERS"));
  EXPECT_TRUE(jetNameEquals(u"Ärger Łódź", u"äRGER łÓDŹ"));
  EXPECT_TRUE(jetNameEquals(u"Заказ", u"зАКАЗ"));
  EXPECT_FALSE(jetNameEquals(u"Cafe", u"Café"));
  EXPECT_FALSE(jetNameEquals(u"ab", u"abc"));
  EXPECT_FALSE(jetNameEquals(u"a[", u"A{"));
}

}  // namespace
}  // namespace bv::storage
