#include "app/Application.h"

#include <commctrl.h>

#include <stdexcept>
#include <vector>

#include "app/ShellText.h"
#include "dao/Exception.h"

TApplication* Application = nullptr;

namespace {

constexpr wchar_t kWindowClass[] = L"BrimvaleApplication";
constexpr UINT_PTR kMainFormHookId = 1;

HINSTANCE ModuleInstance() { return GetModuleHandleW(nullptr); }

void RegisterWindowClass(WNDPROC procedure, HICON icon, HICON smallIcon) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(ModuleInstance(), kWindowClass, &existing)) return;
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = procedure;
  cls.hInstance = ModuleInstance();
  cls.hIcon = icon;
  cls.hIconSm = smallIcon;
  cls.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  cls.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&cls)) throw std::runtime_error("Cannot register the application window class");
}

HICON LoadProgramIcon(int size) {
  auto icon = static_cast<HICON>(
      LoadImageW(ModuleInstance(), L"MAINICON", IMAGE_ICON, size, size, LR_SHARED));
  if (icon == nullptr) {
    icon = static_cast<HICON>(LoadImageW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION),
                                         IMAGE_ICON, size, size, LR_SHARED));
  }
  return icon;
}

BOOL CALLBACK CollectEnabledWindow(HWND window, LPARAM list) {
  if (IsWindowVisible(window) && IsWindowEnabled(window))
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

// The windows of this thread that are visible and enabled, now disabled.
std::vector<HWND> DisableThreadWindows() {
  std::vector<HWND> windows;
  EnumThreadWindows(GetCurrentThreadId(), &CollectEnabledWindow, reinterpret_cast<LPARAM>(&windows));
  for (HWND window : windows) EnableWindow(window, FALSE);
  return windows;
}

void EnableWindows(const std::vector<HWND>& windows) {
  for (HWND window : windows)
    if (IsWindow(window)) EnableWindow(window, TRUE);
}

// While it lives, the application window sits at the centre of the owner's display when
// that is another display than the application window's own.
class CentreOnOwnerDisplay {
 public:
  CentreOnOwnerDisplay(HWND appWindow, HWND owner) : appWindow_(appWindow) {
    if (appWindow == nullptr || owner == nullptr || owner == appWindow) return;
    HMONITOR ownerDisplay = MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST);
    if (ownerDisplay == MonitorFromWindow(appWindow, MONITOR_DEFAULTTONEAREST)) return;
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(ownerDisplay, &info) || !GetWindowRect(appWindow, &saved_)) return;
    const int width = saved_.right - saved_.left, height = saved_.bottom - saved_.top;
    const int x = (info.rcMonitor.left + info.rcMonitor.right - width) / 2;
    const int y = (info.rcMonitor.top + info.rcMonitor.bottom - height) / 2;
    moved_ = SetWindowPos(appWindow, nullptr, x, y, 0, 0,
                          SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
  }
  ~CentreOnOwnerDisplay() {
    if (moved_ && IsWindow(appWindow_))
      SetWindowPos(appWindow_, nullptr, saved_.left, saved_.top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  CentreOnOwnerDisplay(const CentreOnOwnerDisplay&) = delete;
  CentreOnOwnerDisplay& operator=(const CentreOnOwnerDisplay&) = delete;

 private:
  HWND appWindow_;
  RECT saved_{};
  bool moved_ = false;
};

}  // namespace

std::wstring FailureMessage(std::exception_ptr failure) {
  if (!failure) return {};
  try {
    std::rethrow_exception(failure);
  } catch (const Exception& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return WidenMessage(e.what());
  } catch (...) {
    return L"An unexpected failure of unknown kind occurred";
  }
}

TApplication::TApplication() : title_(ApplicationTitleFromPath(ModuleFileName(nullptr))) {
  icon_ = LoadProgramIcon(GetSystemMetrics(SM_CXICON));
  RegisterWindowClass(&TApplication::WindowProc, icon_, LoadProgramIcon(GetSystemMetrics(SM_CXSMICON)));
  // A zero-sized pop-up with a caption at the centre of the primary display: once shown it
  // carries the taskbar button, and boxes owned by it appear centred on the screen.
  const int x = GetSystemMetrics(SM_CXSCREEN) / 2, y = GetSystemMetrics(SM_CYSCREEN) / 2;
  handle_ = CreateWindowExW(0, kWindowClass, title_.c_str(),
                            WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                            x, y, 0, 0, nullptr, nullptr, ModuleInstance(), this);
  if (handle_ == nullptr) throw std::runtime_error("Cannot create the application window");
  if (::Application == nullptr) ::Application = this;
}

TApplication::~TApplication() {
  if (mainForm_ != nullptr && IsWindow(mainForm_))
    RemoveWindowSubclass(mainForm_, &TApplication::MainFormHook, kMainFormHookId);
  if (handle_ != nullptr && IsWindow(handle_)) {
    SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
    DestroyWindow(handle_);
  }
  if (::Application == this) ::Application = nullptr;
}

void TApplication::SetMainForm(HWND form) {
  if (mainForm_ != nullptr || form == nullptr) return;
  mainForm_ = form;
  SetWindowSubclass(form, &TApplication::MainFormHook, kMainFormHookId,
                    reinterpret_cast<DWORD_PTR>(this));
  ShowWindow(handle_, SW_SHOWNOACTIVATE);
}

void TApplication::Terminate() {
  terminated_ = true;
  if (handle_ != nullptr) PostMessageW(handle_, WM_NULL, 0, 0);  // wake the loop
}

void TApplication::Run() {
  if (mainForm_ == nullptr || !IsWindow(mainForm_)) return;
  MSG msg;
  while (!terminated_) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      terminated_ = true;
      break;
    }
    if (OnMessage) {
      bool handled = false;
      Guard([&] { handled = OnMessage(msg); });
      if (handled) continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

int TApplication::MessageBox(const std::wstring& text, const std::wstring& caption, UINT flags) {
  HWND owner = GetActiveWindow();
  if (owner == nullptr && handle_ != nullptr) owner = GetLastActivePopup(handle_);
  HWND focus = GetFocus();
  const std::vector<HWND> disabled = DisableThreadWindows();
  int answer;
  {
    CentreOnOwnerDisplay centre(handle_, owner);
    answer = ::MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
  }
  EnableWindows(disabled);
  if (owner != nullptr && IsWindow(owner)) SetActiveWindow(owner);
  if (focus != nullptr && IsWindow(focus)) SetFocus(focus);
  return answer;
}

void TApplication::ShowException(std::exception_ptr failure) noexcept {
  try {
    if (HWND capture = GetCapture()) SendMessageW(capture, WM_CANCELMODE, 0, 0);
    MessageBox(FailureReportText(FailureMessage(failure)), title_, MB_OK | MB_ICONERROR);
  } catch (...) {
    // Building the text failed (out of memory): still tell the user something went wrong.
    ::MessageBoxW(GetActiveWindow(), L"Out of memory.", title_.c_str(), MB_OK | MB_ICONERROR);
  }
}

void TApplication::SetBusyCursor(bool busy) {
  busy_ = busy;
  if (busy) {
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
    return;
  }
  // Let the window under the mouse choose its cursor again, as if the mouse had moved.
  POINT at;
  if (GetCursorPos(&at)) {
    HWND under = WindowFromPoint(at);
    if (under != nullptr && GetWindowThreadProcessId(under, nullptr) == GetCurrentThreadId()) {
      const LRESULT hit = SendMessageW(under, WM_NCHITTEST, 0, MAKELPARAM(at.x, at.y));
      SendMessageW(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under),
                   MAKELPARAM(static_cast<WORD>(hit), WM_MOUSEMOVE));
      return;
    }
  }
  SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)));
}

