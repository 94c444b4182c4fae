#include "app/Unit1.h"

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/FormLayout.h"
#include "runner/RunRequest.h"

TForm1* Form1 = nullptr;

namespace {

constexpr wchar_t kFormClass[] = L"TForm1";
constexpr wchar_t kCaption[] = L"Brimvale v1.1";
constexpr UINT_PTR kControlSubclassId = 0x42564631;

// The design: 96 dots per inch, the window font's text height 13 pixels.
constexpr int kDesignDpi = 96;
constexpr int kDesignTextHeight = 13;
constexpr int kDesignFontHeight = -11;  // Tahoma 8 pt
constexpr int kDesignSQLPoints = 10;    // Courier New 10 pt = height -13

int ScreenDpi() {
  HDC dc = GetDC(nullptr);
  int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : kDesignDpi;
  if (dc) ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : kDesignDpi;
}

HFONT MakeFont(const wchar_t* face, int height) {
  return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, face);
}

// Pixel height of a line of text in `font` (tmHeight), and the width of `text` in it.
SIZE MeasureText(HFONT font, const std::wstring& text) {
  SIZE size{0, 0};
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  if (!text.empty()) GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  size.cy = tm.tmHeight;
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return size;
}

bool KeyDown(int vk) { return GetKeyState(vk) < 0; }

// The window-system services of a run: the application's message boxes and its cursor.
struct FormRunUI : RunUI {
  int MessageBox(const std::wstring& text, const std::wstring& caption,
                 unsigned flags) override {
    return Application->MessageBox(text, caption, flags);
  }
  void SetCursor(int cursor) override { Application->SetBusyCursor(cursor == -11); }
};

struct FontFamilySearch {
  const wchar_t* face;
  bool found;
};

int CALLBACK FontFamilySeen(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM search) {
  auto* s = reinterpret_cast<FontFamilySearch*>(search);
  if (lstrcmpiW(font->lfFaceName, s->face) == 0) {
    s->found = true;
    return 0;  // one match is enough
  }
  return 1;
}

}  // namespace

std::wstring TControl::Text() const { return WindowText(handle); }
void TControl::SetText(const std::wstring& text) const {
  if (handle) SetWindowTextW(handle, text.c_str());
}

bool FontFamilyInstalled(const wchar_t* face) {
  // The list of installed families (an empty face name enumerates one entry per family and
  // character set). Asking for the face by name would also accept a name that the system
  // only substitutes by another family.
  LOGFONTW lf{};
  lf.lfCharSet = DEFAULT_CHARSET;
  FontFamilySearch search{face, false};
  HDC dc = GetDC(nullptr);
  EnumFontFamiliesExW(dc, &lf, FontFamilySeen, reinterpret_cast<LPARAM>(&search), 0);
  ReleaseDC(nullptr, dc);
  return search.found;
}

std::wstring GetCommonDocumentsPath(const std::wstring& SubFolder) {
  // The lookup's status is not examined; the zeroed buffer makes a failed lookup an empty
  // folder text, which becomes "\" and does not resolve to a folder.
  wchar_t buffer[MAX_PATH + 1] = {};
  SHGetFolderPathW(nullptr, CSIDL_COMMON_DOCUMENTS, nullptr, 0, buffer);
  buffer[MAX_PATH] = L'\0';
  return JoinDocumentsPath(buffer, SubFolder);
}

TForm1::TForm1() : TForm1(ScreenDpi()) {}

