// fakedao.dll: an in-process COM server that stands in for the DAO 3.6 engine in the main
// window's UI tests. It serves the engine class {00000100-0000-0010-8000-00AA006D2EA4} (and
// the private engine class ...101...) with engine, database and errors objects whose answers
// come from a script file, and it appends every call it receives to a log file:
//
//   BV_FAKEDAO_SCRIPT  lines "key=value": records=N (RecordsAffected), factory=HRESULT
//                      (DllGetClassObject fails), create=HRESULT (CreateInstance fails),
//                      open=HRESULT, execute=HRESULT, count=HRESULT (those calls fail),
//                      error=TEXT (one line per item of the errors collection)
//   BV_FAKEDAO_LOG     the call log, one UTF-8 line per call
//
// HRESULT values are written in hexadecimal (0x80004005). The script is read afresh by every
// DllGetClassObject call, so a test can change it between runs of the same program.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dao/DAOInterfaces.h"

namespace daoif {
namespace {

HINSTANCE g_module = nullptr;

struct Script {
  long records = 0;
  HRESULT factory = S_OK, create = S_OK, open = S_OK, execute = S_OK, count = S_OK;
  std::vector<std::wstring> errors;
};

std::wstring Env(const wchar_t* name) {
  wchar_t buf[1024];
  DWORD n = GetEnvironmentVariableW(name, buf, 1024);
  return (n > 0 && n < 1024) ? std::wstring(buf, n) : std::wstring();
}

std::wstring FromUtf8(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

std::string ToUtf8(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                      nullptr);
  return s;
}

Script g_script;

void LoadScript() {
  g_script = Script{};
  std::wstring path = Env(L"BV_FAKEDAO_SCRIPT");
  if (path.empty()) return;
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f) return;
  char line[4096];
  while (fgets(line, sizeof line, f)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    size_t eq = s.find('=');
    if (eq == std::string::npos) continue;
    std::string key = s.substr(0, eq), value = s.substr(eq + 1);
    HRESULT hr = static_cast<HRESULT>(strtoul(value.c_str(), nullptr, 0));
    if (key == "records") g_script.records = strtol(value.c_str(), nullptr, 10);
    else if (key == "factory") g_script.factory = hr;
    else if (key == "create") g_script.create = hr;
    else if (key == "open") g_script.open = hr;
    else if (key == "execute") g_script.execute = hr;
    else if (key == "count") g_script.count = hr;
    else if (key == "error") g_script.errors.push_back(FromUtf8(value));
  }
  fclose(f);
}

// Appends one line to the call log. Line breaks inside are written as \r and \n.
void Log(const std::wstring& line) {
  std::wstring path = Env(L"BV_FAKEDAO_LOG");
  if (path.empty()) return;
  std::wstring escaped;
  for (wchar_t c : line) {
    if (c == L'\r') escaped += L"\\r";
    else if (c == L'\n') escaped += L"\\n";
    else escaped += c;
  }
  FILE* f = _wfopen(path.c_str(), L"ab");
  if (!f) return;
  std::string u = ToUtf8(escaped) + "\n";
  fwrite(u.data(), 1, u.size(), f);
  fclose(f);
}

// "vt:value" for the variants the engine receives.
std::wstring Describe(const VARIANT& v) {
  wchar_t buf[64];
  switch (v.vt) {
    case VT_BOOL: swprintf(buf, 64, L"%d:%d", v.vt, v.boolVal ? 1 : 0); return buf;
    case VT_I4: swprintf(buf, 64, L"%d:%ld", v.vt, static_cast<long>(v.lVal)); return buf;
    case VT_I2: swprintf(buf, 64, L"%d:%d", v.vt, v.iVal); return buf;
    case VT_UI1: swprintf(buf, 64, L"%d:%u", v.vt, v.bVal); return buf;
    case VT_ERROR:
      swprintf(buf, 64, L"%d:0x%08lX", v.vt, static_cast<unsigned long>(v.scode));
      return buf;
    case VT_BSTR: return std::to_wstring(v.vt) + L":" + (v.bstrVal ? v.bstrVal : L"");
    default: swprintf(buf, 64, L"%d", v.vt); return buf;
  }
}

std::wstring Hex(HRESULT hr) {
  wchar_t buf[16];
  swprintf(buf, 16, L"0x%08lX", static_cast<unsigned long>(hr));
  return buf;
}

// Reference counting, QueryInterface over the object's interface identifiers, and an
// IDispatch that offers no type information (the program calls through the vtable only).
template <class I>
class Object : public I {
 public:
  Object(const wchar_t* name, std::vector<GUID> iids) : name_(name), iids_(std::move(iids)) {}
  virtual ~Object() = default;
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    bool known = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch);
    for (const GUID& g : iids_) known = known || IsEqualIID(riid, g);
    if (!known) return E_NOINTERFACE;
    *out = static_cast<I*>(this);
    this->AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) {
      Log(std::wstring(name_) + L".Released");
      delete this;
    }
    return static_cast<ULONG>(n);
  }
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    if (n) *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

 private:
  LONG refs_ = 1;
  const wchar_t* name_;
  std::vector<GUID> iids_;
};

