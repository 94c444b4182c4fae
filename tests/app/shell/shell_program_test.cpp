// The real Brimvale.exe, started under other file names: its hidden application window
// carries the title of the module name and owns the main window, and closing the main
// window ends the program with exit code 0.
#include <gtest/gtest.h>

#include "ShellTestSupport.h"

namespace {

constexpr DWORD kTimeoutMs = 30000;

struct ProgramWindows {
  DWORD processId;
  HWND application = nullptr;
  HWND main = nullptr;
};

BOOL CALLBACK FindProgramWindows(HWND window, LPARAM param) {
  auto found = reinterpret_cast<ProgramWindows*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != found->processId) return TRUE;
  wchar_t cls[64] = {};
  GetClassNameW(window, cls, 64);
  if (lstrcmpW(cls, L"BrimvaleApplication") == 0)
    found->application = window;
  else if (IsWindowVisible(window) && GetWindow(window, GW_OWNER) != nullptr)
    found->main = window;
  return TRUE;
}

std::wstring Caption(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

TEST(ShellProgram, RenamedProgramShowsItsTitleAndEndsWithTheMainWindow) {
  for (const auto& [name, title] : {std::pair{L"MyTool.Exe", L"Mytool"}, std::pair{L"Data.Tool.exe", L"Data"}}) {
    SCOPED_TRACE(Utf8(name));
    RenamedCopy copy(ProgramFolder() + L"Brimvale.exe", name);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring line = L"\"" + copy.Path() + L"\"";
    ASSERT_TRUE(CreateProcessW(copy.Path().c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
    ProgramWindows windows{process.dwProcessId};
    for (DWORD waited = 0; windows.main == nullptr && waited < kTimeoutMs; waited += 50) {
      Sleep(50);
      EnumWindows(&FindProgramWindows, reinterpret_cast<LPARAM>(&windows));
    }
    EXPECT_NE(windows.application, nullptr);
    EXPECT_NE(windows.main, nullptr);
    if (windows.application != nullptr && windows.main != nullptr) {
      EXPECT_EQ(Caption(windows.application), title);
      EXPECT_TRUE(IsWindowVisible(windows.application)) << "it carries the taskbar button";
      EXPECT_EQ(GetWindow(windows.main, GW_OWNER), windows.application);
      PostMessageW(windows.main, WM_CLOSE, 0, 0);
    }
    const bool ended = WaitForSingleObject(process.hProcess, kTimeoutMs) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(process.hProcess, 99);
    DWORD code = 99;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_TRUE(ended) << "closing the main window must end the program";
    EXPECT_EQ(code, 0u);
  }
}

}  // namespace
