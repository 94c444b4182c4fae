// Format: named and custom formats as documented for VBA/Access, US English locale.
#include <gtest/gtest.h>

#include <vector>

#include "engine/sql/format.h"
#include "engine/sql/functions.h"
#include "tests/engine/sql/expr_test_support.h"

namespace bv::sql {
namespace {

using namespace bv::exprtest;

struct FormatCase {
  Value v;
  const char16_t* format;
  Value expected;
};

void runFormats(const std::vector<FormatCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(show(c.v) + " with \"" + narrow(c.format) + "\"");
    Value r = formatValue(c.v, c.format);
    EXPECT_EQ(r, c.expected) << "got " << show(r);
  }
}

TEST(ExprFormat, NamedNumberFormats) {
  runFormats({
      {D(1234.5), u"Currency", T(u"$1,234.50")},
      {D(-1234.5), u"Currency", T(u"($1,234.50)")},
      {Cur(12345678), u"currency", T(u"$1,234.57")},
      {D(1234.567), u"Fixed", T(u"1234.57")},
      {D(-0.5), u"Fixed", T(u"-0.50")},
      {D(1234.567), u"Standard", T(u"1,234.57")},
      {D(1234567.891), u"Standard", T(u"1,234,567.89")},
      {D(0.1234), u"Percent", T(u"12.34%")},
      {D(1234.5), u"Scientific", T(u"1.23E+03")},
      {D(0.000123), u"Scientific", T(u"1.23E-04")},
      {D(1234.5), u"General Number", T(u"1234.5")},
      {L(0), u"Yes/No", T(u"No")},
      {L(-1), u"Yes/No", T(u"Yes")},
      {Bo(true), u"True/False", T(u"True")},
      {L(0), u"On/Off", T(u"Off")},
      {T(u"12.5"), u"Fixed", T(u"12.50")},
      {T(u"abc"), u"Fixed", T(u"abc")},
      {N(), u"Currency", N()},
  });
}

TEST(ExprFormat, CustomNumberFormats) {
  runFormats({
      {D(5459.4), u"##,##0.00", T(u"5,459.40")},
      {D(334.9), u"###0.00", T(u"334.90")},
      {L(5), u"0.00%", T(u"500.00%")},
      {L(5), u"0.00", T(u"5.00")},
      {L(-5), u"0.00", T(u"-5.00")},
      {D(0.5), u"0.00", T(u"0.50")},
      {D(0.5), u"#,##0", T(u"1")},
      {D(2.5), u"0", T(u"3")},          // Format rounds halves away from zero
      {D(0.125), u"0.00", T(u"0.13")},
      {D(0.5), u"#.##", T(u".5")},
      {L(5), u"$#,##0;($#,##0)", T(u"$5")},
      {L(-5), u"$#,##0;($#,##0)", T(u"($5)")},
      {L(0), u"0.0;(0.0);\"Zero\"", T(u"Zero")},
      {N(), u"#,##0.00;;;Nil", T(u"Nil")},
      {N(), u"0.00", N()},
      {D(0.5), u"0%", T(u"50%")},
      {L(5), u"0.00E+00", T(u"5.00E+00")},
      {L(-5), u"0.00E+00", T(u"-5.00E+00")},
      {D(0.5), u"0.00E-00", T(u"5.00E-01")},
      {L(5), u"0.00E-00", T(u"5.00E00")},
      {L(123456789), u"000-00-0000", T(u"123-45-6789")},
      {L(1234567), u"#,##0", T(u"1,234,567")},
      {L(7), u"000", T(u"007")},
      {D(1234567.0), u"#,##0,", T(u"1,235")},   // a trailing comma divides by 1000
      {L(42), u"\"No. \"0", T(u"No. 42")},
      {D(9.996), u"0.00", T(u"10.00")},
  });
}

TEST(ExprFormat, Dates) {
  Value d = Dt(2024, 2, 29, 13, 45, 10);
  Value t = Dt(1899, 12, 30, 17, 4, 23);
  runFormats({
      {d, u"Short Date", T(u"2/29/2024")},
      {d, u"Long Date", T(u"Thursday, February 29, 2024")},
      {d, u"Medium Date", T(u"29-Feb-24")},
      {d, u"Long Time", T(u"1:45:10 PM")},
      {d, u"Medium Time", T(u"01:45 PM")},
      {d, u"Short Time", T(u"13:45")},
      {d, u"General Date", T(u"2/29/2024 1:45:10 PM")},
      {d, u"yyyy-mm-dd", T(u"2024-02-29")},
      {d, u"dd/mm/yy", T(u"29/02/24")},
      {d, u"mmm d, yyyy", T(u"Feb 29, 2024")},
      {d, u"dddd", T(u"Thursday")},
      {d, u"ddd", T(u"Thu")},
      {d, u"hh:mm:ss", T(u"13:45:10")},
      {d, u"h:mm AM/PM", T(u"1:45 PM")},
      {d, u"h:mm am/pm", T(u"1:45 pm")},
      {d, u"q", T(u"1")},
      {d, u"y", T(u"60")},
      {d, u"\"Day\" d", T(u"Day 29")},
      {t, u"h:m:s", T(u"17:4:23")},
      {t, u"hh:mm:ss AMPM", T(u"05:04:23 PM")},
      {Dt(1993, 1, 27), u"dddd, mmm d yyyy", T(u"Wednesday, Jan 27 1993")},
      {T(u"2/29/2024"), u"yyyy-mm-dd", T(u"2024-02-29")},
      {L(1), u"yyyy-mm-dd", T(u"1899-12-31")},
      {N(), u"yyyy-mm-dd", N()},
  });
}

TEST(ExprFormat, TextAndDefault) {
  runFormats({
      {T(u"HELLO"), u"<", T(u"hello")},
      {T(u"This is it"), u">", T(u"THIS IS IT")},
      {T(u"5551234567"), u"(@@@) @@@-@@@@", T(u"(555) 123-4567")},
      {T(u"ab"), u"@@@@", T(u"  ab")},
      {T(u"ab"), u"&&&&", T(u"ab")},
      {T(u"ab"), u"!@@@@", T(u"ab  ")},
      {D(1.5), u"", T(u"1.5")},
      {N(), u"", N()},
  });
  // Through the function table, with the format as the second argument.
  std::vector<Value> args{D(0.25), T(u"Percent")};
  EXPECT_EQ(callFunction(u"Format", args), T(u"25.00%"));
  EXPECT_EQ(callFunction(u"Format$", std::vector<Value>{D(3.14159), T(u"0.00")}), T(u"3.14"));
}

}  // namespace
}  // namespace bv::sql
