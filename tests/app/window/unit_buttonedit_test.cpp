// The button-edit control in this process: layout, shortcuts, mouse clicks, AutoSelect,
// AllowKeyEdit and the flat button's looks.
#include <gtest/gtest.h>
#include <windows.h>
#include <uxtheme.h>

#include "app/ButtonEdit.h"

namespace {

int g_closeRequests = 0;

LRESULT CALLBACK HostProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_SYSCOMMAND && (wp & 0xFFF0) == SC_CLOSE) {
    ++g_closeRequests;  // recorded, not carried out
    return 0;
  }
  return DefWindowProcW(wnd, msg, wp, lp);
}

void Pump() {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

void SetModifiers(bool shift, bool ctrl, bool alt) {
  BYTE keys[256] = {};
  keys[VK_SHIFT] = shift ? 0x80 : 0;
  keys[VK_CONTROL] = ctrl ? 0x80 : 0;
  keys[VK_MENU] = alt ? 0x80 : 0;
  SetKeyboardState(keys);
}

class ButtonEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static bool registered = false;
    if (!registered) {
      WNDCLASSW wc{};
      wc.lpfnWndProc = HostProc;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
      wc.lpszClassName = L"BvButtonEditHost";
      RegisterClassW(&wc);
      registered = true;
    }
    host_ = CreateWindowExW(0, L"BvButtonEditHost", L"host", WS_OVERLAPPEDWINDOW, 10, 10, 400,
                            200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(host_, nullptr);
    edit_.Create(host_, 10, 8, 8, 200, 21);
    edit_.SetButtonKind(bkLookup);
    edit_.SetButtonWidth(15);
    edit_.SetButtonShortCut(VK_F4);
    edit_.SetFlatButtons(true);
    edit_.SetHideButtonsOnReadOnly(true);
    edit_.OnButtonClick = [this] { ++clicks_; };
    other_ = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 8, 40, 100, 21, host_,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
    ShowWindow(host_, SW_SHOW);
    Pump();
    g_closeRequests = 0;
  }
  void TearDown() override {
    SetModifiers(false, false, false);
    if (host_) DestroyWindow(host_);
  }

  LRESULT Key(UINT msg, WPARAM vk) {
    LPARAM lp = 1 | (msg == WM_SYSKEYDOWN ? (1 << 29) : 0);
    return SendMessageW(edit_.Handle(), msg, vk, lp);
  }
  RECT ButtonRect() const {
    RECT rc;
    GetWindowRect(edit_.ButtonHandle(), &rc);
    MapWindowPoints(nullptr, edit_.Handle(), reinterpret_cast<POINT*>(&rc), 2);
    return rc;
  }
  // The button's client area as painted now, as 0x00BBGGRR colours.
  std::vector<COLORREF> Paint(int& w, int& h) {
    RECT rc;
    GetClientRect(edit_.ButtonHandle(), &rc);
    w = rc.right;
    h = rc.bottom;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(dc, bmp);
    SendMessageW(edit_.ButtonHandle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    std::vector<COLORREF> px;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) px.push_back(GetPixel(dc, x, y));
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return px;
  }

  HWND host_ = nullptr;
  HWND other_ = nullptr;
  TButtonEdit edit_;
  int clicks_ = 0;
};

}  // namespace

TEST(ButtonEditShortCut, CombinesKeyAndModifiers) {
  EXPECT_EQ(ShortCutOf(VK_F4, false, false, false), 115u);
  EXPECT_EQ(ShortCutOf(VK_F4, true, false, false), 115u + 8192u);
  EXPECT_EQ(ShortCutOf(VK_F4, false, true, false), 115u + 16384u);
  EXPECT_EQ(ShortCutOf(VK_F4, false, false, true), 115u + 32768u);
}

