#include "com_support.h"

#include <vector>

namespace comtest {

std::wstring winPath(const std::string& unixPath) {
  std::wstring w = L"Z:";
  for (char c : unixPath) w += (c == '/') ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  return w;
}

std::wstring fixture(const char* relative) {
  std::wstring path = winPath(std::string(BV_FIXTURES_DIR) + "/" + relative);
  return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? std::wstring() : path;
}

std::wstring copyFixture(const char* relative) {
  const std::wstring source = fixture(relative);
  if (source.empty()) return {};
  static int serial = 0;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  // A folder no earlier run used (process ids repeat under Wine).
  std::wstring dir;
  do {
    dir = std::wstring(temp) + L"bv-server-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++serial);
  } while (!CreateDirectoryW(dir.c_str(), nullptr) && GetLastError() == ERROR_ALREADY_EXISTS);
  std::string rel(relative);
  std::wstring name(rel.begin() + static_cast<long>(rel.find_last_of('/') + 1), rel.end());
  std::wstring dest = dir + L"\\" + name;
  if (!CopyFileW(source.c_str(), dest.c_str(), FALSE)) return {};
  SetFileAttributesW(dest.c_str(), FILE_ATTRIBUTE_NORMAL);  // the fixtures are read-only files
  return dest;
}

VARIANT missing() {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
  return v;
}

VARIANT vbool(bool b) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

VARIANT i4(LONG n) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = n;
  return v;
}

VARIANT text(const wchar_t* s) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s);
  return v;
}

HRESULT createEngine(_DAODBEngine** engine, const GUID& clsid) {
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, bv::server::IID_DBEngine,
                          reinterpret_cast<void**>(engine));
}

HRESULT openDatabase(_DAODBEngine* engine, const std::wstring& path, DAODatabase** db,
                     bool readOnly, const wchar_t* connect) {
  Bstr name(path);
  VARIANT c = connect ? text(connect) : missing();
  HRESULT hr = engine->OpenDatabase(name.get(), vbool(false), vbool(readOnly), c, db);
  VariantClear(&c);
  return hr;
}

HRESULT execute(DAODatabase* db, const std::wstring& sql, LONG options) {
  Bstr query(sql);
  return db->Execute(query.get(), i4(options));
}

std::vector<ErrorSeen> readErrors(_DAODBEngine* engine) {
  std::vector<ErrorSeen> out;
  DAOErrors* errors = nullptr;
  if (FAILED(engine->get_Errors(&errors)) || !errors) return out;
  short count = 0;
  errors->get_Count(&count);
  for (short i = 0; i < count; ++i) {
    DAOError* error = nullptr;
    VARIANT index;
    VariantInit(&index);
    index.vt = VT_I2;
    index.iVal = i;
    if (FAILED(errors->get_Item(index, &error)) || !error) break;
    ErrorSeen seen;
    Bstr description, source;
    error->get_Number(&seen.number);
    error->get_Description(description.out());
    error->get_Source(source.out());
    seen.description = description.str();
    seen.source = source.str();
    out.push_back(seen);
    error->Release();
  }
  errors->Release();
  return out;
}

ErrorSeen takeErrorInfo() {
  ErrorSeen seen;
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return seen;
  Bstr description, source;
  info->GetDescription(description.out());
  info->GetSource(source.out());
  seen.description = description.str();
  seen.source = source.str();
  info->Release();
  return seen;
}

HRESULT canUnloadNow() {
  HMODULE dll = GetModuleHandleW(L"daoengine.dll");
  if (!dll) return E_FAIL;
  auto fn = reinterpret_cast<HRESULT(WINAPI*)()>(
      reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
  return fn ? fn() : E_FAIL;
}

DWORD regsvr32(bool unregister) {
  std::wstring cmd = std::wstring(L"regsvr32.exe /s ") + (unregister ? L"/u " : L"") + L"\"" +
                     winPath(BV_DAOENGINE_DLL) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return 0xFFFFFFFF;
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

}  // namespace comtest
