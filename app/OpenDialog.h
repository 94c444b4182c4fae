// TOpenDialog: the modal file-open dialog. From Windows Vista on it is the common item dialog
// (IFileOpenDialog); before that, or when that dialog cannot be created, the classic
// explorer-style dialog (GetOpenFileNameW).
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

class TOpenDialog {
 public:
  std::wstring Title;
  // "Description|Pattern|Description|Pattern...", as shown in the file-type box.
  std::wstring Filter;
  int FilterIndex = 1;  // 1-based index of the file type selected at start
  std::wstring DefaultExt;
  std::wstring InitialDir;
  // Before showing: the name the dialog starts with. After a confirmed showing: the full path.
  std::wstring FileName;

  // Shows the dialog owned by `owner`; true when the user confirmed a file.
  bool Execute(HWND owner);

  // The filter split into (description, pattern) pairs; an unpaired last part is dropped.
  static std::vector<std::pair<std::wstring, std::wstring>> SplitFilter(const std::wstring& f);

 private:
  // Returns S_OK (confirmed), S_FALSE (cancelled) or a failure when the dialog is missing.
  HRESULT ExecuteItemDialog(HWND owner);
  bool ExecuteClassic(HWND owner);
};
