// The main window as a user meets it: the real Brimvale.exe under Wine, with the stand-in DAO
// engine (fakedao.dll) registered in this prefix, driven from this test program.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/Unit1.h"
#include "ui_driver.h"

using ui::Brimvale;
using ui::Narrow;
using ui::TextOf;

namespace {

const std::wstring kOutDir = ui::WinPath(BV_UI_OUTPUT_DIR);
const std::wstring kScript = kOutDir + L"\\fakedao-script.txt";
const std::wstring kLog = kOutDir + L"\\fakedao-log.txt";
const std::vector<std::wstring> kEnv = {L"BV_FAKEDAO_SCRIPT=" + kScript,
                                        L"BV_FAKEDAO_LOG=" + kLog};

void WriteScript(const std::string& text) {
  FILE* f = _wfopen(kScript.c_str(), L"wb");
  ASSERT_NE(f, nullptr);
  fputs(text.c_str(), f);
  fclose(f);
  DeleteFileW(kLog.c_str());
}

std::string ReadLog() {
  FILE* f = _wfopen(kLog.c_str(), L"rb");
  if (!f) return {};
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  fclose(f);
  return s;
}

std::string Rect(const RECT& r) {
  std::ostringstream o;
  o << r.left << "," << r.top << " " << (r.right - r.left) << "x" << (r.bottom - r.top);
  return o.str();
}

// Registers the stand-in engine under the DAO 3.6 class ids, as regsvr32 does it.
class FakeEngineRegistration : public ::testing::Environment {
 public:
  void SetUp() override {
    std::wstring cmd = L"regsvr32.exe /s \"" + ui::WinPath(BV_FAKEDAO_DLL) + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &pi));
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    ASSERT_EQ(code, 0u) << "regsvr32 failed";
  }
};
const auto* const kRegistration =
    ::testing::AddGlobalTestEnvironment(new FakeEngineRegistration);

int TahomaTextWidth(const std::wstring& text) {
  HFONT font = CreateFontW(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma");
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  DeleteObject(font);
  return size.cx;
}

// The one shown button inside the database field.
HWND BrowseButton(const Brimvale& app) {
  HWND shown = nullptr;
  int count = 0;
  for (HWND c = GetWindow(app.Control(TForm1::idDatabase), GW_CHILD); c;
       c = GetWindow(c, GW_HWNDNEXT))
    if (IsWindowVisible(c)) {
      shown = c;
      ++count;
    }
  return count == 1 ? shown : nullptr;
}

void Screenshot(HWND wnd, const wchar_t* name) {
  RECT rc;
  GetWindowRect(wnd, &rc);
  ui::SaveScreenBmp(rc, kOutDir + L"\\" + name);
}

}  // namespace

