#include "app/ButtonEdit.h"

#include <commctrl.h>
#include <uxtheme.h>
#include <vsstyle.h>
#include <windowsx.h>

namespace {

constexpr wchar_t kButtonClass[] = L"BvEditButton";
constexpr UINT_PTR kSubclassId = 0x42564544;  // the field's subclass id

bool KeyDown(int vk) { return GetKeyState(vk) < 0; }

void FillSolid(HDC dc, const RECT& rc, COLORREF color) {
  COLORREF old = SetBkColor(dc, color);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
  SetBkColor(dc, old);
}

void DrawDropDownGlyph(HDC dc, int x, int y, bool enabled) {
  // A small downward triangle, 7 pixels wide, centred in the 10x10 cell.
  COLORREF color = GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT);
  for (int row = 0; row < 4; ++row) {
    RECT r{x + 1 + row, y + 3 + row, x + 8 - row, y + 4 + row};
    FillSolid(dc, r, color);
  }
}

}  // namespace

unsigned ShortCutOf(unsigned key, bool shift, bool ctrl, bool alt) {
  return (key & 0xFF) | (shift ? scShift : 0) | (ctrl ? scCtrl : 0) | (alt ? scAlt : 0);
}

void DrawLookupGlyph(HDC dc, int x, int y, bool enabled) {
  auto dots = [&](int dx, int dy, COLORREF color) {
    for (int i = 0; i < 3; ++i) {
      RECT r{x + 1 + 3 * i + dx, y + 4 + dy, x + 3 + 3 * i + dx, y + 6 + dy};
      FillSolid(dc, r, color);
    }
  };
  if (enabled) {
    dots(0, 0, GetSysColor(COLOR_BTNTEXT));
  } else {
    // The greyed twin: light dots shifted by one pixel under grey ones, an engraved look.
    dots(1, 1, GetSysColor(COLOR_BTNHIGHLIGHT));
    dots(0, 0, GetSysColor(COLOR_BTNSHADOW));
  }
}

TButtonEdit::TButtonEdit() : flatColor_(GetSysColor(COLOR_BTNFACE)) {
  alt_.visible = false;
  alt_.kind = bkCustom;
  alt_.width = 15;
}

TButtonEdit::~TButtonEdit() {
  if (edit_) DestroyWindow(edit_);
}

void TButtonEdit::Create(HWND parent, int id, int left, int top, int width, int height) {
  static bool registered = false;
  if (!registered) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = ButtonProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kButtonClass;
    RegisterClassExW(&wc);
    registered = true;
  }
  // WS_CLIPCHILDREN keeps the field's own painting off the buttons inside it.
  edit_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPCHILDREN | ES_AUTOHSCROLL,
                          left, top, width, height, parent,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                          GetModuleHandleW(nullptr), nullptr);
  if (!edit_) return;
  SendMessageW(edit_, EM_LIMITTEXT, 0, 0);  // no length limit of its own
  SetWindowSubclass(edit_, EditProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
  for (Button* b : {&alt_, &main_}) {
    b->wnd = CreateWindowExW(0, kButtonClass, L"", WS_CHILD | WS_CLIPSIBLINGS, 0, 0, 0, 0,
                             edit_, nullptr, GetModuleHandleW(nullptr), this);
  }
  Layout();
}

std::wstring WindowText(HWND wnd) {
  if (!wnd) return {};
  int n = GetWindowTextLengthW(wnd);
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  n = GetWindowTextW(wnd, s.data(), n + 1);
  s.resize(static_cast<size_t>(n < 0 ? 0 : n));
  return s;
}

std::wstring TButtonEdit::Text() const { return WindowText(edit_); }

void TButtonEdit::SetText(const std::wstring& text) {
  if (edit_) SetWindowTextW(edit_, text.c_str());
}