TEST_F(ButtonEditTest, ButtonSitsInsideTheBorderAndTextKeepsClearOfIt) {
  RECT inside;
  GetClientRect(edit_.Handle(), &inside);
  RECT b = ButtonRect();
  EXPECT_TRUE(IsWindowVisible(edit_.ButtonHandle()));
  EXPECT_EQ(b.right, inside.right);
  EXPECT_EQ(b.right - b.left, 15);
  EXPECT_EQ(b.top, 0);
  EXPECT_EQ(b.bottom, inside.bottom);
  EXPECT_EQ(SendMessageW(edit_.Handle(), EM_GETMARGINS, 0, 0), MAKELONG(0, 17));
  EXPECT_FALSE(IsWindowVisible(edit_.AltButtonHandle()));

  // The second button goes left of the first; the margin covers both.
  edit_.SetAltBtnVisible(true);
  RECT a;
  GetWindowRect(edit_.AltButtonHandle(), &a);
  MapWindowPoints(nullptr, edit_.Handle(), reinterpret_cast<POINT*>(&a), 2);
  EXPECT_TRUE(IsWindowVisible(edit_.AltButtonHandle()));
  EXPECT_EQ(a.right, b.left);
  EXPECT_EQ(a.right - a.left, 15);
  EXPECT_EQ(SendMessageW(edit_.Handle(), EM_GETMARGINS, 0, 0), MAKELONG(0, 32));

  // Read-only hides both buttons (and their margin) while HideButtonsOnReadOnly holds.
  edit_.SetReadOnly(true);
  EXPECT_FALSE(IsWindowVisible(edit_.ButtonHandle()));
  EXPECT_EQ(SendMessageW(edit_.Handle(), EM_GETMARGINS, 0, 0), MAKELONG(0, 0));
  edit_.SetHideButtonsOnReadOnly(false);
  EXPECT_TRUE(IsWindowVisible(edit_.ButtonHandle()));
  // A font change keeps the margins.
  edit_.SetFont(static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
  EXPECT_EQ(SendMessageW(edit_.Handle(), EM_GETMARGINS, 0, 0), MAKELONG(0, 32));
}

TEST_F(ButtonEditTest, PlainF4ClicksShiftAndCtrlF4DoNotAltF4ClosesTheWindow) {
  edit_.SetText(L"C:\\db\\a.mdb");
  SetFocus(edit_.Handle());
  Key(WM_KEYDOWN, VK_F4);
  EXPECT_EQ(clicks_, 1);
  SetModifiers(true, false, false);
  Key(WM_KEYDOWN, VK_F4);
  SetModifiers(false, true, false);
  Key(WM_KEYDOWN, VK_F4);
  EXPECT_EQ(clicks_, 1);
  SetModifiers(false, false, true);
  Key(WM_SYSKEYDOWN, VK_F4);
  Pump();
  EXPECT_EQ(clicks_, 1);
  EXPECT_EQ(g_closeRequests, 1);
  EXPECT_EQ(edit_.Text(), L"C:\\db\\a.mdb");
  // A disabled field (or hidden button) does not click.
  SetModifiers(false, false, false);
  edit_.SetButtonVisible(false);
  Key(WM_KEYDOWN, VK_F4);
  edit_.SetButtonVisible(true);
  EnableWindow(edit_.Handle(), FALSE);
  Key(WM_KEYDOWN, VK_F4);
  EXPECT_EQ(clicks_, 1);
}

TEST_F(ButtonEditTest, TheShortcutsCharacterIsNotTyped) {
  edit_.SetButtonShortCut('Q');
  SetFocus(edit_.Handle());
  Key(WM_KEYDOWN, 'Q');
  SendMessageW(edit_.Handle(), WM_CHAR, L'q', 1);
  EXPECT_EQ(clicks_, 1);
  EXPECT_EQ(edit_.Text(), L"");
  // The next key types normally.
  Key(WM_KEYDOWN, 'W');
  SendMessageW(edit_.Handle(), WM_CHAR, L'w', 1);
  EXPECT_EQ(edit_.Text(), L"w");
}

TEST_F(ButtonEditTest, AShortcutWithoutCharacterDoesNotEatALaterOne) {
  // F4 gives no character: what is typed after its key-up, or after the focus went away and
  // came back (a dialog opened by the button), is typed in full.
  SetFocus(edit_.Handle());
  Key(WM_KEYDOWN, VK_F4);
  SendMessageW(edit_.Handle(), WM_KEYUP, VK_F4, 0xC0000001);
  SendMessageW(edit_.Handle(), WM_CHAR, L'a', 1);
  Key(WM_KEYDOWN, VK_F4);
  SetFocus(other_);
  SetFocus(edit_.Handle());
  SendMessageW(edit_.Handle(), EM_SETSEL, 1, 1);
  SendMessageW(edit_.Handle(), WM_CHAR, L'b', 1);
  EXPECT_EQ(clicks_, 2);
  EXPECT_EQ(edit_.Text(), L"ab");
}

TEST_F(ButtonEditTest, TheQueuedCharacterOfAShortcutIsDroppedBeforeTheHandlerRuns) {
  // Posted as the message loop leaves them: the key, then its translated character. The
  // handler runs a loop of its own (as a modal dialog does) that delivers the character.
  edit_.SetButtonShortCut('Q');
  edit_.OnButtonClick = [this] {
    ++clicks_;
    Pump();
  };
  SetFocus(edit_.Handle());
  PostMessageW(edit_.Handle(), WM_KEYDOWN, 'Q', 1);
  PostMessageW(edit_.Handle(), WM_CHAR, L'q', 1);
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, edit_.Handle(), WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE));
  DispatchMessageW(&m);
  Pump();
  EXPECT_EQ(clicks_, 1);
  EXPECT_EQ(edit_.Text(), L"");
}

