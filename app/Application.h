// The application object: the program's title and icon, the hidden application window that
// owns the taskbar button (and the main window), the message loop, the application-wide
// cursor, every message box of the program and the report of failures that no handler
// caught.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <string>
#include <utility>

#include "dao/DAOGuard.h"

class TApplication {
 public:
  // Derives the title from the executable's file name, loads the icon "MAINICON" and creates
  // the hidden application window. Throws std::runtime_error when the window cannot be made.
  TApplication();
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  const std::wstring& Title() const { return title_; }
  HWND Handle() const { return handle_; }
  HICON Icon() const { return icon_; }
  HWND MainFormHandle() const { return mainForm_; }

  // Makes form the main window (only the first call counts): the loop of Run ends when it is
  // destroyed, and the application window's taskbar button appears.
  void SetMainForm(HWND form);

  // Shows a message box owned by the thread's active window (else the application's most
  // recently active pop-up); the program's other windows are disabled while it is open and
  // afterwards enabled again, the owner activated and the focus put back. Flags pass
  // unchanged. Returns the system's answer (0 when the box could not be shown).
  int MessageBox(const std::wstring& text, const std::wstring& caption, UINT flags);

  // Reports a failure that escaped a handler: cancels any mouse-capture mode, then shows the
  // failure's message (with a full stop appended by FailureReportText) under the application
  // title with MB_OK | MB_ICONERROR. Never throws.
  void ShowException(std::exception_ptr failure) noexcept;

  // Runs a handler of the main window; a failure that escapes it is reported and swallowed,
  // so the program goes on as if the handler had ended normally. Structured exceptions (an
  // access violation, a floating-point fault) are failures too: they are reported as
  // EDAOExternalError rather than ending the process.
  template <class F>
  void Guard(F&& handler) noexcept {
    try {
      GuardedCall(handler);
    } catch (...) {
      ShowException(std::current_exception());
    }
  }

  // The application-wide cursor: the hourglass while busy, the normal cursor otherwise.
  // Windows of the program that answer WM_SETCURSOR should show IDC_WAIT while IsBusy().
  void SetBusyCursor(bool busy);
  bool IsBusy() const { return busy_; }

  // Runs the message loop until the main window is destroyed, Terminate is called or a
  // WM_QUIT arrives. Returns at once when there is no main window.
  void Run();
  void Terminate();
  bool Terminated() const { return terminated_; }

  // Optional filter that sees every message of the loop before it is translated and
  // dispatched; returning true marks the message as handled (e.g. IsDialogMessageW).
  std::function<bool(MSG&)> OnMessage;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK MainFormHook(HWND window, UINT message, WPARAM wParam,
                                       LPARAM lParam, UINT_PTR id, DWORD_PTR data);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void ActivateLastPopup();

  std::wstring title_;
  HWND handle_ = nullptr;
  HICON icon_ = nullptr;
  bool ownsIcon_ = false;
  HWND mainForm_ = nullptr;
  bool busy_ = false;
  bool terminated_ = false;
};

// The one application object; set while it exists (see StartApplication).
extern TApplication* Application;

// The window system's start-up and shut-down steps: create and destroy the application
// object (and initialise the common controls).
void StartApplication();
void StopApplication();

// Text of a failure: Exception's message, std::exception's what() as text, or a fixed text
// for a failure of unknown type.
std::wstring FailureMessage(std::exception_ptr failure);
