// Brimvale does its real job under Wine: the real program with our engine (daoengine.dll)
// registered, run on copies of Access files. Successful runs are checked on the file itself
// with mdb-export, an independent reader; failed runs by the "ERROR" box and its text.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "ui_driver.h"

using ui::Brimvale;
using ui::Narrow;

namespace {

const std::string kOutDir = BV_UI_OUTPUT_DIR;

DWORD RunAndWait(std::wstring cmd) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return 0xFFFFFFFF;
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

class EngineRegistration : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_EQ(RunAndWait(L"regsvr32.exe /s \"" + ui::WinPath(BV_DAOENGINE_DLL) + L"\""), 0u)
        << "regsvr32 failed";
  }
};
const auto* const kRegistration = ::testing::AddGlobalTestEnvironment(new EngineRegistration);

// A writable copy of a fixture in the output folder (a Linux path, so that mdb-export can
// read it too); "" when the shared fixtures are absent.
std::string CopyFixture(const char* relative, const char* name) {
  const std::string source = std::string(BV_FIXTURES_DIR) + "/" + relative;
  if (GetFileAttributesW(ui::WinPath(source).c_str()) == INVALID_FILE_ATTRIBUTES) return {};
  CreateDirectoryW(ui::WinPath(kOutDir + "/work").c_str(), nullptr);
  const std::string dest = kOutDir + "/work/" + name;
  SetFileAttributesW(ui::WinPath(dest).c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!CopyFileW(ui::WinPath(source).c_str(), ui::WinPath(dest).c_str(), FALSE)) return {};
  SetFileAttributesW(ui::WinPath(dest).c_str(), FILE_ATTRIBUTE_NORMAL);
  return dest;
}

#define REQUIRE_COPY(var, rel, name)                \
  const std::string var = CopyFixture(rel, name);   \
  if (var.empty()) GTEST_SKIP() << "shared fixtures absent: " << rel << " skipped"

std::string ReadAll(const std::string& path);

