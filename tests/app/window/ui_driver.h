// Drives a running Brimvale.exe from another process, the way a user would: finds its
// windows, reads and sets texts, clicks, types keys, reads message boxes and answers them.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace ui {

// "Z:\..." for a path of the Linux side.
std::wstring WinPath(const std::string& unixPath);
std::string Narrow(const std::wstring& w);

std::wstring TextOf(HWND wnd);
std::wstring ClassOf(HWND wnd);
// The window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND wnd);
// Waits until `done` holds or `ms` milliseconds pass; true when it held.
bool WaitFor(const std::function<bool()>& done, int ms = 10000);

// The shown dialog windows (message boxes, file dialogs) of a process.
std::vector<HWND> DialogsOf(DWORD pid);

struct MessageBoxSeen {
  std::wstring caption;
  std::wstring text;
  bool hasIcon = false;
  std::vector<std::wstring> buttons;
};

// Keyboard input as the system delivers it to the foreground window.
void PressKey(WORD vk, bool shift = false, bool ctrl = false, bool alt = false);

// Saves the screen area of `rect` (screen coordinates) as a 24-bit BMP file.
bool SaveScreenBmp(const RECT& rect, const std::wstring& path);
// Saves the screen area that `form` and the shown `box` (may be null) cover together.
bool SaveWindowsBmp(HWND form, HWND box, const std::wstring& path);

class Brimvale {
 public:
  // Starts Brimvale.exe with `arguments` appended to its quoted path and waits until its main
  // window is shown. `env` holds extra "NAME=value" entries for its environment.
  explicit Brimvale(const std::wstring& arguments = L"",
                    const std::vector<std::wstring>& env = {});
  ~Brimvale();
  Brimvale(const Brimvale&) = delete;
  Brimvale& operator=(const Brimvale&) = delete;

  bool Started() const { return form_ != nullptr; }
  HWND Form() const { return form_; }
  DWORD Pid() const { return pi_.dwProcessId; }
  HWND Control(int id) const { return GetDlgItem(form_, id); }
  // The control that has the keyboard focus in the program's thread.
  HWND Focus() const;
  // The program's active window.
  HWND Active() const;

  void SetText(int id, const std::wstring& text) const;
  std::wstring Text(int id) const { return TextOf(Control(id)); }
  // Clicks a push button as the mouse does (without waiting for its handler).
  void Click(int id) const;
  // Brings the main window to the front so that keyboard input reaches it.
  void Activate() const;

  // Waits for a shown dialog window of the program, optionally with this caption.
  HWND WaitDialog(const std::wstring& caption = L"", int ms = 10000) const;
  // Waits for a message box, reads it and presses its first button (OK).
  MessageBoxSeen AnswerMessageBox(int ms = 10000) const;

  // Waits for the process to end; its exit code, or STILL_ACTIVE after `ms`.
  DWORD WaitExit(int ms = 10000);

 private:
  PROCESS_INFORMATION pi_{};
  HWND form_ = nullptr;
};

}  // namespace ui