TForm1::TForm1(int dpi) : dpi_(dpi > 0 ? dpi : kDesignDpi) {
  static bool registered = false;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!registered) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kFormClass;
    RegisterClassExW(&wc);
    registered = true;
  }

  // One-time scaling: the window font follows the resolution, then every position and size
  // follows the font's resulting text height.
  int fontHeight = kDesignFontHeight;
  if (dpi_ != kDesignDpi) fontHeight = ScaleBy(kDesignFontHeight, dpi_, kDesignDpi);
  font_ = MakeFont(L"Tahoma", fontHeight);
  if (dpi_ != kDesignDpi) {
    int textHeight = MeasureText(font_, L"").cy;
    if (textHeight > 0) {
      scaleNum_ = textHeight;
      scaleDen_ = kDesignTextHeight;
    }
  }
  sqlPoints_ = ScaleBy(kDesignSQLPoints, scaleNum_, scaleDen_);

  // bsDialog with the close button only: a fixed dialog frame, no minimise, maximise or
  // help button, no taskbar button of its own (the application window owns it).
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CONTROLPARENT;
  RECT rc{0, 0, ScaleValue(696), ScaleValue(469)};
  AdjustWindowRectEx(&rc, style, FALSE, exStyle);
  outerWidth_ = rc.right - rc.left;
  outerHeight_ = rc.bottom - rc.top;
  HWND owner = Application ? Application->Handle() : nullptr;
  // The size limits are asked for before the window can name its object.
  creating_ = this;
  CreateWindowExW(exStyle, kFormClass, kCaption, style, CW_USEDEFAULT, CW_USEDEFAULT,
                  outerWidth_, outerHeight_, owner, nullptr, instance, this);
  creating_ = nullptr;
  if (!handle_) return;
  TrimSystemMenu();
  CreateControls();
  if (Application)
    Application->Guard([this] { FormCreate(); });
  else
    FormCreate();
}

TForm1::~TForm1() {
  if (handle_) DestroyWindow(handle_);
  if (sqlFont_) DeleteObject(sqlFont_);
  if (font_) DeleteObject(font_);
  if (Form1 == this) Form1 = nullptr;
}

int TForm1::ScaleValue(int v) const {
  return scaleNum_ == scaleDen_ ? v : ScaleBy(v, scaleNum_, scaleDen_);
}

std::wstring TForm1::Caption() const { return WindowText(handle_); }

void TForm1::TrimSystemMenu() {
  // The window menu keeps Move and Close only.
  HMENU menu = GetSystemMenu(handle_, FALSE);
  if (!menu) return;
  for (int i = GetMenuItemCount(menu) - 1; i >= 0; --i) {
    UINT id = GetMenuItemID(menu, i);
    if (id != SC_MOVE && id != SC_CLOSE) DeleteMenu(menu, static_cast<UINT>(i), MF_BYPOSITION);
  }
}

void TForm1::SetSQLFont(const wchar_t* face, int height) {
  HFONT font = MakeFont(face, height);
  if (!font) return;
  SendMessageW(txtSQL.handle, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  if (sqlFont_) DeleteObject(sqlFont_);
  sqlFont_ = font;
}

void TForm1::CreateControls() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  auto child = [&](DWORD exStyle, const wchar_t* cls, const wchar_t* text, DWORD style, int x,
                   int y, int w, int h, int id) {
    HWND wnd = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, ScaleValue(x),
                               ScaleValue(y), ScaleValue(w), ScaleValue(h), handle_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance,
                               nullptr);
    SendMessageW(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return wnd;
  };
  // Labels size themselves to their caption in the window font.
  auto label = [&](const wchar_t* text, int x, int y, int id) {
    HWND wnd = child(0, L"STATIC", text, SS_LEFT | SS_NOPREFIX, x, y, 0, 0, id);
    SIZE size = MeasureText(font_, text);
    SetWindowPos(wnd, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER |
                 SWP_NOACTIVATE);
    return wnd;
  };

  // Creation order is the tab order: txtDatabase, txtSQL, btnExecute, btnClose.
  Label1.handle = label(L"Database", 8, 8, idLabel1);

  txtDatabase.Create(handle_, idDatabase, ScaleValue(8), ScaleValue(27), ScaleValue(680),
                     ScaleValue(21));
  txtDatabase.SetFont(font_);
  txtDatabase.SetButtonKind(bkLookup);
  txtDatabase.SetButtonWidth(ScaleValue(15));
  txtDatabase.SetButtonShortCut(VK_F4);
  txtDatabase.SetAltBtnVisible(false);
  txtDatabase.SetAltBtnWidth(ScaleValue(15));
  txtDatabase.SetAltBtnShortCut(0);
  txtDatabase.SetFlatButtons(true);
  txtDatabase.SetFlatButtonColor(GetSysColor(COLOR_BTNFACE));
  txtDatabase.SetAllowKeyEdit(true);
  txtDatabase.SetHideButtonsOnReadOnly(true);
  txtDatabase.SetAutoSelect(true);
  txtDatabase.SetButtonVisible(true);
  txtDatabase.OnButtonClick = [this] { Application->Guard([this] { txtDatabaseButtonClick(); }); };
  txtDatabase.OnTabKey = [this](bool back) { MoveFocus(txtDatabase.Handle(), back); };

  Label2.handle = label(L"SQL query", 8, 54, idLabel2);

  txtSQL.handle = child(WS_EX_CLIENTEDGE, L"EDIT", L"",
                        WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL,
                        8, 70, 680, 353, idSQL);
  SendMessageW(txtSQL.handle, EM_LIMITTEXT, 0, 0);
  SetSQLFont(L"Courier New", FontHeightForPoints(sqlPoints_, dpi_));

  btnExecute.handle =
      child(0, L"BUTTON", L"Run SQL Query", WS_TABSTOP | BS_PUSHBUTTON, 474, 436, 105, 25,
            idExecute);
  btnClose.handle =
      child(0, L"BUTTON", L"Close Window", WS_TABSTOP | BS_PUSHBUTTON, 584, 436, 105, 25,
            idClose);

  for (HWND wnd : {txtSQL.handle, btnExecute.handle, btnClose.handle})
    SetWindowSubclass(wnd, ControlProc, kControlSubclassId, reinterpret_cast<DWORD_PTR>(this));

  OpenDialog1.Title = L"Please select database";
  OpenDialog1.Filter = L"Databases|*.mdb";
  OpenDialog1.FilterIndex = 1;
  OpenDialog1.DefaultExt = L"mdb";
}