TEST(MainWindow, ShowsItsDesignWithoutArguments) {
  Brimvale app;
  ASSERT_TRUE(app.Started());
  HWND form = app.Form();
  EXPECT_EQ(TextOf(form), L"Brimvale v1.1");

  RECT client;
  GetClientRect(form, &client);
  EXPECT_EQ(client.right, 696);
  EXPECT_EQ(client.bottom, 469);

  // A fixed dialog frame with the close button only, owned by the hidden application window
  // (which carries the taskbar button).
  LONG style = GetWindowLongW(form, GWL_STYLE), ex = GetWindowLongW(form, GWL_EXSTYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
  EXPECT_TRUE(ex & WS_EX_DLGMODALFRAME);
  EXPECT_EQ(ex & WS_EX_APPWINDOW, 0);
  HWND owner = GetWindow(form, GW_OWNER);
  ASSERT_NE(owner, nullptr);
  EXPECT_NE(owner, GetDesktopWindow());

  struct Expect {
    int id;
    const wchar_t* cls;
    const wchar_t* text;
    int left, top, width, height;
  };
  const Expect controls[] = {
      {TForm1::idDatabase, L"Edit", L"", 8, 27, 680, 21},
      {TForm1::idSQL, L"Edit", L"UPDATE ", 8, 70, 680, 353},
      {TForm1::idExecute, L"Button", L"Run SQL Query", 474, 436, 105, 25},
      {TForm1::idClose, L"Button", L"Close Window", 584, 436, 105, 25},
  };
  for (const Expect& e : controls) {
    HWND c = app.Control(e.id);
    ASSERT_NE(c, nullptr) << e.id;
    EXPECT_EQ(ui::ClassOf(c), e.cls) << e.id;
    EXPECT_EQ(TextOf(c), e.text) << e.id;
    RECT want{e.left, e.top, e.left + e.width, e.top + e.height};
    EXPECT_EQ(Rect(ui::RectInParent(c)), Rect(want)) << Narrow(e.text);
  }

  // Labels size themselves to their caption in the window font, Tahoma 8 pt (46 x 13 and
  // 50 x 13 with the design's Tahoma; Wine's own Tahoma measures a little differently).
  struct Label {
    int id;
    const wchar_t* text;
    int top;
  };
  for (Label l : {Label{TForm1::idLabel1, L"Database", 8}, Label{TForm1::idLabel2, L"SQL query", 54}}) {
    HWND c = app.Control(l.id);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(TextOf(c), l.text);
    RECT r = ui::RectInParent(c);
    EXPECT_EQ(r.left, 8);
    EXPECT_EQ(r.top, l.top);
    EXPECT_EQ(r.bottom - r.top, 13);
    EXPECT_EQ(r.right - r.left, TahomaTextWidth(l.text)) << Narrow(l.text);
    EXPECT_EQ(GetWindowLongW(c, GWL_STYLE) & WS_TABSTOP, 0);
  }

  // The statement field: multi-line, vertical scroll bar only, wrapping, Enter types.
  LONG sqlStyle = GetWindowLongW(app.Control(TForm1::idSQL), GWL_STYLE);
  EXPECT_TRUE(sqlStyle & ES_MULTILINE);
  EXPECT_TRUE(sqlStyle & WS_VSCROLL);
  EXPECT_TRUE(sqlStyle & ES_WANTRETURN);
  EXPECT_EQ(sqlStyle & (WS_HSCROLL | ES_AUTOHSCROLL), 0);
  for (int id : {TForm1::idExecute, TForm1::idClose})
    EXPECT_EQ(GetWindowLongW(app.Control(id), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);

  // The browse button lies inside the field's border, flush right, 15 wide, as tall as the
  // inside; the text keeps a right margin of 17.
  HWND edit = app.Control(TForm1::idDatabase);
  HWND button = BrowseButton(app);
  ASSERT_NE(button, nullptr);
  RECT inside, br = ui::RectInParent(button);
  GetClientRect(edit, &inside);
  EXPECT_EQ(Rect(br), Rect(RECT{inside.right - 15, 0, inside.right, inside.bottom}));
  LRESULT margins = SendMessageW(edit, EM_GETMARGINS, 0, 0);
  EXPECT_EQ(LOWORD(margins), 0);
  EXPECT_EQ(HIWORD(margins), 17);

  // Centred across the primary display, one third down.
  RECT wr;
  GetWindowRect(form, &wr);
  int w = wr.right - wr.left, h = wr.bottom - wr.top;
  EXPECT_EQ(wr.left, (GetSystemMetrics(SM_CXSCREEN) - w) / 2);
  EXPECT_EQ(wr.top, (GetSystemMetrics(SM_CYSCREEN) - h) / 3);

  // First activation: the database field has the focus.
  EXPECT_EQ(app.Focus(), edit);
  Screenshot(form, L"main-window.bmp");
}

TEST(MainWindow, FillsBothFieldsFromQuotedArgumentsAndSelectsThePath) {
  Brimvale app(L"\"C:\\Data Files\\shop.mdb\" \"DELETE FROM t WHERE id=3\" third");
  ASSERT_TRUE(app.Started());
  EXPECT_EQ(app.Text(TForm1::idDatabase), L"C:\\Data Files\\shop.mdb");
  EXPECT_EQ(app.Text(TForm1::idSQL), L"DELETE FROM t WHERE id=3");
  HWND edit = app.Control(TForm1::idDatabase);
  EXPECT_EQ(app.Focus(), edit);
  LRESULT sel = SendMessageW(edit, EM_GETSEL, 0, 0);
  EXPECT_EQ(LOWORD(sel), 0);
  EXPECT_EQ(HIWORD(sel), 22);
}

TEST(MainWindow, UnquotedStatementGivesItsFirstWordOnly) {
  Brimvale app(L"shop.mdb DELETE FROM t");
  ASSERT_TRUE(app.Started());
  EXPECT_EQ(app.Text(TForm1::idDatabase), L"shop.mdb");
  EXPECT_EQ(app.Text(TForm1::idSQL), L"DELETE");
}

TEST(MainWindow, TabCyclesTheFourControlsAndEnterBreaksLinesInTheStatement) {
  Brimvale app(L"C:\\db\\a.mdb");
  ASSERT_TRUE(app.Started());
  app.Activate();
  HWND db = app.Control(TForm1::idDatabase), sql = app.Control(TForm1::idSQL),
       run = app.Control(TForm1::idExecute), close = app.Control(TForm1::idClose);
  ASSERT_EQ(app.Focus(), db);
  for (HWND next : {sql, run, close, db}) {
    ui::PressKey(VK_TAB);
    EXPECT_EQ(app.Focus(), next) << Narrow(TextOf(next));
  }
  // Back in the database field from the keyboard: its whole text is selected.
  EXPECT_EQ(SendMessageW(db, EM_GETSEL, 0, 0), MAKELONG(0, 11));
  for (HWND prev : {close, run, sql}) {
    ui::PressKey(VK_TAB, /*shift=*/true);
    EXPECT_EQ(app.Focus(), prev) << Narrow(TextOf(prev));
  }
  // Tab moved on without typing; Enter types a line break at the caret.
  EXPECT_EQ(app.Text(TForm1::idSQL), L"UPDATE ");
  SendMessageW(sql, EM_SETSEL, 7, 7);
  ui::PressKey(VK_RETURN);
  EXPECT_EQ(app.Text(TForm1::idSQL), L"UPDATE \r\n");
  EXPECT_EQ(app.Focus(), sql);
  // Esc clicks nothing: no message box and the window stays.
  ui::PressKey(VK_ESCAPE);
  EXPECT_TRUE(ui::DialogsOf(app.Pid()).empty());
  EXPECT_EQ(app.WaitExit(300), STILL_ACTIVE);
}

TEST(MainWindow, EnterAndSpaceClickOnlyTheFocusedButton) {
  Brimvale app;
  ASSERT_TRUE(app.Started());
  app.Activate();
  // No default button: Enter in the database field clicks nothing.
  ui::PressKey(VK_RETURN);
  EXPECT_EQ(app.WaitDialog(L"", 500), nullptr);
  EXPECT_EQ(app.Text(TForm1::idDatabase), L"");
  ui::PressKey(VK_TAB);
  ui::PressKey(VK_TAB);
  ASSERT_EQ(app.Focus(), app.Control(TForm1::idExecute));
  ui::PressKey(VK_SPACE);
  EXPECT_EQ(app.AnswerMessageBox().text, L"Please specify database!");
  // The focus is back on the button after the box; Enter clicks it as well.
  ASSERT_TRUE(ui::WaitFor([&] { return app.Focus() == app.Control(TForm1::idExecute); }, 3000));
  ui::PressKey(VK_RETURN);
  EXPECT_EQ(app.AnswerMessageBox().text, L"Please specify database!");
  app.Activate();
  ui::PressKey(VK_TAB);
  ASSERT_EQ(app.Focus(), app.Control(TForm1::idClose));
  ui::PressKey(VK_RETURN);
  EXPECT_EQ(app.WaitExit(), 0u);
}

TEST(MainWindow, F4BrowsesShiftAndCtrlF4DoNothingAltF4Closes) {
  Brimvale app(L"C:\\typed\\path.mdb");
  ASSERT_TRUE(app.Started());
  app.Activate();
  ui::PressKey(VK_F4, /*shift=*/true);
  ui::PressKey(VK_F4, false, /*ctrl=*/true);
  EXPECT_EQ(app.WaitDialog(L"", 800), nullptr);
  ui::PressKey(VK_F4);
  HWND dlg = app.WaitDialog(L"Please select database");
  ASSERT_NE(dlg, nullptr);
  Screenshot(dlg, L"browse-dialog.bmp");
  PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(ui::WaitFor([&] { return ui::DialogsOf(app.Pid()).empty(); }));
  // Nothing was typed into the field and a cancelled browse changes nothing.
  EXPECT_EQ(app.Text(TForm1::idDatabase), L"C:\\typed\\path.mdb");
  app.Activate();
  ui::PressKey(VK_F4, false, false, /*alt=*/true);
  EXPECT_EQ(app.WaitExit(), 0u);
}

namespace {

void Touch(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << Narrow(path);
  CloseHandle(h);
}

// Clicks the browse button with the mouse; the dialog it opened, or null.
HWND ClickBrowseButton(const Brimvale& app) {
  HWND button = BrowseButton(app);
  if (!button) return nullptr;
  PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  PostMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  return app.WaitDialog(L"Please select database");
}

// Opens the browse dialog with the button inside the field, checks its settings, then types
// `name` into its file-name box and confirms (or cancels when `name` is empty).
void Browse(Brimvale& app, const std::wstring& name) {
  HWND dlg = ClickBrowseButton(app);
  ASSERT_NE(dlg, nullptr);
  // The file-name box: an edit of its own in the common item dialog, the edit inside a
  // combo box in the classic dialog.
  HWND types = GetDlgItem(dlg, 1136), file = GetDlgItem(dlg, 1152);
  if (!file || !IsWindowVisible(file)) {
    file = GetDlgItem(dlg, 1148);
    while (file && ui::ClassOf(file) != L"Edit") file = GetWindow(file, GW_CHILD);
  }
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(SendMessageW(types, CB_GETCOUNT, 0, 0), 1);
  EXPECT_EQ(TextOf(types), L"Databases");
  EXPECT_EQ(TextOf(file), L"");  // the file name is emptied before every showing
  if (name.empty()) {
    PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
  } else {
    SendMessageW(file, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
    PostMessageW(dlg, WM_COMMAND, IDOK, 0);
  }
  ASSERT_TRUE(ui::WaitFor([&] { return !IsWindow(dlg); }));
}

// Browses five times: documents first, then the folder of the last confirmed pick; a
// cancelled browse, a typed path and a command-line path leave the start folder alone.
// `bareName` is typed without its extension where the dialog adds the default one.
void CheckBrowseSequence(const wchar_t* bareName) {
  wchar_t docs[MAX_PATH] = {};
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_DOCUMENTS, nullptr, 0, docs), S_OK);
  const std::wstring documents = std::wstring(docs) + L"\\";
  Touch(documents + L"pick.mdb");
  CreateDirectoryW(L"C:\\bvtest", nullptr);
  CreateDirectoryW(L"C:\\bvtest\\db", nullptr);
  Touch(L"C:\\bvtest\\db\\other.mdb");
  Touch(L"C:\\bvtest\\db\\third.mdb");

  Brimvale app(L"C:\\bvtest\\db\\other.mdb");
  ASSERT_TRUE(app.Started());
  const int db = TForm1::idDatabase;
  Browse(app, L"pick.mdb");
  EXPECT_EQ(app.Text(db), documents + L"pick.mdb");
  Browse(app, L"C:\\bvtest\\db\\other.mdb");
  EXPECT_EQ(app.Text(db), L"C:\\bvtest\\db\\other.mdb");
  // Next time it opens in the folder of that pick.
  Browse(app, bareName);
  EXPECT_EQ(app.Text(db), L"C:\\bvtest\\db\\third.mdb");
  // The dialog does not insist that the named file exists.
  DeleteFileW(L"C:\\bvtest\\db\\missing.mdb");
  Browse(app, L"C:\\bvtest\\db\\missing.mdb");
  EXPECT_EQ(app.Text(db), L"C:\\bvtest\\db\\missing.mdb");
  // A cancelled browse leaves the field alone, and the one after starts over in documents.
  Browse(app, L"");
  EXPECT_EQ(app.Text(db), L"C:\\bvtest\\db\\missing.mdb");
  // A typed path does not decide the start folder either.
  app.SetText(db, L"C:\\bvtest\\db\\typed.mdb");
  Browse(app, L"pick.mdb");
  EXPECT_EQ(app.Text(db), documents + L"pick.mdb");
}

// Makes Wine report Windows XP to Brimvale.exe while it exists (Wine's per-program version).
class PretendWindowsXP {
 public:
  PretendWindowsXP() {
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
      const wchar_t value[] = L"winxp";
      ok_ = RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                           sizeof value) == ERROR_SUCCESS;
      RegCloseKey(key);
    }
  }
  ~PretendWindowsXP() { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }
  bool ok() const { return ok_; }

 private:
  static constexpr const wchar_t* kKey = L"Software\\Wine\\AppDefaults\\Brimvale.exe";
  bool ok_ = false;
};

}  // namespace

