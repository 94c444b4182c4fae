#include "app/OpenDialog.h"

#include <commdlg.h>
#include <objbase.h>
#include <shobjidl.h>

namespace {

bool IsVistaOrLater() { return LOBYTE(LOWORD(GetVersion())) >= 6; }

// Releases a COM interface pointer when it goes out of scope.
template <class I>
struct ComRef {
  I* p = nullptr;
  ~ComRef() {
    if (p) p->Release();
  }
  I** operator&() { return &p; }
  I* operator->() const { return p; }
};

}  // namespace

std::vector<std::pair<std::wstring, std::wstring>> TOpenDialog::SplitFilter(
    const std::wstring& f) {
  std::vector<std::pair<std::wstring, std::wstring>> out;
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (start <= f.size() && !f.empty()) {
    size_t bar = f.find(L'|', start);
    if (bar == std::wstring::npos) {
      parts.push_back(f.substr(start));
      break;
    }
    parts.push_back(f.substr(start, bar - start));
    start = bar + 1;
  }
  for (size_t i = 0; i + 1 < parts.size(); i += 2) out.emplace_back(parts[i], parts[i + 1]);
  return out;
}

bool TOpenDialog::Execute(HWND owner) {
  if (IsVistaOrLater()) {
    HRESULT hr = ExecuteItemDialog(owner);
    if (hr == S_OK) return true;
    if (hr == S_FALSE) return false;
  }
  return ExecuteClassic(owner);
}

HRESULT TOpenDialog::ExecuteItemDialog(HWND owner) {
  ComRef<IFileOpenDialog> dlg;
  HRESULT hr = CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFileOpenDialog, reinterpret_cast<void**>(&dlg));
  if (FAILED(hr) || !dlg.p) return FAILED(hr) ? hr : E_NOINTERFACE;

  dlg->SetDefaultExtension(DefaultExt.c_str());
  if (!FileName.empty()) dlg->SetFileName(FileName.c_str());
  dlg->SetTitle(Title.c_str());
  if (!InitialDir.empty()) {
    // A folder that no longer exists (or a bare "\") is not passed on; the dialog then opens
    // wherever the system chooses.
    ComRef<IShellItem> folder;
    if (SUCCEEDED(SHCreateItemFromParsingName(InitialDir.c_str(), nullptr, IID_IShellItem,
                                              reinterpret_cast<void**>(&folder))) &&
        folder.p)
      dlg->SetFolder(folder.p);
  }
  auto types = SplitFilter(Filter);
  if (!types.empty()) {
    std::vector<COMDLG_FILTERSPEC> fileTypes;
    for (auto& t : types) fileTypes.push_back({t.first.c_str(), t.second.c_str()});
    dlg->SetFileTypes(static_cast<UINT>(fileTypes.size()), fileTypes.data());
    dlg->SetFileTypeIndex(static_cast<UINT>(FilterIndex));
  }
  // No option flags: the dialog neither hides nor insists on anything beyond its defaults.
  dlg->SetOptions(0);

  hr = dlg->Show(owner);
  if (hr == HRESULT_FROM_WIN32(ERROR_CANCELLED)) return S_FALSE;
  if (FAILED(hr)) return S_FALSE;
  ComRef<IShellItem> result;
  if (FAILED(dlg->GetResult(&result)) || !result.p) return S_FALSE;
  PWSTR path = nullptr;
  // An item outside the file system has no path: it cannot name a database.
  if (FAILED(result->GetDisplayName(SIGDN_FILESYSPATH, &path)) || !path) return S_FALSE;
  FileName = path;
  CoTaskMemFree(path);
  return S_OK;
}

bool TOpenDialog::ExecuteClassic(HWND owner) {
  std::wstring filter;
  for (auto& t : SplitFilter(Filter)) {
    filter += t.first;
    filter += L'\0';
    filter += t.second;
    filter += L'\0';
  }
  filter += L'\0';
  std::vector<wchar_t> file(32768, L'\0');
  FileName.copy(file.data(), file.size() - 1);

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = static_cast<DWORD>(FilterIndex);
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = InitialDir.empty() ? nullptr : InitialDir.c_str();
  ofn.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
  ofn.lpstrDefExt = DefaultExt.empty() ? nullptr : DefaultExt.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING;
  if (!GetOpenFileNameW(&ofn)) return false;
  FileName = file.data();
  return true;
}
