// The shell's text rules: command-line splitting, the application title, the text of a
// failure report and of the start-up failure.
#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "app/ShellText.h"

namespace {

// Arguments 1..4 of a command line.
std::vector<std::wstring> Args(const wchar_t* line) {
  std::vector<std::wstring> args;
  for (int n = 1; n <= 4; ++n) args.push_back(CommandLineArgument(line, n));
  return args;
}

using Strings = std::vector<std::wstring>;

TEST(CommandLine, NoArgumentsGiveEmptyTexts) {
  EXPECT_EQ(Args(L"Brimvale.exe"), (Strings{L"", L"", L"", L""}));
  EXPECT_EQ(Args(L"\"C:\\Program Files\\Brimvale.exe\"   "), (Strings{L"", L"", L"", L""}));
  EXPECT_EQ(Args(L""), (Strings{L"", L"", L"", L""}));
  EXPECT_EQ(CommandLineArgument(nullptr, 1), L"");
  EXPECT_EQ(CommandLineArgument(L"a b c", 0), L"");
}

TEST(CommandLine, QuotedPathAndStatementComeOutWithoutQuotes) {
  EXPECT_EQ(Args(L"\"C:\\Program Files\\Brimvale.exe\" \"C:\\Data Files\\shop.mdb\" "
                 L"\"DELETE FROM t WHERE id=3\""),
            (Strings{L"C:\\Data Files\\shop.mdb", L"DELETE FROM t WHERE id=3", L"", L""}));
}

TEST(CommandLine, BlanksAndControlCharactersSeparate) {
  EXPECT_EQ(Args(L"prog shop.mdb DELETE FROM t"), (Strings{L"shop.mdb", L"DELETE", L"FROM", L"t"}));
  EXPECT_EQ(Args(L"prog\ta\r\n\x01" L"b \x1f c"), (Strings{L"a", L"b", L"c", L""}));
  // Code 33 and above belong to an argument; so do characters above 0xFFFF's halves.
  EXPECT_EQ(Args(L"prog !x \x00e9t\x00e9 \xd83d\xde00"), (Strings{L"!x", L"\x00e9t\x00e9", L"\xd83d\xde00", L""}));
}

TEST(CommandLine, EmptyQuotePairsBetweenArgumentsAreSkipped) {
  // The empty pair cannot stand for an empty argument: the statement becomes argument 1.
  EXPECT_EQ(Args(L"prog \"\" \"UPDATE t SET a=1\""), (Strings{L"UPDATE t SET a=1", L"", L"", L""}));
  EXPECT_EQ(Args(L"prog \"\"\"\" \"\"x"), (Strings{L"x", L"", L"", L""}));
  // The program token is skipped like any other, even after skipped pairs.
  EXPECT_EQ(Args(L"\"\"prog a"), (Strings{L"a", L"", L"", L""}));
}

TEST(CommandLine, QuotesOpenAndCloseInsideAnArgument) {
  EXPECT_EQ(Args(L"prog a\"b c\"d e"), (Strings{L"ab cd", L"e", L"", L""}));
  EXPECT_EQ(Args(L"prog x\"\"y"), (Strings{L"xy", L"", L"", L""}));
  // An unclosed quote runs to the end of the line.
  EXPECT_EQ(Args(L"prog \"C:\\a b\\c.mdb"), (Strings{L"C:\\a b\\c.mdb", L"", L"", L""}));
}

TEST(CommandLine, InnerQuotesCannotBeEscaped) {
  // The statement's own quoted text loses its quotes and is cut at its blank; the rest of
  // the statement becomes argument 3.
  EXPECT_EQ(Args(L"prog db.mdb \"DELETE FROM t WHERE n=\"a b\"\""),
            (Strings{L"db.mdb", L"DELETE FROM t WHERE n=a", L"b", L""}));
  EXPECT_EQ(Args(L"prog \\\"x\\\" y"), (Strings{L"\\x\\", L"y", L"", L""}));
}

TEST(CommandLine, AnEmptyArgumentEndsTheList) {
  // Three quotes: the first pair is skipped, the third opens quoted text that stays empty.
  EXPECT_EQ(Args(L"prog \"\"\""), (Strings{L"", L"", L"", L""}));
  EXPECT_EQ(Args(L"prog a \"\"\""), (Strings{L"a", L"", L"", L""}));
  // ... unless something follows: quoted text runs to the end of the line.
  EXPECT_EQ(Args(L"prog \"\"\" later"), (Strings{L" later", L"", L"", L""}));
  // Quoted blanks are an argument, not an empty one.
  EXPECT_EQ(Args(L"prog \" \" x"), (Strings{L" ", L"x", L"", L""}));
}

TEST(ApplicationTitle, CutAtFirstDotAndLowerCasedAfterTheFirstCharacter) {
  EXPECT_EQ(ApplicationTitleFromPath(L"C:\\Tools\\MyTool.Exe"), L"Mytool");
  EXPECT_EQ(ApplicationTitleFromPath(L"C:\\Tools\\Data.Tool.exe"), L"Data");
  EXPECT_EQ(ApplicationTitleFromPath(L"Z:\\work\\build\\bin\\Brimvale.exe"), L"Brimvale");
  // Only the file name counts, not a dot in a folder name.
  EXPECT_EQ(ApplicationTitleFromPath(L"C:\\v1.2\\QUERY.EXE"), L"Query");
  EXPECT_EQ(ApplicationTitleFromPath(L"C:\\x\\aBC"), L"abc");
  EXPECT_EQ(ApplicationTitleFromPath(L"C:\\x\\\x00c9TUDE.exe"), L"\x00c9tude");
  EXPECT_EQ(ApplicationTitleFromPath(L"C:\\x\\\x00e9TUDE.exe"), L"\x00e9tude");
  EXPECT_EQ(ApplicationTitleFromPath(L"C:\\x\\.hidden.exe"), L"");
  EXPECT_EQ(ApplicationTitleFromPath(L""), L"");
}

TEST(FailureReport, FullStopOnlyAfterCharactersAboveTheDot) {
  EXPECT_EQ(FailureReportText(L"Cannot create DAO engine"), L"Cannot create DAO engine.");
  EXPECT_EQ(FailureReportText(L"Error 3"), L"Error 3.");
  EXPECT_EQ(FailureReportText(L"Really?"), L"Really?.");
  EXPECT_EQ(FailureReportText(L"Done."), L"Done.");
  EXPECT_EQ(FailureReportText(L"Stop!"), L"Stop!");
  EXPECT_EQ(FailureReportText(L"(see above)"), L"(see above)");
  EXPECT_EQ(FailureReportText(L"trailing "), L"trailing ");
  EXPECT_EQ(FailureReportText(L"a-b-"), L"a-b-");    // '-' is below '.'
  EXPECT_EQ(FailureReportText(L"a/b/"), L"a/b/.");   // '/' is above '.'
  EXPECT_EQ(FailureReportText(L"\x00e9"), L"\x00e9.");
  EXPECT_EQ(FailureReportText(L""), L"");
}

TEST(StartupFailure, RuntimeErrorTemplate) {
  EXPECT_EQ(RuntimeErrorText(217, 0x0040A1B2u), L"Runtime error 217 at 0040A1B2");
  EXPECT_EQ(RuntimeErrorText(217, 0xFFFFFFFFu), L"Runtime error 217 at FFFFFFFF");
  EXPECT_EQ(RuntimeErrorText(5, 0), L"Runtime error   5 at 00000000");
}

TEST(FailureText, NarrowMessagesAreDecoded) {
  EXPECT_EQ(WidenMessage("plain"), L"plain");
  EXPECT_EQ(WidenMessage("caf\xc3\xa9"), L"caf\x00e9");  // UTF-8
  EXPECT_EQ(WidenMessage(""), L"");
  EXPECT_EQ(WidenMessage(nullptr), L"");
  EXPECT_FALSE(WidenMessage("caf\xe9").empty());  // not UTF-8: the ANSI code page
}

}  // namespace