TEST_F(ButtonEditTest, MouseClickOnTheButtonRunsTheHandlerAndKeepsTheText) {
  edit_.SetText(L"keep");
  HWND b = edit_.ButtonHandle();
  SendMessageW(b, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  SendMessageW(b, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(clicks_, 1);
  EXPECT_EQ(edit_.Text(), L"keep");
  // Released outside the button: no click.
  SendMessageW(b, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  SendMessageW(b, WM_LBUTTONUP, 0, MAKELPARAM(40, 5));
  EXPECT_EQ(clicks_, 1);
  // The same click handed to the field at the button's place.
  RECT br = ButtonRect();
  const LPARAM on = MAKELPARAM(br.left + 5, br.top + 5);
  SendMessageW(edit_.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, on);
  SendMessageW(edit_.Handle(), WM_LBUTTONUP, 0, on);
  EXPECT_EQ(clicks_, 2);
  EXPECT_EQ(edit_.Text(), L"keep");
  // A click in the text area stays the field's own.
  SendMessageW(edit_.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 5));
  SendMessageW(edit_.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(br.left + 5, br.top + 5));
  EXPECT_EQ(clicks_, 2);
  EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(ButtonEditTest, AutoSelectOnKeyboardEntryOnly) {
  edit_.SetText(L"abc");
  SetFocus(other_);
  SetFocus(edit_.Handle());
  EXPECT_EQ(SendMessageW(edit_.Handle(), EM_GETSEL, 0, 0), MAKELONG(0, 3));
  SetFocus(other_);
  SendMessageW(edit_.Handle(), EM_SETSEL, 0, 0);
  SendMessageW(edit_.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 5));
  SendMessageW(edit_.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(1, 5));
  EXPECT_EQ(GetFocus(), edit_.Handle());
  EXPECT_NE(SendMessageW(edit_.Handle(), EM_GETSEL, 0, 0), MAKELONG(0, 3));
  // The focus coming back after the window was left (for a dialog, a message box, another
  // program) is no entry: the caret stays where it was.
  SetFocus(edit_.Handle());
  SendMessageW(edit_.Handle(), EM_SETSEL, 2, 2);
  HWND away = CreateWindowExW(0, L"BvButtonEditHost", L"away", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                              30, 30, 200, 100, nullptr, nullptr, GetModuleHandleW(nullptr),
                              nullptr);
  ASSERT_NE(away, nullptr);
  SetFocus(away);
  ASSERT_EQ(GetFocus(), away);
  SetActiveWindow(host_);
  SetFocus(edit_.Handle());
  DestroyWindow(away);
  EXPECT_EQ(GetFocus(), edit_.Handle());
  EXPECT_EQ(SendMessageW(edit_.Handle(), EM_GETSEL, 0, 0), MAKELONG(2, 2));
  // ... while entering it from a control of the same window afterwards selects again.
  SetFocus(other_);
  SetFocus(edit_.Handle());
  EXPECT_EQ(SendMessageW(edit_.Handle(), EM_GETSEL, 0, 0), MAKELONG(0, 3));
  // Off: keyboard entry leaves the selection alone.
  edit_.SetAutoSelect(false);
  SetFocus(other_);
  SendMessageW(edit_.Handle(), EM_SETSEL, 1, 1);
  SetFocus(edit_.Handle());
  EXPECT_EQ(SendMessageW(edit_.Handle(), EM_GETSEL, 0, 0), MAKELONG(1, 1));
}

TEST_F(ButtonEditTest, WithoutAllowKeyEditNothingCanBeTypedPastedOrCut) {
  edit_.SetText(L"fixed");
  edit_.SetAllowKeyEdit(false);
  SetFocus(edit_.Handle());
  SendMessageW(edit_.Handle(), EM_SETSEL, 0, -1);
  SendMessageW(edit_.Handle(), WM_CHAR, L'x', 1);
  SendMessageW(edit_.Handle(), WM_CUT, 0, 0);
  SendMessageW(edit_.Handle(), WM_CLEAR, 0, 0);
  Key(WM_KEYDOWN, VK_DELETE);
  EXPECT_EQ(edit_.Text(), L"fixed");
  edit_.SetAllowKeyEdit(true);
  SendMessageW(edit_.Handle(), WM_CHAR, L'x', 1);
  EXPECT_EQ(edit_.Text(), L"x");
}

TEST(LookupGlyph, ThreeDarkDotsCentredAndAGreyedTwin) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, 10, 10);
  HGDIOBJ old = SelectObject(dc, bmp);
  auto render = [&](bool enabled) {
    RECT all{0, 0, 10, 10};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    DrawLookupGlyph(dc, 0, 0, enabled);
    std::vector<COLORREF> px;
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) px.push_back(GetPixel(dc, x, y));
    return px;
  };
  std::vector<COLORREF> on = render(true), off = render(false);
  const COLORREF text = GetSysColor(COLOR_BTNTEXT);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) {
      bool dot = (y == 4 || y == 5) && (x == 1 || x == 2 || x == 4 || x == 5 || x == 7 || x == 8);
      EXPECT_EQ(on[static_cast<size_t>(y * 10 + x)] == text, dot) << x << "," << y;
      EXPECT_NE(off[static_cast<size_t>(y * 10 + x)], text) << x << "," << y;
    }
  EXPECT_NE(on, off);
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
}

