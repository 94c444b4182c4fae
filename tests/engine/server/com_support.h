// Helpers of the COM-level tests: fixture copies, VARIANT makers, and an engine created
// through the registry.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "engine/server/dao_interfaces.h"

namespace comtest {

// "Z:\..." for a path of the Linux side.
std::wstring winPath(const std::string& unixPath);
// The fixture's path under Wine, or "" when the shared fixtures are absent.
std::wstring fixture(const char* relative);
// A writable copy of the fixture in a fresh temporary folder ("" when absent).
std::wstring copyFixture(const char* relative);

VARIANT missing();
VARIANT vbool(bool b);
VARIANT i4(LONG n);
VARIANT text(const wchar_t* s);  // caller clears it

// Owns one BSTR.
class Bstr {
 public:
  explicit Bstr(const std::wstring& s) : b_(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
  Bstr() = default;
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return b_; }
  BSTR* out() { SysFreeString(b_); b_ = nullptr; return &b_; }
  std::wstring str() const { return b_ ? std::wstring(b_, SysStringLen(b_)) : std::wstring(); }

 private:
  BSTR b_ = nullptr;
};

// CoCreateInstance of the DAO 3.6 engine class for _DBEngine.
HRESULT createEngine(_DAODBEngine** engine, const GUID& clsid = bv::server::CLSID_Engine);
// OpenDatabase(path, False, ReadOnly, Connect omitted or given).
HRESULT openDatabase(_DAODBEngine* engine, const std::wstring& path, DAODatabase** db,
                     bool readOnly = false, const wchar_t* connect = nullptr);
HRESULT execute(DAODatabase* db, const std::wstring& sql, LONG options = 128);

struct ErrorSeen {
  LONG number = 0;
  std::wstring description, source;
};
// The engine's errors collection, read as a client does.
std::vector<ErrorSeen> readErrors(_DAODBEngine* engine);
// The thread's IErrorInfo (description, source).
ErrorSeen takeErrorInfo();

// DllCanUnloadNow of the loaded daoengine.dll.
HRESULT canUnloadNow();

inline HRESULT jet(LONG number) { return static_cast<HRESULT>(0x800A0000u | static_cast<ULONG>(number)); }

// Registers or unregisters the DLL with regsvr32 /s; regsvr32's exit code.
DWORD regsvr32(bool unregister);

}  // namespace comtest
