// fakedao.dll: an in-process COM server that stands in for the DAO 3.6 engine in the main
// window's UI tests. It serves the engine classes {00000100-...} and {00000101-0000-0010-
// 8000-00AA006D2EA4} with the shared fake engine objects of tests/support (FakeDAO.h), set up
// from a script file, and appends the calls they receive to a log file:
//
//   BV_FAKEDAO_SCRIPT  lines "key=value":
//                        records=N               what RecordsAffected reports
//                        error=TEXT              one item of the errors collection per line
//                        fail=Kind.Member HRESULT  that member fails (e.g. Database.Execute)
//                        factory=HRESULT         DllGetClassObject itself fails
//   BV_FAKEDAO_LOG     one UTF-8 line per call: "Kind.Member arg arg ..." with each VARIANT
//                      argument as "vt:value" (BSTR arguments as their text in brackets);
//                      AddRef and QueryInterface are left out, a final Release appears as
//                      "Kind.Released", and of the class factory only "Factory.CreateInstance".
//
// HRESULT values are hexadecimal (0x80004005). The script is read afresh by every
// DllGetClassObject call, so a test can change it between runs of one program.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "tests/support/FakeDAO.h"

namespace {

HINSTANCE g_module = nullptr;

std::wstring Env(const wchar_t* name) {
  wchar_t buf[1024];
  DWORD n = GetEnvironmentVariableW(name, buf, 1024);
  return (n > 0 && n < 1024) ? std::wstring(buf, n) : std::wstring();
}

std::wstring FromUtf8(const std::string& s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

std::string ToUtf8(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                      nullptr);
  return s;
}

// Appends one line to the call log; line breaks inside are written as \r and \n.
void Log(const std::wstring& line) {
  std::wstring path = Env(L"BV_FAKEDAO_LOG");
  if (path.empty()) return;
  std::wstring escaped;
  for (wchar_t c : line) {
    if (c == L'\r') escaped += L"\\r";
    else if (c == L'\n') escaped += L"\\n";
    else escaped += c;
  }
  if (FILE* f = _wfopen(path.c_str(), L"ab")) {
    std::string u = ToUtf8(escaped) + "\n";
    fwrite(u.data(), 1, u.size(), f);
    fclose(f);
  }
}

std::wstring Describe(const Variant& arg) {
  const VARIANT& v = arg.Raw();
  wchar_t buf[64];
  switch (v.vt) {
    case VT_BSTR: return L"[" + fakedao::ArgText(arg) + L"]";
    case VT_BOOL: swprintf(buf, 64, L"%d:%d", v.vt, v.boolVal ? 1 : 0); return buf;
    case VT_I4: swprintf(buf, 64, L"%d:%ld", v.vt, static_cast<long>(v.lVal)); return buf;
    case VT_I2: swprintf(buf, 64, L"%d:%d", v.vt, v.iVal); return buf;
    case VT_UI1: swprintf(buf, 64, L"%d:%u", v.vt, v.bVal); return buf;
    case VT_ERROR:
      swprintf(buf, 64, L"%d:0x%08lX", v.vt, static_cast<unsigned long>(v.scode));
      return buf;
    default: swprintf(buf, 64, L"%d", v.vt); return buf;
  }
}

void LogCall(const fakedao::FakeCall& call) {
  if (call.Member == L"AddRef" || call.Member == L"QueryInterface") return;
  const bool factory = call.Kind == L"Factory";  // only its CreateInstance calls matter here
  if (call.Member == L"Release") {
    if (call.RefCount == 0 && !factory) Log(call.Kind + L".Released");
    return;
  }
  std::wstring line = call.Name();
  if (!factory)
    for (const Variant& a : call.Args) line += L" " + Describe(a);
  Log(line);
}

// A fresh fake engine state from the script; `factoryFailure` receives the "factory" key.
fakedao::FakeDAOStatePtr LoadScript(HRESULT& factoryFailure) {
  auto state = std::make_shared<fakedao::FakeDAOState>();
  state->OnCall = LogCall;
  factoryFailure = S_OK;
  std::wstring path = Env(L"BV_FAKEDAO_SCRIPT");
  FILE* f = path.empty() ? nullptr : _wfopen(path.c_str(), L"rb");
  if (!f) return state;
  char line[4096];
  while (fgets(line, sizeof line, f)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    size_t eq = s.find('=');
    if (eq == std::string::npos) continue;
    std::string key = s.substr(0, eq), value = s.substr(eq + 1);
    if (key == "records") {
      state->RecordsAffected = strtol(value.c_str(), nullptr, 10);
    } else if (key == "error") {
      state->ErrorDescriptions.push_back(FromUtf8(value));
    } else if (key == "factory") {
      factoryFailure = static_cast<HRESULT>(strtoul(value.c_str(), nullptr, 0));
    } else if (key == "fail") {
      size_t blank = value.find(' ');
      if (blank == std::string::npos) continue;
      state->FailCall(FromUtf8(value.substr(0, blank)),
                      static_cast<HRESULT>(strtoul(value.c_str() + blank + 1, nullptr, 0)));
    }
  }
  fclose(f);
  return state;
}

bool IsEngineClass(REFCLSID clsid) {
  static const GUID kEngine = {0x00000100, 0, 0x0010, {0x80, 0, 0, 0xAA, 0, 0x6D, 0x2E, 0xA4}};
  static const GUID kPrivate = {0x00000101, 0, 0x0010, {0x80, 0, 0, 0xAA, 0, 0x6D, 0x2E, 0xA4}};
  return IsEqualCLSID(clsid, kEngine) || IsEqualCLSID(clsid, kPrivate);
}

const wchar_t* const kClassKeys[] = {
    L"CLSID\\{00000100-0000-0010-8000-00AA006D2EA4}",
    L"CLSID\\{00000101-0000-0010-8000-00AA006D2EA4}",
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid,
                                                                  void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  HRESULT factoryFailure = S_OK;
  fakedao::FakeDAOStatePtr state = LoadScript(factoryFailure);
  wchar_t hex[16];
  swprintf(hex, 16, L"0x%08lX", static_cast<unsigned long>(factoryFailure));
  Log(std::wstring(L"DllGetClassObject ") + hex);
  if (!IsEngineClass(clsid)) return CLASS_E_CLASSNOTAVAILABLE;
  if (FAILED(factoryFailure)) return factoryFailure;
  IClassFactory* factory = fakedao::CreateFakeClassFactory(state);
  HRESULT hr = factory->QueryInterface(riid, out);
  factory->Release();
  return hr;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return E_FAIL;
  for (const wchar_t* key : kClassKeys) {
    std::wstring sub = std::wstring(key) + L"\\InprocServer32";
    HKEY h;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, sub.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h,
                        nullptr) != ERROR_SUCCESS)
      return SELFREG_E_CLASS;
    RegSetValueExW(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                   (n + 1) * sizeof(wchar_t));
    const wchar_t model[] = L"Apartment";
    RegSetValueExW(h, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(model),
                   sizeof model);
    RegCloseKey(h);
  }
  return S_OK;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
  for (const wchar_t* key : kClassKeys) RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
  return S_OK;
}