void TForm1::MoveFocus(HWND from, bool backwards) {
  const HWND order[] = {txtDatabase.Handle(), txtSQL.handle, btnExecute.handle,
                        btnClose.handle};
  constexpr int n = 4;
  int at = 0;
  for (int i = 0; i < n; ++i)
    if (order[i] == from) at = i;
  for (int step = 1; step <= n; ++step) {
    int i = ((at + (backwards ? -step : step)) % n + n) % n;
    if (order[i] && IsWindowEnabled(order[i]) && IsWindowVisible(order[i])) {
      SetFocus(order[i]);
      return;
    }
  }
}

LRESULT CALLBACK TForm1::ControlProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                     DWORD_PTR ref) {
  bool handled = false;
  LRESULT r = reinterpret_cast<TForm1*>(ref)->HandleControlMessage(wnd, msg, wp, lp, handled);
  return handled ? r : DefSubclassProc(wnd, msg, wp, lp);
}

LRESULT TForm1::HandleControlMessage(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, bool& handled) {
  handled = true;
  const bool isButton = wnd == btnExecute.handle || wnd == btnClose.handle;
  switch (msg) {
    case WM_GETDLGCODE:
      // The form does its own keyboard navigation, whether or not the loop runs the dialog
      // manager: every key reaches the control.
      return DefSubclassProc(wnd, msg, wp, lp) | DLGC_WANTALLKEYS;
    case WM_KEYDOWN:
      if (wp == VK_TAB && !KeyDown(VK_CONTROL) && !KeyDown(VK_MENU)) {
        MoveFocus(wnd, KeyDown(VK_SHIFT));
        return 0;
      }
      // Esc does nothing anywhere: a multi-line field would otherwise close its parent when
      // it believes itself to be inside a dialog.
      if (wp == VK_ESCAPE) return 0;
      if (isButton && wp == VK_RETURN) {
        // Enter clicks a button only while it has the focus (there is no default button).
        SendMessageW(handle_, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(wnd), BN_CLICKED),
                     reinterpret_cast<LPARAM>(wnd));
        return 0;
      }
      break;
    case WM_CHAR:
      if (wp == L'\t') return 0;  // Tab moves the focus; it is never typed
      if (wp == 0x1B) return 0;
      if (isButton && wp == L'\r') return 0;
      break;
    case WM_NCDESTROY:
      RemoveWindowSubclass(wnd, ControlProc, kControlSubclassId);
      break;
  }
  handled = false;
  return 0;
}

thread_local TForm1* TForm1::creating_ = nullptr;

void TForm1::KeepDesignSize(MINMAXINFO& info) const {
  // The system limits a window to about the size of the display; this one keeps its designed
  // size on a smaller display too (and then sits partly off screen).
  info.ptMaxTrackSize.x = std::max<LONG>(info.ptMaxTrackSize.x, outerWidth_);
  info.ptMaxTrackSize.y = std::max<LONG>(info.ptMaxTrackSize.y, outerHeight_);
  info.ptMaxSize.x = std::max<LONG>(info.ptMaxSize.x, outerWidth_);
  info.ptMaxSize.y = std::max<LONG>(info.ptMaxSize.y, outerHeight_);
}