void TButtonEdit::SetFont(HFONT font) {
  if (!edit_) return;
  SendMessageW(edit_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  Layout();  // a new font resets the field's margins
}

void TButtonEdit::SetBounds(int left, int top, int width, int height) {
  if (edit_) MoveWindow(edit_, left, top, width, height, TRUE);
}

void TButtonEdit::SetButtonVisible(bool v) { main_.visible = v; Layout(); }
void TButtonEdit::SetButtonKind(TButtonKind k) { main_.kind = k; RepaintButtons(); }
void TButtonEdit::SetButtonWidth(int w) { main_.width = w < 0 ? 0 : w; Layout(); }
void TButtonEdit::SetAltBtnVisible(bool v) { alt_.visible = v; Layout(); }
void TButtonEdit::SetAltBtnWidth(int w) { alt_.width = w < 0 ? 0 : w; Layout(); }
void TButtonEdit::SetFlatButtons(bool f) { flat_ = f; RepaintButtons(); }
void TButtonEdit::SetFlatButtonColor(COLORREF c) { flatColor_ = c; RepaintButtons(); }
void TButtonEdit::SetHideButtonsOnReadOnly(bool h) { hideOnReadOnly_ = h; Layout(); }

void TButtonEdit::SetReadOnly(bool r) {
  if (edit_) SendMessageW(edit_, EM_SETREADONLY, r, 0);
  Layout();
}

bool TButtonEdit::ReadOnly() const {
  return edit_ && (GetWindowLongW(edit_, GWL_STYLE) & ES_READONLY);
}

bool TButtonEdit::ButtonShown(const Button& b) const {
  return b.visible && b.width > 0 && !(hideOnReadOnly_ && ReadOnly());
}

int TButtonEdit::RightTextMargin() const {
  int w = 0;
  if (ButtonShown(main_)) w += main_.width;
  if (ButtonShown(alt_)) w += alt_.width;
  return w > 0 ? w + 2 : 0;
}

void TButtonEdit::Layout() {
  if (!edit_) return;
  RECT rc;
  GetClientRect(edit_, &rc);
  int right = rc.right;
  for (Button* b : {&main_, &alt_}) {
    if (!b->wnd) continue;
    if (ButtonShown(*b)) {
      SetWindowPos(b->wnd, nullptr, right - b->width, 0, b->width, rc.bottom,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
      right -= b->width;
      InvalidateRect(b->wnd, nullptr, FALSE);
    } else {
      ShowWindow(b->wnd, SW_HIDE);
    }
  }
  SendMessageW(edit_, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN,
               MAKELONG(0, RightTextMargin()));
}

void TButtonEdit::RepaintButtons() {
  for (Button* b : {&main_, &alt_})
    if (b->wnd) InvalidateRect(b->wnd, nullptr, FALSE);
}

TButtonEdit::Button* TButtonEdit::ButtonOf(HWND wnd) {
  if (wnd == main_.wnd) return &main_;
  if (wnd == alt_.wnd) return &alt_;
  return nullptr;
}

void TButtonEdit::ButtonClick() { Click(main_); }

void TButtonEdit::Click(Button& b) {
  if (!edit_ || !ButtonShown(b) || !IsWindowEnabled(edit_)) return;
  // The handler may open a modal window: leave the button in its resting look first.
  b.pressed = false;
  b.hot = false;
  if (GetCapture() == b.wnd) ReleaseCapture();
  InvalidateRect(b.wnd, nullptr, FALSE);
  const std::function<void()>& handler = (&b == &main_) ? OnButtonClick : OnAltBtnClick;
  if (handler) handler();
}

LRESULT CALLBACK TButtonEdit::EditProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                       DWORD_PTR ref) {
  auto* self = reinterpret_cast<TButtonEdit*>(ref);
  bool handled = false;
  LRESULT r = self->OnEditMessage(wnd, msg, wp, lp, handled);
  if (handled) return r;
  return DefSubclassProc(wnd, msg, wp, lp);
}

LRESULT TButtonEdit::OnEditMessage(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, bool& handled) {
  handled = true;
  switch (msg) {
    case WM_GETDLGCODE:
      // Every key comes here, so that Tab, Enter and the shortcuts work the same whether or
      // not the message loop runs the dialog manager.
      return DefSubclassProc(wnd, msg, wp, lp) | DLGC_WANTALLKEYS;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
      swallowChar_ = false;
      bool shift = KeyDown(VK_SHIFT), ctrl = KeyDown(VK_CONTROL);
      bool alt = msg == WM_SYSKEYDOWN || KeyDown(VK_MENU);
      if (wp == VK_TAB && !ctrl && !alt && OnTabKey) {
        swallowChar_ = true;
        OnTabKey(shift);
        return 0;
      }
      if (!allowKeyEdit_ && msg == WM_KEYDOWN && wp == VK_DELETE) return 0;
      LRESULT r = DefSubclassProc(wnd, msg, wp, lp);
      unsigned sc = ShortCutOf(static_cast<unsigned>(wp), shift, ctrl, alt);
      for (Button* b : {&main_, &alt_}) {
        if (b->shortcut != 0 && sc == b->shortcut && ButtonShown(*b) && IsWindowEnabled(wnd)) {
          // The key's character, if it has one, is already queued (the loop translated the
          // key before dispatching it): drop it here, before the handler's modal loop could
          // deliver it. The flag covers a character sent directly after the key.
          MSG queued;
          while (PeekMessageW(&queued, wnd, WM_CHAR, WM_DEADCHAR, PM_REMOVE)) {
          }
          while (PeekMessageW(&queued, wnd, WM_SYSCHAR, WM_SYSDEADCHAR, PM_REMOVE)) {
          }
          swallowChar_ = true;
          Click(*b);
          break;
        }
      }
      return r;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP:
      // The key is released: a character still to come belongs to another key.
      swallowChar_ = false;
      break;
    case WM_CHAR:
    case WM_SYSCHAR:
      if (swallowChar_) {
        swallowChar_ = false;
        return 0;
      }
      if (msg == WM_CHAR) {
        // A single-line field types no tab, line break or escape character.
        if (wp == L'\t' || wp == L'\r' || wp == L'\n' || wp == 0x1B) return 0;
        if (!allowKeyEdit_ && wp != 0x03 /* Ctrl+C copies */) return 0;
      }
      break;
    case WM_PASTE:
    case WM_CUT:
    case WM_CLEAR:
    case WM_UNDO:
      if (!allowKeyEdit_) return 0;
      break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_LBUTTONUP: {
      // A click that the field itself receives at a button's place (delivered to the field
      // rather than through the screen) belongs to that button; so does the release of a
      // button pressed that way.
      POINT pt{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      for (Button* b : {&main_, &alt_}) {
        if (!b->wnd || !IsWindowVisible(b->wnd)) continue;
        RECT r;
        GetWindowRect(b->wnd, &r);
        MapWindowPoints(nullptr, wnd, reinterpret_cast<POINT*>(&r), 2);
        if (msg == WM_LBUTTONUP ? b->pressed : PtInRect(&r, pt) != 0)
          return SendMessageW(b->wnd, msg, wp, MAKELPARAM(pt.x - r.left, pt.y - r.top));
      }
      if (msg == WM_LBUTTONUP) break;
      // Focus arriving through the mouse does not select the whole text.
      mouseEntering_ = true;
      LRESULT r = DefSubclassProc(wnd, msg, wp, lp);
      mouseEntering_ = false;
      return r;
    }
    case WM_SETFOCUS: {
      LRESULT r = DefSubclassProc(wnd, msg, wp, lp);
      // Selecting happens when the focus enters the field (from another control of the same
      // window, or for the first time), not when it comes back after the window was left for
      // a message box, a dialog or another program.
      const bool returning = focusLeftWindow_;
      focusLeftWindow_ = false;
      if (autoSelect_ && !mouseEntering_ && !returning) SendMessageW(wnd, EM_SETSEL, 0, -1);
      RepaintButtons();
      return r;
    }
    case WM_KILLFOCUS: {
      HWND to = reinterpret_cast<HWND>(wp);
      focusLeftWindow_ = !to || GetAncestor(to, GA_ROOT) != GetAncestor(wnd, GA_ROOT);
      swallowChar_ = false;
      RepaintButtons();
      break;
    }
    case WM_ENABLE:
      RepaintButtons();
      break;
    case WM_MOUSEMOVE:
      if (!mouseOverEdit_) {
        TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, wnd, 0};
        TrackMouseEvent(&t);
        mouseOverEdit_ = true;
        RepaintButtons();
      }
      break;
    case WM_MOUSELEAVE:
      mouseOverEdit_ = false;
      RepaintButtons();
      break;
    case WM_SIZE: {
      LRESULT r = DefSubclassProc(wnd, msg, wp, lp);
      Layout();
      return r;
    }
    case EM_SETREADONLY: {
      LRESULT r = DefSubclassProc(wnd, msg, wp, lp);
      Layout();
      return r;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(wnd, EditProc, kSubclassId);
      edit_ = nullptr;
      main_.wnd = alt_.wnd = nullptr;
      break;
  }
  handled = false;
  return 0;
}

LRESULT CALLBACK TButtonEdit::ButtonProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* self = reinterpret_cast<TButtonEdit*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
  Button* b = self ? self->ButtonOf(wnd) : nullptr;
  if (!b) return DefWindowProcW(wnd, msg, wp, lp);
  return self->OnButtonMessage(*b, msg, wp, lp);
}

LRESULT TButtonEdit::OnButtonMessage(Button& b, UINT msg, WPARAM wp, LPARAM lp) {
  HWND wnd = b.wnd;
  switch (msg) {
    case WM_MOUSEMOVE: {
      POINT pt{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      RECT rc;
      GetClientRect(wnd, &rc);
      bool inside = PtInRect(&rc, pt) != 0;
      if (!b.tracking) {
        TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, wnd, 0};
        b.tracking = TrackMouseEvent(&t) != 0;
      }
      if (inside != b.hot) {
        b.hot = inside;
        InvalidateRect(wnd, nullptr, FALSE);
      }
      return 0;
    }
    case WM_MOUSELEAVE:
      b.tracking = false;
      if (GetCapture() != wnd && b.hot) {
        b.hot = false;
        InvalidateRect(wnd, nullptr, FALSE);
      }
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      if (IsWindowEnabled(edit_)) {
        b.pressed = true;
        b.hot = true;
        SetCapture(wnd);
        InvalidateRect(wnd, nullptr, FALSE);
      }
      return 0;
    case WM_LBUTTONUP: {
      bool wasPressed = b.pressed;
      b.pressed = false;
      if (GetCapture() == wnd) ReleaseCapture();
      POINT pt{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      RECT rc;
      GetClientRect(wnd, &rc);
      InvalidateRect(wnd, nullptr, FALSE);
      if (wasPressed && PtInRect(&rc, pt)) Click(b);
      return 0;
    }
    case WM_CAPTURECHANGED:
      if (b.pressed) {
        b.pressed = false;
        InvalidateRect(wnd, nullptr, FALSE);
      }
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(wnd, &ps);
      PaintButton(b, dc);
      EndPaint(wnd, &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      PaintButton(b, reinterpret_cast<HDC>(wp));
      return 0;
  }
  return DefWindowProcW(wnd, msg, wp, lp);
}

void TButtonEdit::PaintButton(Button& b, HDC target) {
  RECT rc;
  GetClientRect(b.wnd, &rc);
  if (rc.right <= 0 || rc.bottom <= 0) return;
  // Drawn off screen first, so the button never flickers through its states.
  HDC dc = CreateCompatibleDC(target);
  HBITMAP bmp = CreateCompatibleBitmap(target, rc.right, rc.bottom);
  HGDIOBJ oldBmp = SelectObject(dc, bmp);

  const bool enabled = IsWindowEnabled(edit_) != 0;
  const bool down = b.pressed && b.hot;
  const bool focused = GetFocus() == edit_;
  // Under visual themes the raised and sunken faces are the theme's button faces (the
  // drop-down parts would bring their own arrow under the glyph).
  const bool themed = IsAppThemed() && (GetThemeAppProperties() & STAP_ALLOW_CONTROLS);
  HTHEME theme = themed ? OpenThemeData(b.wnd, L"BUTTON") : nullptr;
  const COLORREF fieldColor = GetSysColor(enabled && !ReadOnly() ? COLOR_WINDOW : COLOR_BTNFACE);

  if (flat_) {
    if (theme) {
      FillSolid(dc, rc, fieldColor);
      if (enabled && (down || b.hot))
        DrawThemeBackground(theme, dc, BP_PUSHBUTTON, down ? PBS_PRESSED : PBS_HOT, &rc, nullptr);
    } else {
      bool active = enabled && (focused || b.hot || mouseOverEdit_);
      FillSolid(dc, rc, active ? flatColor_ : fieldColor);
      if (enabled && down)
        DrawEdge(dc, &rc, BDR_SUNKENOUTER, BF_RECT);
      else if (enabled && b.hot)
        DrawEdge(dc, &rc, BDR_RAISEDINNER, BF_RECT);
    }
  } else if (theme) {
    FillSolid(dc, rc, fieldColor);
    int state = !enabled ? PBS_DISABLED : down ? PBS_PRESSED : b.hot ? PBS_HOT : PBS_NORMAL;
    DrawThemeBackground(theme, dc, BP_PUSHBUTTON, state, &rc, nullptr);
  } else {
    RECT frame = rc;
    DrawFrameControl(dc, &frame, DFC_BUTTON, DFCS_BUTTONPUSH | (down ? DFCS_PUSHED : 0));
  }

  int gx = (rc.right - 10) / 2, gy = (rc.bottom - 10) / 2;
  if (down) {
    gx += 1;
    if (!theme) gy += 1;
  }
  if (b.kind == bkLookup)
    DrawLookupGlyph(dc, gx, gy, enabled);
  else if (b.kind == bkDropDown)
    DrawDropDownGlyph(dc, gx, gy, enabled);

  if (theme) CloseThemeData(theme);
  BitBlt(target, 0, 0, rc.right, rc.bottom, dc, 0, 0, SRCCOPY);
  SelectObject(dc, oldBmp);
  DeleteObject(bmp);
  DeleteDC(dc);
}
