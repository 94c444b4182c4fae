// TForm1 inside this process, for what another process cannot see through messages: the
// fonts of the controls, the window menu, the window class and the dialog's settings.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <vector>

#include "app/Application.h"
#include "app/Unit1.h"

namespace {

LOGFONTW FontOf(HWND wnd) {
  LOGFONTW lf{};
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(wnd, WM_GETFONT, 0, 0));
  if (font) GetObjectW(font, sizeof lf, &lf);
  return lf;
}

class FormTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!Application) StartApplication();
  }
  void SetUp() override {
    form_ = new TForm1;
    ASSERT_NE(form_->Handle(), nullptr);
  }
  void TearDown() override { delete form_; }
  TForm1* form_ = nullptr;
};

}  // namespace

TEST(FontFamilies, AreFoundByTheirFamilyName) {
  EXPECT_TRUE(FontFamilyInstalled(L"Tahoma"));
  EXPECT_FALSE(FontFamilyInstalled(L"No Such Family Brimvale"));
  // A name the system only substitutes by another family is no installed family.
  EXPECT_FALSE(FontFamilyInstalled(L"MS Shell Dlg"));
}

TEST_F(FormTest, WindowFontIsTahoma8AndTheStatementFontConsolasOrCourierNew) {
  for (HWND c : {form_->Handle(), form_->Label1.Handle(), form_->txtDatabase.Handle(),
                 form_->Label2.Handle(), form_->btnExecute.Handle(), form_->btnClose.Handle()}) {
    LOGFONTW lf = FontOf(c);
    EXPECT_STREQ(lf.lfFaceName, L"Tahoma");
    EXPECT_EQ(lf.lfHeight, -11);
    EXPECT_EQ(lf.lfWeight, FW_NORMAL);
    EXPECT_FALSE(lf.lfItalic || lf.lfUnderline || lf.lfStrikeOut);
  }
  LOGFONTW sql = FontOf(form_->txtSQL.Handle());
  if (FontFamilyInstalled(L"Consolas")) {
    EXPECT_STREQ(sql.lfFaceName, L"Consolas");
    EXPECT_EQ(sql.lfHeight, -16);
  } else {
    EXPECT_STREQ(sql.lfFaceName, L"Courier New");
    EXPECT_EQ(sql.lfHeight, -13);
  }
}

TEST_F(FormTest, WindowMenuHoldsMoveAndCloseOnly) {
  HMENU menu = GetSystemMenu(form_->Handle(), FALSE);
  ASSERT_NE(menu, nullptr);
  std::vector<UINT> ids;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) ids.push_back(GetMenuItemID(menu, i));
  EXPECT_EQ(ids, (std::vector<UINT>{SC_MOVE, SC_CLOSE}));
}

TEST_F(FormTest, CreatedHiddenWithButtonFaceColourAndTheFilledFields) {
  EXPECT_FALSE(IsWindowVisible(form_->Handle()));
  EXPECT_EQ(GetClassLongPtrW(form_->Handle(), GCLP_HBRBACKGROUND), COLOR_BTNFACE + 1);
  EXPECT_EQ(GetWindow(form_->Handle(), GW_OWNER), Application->Handle());
  EXPECT_EQ(form_->Caption(), L"Brimvale v1.1");
  EXPECT_EQ(form_->txtSQL.Text(), L"UPDATE ");
  EXPECT_EQ(form_->txtDatabase.Text(), L"");
  // No length limit of their own: the edit controls' maximum.
  for (HWND c : {form_->txtSQL.Handle(), form_->txtDatabase.Handle()})
    EXPECT_GE(static_cast<DWORD>(SendMessageW(c, EM_GETLIMITTEXT, 0, 0)), 0x7FFFFFFEu);
  // The button edit's settings.
  const TButtonEdit& e = form_->txtDatabase;
  EXPECT_TRUE(e.ButtonVisible());
  EXPECT_EQ(e.ButtonKind(), bkLookup);
  EXPECT_EQ(e.ButtonWidth(), 15);
  EXPECT_EQ(e.ButtonShortCut(), 115u);
  EXPECT_FALSE(e.AltBtnVisible());
  EXPECT_EQ(e.AltBtnWidth(), 15);
  EXPECT_EQ(e.AltBtnShortCut(), 0u);
  EXPECT_TRUE(e.FlatButtons());
  EXPECT_EQ(e.FlatButtonColor(), GetSysColor(COLOR_BTNFACE));
  EXPECT_TRUE(e.AllowKeyEdit());
  EXPECT_TRUE(e.HideButtonsOnReadOnly());
  EXPECT_TRUE(e.AutoSelect());
  // The picker's settings.
  EXPECT_EQ(form_->OpenDialog1.Title, L"Please select database");
  EXPECT_EQ(form_->OpenDialog1.Filter, L"Databases|*.mdb");
  EXPECT_EQ(form_->OpenDialog1.FilterIndex, 1);
  EXPECT_EQ(form_->OpenDialog1.DefaultExt, L"mdb");
  EXPECT_EQ(form_->OpenDialog1.FileName, L"");
}