namespace {

// Controls follow the visual theme only while the application allows it.
struct ThemeSwitch {
  explicit ThemeSwitch(bool on) {
    SetThemeAppProperties(on ? STAP_ALLOW_NONCLIENT | STAP_ALLOW_CONTROLS : STAP_ALLOW_NONCLIENT);
  }
  ~ThemeSwitch() {
    SetThemeAppProperties(STAP_ALLOW_NONCLIENT | STAP_ALLOW_CONTROLS | STAP_ALLOW_WEBCONTENT);
  }
};

}  // namespace

TEST_F(ButtonEditTest, FlatButtonWithoutThemesIsFramelessAtRestRaisedHotSunkenPressed) {
  ThemeSwitch off(false);
  ASSERT_NE(GetSysColor(COLOR_WINDOW), GetSysColor(COLOR_BTNFACE));
  int w = 0, h = 0;
  auto at = [&](const std::vector<COLORREF>& px, int x, int y) {
    return px[static_cast<size_t>(y * w + x)];
  };
  const COLORREF text = GetSysColor(COLOR_BTNTEXT);
  SetFocus(other_);
  std::vector<COLORREF> rest = Paint(w, h);
  ASSERT_EQ(w, 15);
  // At rest, unfocused: the field's colour everywhere but the glyph, no frame.
  EXPECT_EQ(at(rest, 0, 0), GetSysColor(COLOR_WINDOW));
  EXPECT_EQ(at(rest, w - 1, h - 1), GetSysColor(COLOR_WINDOW));
  const int gx = (w - 10) / 2, gy = (h - 10) / 2;
  EXPECT_EQ(at(rest, gx + 1, gy + 4), text);

  // The field has the focus: the flat button colour shows, still without a frame.
  SetFocus(edit_.Handle());
  std::vector<COLORREF> focused = Paint(w, h);
  EXPECT_EQ(at(focused, 0, 0), GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(at(focused, 0, 0), at(focused, w - 1, h - 1));

  // Under the mouse: raised (light top-left edge, dark bottom-right edge).
  SendMessageW(edit_.ButtonHandle(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  std::vector<COLORREF> hot = Paint(w, h);
  EXPECT_EQ(at(hot, 0, 0), GetSysColor(COLOR_BTNHIGHLIGHT));
  EXPECT_EQ(at(hot, w - 1, h - 1), GetSysColor(COLOR_BTNSHADOW));
  EXPECT_EQ(at(hot, gx + 1, gy + 4), text);

  // Pressed: sunken, glyph one pixel right and one down.
  SendMessageW(edit_.ButtonHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  std::vector<COLORREF> down = Paint(w, h);
  EXPECT_EQ(at(down, 0, 0), GetSysColor(COLOR_BTNSHADOW));
  EXPECT_EQ(at(down, w - 1, h - 1), GetSysColor(COLOR_BTNHIGHLIGHT));
  EXPECT_NE(at(down, gx + 1, gy + 4), text);
  EXPECT_EQ(at(down, gx + 2, gy + 5), text);
  EXPECT_EQ(at(down, gx + 3, gy + 6), text);
  SendMessageW(edit_.ButtonHandle(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(clicks_, 1);

  // Disabled field: the greyed glyph, no dark dots.
  EnableWindow(edit_.Handle(), FALSE);
  for (COLORREF c : Paint(w, h)) EXPECT_NE(c, text);
}

TEST_F(ButtonEditTest, FlatButtonWithThemesUsesTheFieldColourAndTheThemeFaces) {
  ThemeSwitch on(true);
  if (!IsAppThemed()) GTEST_SKIP() << "no visual theme is active";
  int w = 0, h = 0;
  auto at = [&](const std::vector<COLORREF>& px, int x, int y) {
    return px[static_cast<size_t>(y * w + x)];
  };
  const COLORREF text = GetSysColor(COLOR_BTNTEXT), field = GetSysColor(COLOR_WINDOW);
  const int gx = 2, gy = 3;  // the glyph cell centred in 15 x 17
  // Focused or not, at rest the button is the field's colour with the glyph only.
  SetFocus(edit_.Handle());
  std::vector<COLORREF> rest = Paint(w, h);
  ASSERT_EQ(w, 15);
  ASSERT_EQ(h, 17);
  EXPECT_EQ(at(rest, 0, 0), field);
  EXPECT_EQ(at(rest, w - 1, h - 1), field);
  EXPECT_EQ(at(rest, gx + 1, gy + 4), text);
  // Hot: the theme's face (it differs from the resting look), glyph in place.
  SendMessageW(edit_.ButtonHandle(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  std::vector<COLORREF> hot = Paint(w, h);
  EXPECT_NE(hot, rest);
  EXPECT_EQ(at(hot, gx + 1, gy + 4), text);
  // Pressed: another face, glyph one pixel to the right only.
  SendMessageW(edit_.ButtonHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  std::vector<COLORREF> down = Paint(w, h);
  EXPECT_NE(down, hot);
  EXPECT_NE(at(down, gx + 1, gy + 4), text);
  EXPECT_EQ(at(down, gx + 2, gy + 4), text);
  EXPECT_EQ(at(down, gx + 3, gy + 5), text);
  SendMessageW(edit_.ButtonHandle(), WM_LBUTTONUP, 0, MAKELPARAM(40, 5));
  EXPECT_EQ(clicks_, 0);
}
