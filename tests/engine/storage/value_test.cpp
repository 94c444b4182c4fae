#include "engine/storage/value.h"

#include <gtest/gtest.h>

namespace bv {
namespace {

TEST(Value, KindFollowsTheAlternativeHeld) {
  EXPECT_EQ(Value().kind(), Kind::Null);
  EXPECT_EQ(Value(true).kind(), Kind::Bool);
  EXPECT_EQ(Value(uint8_t{200}).kind(), Kind::Byte);
  EXPECT_EQ(Value(int16_t{-3}).kind(), Kind::Integer);
  EXPECT_EQ(Value(int32_t{7}).kind(), Kind::Long);
  EXPECT_EQ(Value(Currency{12345}).kind(), Kind::Currency);
  EXPECT_EQ(Value(1.5f).kind(), Kind::Single);
  EXPECT_EQ(Value(1.5).kind(), Kind::Double);
  EXPECT_EQ(Value(DateTime{2.25}).kind(), Kind::DateTime);
  EXPECT_EQ(Value(u"abc").kind(), Kind::Text);
  EXPECT_EQ(Value(Bytes{1, 2}).kind(), Kind::Binary);
  EXPECT_EQ(Value(Guid{}).kind(), Kind::Guid);
  EXPECT_EQ(Value(Decimal{}).kind(), Kind::Decimal);
}

TEST(Value, EqualityComparesKindAndContent) {
  EXPECT_EQ(Value(int32_t{5}), Value(int32_t{5}));
  EXPECT_NE(Value(int32_t{5}), Value(int16_t{5}));  // same number, other kind
  EXPECT_NE(Value(u"a"), Value(u"A"));              // storage equality is exact
  EXPECT_TRUE(Value().isNull());
  EXPECT_EQ(Value(u"xy").as<std::u16string>(), u"xy");
}

}  // namespace
}  // namespace bv