TEST(MainWindow, BrowseStartsInTheLastPickedFolderElseInTheSharedDocuments) {
  // Wine's common item dialog adds no default extension to a bare name: typed in full.
  CheckBrowseSequence(L"third.mdb");
}

TEST(MainWindow, BeforeVistaTheClassicOpenDialogBrowsesTheSameWay) {
  PretendWindowsXP xp;
  ASSERT_TRUE(xp.ok());
  {
    Brimvale app;
    ASSERT_TRUE(app.Started());
    HWND dlg = ClickBrowseButton(app);
    ASSERT_NE(dlg, nullptr);
    // The classic explorer-style dialog (its "Look in" box), read-only box hidden, resizable.
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(dlg, 1137)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dlg, 1040)));
    EXPECT_TRUE(GetWindowLongW(dlg, GWL_STYLE) & WS_THICKFRAME);
    Sleep(300);
    Screenshot(dlg, L"browse-dialog-classic.bmp");
    PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(ui::WaitFor([&] { return !IsWindow(dlg); }));
  }
  // The classic dialog adds the default extension to a bare name.
  CheckBrowseSequence(L"third");
}

TEST(MainWindow, InputChecksUseTheWindowCaptionAndTheErrorIcon) {
  WriteScript("records=1\n");
  Brimvale app(L"", kEnv);
  ASSERT_TRUE(app.Started());
  app.SetText(TForm1::idDatabase, L" \t ");
  app.Click(TForm1::idExecute);
  ui::MessageBoxSeen box = app.AnswerMessageBox();
  EXPECT_EQ(box.caption, L"Brimvale v1.1");
  EXPECT_EQ(box.text, L"Please specify database!");
  EXPECT_TRUE(box.hasIcon);
  EXPECT_EQ(box.buttons, std::vector<std::wstring>{L"OK"});

  app.SetText(TForm1::idDatabase, L"C:\\db\\shop.mdb");
  app.SetText(TForm1::idSQL, L"");
  app.Click(TForm1::idExecute);
  box = app.AnswerMessageBox();
  EXPECT_EQ(box.caption, L"Brimvale v1.1");
  EXPECT_EQ(box.text, L"Please specify SQL query!");
  EXPECT_TRUE(box.hasIcon);
  // Neither check reached the engine.
  EXPECT_EQ(ReadLog(), "");
}

