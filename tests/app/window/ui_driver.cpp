#include "ui_driver.h"

#include <cstdio>

namespace ui {

std::wstring WinPath(const std::string& unixPath) {
  std::wstring w = L"Z:";
  for (char c : unixPath) w += (c == '/') ? L'\\' : static_cast<wchar_t>(c);
  return w;
}

std::string Narrow(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                      nullptr);
  return s;
}

std::wstring TextOf(HWND wnd) {
  if (!wnd) return L"<no window>";
  // WM_GETTEXT rather than GetWindowTextW: the latter does not ask another process's
  // controls for their text.
  LRESULT n = SendMessageW(wnd, WM_GETTEXTLENGTH, 0, 0);
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  n = SendMessageW(wnd, WM_GETTEXT, s.size(), reinterpret_cast<LPARAM>(s.data()));
  s.resize(static_cast<size_t>(n));
  return s;
}

std::wstring ClassOf(HWND wnd) {
  wchar_t buf[256] = {};
  GetClassNameW(wnd, buf, 256);
  return buf;
}

RECT RectInParent(HWND wnd) {
  RECT rc{};
  GetWindowRect(wnd, &rc);
  MapWindowPoints(nullptr, GetParent(wnd), reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

bool WaitFor(const std::function<bool()>& done, int ms) {
  for (int waited = 0;; waited += 20) {
    if (done()) return true;
    if (waited >= ms) return false;
    Sleep(20);
  }
}

namespace {

// The shown top-level windows of one process with one class name.
struct WindowSearch {
  DWORD pid;
  const wchar_t* cls;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND w, LPARAM lp) {
  auto* s = reinterpret_cast<WindowSearch*>(lp);
  DWORD p = 0;
  GetWindowThreadProcessId(w, &p);
  if (p == s->pid && IsWindowVisible(w) && ClassOf(w) == s->cls) s->found.push_back(w);
  return TRUE;
}

std::vector<HWND> WindowsOf(DWORD pid, const wchar_t* cls) {
  WindowSearch s{pid, cls, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

}  // namespace

std::vector<HWND> DialogsOf(DWORD pid) { return WindowsOf(pid, L"#32770"); }

void PressKey(WORD vk, bool shift, bool ctrl, bool alt) {
  std::vector<INPUT> in;
  auto key = [&](WORD k, bool up) {
    INPUT i{};
    i.type = INPUT_KEYBOARD;
    i.ki.wVk = k;
    i.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    in.push_back(i);
  };
  if (shift) key(VK_SHIFT, false);
  if (ctrl) key(VK_CONTROL, false);
  if (alt) key(VK_MENU, false);
  key(vk, false);
  key(vk, true);
  if (alt) key(VK_MENU, true);
  if (ctrl) key(VK_CONTROL, true);
  if (shift) key(VK_SHIFT, true);
  SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
  Sleep(300);  // let the program's thread take the keys in
}

bool SaveScreenBmp(const RECT& rect, const std::wstring& path) {
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (w <= 0 || h <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;  // bottom-up, as BMP files store rows
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();
  const DWORD stride = ((static_cast<DWORD>(w) * 3 + 3) & ~3u);
  const DWORD size = stride * static_cast<DWORD>(h);
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
  fh.bfSize = fh.bfOffBits + size;
  bool ok = false;
  if (FILE* f = _wfopen(path.c_str(), L"wb")) {
    ok = fwrite(&fh, sizeof fh, 1, f) == 1 && fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f) == 1 &&
         fwrite(bits, size, 1, f) == 1;
    fclose(f);
  }
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return ok;
}

bool SaveWindowsBmp(HWND form, HWND box, const std::wstring& path) {
  RECT area{}, shown{};
  GetWindowRect(form, &area);
  if (box && GetWindowRect(box, &shown)) UnionRect(&area, &area, &shown);
  return SaveScreenBmp(area, path);
}

Brimvale::Brimvale(const std::wstring& arguments, const std::vector<std::wstring>& env) {
  std::wstring exe = WinPath(BV_BRIMVALE_EXE);
  std::wstring cmd = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  // The child inherits this process's environment with the extra entries set.
  std::vector<std::pair<std::wstring, std::wstring>> saved;
  for (const std::wstring& e : env) {
    size_t eq = e.find(L'=');
    std::wstring name = e.substr(0, eq), value = e.substr(eq + 1);
    wchar_t buf[4096];
    DWORD n = GetEnvironmentVariableW(name.c_str(), buf, 4096);
    saved.emplace_back(name, n ? std::wstring(buf, n) : std::wstring(1, L'\0'));
    SetEnvironmentVariableW(name.c_str(), value.c_str());
  }
  STARTUPINFOW si{};
  si.cb = sizeof si;
  BOOL ok = CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           nullptr, &si, &pi_);
  for (auto& [name, value] : saved)
    SetEnvironmentVariableW(name.c_str(), value == std::wstring(1, L'\0') ? nullptr : value.c_str());
  if (!ok) return;
  WaitForInputIdle(pi_.hProcess, 10000);
  WaitFor([&] {
    std::vector<HWND> forms = WindowsOf(pi_.dwProcessId, L"TForm1");
    form_ = forms.empty() ? nullptr : forms.front();
    return form_ != nullptr;
  });
  // Let the first activation settle (focus and selection).
  WaitFor([&] { return Focus() != nullptr; }, 3000);
}

Brimvale::~Brimvale() {
  if (!pi_.hProcess) return;
  if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
    for (HWND d : DialogsOf(pi_.dwProcessId)) PostMessageW(d, WM_CLOSE, 0, 0);
    if (form_ && IsWindow(form_)) PostMessageW(form_, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi_.hProcess, 5000) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 1);
  }
  CloseHandle(pi_.hThread);
  CloseHandle(pi_.hProcess);
}

HWND Brimvale::Focus() const {
  GUITHREADINFO gi{};
  gi.cbSize = sizeof gi;
  if (!GetGUIThreadInfo(pi_.dwThreadId, &gi)) return nullptr;
  return gi.hwndFocus;
}

HWND Brimvale::Active() const {
  GUITHREADINFO gi{};
  gi.cbSize = sizeof gi;
  if (!GetGUIThreadInfo(pi_.dwThreadId, &gi)) return nullptr;
  return gi.hwndActive;
}

void Brimvale::SetText(int id, const std::wstring& text) const {
  SendMessageW(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Brimvale::Click(int id) const { PostMessageW(Control(id), BM_CLICK, 0, 0); }

void Brimvale::Activate() const {
  SetForegroundWindow(form_);
  WaitFor([&] { return GetForegroundWindow() == form_; }, 3000);
}

HWND Brimvale::WaitDialog(const std::wstring& caption, int ms) const {
  HWND found = nullptr;
  WaitFor(
      [&] {
        for (HWND d : DialogsOf(pi_.dwProcessId))
          if (caption.empty() || TextOf(d) == caption) {
            found = d;
            return true;
          }
        return false;
      },
      ms);
  return found;
}

MessageBoxSeen Brimvale::AnswerMessageBox(int ms) const {
  MessageBoxSeen seen;
  HWND box = WaitDialog(L"", ms);
  if (!box) {
    seen.caption = L"<no message box>";
    return seen;
  }
  Sleep(100);  // the box fills its controls while it initialises
  seen.caption = TextOf(box);
  seen.text = TextOf(GetDlgItem(box, 0xFFFF));
  HWND first = nullptr;
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    LONG style = GetWindowLongW(c, GWL_STYLE);
    if (ClassOf(c) == L"Button" && IsWindowVisible(c)) {
      seen.buttons.push_back(TextOf(c));
      if (!first) first = c;
    }
    if (ClassOf(c) == L"Static" && (style & SS_TYPEMASK) == SS_ICON && IsWindowVisible(c) &&
        SendMessageW(c, STM_GETICON, 0, 0) != 0)
      seen.hasIcon = true;
  }
  if (first)
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(first), BN_CLICKED),
                 reinterpret_cast<LPARAM>(first));
  WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000);
  return seen;
}

DWORD Brimvale::WaitExit(int ms) {
  if (WaitForSingleObject(pi_.hProcess, static_cast<DWORD>(ms)) == WAIT_TIMEOUT) return STILL_ACTIVE;
  DWORD code = 0;
  GetExitCodeProcess(pi_.hProcess, &code);
  return code;
}

}  // namespace ui
