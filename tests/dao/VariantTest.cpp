// Conversion of the shared Variant into the automation variant handed to the engine.
#include <gtest/gtest.h>

#include "dao/OpDAO3x.h"

namespace {

struct Converted {
  VARIANT Value;
  explicit Converted(const Variant& v) {
    VariantInit(&Value);
    ToAutomationVariant(v, Value);
  }
  ~Converted() { VariantClear(&Value); }
};

TEST(VariantConversion, IntegerKindsAreWidenedOrKept) {
  struct Case {
    Variant In;
    VARTYPE Type;
    double Value;
  };
  const Case cases[] = {
      {Variant(int8_t(-5)), VT_I4, -5},
      {Variant(uint8_t(128)), VT_I4, 128},
      {Variant(uint8_t(255)), VT_I4, 255},
      {Variant(uint16_t(65535)), VT_I4, 65535},
      {Variant(uint32_t(0x7FFFFFFF)), VT_I4, 2147483647.0},
      {Variant(uint32_t(0x80000000)), VT_R8, 2147483648.0},
      {Variant(uint32_t(0xFFFFFFFF)), VT_R8, 4294967295.0},
      {Variant(int64_t(-2147483648LL)), VT_I4, -2147483648.0},
      {Variant(int64_t(2147483647LL)), VT_I4, 2147483647.0},
      {Variant(int64_t(2147483648LL)), VT_I8, 2147483648.0},
      {Variant(int64_t(-2147483649LL)), VT_I8, -2147483649.0},
      {Variant(int16_t(-7)), VT_I2, -7},
      {Variant(int32_t(-9)), VT_I4, -9},
  };
  for (const Case& c : cases) {
    Converted out(c.In);
    ASSERT_EQ(out.Value.vt, c.Type) << "input type " << c.In.Type();
    double got = out.Value.vt == VT_I4 ? out.Value.lVal
                 : out.Value.vt == VT_I2 ? out.Value.iVal
                 : out.Value.vt == VT_I8 ? static_cast<double>(out.Value.llVal)
                                         : out.Value.dblVal;
    EXPECT_EQ(got, c.Value) << "input type " << c.In.Type();
  }
}

TEST(VariantConversion, OtherKindsAreCopiedUnchanged) {
  Converted f(Variant(false));
  EXPECT_EQ(f.Value.vt, VT_BOOL);
  EXPECT_EQ(f.Value.boolVal, VARIANT_FALSE);
  Converted t(Variant(true));
  EXPECT_EQ(t.Value.boolVal, VARIANT_TRUE);
  Converted e(Variant::Error(DISP_E_PARAMNOTFOUND));
  EXPECT_EQ(e.Value.vt, VT_ERROR);
  EXPECT_EQ(e.Value.scode, DISP_E_PARAMNOTFOUND);
  Converted d(Variant(2.5));
  EXPECT_EQ(d.Value.vt, VT_R8);
  EXPECT_EQ(d.Value.dblVal, 2.5);
}

TEST(VariantConversion, OwnTextBecomesBStrWithEveryCharacter) {
  const std::wstring text(L" a\0b \x263A", 6);
  Variant v(text);
  EXPECT_EQ(v.Type(), VarUString);
  Converted out(v);
  ASSERT_EQ(out.Value.vt, VT_BSTR);
  EXPECT_EQ(BStrToWide(out.Value.bstrVal), text);
  // The conversion leaves the source alone, and copies of it are independent.
  Variant copy = v;
  v = Variant(L"other");
  EXPECT_EQ(copy.Text(), text);
}

TEST(VariantConversion, ReferenceToVariantIsFollowedAndConverted) {
  Variant target(uint8_t(128));
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_VARIANT | VT_BYREF;
  ref.pvarVal = const_cast<VARIANT*>(&target.Raw());
  VARIANT out;
  VariantInit(&out);
  ToAutomationVariant(ref, out);
  EXPECT_EQ(out.vt, VT_I4);
  EXPECT_EQ(out.lVal, 128);
  VariantClear(&out);

  // A reference to our own text kind becomes a BSTR as well.
  Variant text(L"abc");
  ref.pvarVal = const_cast<VARIANT*>(&text.Raw());
  ToAutomationVariant(ref, out);
  ASSERT_EQ(out.vt, VT_BSTR);
  EXPECT_EQ(BStrToWide(out.bstrVal), L"abc");
  VariantClear(&out);
}

TEST(VariantConversion, BrokenReferencesFailInsteadOfCrashing) {
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_VARIANT | VT_BYREF;
  ref.pvarVal = nullptr;
  VARIANT out;
  VariantInit(&out);
  EXPECT_THROW(ToAutomationVariant(ref, out), Exception);
  ref.pvarVal = &ref;   // refers to itself
  EXPECT_THROW(ToAutomationVariant(ref, out), Exception);
  EXPECT_EQ(out.vt, VT_EMPTY);
}

TEST(VariantConversion, UnknownTypeFails) {
  VARIANT bad;
  VariantInit(&bad);
  bad.vt = 0x0FFF;
  VARIANT out;
  VariantInit(&out);
  EXPECT_THROW(ToAutomationVariant(bad, out), Exception);
}

TEST(ExceptionText, WhatIsUtf8OfTheMessage) {
  Exception e(std::wstring(L"caf\x00E9 \xD83D\xDE00 \xD800!"));
  EXPECT_EQ(e.Message(), std::wstring(L"caf\x00E9 \xD83D\xDE00 \xD800!"));
  EXPECT_STREQ(e.what(), "caf\xC3\xA9 \xF0\x9F\x98\x80 \xEF\xBF\xBD!");
}

}  // namespace