class FakeError : public Object<DAOError> {
 public:
  explicit FakeError(std::wstring text)
      : Object(L"Error", {DAOGuid(0x22), IID_Error}), text_(std::move(text)) {}
  STDMETHODIMP get_Number(__LONG32* pl) override {
    if (pl) *pl = 3000;
    return S_OK;
  }
  STDMETHODIMP get_Description(BSTR* out) override {
    Log(L"Error.Description");
    if (!out) return E_POINTER;
    *out = SysAllocString(text_.c_str());
    return S_OK;
  }
  STDMETHODIMP get_Source(BSTR* pbstr) override { return E_NOTIMPL; }
  STDMETHODIMP get_HelpFile(BSTR* pbstr) override { return E_NOTIMPL; }
  STDMETHODIMP get_HelpContext(__LONG32* pl) override { return E_NOTIMPL; }

 private:
  std::wstring text_;
};

class FakeErrors : public Object<DAOErrors> {
 public:
  FakeErrors() : Object(L"Errors", {DAOGuid(0x24), IID_Errors, IID_Collection}) {}
  STDMETHODIMP get_Count(short* c) override {
    Log(L"Errors.Count");
    if (!c) return E_POINTER;
    *c = static_cast<short>(g_script.errors.size());
    return S_OK;
  }
  STDMETHODIMP _NewEnum(IUnknown** ppunk) override { return E_NOTIMPL; }
  STDMETHODIMP Refresh() override { return E_NOTIMPL; }
  STDMETHODIMP get_Item(VARIANT item, DAOError** out) override {
    Log(L"Errors.Item " + Describe(item));
    if (!out) return E_POINTER;
    *out = nullptr;
    if (item.vt != VT_I4 || item.lVal < 0 ||
        static_cast<size_t>(item.lVal) >= g_script.errors.size())
      return DISP_E_BADINDEX;
    *out = new FakeError(g_script.errors[static_cast<size_t>(item.lVal)]);
    return S_OK;
  }
};