void TApplication::ActivateLastPopup() {
  HWND popup = GetLastActivePopup(handle_);
  if (popup != nullptr && popup != handle_ && IsWindowVisible(popup) && IsWindowEnabled(popup))
    SetActiveWindow(popup);
}

LRESULT TApplication::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETFOCUS:
      // Clicking the taskbar button activates this window: pass that on to the main window
      // (or the box in front of it).
      ActivateLastPopup();
      return 0;
    case WM_CLOSE:
      // "Close window" of the taskbar button closes the main window, which ends the program.
      if (mainForm_ != nullptr && IsWindow(mainForm_)) PostMessageW(mainForm_, WM_CLOSE, 0, 0);
      return 0;
    case WM_SETCURSOR:
      if (busy_) {
        SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
        return TRUE;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(handle_, message, wParam, lParam);
}

LRESULT CALLBACK TApplication::WindowProc(HWND window, UINT message, WPARAM wParam,
                                          LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto self = reinterpret_cast<TApplication*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr || self->handle_ != window) return DefWindowProcW(window, message, wParam, lParam);
  return self->HandleMessage(message, wParam, lParam);
}

LRESULT CALLBACK TApplication::MainFormHook(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam, UINT_PTR id, DWORD_PTR data) {
  auto self = reinterpret_cast<TApplication*>(data);
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(window, &TApplication::MainFormHook, id);
    self->Terminate();
    return DefSubclassProc(window, message, wParam, lParam);
  }
  const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
  // A main window that hides itself when asked to close counts as closed, too.
  if (message == WM_CLOSE && IsWindow(window) && !IsWindowVisible(window)) self->Terminate();
  return result;
}

void StartApplication() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
  InitCommonControlsEx(&controls);
  Application = new TApplication;
}

void StopApplication() {
  delete Application;
  Application = nullptr;
}