TEST(MainWindow, RunShowsTheRecordsMessageWhileTheDatabaseIsOpen) {
  WriteScript("records=3\n");
  Brimvale app(L"\" C:\\db\\shop.mdb \" \"dElEtE FROM t WHERE x=1\"", kEnv);
  ASSERT_TRUE(app.Started());
  app.Click(TForm1::idExecute);
  HWND box = app.WaitDialog(L"Brimvale v1.1");
  ASSERT_NE(box, nullptr);
  Sleep(200);
  Screenshot(app.Form(), L"records-message.bmp");
  std::string during = ReadLog();
  EXPECT_EQ(during.find("Database.Released"), std::string::npos) << during;
  ui::MessageBoxSeen seen = app.AnswerMessageBox();
  EXPECT_EQ(seen.text, L"3 records deleted.");
  EXPECT_TRUE(seen.hasIcon);
  ASSERT_TRUE(ui::WaitFor([] { return ReadLog().find("DBEngine.Released") != std::string::npos; }));
  // The path goes to the engine untrimmed; the statement with fail-on-error (VT_I4 128);
  // both booleans false, Connect omitted; the database is released before the engine.
  EXPECT_EQ(ReadLog(),
            "DllGetClassObject 0x00000000\n"
            "Factory.CreateInstance\n"
            "DBEngine.OpenDatabase [ C:\\db\\shop.mdb ] 11:0 11:0 10:0x80020004\n"
            "Database.Execute [dElEtE FROM t WHERE x=1] 3:128\n"
            "Database.get_RecordsAffected\n"
            "Database.Released\n"
            "DBEngine.Released\n");
  // The fields keep their texts; an update gets the other wording.
  app.SetText(TForm1::idSQL, L"UPDATE t SET x=2");
  WriteScript("records=1\n");
  app.Click(TForm1::idExecute);
  EXPECT_EQ(app.AnswerMessageBox().text, L"1 records updated.");
  EXPECT_EQ(app.Text(TForm1::idDatabase), L" C:\\db\\shop.mdb ");
}