LRESULT CALLBACK TForm1::WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_GETMINMAXINFO) {
    const TForm1* form = reinterpret_cast<TForm1*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
    if (!form) form = creating_;
    if (form) {
      form->KeepDesignSize(*reinterpret_cast<MINMAXINFO*>(lp));
      return 0;
    }
  }
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->handle_ = wnd;
  }
  auto* self = reinterpret_cast<TForm1*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(wnd, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
    self->handle_ = nullptr;
    return DefWindowProcW(wnd, msg, wp, lp);
  }
  return self->HandleMessage(msg, wp, lp);
}

LRESULT TForm1::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      if (HIWORD(wp) == BN_CLICKED) {
        if (LOWORD(wp) == idExecute) {
          Application->Guard([this] { btnExecuteClick(); });
          return 0;
        }
        if (LOWORD(wp) == idClose) {
          Application->Guard([this] { btnCloseClick(); });
          return 0;
        }
      }
      break;
    case WM_ACTIVATE:
      if (LOWORD(wp) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(handle_, focus)) lastFocus_ = focus;
      } else if (!HIWORD(wp)) {
        // On activation the focus returns to where it was; the first time, to the first
        // control in tab order.
        HWND target = (lastFocus_ && IsWindow(lastFocus_) && IsChild(handle_, lastFocus_))
                          ? lastFocus_
                          : txtDatabase.Handle();
        if (GetFocus() != target) SetFocus(target);
      }
      return 0;
    case WM_SETFOCUS: {
      HWND target = (lastFocus_ && IsWindow(lastFocus_)) ? lastFocus_ : txtDatabase.Handle();
      SetFocus(target);
      return 0;
    }
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font_);  // the window font
    case WM_SETCURSOR:
      if (Application && Application->IsBusy()) {
        SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
        return TRUE;
      }
      break;
    case WM_CLOSE:
      // Closing the main window ends the program: the message loop stops when it is gone.
      DestroyWindow(handle_);
      return 0;
  }
  return DefWindowProcW(handle_, msg, wp, lp);
}

void TForm1::Show() {
  if (!handle_) return;
  Application->Guard([this] { FormShow(); });
  ShowWindow(handle_, SW_SHOWNORMAL);
  UpdateWindow(handle_);
  SetForegroundWindow(handle_);
}

void TForm1::Close() {
  // Posted: the window is not destroyed under the handler (a click, a key) that asked for it.
  if (handle_) PostMessageW(handle_, WM_CLOSE, 0, 0);
}

void TForm1::FormCreate() {
  if (FontFamilyInstalled(L"Consolas")) SetSQLFont(L"Consolas", FontHeightForPoints(12, dpi_));
  txtSQL.SetText(L"UPDATE ");
  std::wstring database = ParamStr(1);
  if (!database.empty()) txtDatabase.SetText(database);
  std::wstring statement = ParamStr(2);
  if (!statement.empty()) txtSQL.SetText(statement);
}

void TForm1::FormShow() {
  // Centred across the primary display and one third of the free height down.
  RECT rc;
  GetWindowRect(handle_, &rc);
  TFormPlacement p = PlaceOnDisplay(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                    rc.right - rc.left, rc.bottom - rc.top);
  SetWindowPos(handle_, nullptr, p.left, p.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER |
               SWP_NOACTIVATE);
}

void TForm1::txtDatabaseButtonClick() {
  // The dialog opens where the last confirmed pick was, else in the documents folder; the
  // field's text never decides it.
  if (OpenDialog1.FileName.empty())
    OpenDialog1.InitialDir = GetCommonDocumentsPath(L"");
  else
    OpenDialog1.InitialDir = FolderOfFileName(OpenDialog1.FileName);
  OpenDialog1.FileName.clear();
  if (OpenDialog1.Execute(handle_)) txtDatabase.SetText(OpenDialog1.FileName);
}

void TForm1::btnCloseClick() { Close(); }

void TForm1::btnExecuteClick() {
  FormRunUI ui;
  RunRequest(txtDatabase.Text(), txtSQL.Text(), Caption(), ui);
}

std::wstring TForm1::GetDAOError(const Exception& E, DAODBEngine* EN) {
  return ::GetDAOError(E, EN);
}
