// The entry points of daoengine.dll.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include <string>

#include "engine/server/class_factory.h"
#include "engine/server/module.h"
#include "engine/server/registration.h"
#include "engine/server/text.h"

namespace {

std::wstring modulePath() {
  wchar_t path[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameW(bv::server::thisModule(), path, MAX_PATH * 2);
  return (n > 0 && n < MAX_PATH * 2) ? std::wstring(path, n) : std::wstring();
}

// regsvr32 shows only that registering failed; the reason goes to the console (when there
// is one) and to the debugger.
void tell(const std::wstring& message) {
  if (message.empty()) return;
  OutputDebugStringW(message.c_str());
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err && err != INVALID_HANDLE_VALUE) {
    const std::string text = bv::server::narrowUtf8(message) + "\n";
    DWORD written = 0;
    WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    bv::server::setModule(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid,
                                                                  void** out) {
  return bv::server::getClassObject(clsid, riid, out);
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() {
  return bv::server::canUnload() ? S_OK : S_FALSE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
  try {
    const std::wstring path = modulePath();
    if (path.empty()) return SELFREG_E_CLASS;
    bv::server::RegistrationResult r = bv::server::registerServer(HKEY_CLASSES_ROOT, path);
    if (FAILED(r.hr)) tell(r.message);
    return r.hr;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
  try {
    const std::wstring path = modulePath();
    if (path.empty()) return SELFREG_E_CLASS;
    return bv::server::unregisterServer(HKEY_CLASSES_ROOT, path).hr;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}