class FakeDatabase : public Object<DAODatabase> {
 public:
  FakeDatabase() : Object(L"Database", {DAOGuid(0x70), IID_Database, IID_DAO}) {}
  STDMETHODIMP get_RecordsAffected(__LONG32* pl) override {
    Log(L"Database.RecordsAffected");
    if (FAILED(g_script.count)) return g_script.count;
    if (!pl) return E_POINTER;
    *pl = g_script.records;
    return S_OK;
  }
  STDMETHODIMP Close() override {
    Log(L"Database.Close");
    return S_OK;
  }
  STDMETHODIMP Execute(BSTR Query, VARIANT Options) override {
    Log(L"Database.Execute " + Describe(Options) + L" " + (Query ? Query : L""));
    return g_script.execute;
  }
  STDMETHODIMP get_Properties(DAOProperties **ppprops) override { return E_NOTIMPL; }
  STDMETHODIMP get_CollatingOrder(LONG *pl) override { return E_NOTIMPL; }
  STDMETHODIMP get_Connect(BSTR *pbstr) override { return E_NOTIMPL; }
  STDMETHODIMP get_Name(BSTR *pbstr) override { return E_NOTIMPL; }
  STDMETHODIMP get_QueryTimeout(short *ps) override { return E_NOTIMPL; }
  STDMETHODIMP put_QueryTimeout(short Timeout) override { return E_NOTIMPL; }
  STDMETHODIMP get_Transactions(VARIANT_BOOL *pb) override { return E_NOTIMPL; }
  STDMETHODIMP get_Updatable(VARIANT_BOOL *pb) override { return E_NOTIMPL; }
  STDMETHODIMP get_Version(BSTR *pbstr) override { return E_NOTIMPL; }
  STDMETHODIMP get_TableDefs(DAOTableDefs **pptdfs) override { return E_NOTIMPL; }
  STDMETHODIMP get_QueryDefs(DAOQueryDefs **ppqdfs) override { return E_NOTIMPL; }
  STDMETHODIMP get_Relations(DAORelations **pprls) override { return E_NOTIMPL; }
  STDMETHODIMP get_Containers(DAOContainers **ppctns) override { return E_NOTIMPL; }
  STDMETHODIMP get_Recordsets(DAORecordsets **pprsts) override { return E_NOTIMPL; }
  STDMETHODIMP _30_OpenRecordset(BSTR Name,VARIANT Type,VARIANT Options, DAORecordset **pprst) override { return E_NOTIMPL; }
  STDMETHODIMP CreateProperty(VARIANT Name,VARIANT Type,VARIANT Value,VARIANT DDL,DAOProperty **pprp) override { return E_NOTIMPL; }
  STDMETHODIMP CreateRelation(VARIANT Name,VARIANT Table,VARIANT ForeignTable,VARIANT Attributes, _DAORelation **pprel) override { return E_NOTIMPL; }
  STDMETHODIMP CreateTableDef(VARIANT Name,VARIANT Attributes,VARIANT SourceTablename,VARIANT Connect, _DAOTableDef **pptdf) override { return E_NOTIMPL; }
  STDMETHODIMP BeginTrans() override { return E_NOTIMPL; }
  STDMETHODIMP CommitTrans(__LONG32 Options) override { return E_NOTIMPL; }
  STDMETHODIMP Rollback() override { return E_NOTIMPL; }
  STDMETHODIMP CreateDynaset(BSTR Name,VARIANT Options,VARIANT Inconsistent, DAORecordset **pprst) override { return E_NOTIMPL; }
  STDMETHODIMP CreateQueryDef(VARIANT Name,VARIANT SQLText, _DAOQueryDef **ppqdf) override { return E_NOTIMPL; }
  STDMETHODIMP CreateSnapshot(BSTR Source,VARIANT Options, DAORecordset **pprst) override { return E_NOTIMPL; }
  STDMETHODIMP DeleteQueryDef(BSTR Name) override { return E_NOTIMPL; }
  STDMETHODIMP ExecuteSQL(BSTR SQL,__LONG32 *pl) override { return E_NOTIMPL; }
  STDMETHODIMP ListFields(BSTR Name, DAORecordset **pprst) override { return E_NOTIMPL; }
  STDMETHODIMP ListTables(DAORecordset **pprst) override { return E_NOTIMPL; }
  STDMETHODIMP OpenQueryDef(BSTR Name, _DAOQueryDef **ppqdf) override { return E_NOTIMPL; }
  STDMETHODIMP OpenTable(BSTR Name,VARIANT Options, DAORecordset **pprst) override { return E_NOTIMPL; }
  STDMETHODIMP get_ReplicaID(BSTR *pbstr) override { return E_NOTIMPL; }
  STDMETHODIMP get_DesignMasterID(BSTR *pbstr) override { return E_NOTIMPL; }
  STDMETHODIMP put_DesignMasterID(BSTR MasterID) override { return E_NOTIMPL; }
  STDMETHODIMP Synchronize(BSTR DbPathName,VARIANT ExchangeType) override { return E_NOTIMPL; }
  STDMETHODIMP MakeReplica(BSTR PathName,BSTR Description,VARIANT Options) override { return E_NOTIMPL; }
  STDMETHODIMP put_Connect(BSTR ODBCConnnect) override { return E_NOTIMPL; }
  STDMETHODIMP NewPassword(BSTR bstrOld,BSTR bstrNew) override { return E_NOTIMPL; }
  STDMETHODIMP OpenRecordset(BSTR Name,VARIANT Type,VARIANT Options,VARIANT LockEdit, DAORecordset **pprst) override { return E_NOTIMPL; }
  STDMETHODIMP get_Connection(DAOConnection **ppCn) override { return E_NOTIMPL; }
  STDMETHODIMP PopulatePartial(BSTR DbPathName) override { return E_NOTIMPL; }
};