TEST(MainWindow, FailedRunShowsTheEngineErrorsUnderERROR) {
  WriteScript("fail=Database.Execute 0x80040E14\nerror=Syntax error in UPDATE statement.\nerror=Second reason\n");
  Brimvale app(L"C:\\db\\shop.mdb \"UPDATE t SET\"", kEnv);
  ASSERT_TRUE(app.Started());
  app.Click(TForm1::idExecute);
  HWND shown = app.WaitDialog(L"ERROR");
  ASSERT_NE(shown, nullptr);
  Sleep(200);
  Screenshot(app.Form(), L"error-message.bmp");
  ui::MessageBoxSeen box = app.AnswerMessageBox();
  EXPECT_EQ(box.caption, L"ERROR");
  EXPECT_EQ(box.text,
            L"DAODatabase.Execute failed\r\rSyntax error in UPDATE statement.\r\nSecond reason");
  EXPECT_FALSE(box.hasIcon);
  ASSERT_TRUE(ui::WaitFor([] { return ReadLog().find("DBEngine.Released") != std::string::npos; }));
  std::string log = ReadLog();
  // The database was released before the errors were read.
  EXPECT_LT(log.find("Database.Released"), log.find("DBEngine.get_Errors")) << log;
  // The window stays usable: the next run goes through.
  WriteScript("records=0\n");
  app.Click(TForm1::idExecute);
  EXPECT_EQ(app.AnswerMessageBox().text, L"0 records updated.");
}