TEST_F(FormTest, ShowPlacesTheWindowAndFocusesTheDatabaseField) {
  form_->Show();
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  RECT wr;
  GetWindowRect(form_->Handle(), &wr);
  EXPECT_EQ(wr.left, (GetSystemMetrics(SM_CXSCREEN) - (wr.right - wr.left)) / 2);
  EXPECT_EQ(wr.top, (GetSystemMetrics(SM_CYSCREEN) - (wr.bottom - wr.top)) / 3);
  EXPECT_TRUE(IsWindowVisible(form_->Handle()));
  EXPECT_EQ(GetFocus(), form_->txtDatabase.Handle());
}

TEST_F(FormTest, EscInTheStatementFieldClosesNothingEvenInDialogMode) {
  // A multi-line field asked for its dialog code with a message, as a dialog manager asks,
  // takes itself to be in a dialog; Esc must still close nothing.
  HWND sql = form_->txtSQL.Handle();
  MSG probe{sql, WM_KEYDOWN, VK_ESCAPE, 1, 0, {0, 0}};
  SendMessageW(sql, WM_GETDLGCODE, VK_ESCAPE, reinterpret_cast<LPARAM>(&probe));
  SendMessageW(sql, WM_KEYDOWN, VK_ESCAPE, 1);
  SendMessageW(sql, WM_CHAR, 0x1B, 1);
  SendMessageW(sql, WM_KEYUP, VK_ESCAPE, 0xC0000001);
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  EXPECT_TRUE(IsWindow(form_->Handle()));
  EXPECT_EQ(form_->txtSQL.Text(), L"UPDATE ");
}

