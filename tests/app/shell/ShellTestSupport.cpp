#include "ShellTestSupport.h"

namespace {

constexpr wchar_t kFormClass[] = L"BrimvaleShellTestForm";

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto form = reinterpret_cast<TestForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (form != nullptr) {
    form->seen.push_back(message);
    if (message >= WM_APP && form->onMessage && form->onMessage(message, wParam, lParam)) return 0;
    if (message == WM_NCDESTROY) {
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      form->window = nullptr;
      form->edit = nullptr;
    }
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

struct BoxSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
  auto search = reinterpret_cast<BoxSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  wchar_t cls[32] = {};
  GetClassNameW(window, cls, 32);
  if (pid == search->processId && IsWindowVisible(window) && lstrcmpW(cls, L"#32770") == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

std::wstring TextOf(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
  return text;
}

}  // namespace

TestForm::TestForm(HWND owner) {
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof cls;
  if (!GetClassInfoExW(GetModuleHandleW(nullptr), kFormClass, &cls)) {
    cls.lpfnWndProc = &FormProc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = kFormClass;
    RegisterClassExW(&cls);
  }
  window = CreateWindowExW(WS_EX_DLGMODALFRAME, kFormClass, L"Shell test form",
                           WS_POPUP | WS_CAPTION | WS_SYSMENU, 100, 100, 320, 200, owner, nullptr,
                           GetModuleHandleW(nullptr), this);
  edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 8, 8,
                         200, 21, window, reinterpret_cast<HMENU>(100), GetModuleHandleW(nullptr),
                         nullptr);
}

TestForm::~TestForm() {
  if (window != nullptr) DestroyWindow(window);
}

bool TestForm::Saw(UINT message) const {
  for (UINT m : seen)
    if (m == message) return true;
  return false;
}

bool HandleNextBox(DWORD processId, SeenBox& seen, DWORD timeoutMs,
                   const std::function<void(HWND)>& inspect) {
  const DWORD start = GetTickCount();
  BoxSearch search{processId, nullptr};
  while (search.found == nullptr) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(20);
    EnumWindows(&FindBox, reinterpret_cast<LPARAM>(&search));
  }
  HWND box = search.found;
  Sleep(50);  // let the box finish its initialisation
  seen.caption = TextOf(box);
  seen.text = TextOf(GetDlgItem(box, 0xFFFF));
  seen.owner = GetWindow(box, GW_OWNER);
  seen.hasIcon = false;
  seen.buttons = 0;
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child)) continue;
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    const LONG style = GetWindowLongW(child, GWL_STYLE);
    if (lstrcmpiW(cls, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
        SendMessageW(child, STM_GETICON, 0, 0) != 0)
      seen.hasIcon = true;
    if (lstrcmpiW(cls, L"Button") == 0) ++seen.buttons;
  }
  if (inspect) inspect(box);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  // Wait until it has gone, so that the next search does not find it again.
  while (IsWindow(box) && GetTickCount() - start < timeoutMs) Sleep(10);
  return !IsWindow(box);
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH * 2] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  std::wstring folder(path);
  return folder.substr(0, folder.rfind(L'\\') + 1);
}

std::string Utf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size,
                      nullptr, nullptr);
  return result;
}

ScratchFolder::ScratchFolder() {
  static int counter = 0;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + L"bv-shell-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(counter++) + L"\\";
  CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((path_ + L"*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((path_ + data.cFileName).c_str());
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(path_.c_str());
}

RenamedCopy::RenamedCopy(const std::wstring& exe, const std::wstring& name)
    : path_(folder_.Path() + name) {
  CopyFileW(exe.c_str(), path_.c_str(), FALSE);
}