TEST(MainWindow, MissingEngineIsReportedUnderTheApplicationTitle) {
  WriteScript("factory=0x80040154\n");
  Brimvale app(L"C:\\db\\shop.mdb \"UPDATE t SET x=1\"", kEnv);
  ASSERT_TRUE(app.Started());
  app.Click(TForm1::idExecute);
  ui::MessageBoxSeen box = app.AnswerMessageBox();
  EXPECT_EQ(box.caption, L"Brimvale");
  EXPECT_EQ(box.text, L"DAO.CreateEngineFactory failed.");
  EXPECT_TRUE(box.hasIcon);
  EXPECT_EQ(app.WaitExit(200), STILL_ACTIVE);
}

TEST(MainWindow, CloseWindowEndsTheProgramWithExitCodeZero) {
  Brimvale app;
  ASSERT_TRUE(app.Started());
  app.Click(TForm1::idClose);
  EXPECT_EQ(app.WaitExit(), 0u);
}

TEST(MainWindow, CloseOfTheWindowMenuEndsTheProgramWithoutAQuestion) {
  Brimvale app(L"C:\\db\\shop.mdb \"DELETE FROM t\"");
  ASSERT_TRUE(app.Started());
  // What the caption's close button and the window menu's Close send.
  PostMessageW(app.Form(), WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(app.WaitExit(), 0u);
}