TEST(FormScaling, AtAnotherResolutionFontThenLayoutFollowTheTextHeight) {
  if (!Application) StartApplication();
  // At 192 dpi the window is wider than the test display (1280 pixels): it keeps its size.
  for (int dpi : {120, 144, 192}) {
    TForm1 form(dpi);
    ASSERT_NE(form.Handle(), nullptr);
    // The window font follows the resolution ...
    const int fontHeight = MulDiv(-11, dpi, 96);
    LOGFONTW lf = FontOf(form.btnClose.Handle());
    EXPECT_EQ(lf.lfHeight, fontHeight) << dpi;
    // ... and positions and sizes follow that font's text height against the design's 13.
    HFONT tahoma = CreateFontW(fontHeight, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0,
                               0, L"Tahoma");
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, tahoma);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    DeleteObject(tahoma);
    const int th = tm.tmHeight;
    ASSERT_GT(th, 13) << dpi;
    auto scaled = [&](int v) { return MulDiv(v, th, 13); };
    RECT client;
    GetClientRect(form.Handle(), &client);
    EXPECT_EQ(client.right, scaled(696)) << dpi;
    EXPECT_EQ(client.bottom, scaled(469)) << dpi;
    RECT r;
    GetWindowRect(form.txtSQL.Handle(), &r);
    MapWindowPoints(nullptr, form.Handle(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, scaled(8));
    EXPECT_EQ(r.top, scaled(70));
    EXPECT_EQ(r.right - r.left, scaled(680));
    EXPECT_EQ(r.bottom - r.top, scaled(353));
    GetWindowRect(form.btnExecute.Handle(), &r);
    MapWindowPoints(nullptr, form.Handle(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, scaled(474));
    EXPECT_EQ(r.top, scaled(436));
    // Shown, it keeps its outer size and is placed by the same rule, off screen if need be.
    RECT before;
    GetWindowRect(form.Handle(), &before);
    form.Show();
    RECT after;
    GetWindowRect(form.Handle(), &after);
    const int w = before.right - before.left, h = before.bottom - before.top;
    EXPECT_EQ(after.right - after.left, w) << dpi;
    EXPECT_EQ(after.bottom - after.top, h) << dpi;
    EXPECT_EQ(after.left, (GetSystemMetrics(SM_CXSCREEN) - w) / 2) << dpi;
    EXPECT_EQ(after.top, (GetSystemMetrics(SM_CYSCREEN) - h) / 3) << dpi;
    GetClientRect(form.Handle(), &client);
    EXPECT_EQ(client.right, scaled(696)) << dpi;
    // The statement font's point size scales by the same ratio (unless Consolas took over).
    LOGFONTW sql = FontOf(form.txtSQL.Handle());
    if (!FontFamilyInstalled(L"Consolas")) {
      EXPECT_EQ(sql.lfHeight, -MulDiv(MulDiv(10, th, 13), dpi, 72)) << dpi;
    } else {
      EXPECT_EQ(sql.lfHeight, -MulDiv(12, dpi, 72)) << dpi;
    }
  }
}

namespace {

uint16_t Get16(const std::vector<unsigned char>& b, size_t at) {
  return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
}
uint32_t Get32(const std::vector<unsigned char>& b, size_t at) {
  return static_cast<uint32_t>(Get16(b, at)) << 16 | Get16(b, at + 2);
}
void Put16(std::vector<unsigned char>& b, size_t at, uint16_t v) {
  b[at] = static_cast<unsigned char>(v >> 8);
  b[at + 1] = static_cast<unsigned char>(v);
}

// A copy of a TrueType font whose family (and full and PostScript) names read `family`:
// each name string is overwritten in place, so every original name must be at least as long.
bool RenameFontFamily(std::vector<unsigned char>& font, const std::string& family) {
  if (font.size() < 12) return false;
  const uint16_t tables = Get16(font, 4);
  for (size_t t = 0; t < tables; ++t) {
    const size_t rec = 12 + 16 * t;
    if (rec + 16 > font.size()) return false;
    if (std::string(font.begin() + static_cast<long>(rec), font.begin() + static_cast<long>(rec) + 4) != "name")
      continue;
    const size_t name = Get32(font, rec + 8);
    const uint16_t count = Get16(font, name + 2), strings = Get16(font, name + 4);
    for (size_t i = 0; i < count; ++i) {
      const size_t r = name + 6 + 12 * i;
      const uint16_t platform = Get16(font, r), id = Get16(font, r + 6);
      const uint16_t length = Get16(font, r + 8), offset = Get16(font, r + 10);
      if (id != 1 && id != 3 && id != 4 && id != 6 && id != 16) continue;
      const size_t at = name + strings + offset;
      const bool wide = platform == 0 || platform == 3;
      const size_t need = family.size() * (wide ? 2 : 1);
      if (need > length || at + need > font.size()) return false;
      for (size_t c = 0; c < family.size(); ++c) {
        if (wide) {
          font[at + 2 * c] = 0;
          font[at + 2 * c + 1] = static_cast<unsigned char>(family[c]);
        } else {
          font[at + c] = static_cast<unsigned char>(family[c]);
        }
      }
      Put16(font, r + 8, static_cast<uint16_t>(need));
    }
    return true;
  }
  return false;
}

}  // namespace

TEST(FormStatementFont, IsConsolas12WhenThatFamilyIsInstalled) {
  if (!Application) StartApplication();
  if (FontFamilyInstalled(L"Consolas")) GTEST_SKIP() << "Consolas is installed here already";
  // Install a font under the family name "Consolas" for this process: a copy of Wine's
  // "Wingdings" with its names rewritten (the glyphs do not matter here).
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring source = std::wstring(windows) + L"\\Fonts\\wingding.ttf";
  FILE* in = _wfopen(source.c_str(), L"rb");
  if (!in) GTEST_SKIP() << "no font to stand in for Consolas";
  std::vector<unsigned char> font;
  unsigned char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, in)) > 0) font.insert(font.end(), buf, buf + n);
  fclose(in);
  ASSERT_TRUE(RenameFontFamily(font, "Consolas"));
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring copy = std::wstring(temp) + L"bv-consolas-standin.ttf";
  FILE* out = _wfopen(copy.c_str(), L"wb");
  ASSERT_NE(out, nullptr);
  fwrite(font.data(), 1, font.size(), out);
  fclose(out);
  ASSERT_GT(AddFontResourceExW(copy.c_str(), FR_PRIVATE, nullptr), 0);
  EXPECT_TRUE(FontFamilyInstalled(L"Consolas"));
  {
    TForm1 form;
    LOGFONTW sql = FontOf(form.txtSQL.Handle());
    EXPECT_STREQ(sql.lfFaceName, L"Consolas");
    EXPECT_EQ(sql.lfHeight, -16);
    // The window font stays Tahoma.
    EXPECT_STREQ(FontOf(form.txtDatabase.Handle()).lfFaceName, L"Tahoma");
  }
  {
    TForm1 form(120);
    EXPECT_EQ(FontOf(form.txtSQL.Handle()).lfHeight, -20);
  }
  RemoveFontResourceExW(copy.c_str(), FR_PRIVATE, nullptr);
  DeleteFileW(copy.c_str());
}
