// Helpers shared by the shell's test programs: a small stand-in for the main window, and a
// watcher that finds a message box, reads it and presses OK.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// A top-level window owned by the application window, with a single-line edit child.
// Posted/sent messages from WM_APP on go to onMessage (return true when handled).
struct TestForm {
  HWND window = nullptr;
  HWND edit = nullptr;
  std::function<bool(UINT, WPARAM, LPARAM)> onMessage;
  std::vector<UINT> seen;  // every message the window procedure received

  // Creates the window hidden, owned by `owner`.
  explicit TestForm(HWND owner);
  ~TestForm();
  TestForm(const TestForm&) = delete;
  TestForm& operator=(const TestForm&) = delete;
  bool Saw(UINT message) const;
};

// What a watcher saw of one message box.
struct SeenBox {
  std::wstring caption;
  std::wstring text;
  HWND owner = nullptr;
  bool hasIcon = false;        // a visible icon picture
  int buttons = 0;             // visible push buttons
};

// Waits (up to timeoutMs) for a visible dialog-class window of the given process, records
// it, runs `inspect` while it is open, then presses OK and waits until it has gone.
// Returns false when no box appeared in time.
bool HandleNextBox(DWORD processId, SeenBox& seen, DWORD timeoutMs,
                   const std::function<void(HWND box)>& inspect = {});

// A fresh folder under the temporary folder, removed with its files at the end.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::wstring& Path() const { return path_; }  // ends in '\'

 private:
  std::wstring path_;
};

// A copy of an executable under another file name, in a scratch folder of its own.
class RenamedCopy {
 public:
  RenamedCopy(const std::wstring& exe, const std::wstring& name);
  const std::wstring& Path() const { return path_; }

 private:
  ScratchFolder folder_;
  std::wstring path_;
};

// The full path of this test program's folder (ending in '\').
std::wstring ProgramFolder();
// UTF-8 of a UTF-16 text (for readable test output).
std::string Utf8(const std::wstring& text);