class FakeEngine : public Object<_DAODBEngine> {
 public:
  FakeEngine() : Object(L"Engine", {DAOGuid(0x20), IID_DBEngine, IID_DAO}) {}
  ~FakeEngine() override {
    if (errors_) errors_->Release();
  }
  STDMETHODIMP get_Errors(DAOErrors** out) override {
    Log(L"Engine.Errors");
    if (!out) return E_POINTER;
    if (!errors_) errors_ = new FakeErrors;
    errors_->AddRef();
    *out = errors_;
    return S_OK;
  }
  STDMETHODIMP OpenDatabase(BSTR Name, VARIANT Options, VARIANT ReadOnly, VARIANT Connect,
                            DAODatabase** out) override {
    Log(L"Engine.OpenDatabase " + Describe(Options) + L" " + Describe(ReadOnly) + L" " +
        Describe(Connect) + L" " + (Name ? Name : L""));
    if (!out) return E_POINTER;
    *out = nullptr;
    if (FAILED(g_script.open)) return g_script.open;
    *out = new FakeDatabase;
    return S_OK;
  }
  STDMETHODIMP get_Properties(DAOProperties **ppprops) override { return E_NOTIMPL; }
  STDMETHODIMP get_Version(BSTR *pbstr) override { return E_NOTIMPL; }
  STDMETHODIMP get_IniPath(BSTR *pbstr) override { return E_NOTIMPL; }
  STDMETHODIMP put_IniPath(BSTR path) override { return E_NOTIMPL; }
  STDMETHODIMP put_DefaultUser(BSTR user) override { return E_NOTIMPL; }
  STDMETHODIMP put_DefaultPassword(BSTR pw) override { return E_NOTIMPL; }
  STDMETHODIMP get_LoginTimeout(short *ps) override { return E_NOTIMPL; }
  STDMETHODIMP put_LoginTimeout(short Timeout) override { return E_NOTIMPL; }
  STDMETHODIMP get_Workspaces(DAOWorkspaces **ppworks) override { return E_NOTIMPL; }
  STDMETHODIMP Idle(VARIANT Action) override { return E_NOTIMPL; }
  STDMETHODIMP CompactDatabase(BSTR SrcName,BSTR DstName,VARIANT DstLocale,VARIANT Options,VARIANT SrcLocale) override { return E_NOTIMPL; }
  STDMETHODIMP RepairDatabase(BSTR Name) override { return E_NOTIMPL; }
  STDMETHODIMP RegisterDatabase(BSTR Dsn,BSTR Driver,VARIANT_BOOL Silent,BSTR Attributes) override { return E_NOTIMPL; }
  STDMETHODIMP _30_CreateWorkspace(BSTR Name,BSTR UserName,BSTR Password, DAOWorkspace **ppwrk) override { return E_NOTIMPL; }
  STDMETHODIMP CreateDatabase(BSTR Name,BSTR Locale,VARIANT Option, DAODatabase **ppdb) override { return E_NOTIMPL; }
  STDMETHODIMP FreeLocks() override { return E_NOTIMPL; }
  STDMETHODIMP BeginTrans() override { return E_NOTIMPL; }
  STDMETHODIMP CommitTrans(__LONG32 Option) override { return E_NOTIMPL; }
  STDMETHODIMP Rollback() override { return E_NOTIMPL; }
  STDMETHODIMP SetDefaultWorkspace(BSTR Name,BSTR Password) override { return E_NOTIMPL; }
  STDMETHODIMP SetDataAccessOption(short Option,VARIANT Value) override { return E_NOTIMPL; }
  STDMETHODIMP ISAMStats(__LONG32 StatNum,VARIANT Reset,__LONG32 *pl) override { return E_NOTIMPL; }
  STDMETHODIMP get_SystemDB(BSTR *pbstr) override { return E_NOTIMPL; }
  STDMETHODIMP put_SystemDB(BSTR SystemDBPath) override { return E_NOTIMPL; }
  STDMETHODIMP CreateWorkspace(BSTR Name,BSTR UserName,BSTR Password,VARIANT UseType, DAOWorkspace **ppwrk) override { return E_NOTIMPL; }
  STDMETHODIMP OpenConnection(BSTR Name,VARIANT Options,VARIANT ReadOnly,VARIANT Connect, DAOConnection **ppconn) override { return E_NOTIMPL; }
  STDMETHODIMP get_DefaultType(__LONG32 *Option) override { return E_NOTIMPL; }
  STDMETHODIMP put_DefaultType(__LONG32 Option) override { return E_NOTIMPL; }
  STDMETHODIMP SetOption(LONG Option,VARIANT Value) override { return E_NOTIMPL; }
  STDMETHODIMP DumpObjects(BSTR *pbstr) override { return E_NOTIMPL; }
  STDMETHODIMP DebugPrint(BSTR bstr) override { return E_NOTIMPL; }

 private:
  FakeErrors* errors_ = nullptr;
};

class Factory : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
      return E_NOINTERFACE;
    *out = this;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    Log(L"Factory.CreateInstance");
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (FAILED(g_script.create)) return g_script.create;
    auto* engine = new FakeEngine;
    HRESULT hr = engine->QueryInterface(riid, out);
    engine->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

const wchar_t* const kClassKeys[] = {
    L"CLSID\\{00000100-0000-0010-8000-00AA006D2EA4}",
    L"CLSID\\{00000101-0000-0010-8000-00AA006D2EA4}",
};

}  // namespace
}  // namespace daoif

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) daoif::g_module = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid,
                                                                  void** out) {
  using namespace daoif;
  if (!out) return E_POINTER;
  *out = nullptr;
  LoadScript();
  Log(L"DllGetClassObject " + Hex(g_script.factory));
  if (!IsEqualCLSID(clsid, DAOGuid(0x100)) && !IsEqualCLSID(clsid, DAOGuid(0x101)))
    return CLASS_E_CLASSNOTAVAILABLE;
  if (FAILED(g_script.factory)) return g_script.factory;
  return g_factory.QueryInterface(riid, out);
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(daoif::g_module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return E_FAIL;
  for (const wchar_t* key : daoif::kClassKeys) {
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
  for (const wchar_t* key : daoif::kClassKeys) RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
  return S_OK;
}