// What a Linux program prints on its standard output. Wine starts Linux programs itself; the
// output goes to a file, read once the program has finished writing it (Wine does not wait
// for a Linux child: the file is read when its size has stopped changing).
std::string RunLinux(const std::wstring& exe, const std::wstring& arguments) {
  static int serial = 0;
  const std::string outPath = kOutDir + "/work/linux-output-" + std::to_string(++serial) + ".txt";
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE out = CreateFileW(ui::WinPath(outPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &sa, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return "<no output file>";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out;
  si.hStdError = out;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::wstring cmd = exe + L" " + arguments;
  PROCESS_INFORMATION pi{};
  const BOOL started = CreateProcessW(ui::WinPath(Narrow(exe)).c_str(), cmd.data(), nullptr, nullptr,
                                      TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(out);
  if (!started) return "<" + Narrow(exe) + " not started>";
  WaitForSingleObject(pi.hProcess, 10000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  std::string text, last = "<none>";
  ui::WaitFor([&] {
    text = ReadAll(outPath);
    const bool settled = !text.empty() && text == last;
    last = text;
    return settled;
  }, 10000);
  return text;
}

std::vector<std::string> ExportLines(const std::string& db, const char* table) {
  std::wstring args = std::wstring(db.begin(), db.end()) + L" " +
                      std::wstring(table, table + strlen(table));
  std::string text = RunLinux(L"/usr/bin/mdb-export", args);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string ReadAll(const std::string& path) {
  std::string s;
  if (FILE* f = _wfopen(ui::WinPath(path).c_str(), L"rb")) {
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    fclose(f);
  }
  return s;
}

// Runs the statement on the database from the main window and answers the message box.
ui::MessageBoxSeen RunStatement(const std::string& db, const std::wstring& sql, const char* screenshot = nullptr) {
  Brimvale app;
  if (!app.Started()) return {L"<not started>", L"", false, {}};
  app.SetText(TForm1::idDatabase, ui::WinPath(db));
  app.SetText(TForm1::idSQL, sql);
  app.Click(TForm1::idExecute);
  HWND box = app.WaitDialog(L"", 30000);
  if (box && screenshot) {
    Sleep(300);
    ui::SaveWindowsBmp(app.Form(), box, ui::WinPath(kOutDir + "/" + screenshot));
  }
  return app.AnswerMessageBox();
}

// The engine's description after the failure label and the two carriage returns.
std::wstring Description(const ui::MessageBoxSeen& box, const std::wstring& label) {
  const std::wstring head = label + L" failed\r\r";
  if (box.text.compare(0, head.size(), head) != 0) return L"<no " + label + L" failure>";
  return box.text.substr(head.size());
}

}  // namespace

TEST(EngineRun, MisspelledTableShowsOurDescriptionUnderERRORAndLeavesTheFileAlone) {
  REQUIRE_COPY(db, "jet4/testV2000.mdb", "misspelled.mdb");
  const std::string before = ReadAll(db);
  ui::MessageBoxSeen box = RunStatement(db, L"UPDATE Tabel1 SET C = 1", "error-misspelled-table.bmp");
  EXPECT_EQ(box.caption, L"ERROR");
  EXPECT_FALSE(box.hasIcon);
  const std::wstring description = Description(box, L"DAODatabase.Execute");
  EXPECT_NE(description.find(L"Tabel1"), std::wstring::npos) << Narrow(box.text);
  EXPECT_EQ(description.find(L"\r"), std::wstring::npos) << "one error, no trailing break";
  EXPECT_EQ(ReadAll(db), before);
}

TEST(EngineRun, SyntaxErrorAndBlankStatementAreRejectedByTheEngine) {
  REQUIRE_COPY(db, "jet4/testV2000.mdb", "syntax.mdb");
  ui::MessageBoxSeen box = RunStatement(db, L"UPDATE Table1 SET");
  EXPECT_EQ(box.caption, L"ERROR");
  EXPECT_FALSE(Description(box, L"DAODatabase.Execute").empty()) << Narrow(box.text);
  EXPECT_EQ(Description(box, L"DAODatabase.Execute").find(L"<no"), std::wstring::npos) << Narrow(box.text);
  box = RunStatement(db, L"   ");
  EXPECT_EQ(box.caption, L"ERROR");
  EXPECT_EQ(Description(box, L"DAODatabase.Execute").find(L"<no"), std::wstring::npos) << Narrow(box.text);
}

TEST(EngineRun, MissingFileFailsToOpen) {
  const std::string db = kOutDir + "/work/does-not-exist.mdb";
  DeleteFileW(ui::WinPath(db).c_str());
  ui::MessageBoxSeen box = RunStatement(db, L"DELETE FROM Table1");
  EXPECT_EQ(box.caption, L"ERROR");
  const std::wstring description = Description(box, L"DAODBEngine.OpenDatabase");
  EXPECT_NE(description.find(L"Could not find the file"), std::wstring::npos) << Narrow(box.text);
  EXPECT_NE(description.find(L"does-not-exist.mdb"), std::wstring::npos) << Narrow(box.text);
}

TEST(EngineRun, ReadOnlyFileIsRefusedAndUnchanged) {
  REQUIRE_COPY(db, "jet4/testV2000.mdb", "readonly.mdb");
  const std::string before = ReadAll(db);
  ASSERT_TRUE(SetFileAttributesW(ui::WinPath(db).c_str(), FILE_ATTRIBUTE_READONLY));
  ui::MessageBoxSeen box = RunStatement(db, L"DELETE FROM Table1");
  SetFileAttributesW(ui::WinPath(db).c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(box.caption, L"ERROR");
  EXPECT_NE(Description(box, L"DAODatabase.Execute").find(L"read-only"), std::wstring::npos)
      << Narrow(box.text);
  EXPECT_EQ(ReadAll(db), before);
}

TEST(EngineRun, FileHeldByAnotherWriterIsNotOpened) {
  REQUIRE_COPY(db, "jet4/testV2000.mdb", "held.mdb");
  HANDLE held = CreateFileW(ui::WinPath(db).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ui::MessageBoxSeen box = RunStatement(db, L"DELETE FROM Table1");
  CloseHandle(held);
  EXPECT_EQ(box.caption, L"ERROR");
  EXPECT_NE(Description(box, L"DAODBEngine.OpenDatabase").find(L"in use"), std::wstring::npos)
      << Narrow(box.text);
}

TEST(EngineRun, UpdateChangesTheMatchingRecord) {
  REQUIRE_COPY(db, "jet4/testV2000.mdb", "update.mdb");
  ui::MessageBoxSeen box =
      RunStatement(db, L"UPDATE Table1 SET C = 7, D = D + 1 WHERE A = 'a'", "records-updated.bmp");
  EXPECT_EQ(box.caption, L"Brimvale v1.1");
  EXPECT_EQ(box.text, L"1 records updated.");
  EXPECT_TRUE(box.hasIcon);
  const std::vector<std::string> rows = ExportLines(db, "Table1");
  ASSERT_GE(rows.size(), 3u) << (rows.empty() ? "" : rows[0]);
  EXPECT_EQ(rows[1], "\"abcdefg\",\"hijklmnop\",2,222,333333333,444.555,\"09/21/74 00:00:00\",3.5000,1");
  EXPECT_EQ(rows[2], "\"a\",\"b\",7,1,0,0,\"12/12/81 00:00:00\",0.0000,0");
}

TEST(EngineRun, DeleteRemovesTheMatchingRecordWithTheDeletedWording) {
  REQUIRE_COPY(db, "jet4/testV2000.mdb", "delete.mdb");
  ui::MessageBoxSeen box = RunStatement(db, L"Delete FROM Table1 WHERE A = 'abcdefg'");
  EXPECT_EQ(box.text, L"1 records deleted.");
  const std::vector<std::string> rows = ExportLines(db, "Table1");
  ASSERT_EQ(rows.size(), 2u) << (rows.empty() ? "" : rows[0]);
  EXPECT_EQ(rows[1], "\"a\",\"b\",0,0,0,0,\"12/12/81 00:00:00\",0.0000,0");
}

TEST(EngineRun, InsertAddsARecordWithTheUpdatedWording) {
  REQUIRE_COPY(db, "jet4/testV2000.mdb", "insert.mdb");
  ui::MessageBoxSeen box = RunStatement(db, L"INSERT INTO Table1 (A, B, C, D, E, F, G, H, I) "
                                   L"VALUES ('new', 'row', 3, 4, 5, 6.5, #1/2/2024#, 7.25, True)");
  EXPECT_EQ(box.text, L"1 records updated.");
  const std::vector<std::string> rows = ExportLines(db, "Table1");
  ASSERT_EQ(rows.size(), 4u) << (rows.empty() ? "" : rows[0]);
  EXPECT_EQ(rows[3], "\"new\",\"row\",3,4,5,6.5,\"01/02/24 00:00:00\",7.2500,1");
}
