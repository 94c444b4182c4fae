// Reading the optional VARIANT arguments, Execute's option bits and the connect string.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include "engine/server/boundary.h"
#include "engine/server/connect_string.h"
#include "engine/server/create_options.h"
#include "engine/server/execute_options.h"
#include "engine/server/variant_args.h"
#include "engine/storage/error.h"

using namespace bv::server;

namespace {

VARIANT of(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  return v;
}
VARIANT missing() {
  VARIANT v = of(VT_ERROR);
  v.scode = DISP_E_PARAMNOTFOUND;
  return v;
}
VARIANT vbool(bool b) {
  VARIANT v = of(VT_BOOL);
  v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

HRESULT failureOf(void (*f)()) {
  try {
    f();
  } catch (const ComFailure& e) {
    return e.hr();
  }
  return S_OK;
}

int jetNumberOf(int64_t bits) {
  try {
    decodeExecuteOptions(bits);
  } catch (const bv::JetError& e) {
    return e.number();
  }
  return 0;
}

}  // namespace

TEST(VariantArguments, FlagsTakeBooleansIntegersAndOmission) {
  EXPECT_FALSE(flagArgument(missing(), "Options"));
  EXPECT_FALSE(flagArgument(of(VT_EMPTY), "Options"));
  EXPECT_TRUE(flagArgument(vbool(true), "Options"));
  EXPECT_FALSE(flagArgument(vbool(false), "Options"));
  VARIANT i2 = of(VT_I2);
  i2.iVal = -1;  // True as some clients pass it
  EXPECT_TRUE(flagArgument(i2, "Options"));
  VARIANT ui1 = of(VT_UI1);
  ui1.bVal = 0;
  EXPECT_FALSE(flagArgument(ui1, "Options"));
  // By reference, and a VARIANT by reference to one.
  VARIANT_BOOL yes = VARIANT_TRUE;
  VARIANT byRef = of(VT_BOOL | VT_BYREF);
  byRef.pboolVal = &yes;
  EXPECT_TRUE(flagArgument(byRef, "ReadOnly"));
  VARIANT inner = vbool(true), outer = of(VT_VARIANT | VT_BYREF);
  outer.pvarVal = &inner;
  EXPECT_TRUE(flagArgument(outer, "ReadOnly"));
}

TEST(VariantArguments, WrongKindsAreTypeMismatches) {
  EXPECT_EQ(failureOf([] {
              VARIANT text = of(VT_BSTR);
              text.bstrVal = nullptr;
              flagArgument(text, "Options");
            }),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(failureOf([] { flagArgument(of(VT_NULL), "Options"); }), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(failureOf([] { integerArgument(of(VT_R8), "Options", 0); }), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(failureOf([] {
              VARIANT other = of(VT_ERROR);
              other.scode = E_FAIL;  // an error value that is not the omitted marker
              integerArgument(other, "Options", 0);
            }),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(failureOf([] { textArgument(vbool(true), "Connect"); }), DISP_E_TYPEMISMATCH);
  try {
    flagArgument(of(VT_DATE), "ReadOnly");
    FAIL() << "no failure";
  } catch (const ComFailure& e) {
    EXPECT_EQ(e.number(), 13);
    EXPECT_NE(std::string(e.what()).find("ReadOnly"), std::string::npos);
  }
}

TEST(VariantArguments, IntegersOfEveryWidth) {
  VARIANT v = of(VT_UI1);
  v.bVal = 128;
  EXPECT_EQ(integerArgument(v, "Options", 0), 128);
  v = of(VT_I4);
  v.lVal = -5;
  EXPECT_EQ(integerArgument(v, "Options", 0), -5);
  v = of(VT_UI8);
  v.ullVal = ~0ull;  // beyond int64: not an integer the engine can take
  EXPECT_FALSE(integerOf(v).has_value());
  LONG target = 512;
  v = of(VT_I4 | VT_BYREF);
  v.plVal = &target;
  EXPECT_EQ(integerArgument(v, "Options", 0), 512);
  EXPECT_EQ(integerArgument(missing(), "Options", 7), 7);
}

TEST(ExecuteOptions, JetBitsAreAcceptedOthersRefusedWith3001) {
  EXPECT_TRUE(decodeExecuteOptions(128).failOnError);
  EXPECT_FALSE(decodeExecuteOptions(0).failOnError);
  EXPECT_TRUE(decodeExecuteOptions(1 | 16 | 128 | 512).failOnError);
  EXPECT_FALSE(decodeExecuteOptions(32).failOnError);
  EXPECT_EQ(jetNumberOf(64), 3001);       // pass-through
  EXPECT_EQ(jetNumberOf(1024), 3001);     // ODBCDirect only
  EXPECT_EQ(jetNumberOf(16 | 32), 3001);  // contradictory
  EXPECT_EQ(jetNumberOf(4), 3001);        // not an Execute option
  EXPECT_EQ(jetNumberOf(0x10000 | 128), 3001);
  EXPECT_EQ(jetNumberOf(-1), 3001);
}

TEST(ConnectString, PasswordAndDatabaseType) {
  EXPECT_EQ(parseConnect(L"").password, u"");
  EXPECT_EQ(parseConnect(L";PWD=secret").password, u"secret");
  EXPECT_EQ(parseConnect(L"MS Access;pwd=a b;").password, u"a b");
  EXPECT_EQ(parseConnect(L"ms access; Pwd =x=y;UID=admin").password, u"x=y");
  EXPECT_EQ(parseConnect(L";UID=admin").password, u"");
  try {
    parseConnect(L"ODBC;DSN=sales");
    FAIL() << "no failure";
  } catch (const bv::JetError& e) {
    EXPECT_EQ(e.number(), 3170);
  }
}

TEST(CreateArguments, LocaleAndFormatBits) {
  CreateRequest r = decodeCreateArguments(L";LANGID=0x0409;CP=1252;COUNTRY=0", 0);
  EXPECT_EQ(r.version, bv::storage::JetVersion::Jet4);
  EXPECT_EQ(r.options.sortOrder, 1033);
  EXPECT_EQ(r.options.codePage, 1252);
  r = decodeCreateArguments(L";langid=1049; cp = 1251", 32 | 4);
  EXPECT_EQ(r.version, bv::storage::JetVersion::Jet3);
  EXPECT_EQ(r.options.sortOrder, 1049);
  EXPECT_EQ(r.options.codePage, 1251);
  EXPECT_EQ(decodeCreateArguments(L"", 64).options.sortOrder, 1033);  // the General order
  auto number = [](const wchar_t* locale, int64_t bits) {
    try {
      decodeCreateArguments(locale, bits);
    } catch (const bv::JetError& e) {
      return e.number();
    }
    return 0;
  };
  EXPECT_EQ(number(L";LANGID=zulu", 0), 3001);
  EXPECT_EQ(number(L"", 32 | 64), 3001);
  EXPECT_EQ(number(L"", 2 | 4), 3001);
  EXPECT_EQ(number(L"", 0x100), 3001);
  EXPECT_EQ(number(L"", 1), 3251);
  EXPECT_EQ(number(L"", 2), 3251);
  EXPECT_EQ(number(L";PWD=x", 0), 3251);
  EXPECT_EQ(number(L";PWD=", 0), 0);
}
