#include "tests/support/FakeDAO.h"

#include <cstring>
#include <utility>

#include "dao/DAOInterfaces.h"
#include "dao/DAOLayer.h"

namespace fakedao {

using namespace daoif;

namespace {

// The DAO "Item not found in this collection" failure (error 3265).
constexpr HRESULT ItemNotFound = static_cast<HRESULT>(0x800A0CC1);

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

Variant Arg(const VARIANT& value) {
  try {
    return Variant(value);
  } catch (...) {
    return Variant();   // an argument that cannot even be copied is recorded as empty
  }
}

Variant BStrArg(BSTR text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = text;   // borrowed; Arg copies it with its exact length
  return Arg(v);
}

std::wstring Widen(const char* ascii) { return std::wstring(ascii, ascii + strlen(ascii)); }

// IUnknown with recorded, counted references.
template <class Itf>
class FakeUnknown : public Itf {
public:
  FakeUnknown(FakeDAOStatePtr state, const wchar_t* kind)
      : FState(std::move(state)), FKind(kind), FName(FState->NewObjectName(kind)) {
    FState->RefCounts[FName] = 1;
  }
  virtual ~FakeUnknown() = default;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    HRESULT hr = Call(L"QueryInterface", {Variant(GuidText(riid))});
    if (!object) return E_POINTER;
    *object = nullptr;
    if (FAILED(hr)) return hr;
    if (riid != IID_IUnknown && !Accepts(riid)) return E_NOINTERFACE;
    *object = static_cast<Itf*>(this);
    this->AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override {
    ++FRefs;
    FState->RefCounts[FName] = FRefs;
    FState->Record(FName, FKind, L"AddRef", {}, FRefs);
    FState->RaisePending();
    return FRefs;
  }
  STDMETHODIMP_(ULONG) Release() override {
    --FRefs;
    FState->RefCounts[FName] = FRefs;
    bool fail = FAILED(FState->Record(FName, FKind, L"Release", {}, FRefs));
    LONG left = FRefs;
    FakeDAOState* state = FState.get();   // the test keeps the state alive
    if (left == 0) delete this;
    state->RaisePending();
    if (fail) throw FakeReleaseFailure();
    return left;
  }

protected:
  virtual bool Accepts(REFIID riid) const = 0;
  HRESULT Call(const wchar_t* member, std::vector<Variant> args = {}) {
    HRESULT hr = FState->Record(FName, FKind, member, std::move(args));
    FState->RaisePending();
    return hr;
  }
  HRESULT NotImplemented(const char* member) {
    HRESULT hr = Call(Widen(member).c_str());
    return FAILED(hr) ? hr : E_NOTIMPL;
  }

  FakeDAOStatePtr FState;
  std::wstring FKind;
  std::wstring FName;
  LONG FRefs = 1;
};

// IDispatch is not offered: the layer calls the vtable members, never Invoke.
template <class Itf>
class FakeObject : public FakeUnknown<Itf> {
public:
  using FakeUnknown<Itf>::FakeUnknown;
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return this->NotImplemented("GetTypeInfoCount");
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return this->NotImplemented("GetTypeInfo"); }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return this->NotImplemented("GetIDsOfNames");
  }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return this->NotImplemented("Invoke");
  }

protected:
  bool Accepts(REFIID riid) const override { return riid == IID_IDispatch || AcceptsDAO(riid); }
  virtual bool AcceptsDAO(REFIID riid) const = 0;
};

#define FAKE_NOTIMPL(name, ...) \
  STDMETHODIMP name(__VA_ARGS__) override { return this->NotImplemented(#name); }

class FakeError : public FakeObject<DAOError> {
public:
  FakeError(FakeDAOStatePtr state, std::wstring description, LONG number)
      : FakeObject(std::move(state), L"Error"), FDescription(std::move(description)), FNumber(number) {}

  STDMETHODIMP get_Description(BSTR* text) override {
    HRESULT hr = Call(L"get_Description");
    if (FAILED(hr)) return hr;
    if (!text) return E_POINTER;
    *text = SysAllocStringLen(FDescription.data(), static_cast<UINT>(FDescription.size()));
    return *text ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP get_Number(LONG* number) override {
    HRESULT hr = Call(L"get_Number");
    if (FAILED(hr)) return hr;
    if (!number) return E_POINTER;
    *number = FNumber;
    return S_OK;
  }
  FAKE_NOTIMPL(get_Source, BSTR*)
  FAKE_NOTIMPL(get_HelpFile, BSTR*)
  FAKE_NOTIMPL(get_HelpContext, LONG*)

protected:
  bool AcceptsDAO(REFIID riid) const override { return riid == IID_Error; }

private:
  std::wstring FDescription;
  LONG FNumber;
};

class FakeErrors : public FakeObject<DAOErrors> {
public:
  explicit FakeErrors(FakeDAOStatePtr state) : FakeObject(std::move(state), L"Errors") {}

  STDMETHODIMP get_Count(short* count) override {
    HRESULT hr = Call(L"get_Count");
    if (FAILED(hr)) return hr;
    if (!count) return E_POINTER;
    *count = static_cast<short>(FState->ErrorDescriptions.size());
    return S_OK;
  }
  STDMETHODIMP get_Item(VARIANT item, DAOError** error) override {
    HRESULT hr = Call(L"get_Item", {Arg(item)});
    if (!error) return E_POINTER;
    *error = nullptr;
    if (FAILED(hr)) return hr;
    VARIANT index;
    VariantInit(&index);
    if (FAILED(VariantChangeType(&index, &item, 0, VT_I4))) return DISP_E_TYPEMISMATCH;
    const auto& list = FState->ErrorDescriptions;
    if (index.lVal < 0 || static_cast<size_t>(index.lVal) >= list.size()) return ItemNotFound;
    if (FState->HandsOutNothing(L"Errors.get_Item")) return S_OK;
    *error = new FakeError(FState, list[index.lVal], 3000 + index.lVal);
    return S_OK;
  }
  FAKE_NOTIMPL(_NewEnum, IUnknown**)
  FAKE_NOTIMPL(Refresh)

protected:
  bool AcceptsDAO(REFIID riid) const override { return riid == IID_Errors || riid == IID_Collection; }
};

class FakeDatabase : public FakeObject<DAODatabase> {
public:
  explicit FakeDatabase(FakeDAOStatePtr state) : FakeObject(std::move(state), L"Database") {}

  STDMETHODIMP Execute(BSTR query, VARIANT options) override {
    return Call(L"Execute", {BStrArg(query), Arg(options)});
  }
  STDMETHODIMP get_RecordsAffected(LONG* count) override {
    HRESULT hr = Call(L"get_RecordsAffected");
    if (FAILED(hr)) return hr;
    if (!count) return E_POINTER;
    *count = FState->RecordsAffected;
    return S_OK;
  }
  STDMETHODIMP Close() override { return Call(L"Close"); }

  FAKE_NOTIMPL(get_Properties, DAOProperties**)
  FAKE_NOTIMPL(get_CollatingOrder, LONG*)
  FAKE_NOTIMPL(get_Connect, BSTR*)
  FAKE_NOTIMPL(get_Name, BSTR*)
  FAKE_NOTIMPL(get_QueryTimeout, short*)
  FAKE_NOTIMPL(put_QueryTimeout, short)
  FAKE_NOTIMPL(get_Transactions, VARIANT_BOOL*)
  FAKE_NOTIMPL(get_Updatable, VARIANT_BOOL*)
  FAKE_NOTIMPL(get_Version, BSTR*)
  FAKE_NOTIMPL(get_TableDefs, DAOTableDefs**)
  FAKE_NOTIMPL(get_QueryDefs, DAOQueryDefs**)
  FAKE_NOTIMPL(get_Relations, DAORelations**)
  FAKE_NOTIMPL(get_Containers, DAOContainers**)
  FAKE_NOTIMPL(get_Recordsets, DAORecordsets**)
  FAKE_NOTIMPL(_30_OpenRecordset, BSTR, VARIANT, VARIANT, DAORecordset**)
  FAKE_NOTIMPL(CreateProperty, VARIANT, VARIANT, VARIANT, VARIANT, DAOProperty**)
  FAKE_NOTIMPL(CreateRelation, VARIANT, VARIANT, VARIANT, VARIANT, _DAORelation**)
  FAKE_NOTIMPL(CreateTableDef, VARIANT, VARIANT, VARIANT, VARIANT, _DAOTableDef**)
  FAKE_NOTIMPL(BeginTrans)
  FAKE_NOTIMPL(CommitTrans, LONG)
  FAKE_NOTIMPL(Rollback)
  FAKE_NOTIMPL(CreateDynaset, BSTR, VARIANT, VARIANT, DAORecordset**)
  FAKE_NOTIMPL(CreateQueryDef, VARIANT, VARIANT, _DAOQueryDef**)
  FAKE_NOTIMPL(CreateSnapshot, BSTR, VARIANT, DAORecordset**)
  FAKE_NOTIMPL(DeleteQueryDef, BSTR)
  FAKE_NOTIMPL(ExecuteSQL, BSTR, LONG*)
  FAKE_NOTIMPL(ListFields, BSTR, DAORecordset**)
  FAKE_NOTIMPL(ListTables, DAORecordset**)
  FAKE_NOTIMPL(OpenQueryDef, BSTR, _DAOQueryDef**)
  FAKE_NOTIMPL(OpenTable, BSTR, VARIANT, DAORecordset**)
  FAKE_NOTIMPL(get_ReplicaID, BSTR*)
  FAKE_NOTIMPL(get_DesignMasterID, BSTR*)
  FAKE_NOTIMPL(put_DesignMasterID, BSTR)
  FAKE_NOTIMPL(Synchronize, BSTR, VARIANT)
  FAKE_NOTIMPL(MakeReplica, BSTR, BSTR, VARIANT)
  FAKE_NOTIMPL(put_Connect, BSTR)
  FAKE_NOTIMPL(NewPassword, BSTR, BSTR)
  FAKE_NOTIMPL(OpenRecordset, BSTR, VARIANT, VARIANT, VARIANT, DAORecordset**)
  FAKE_NOTIMPL(get_Connection, DAOConnection**)
  FAKE_NOTIMPL(PopulatePartial, BSTR)

protected:
  bool AcceptsDAO(REFIID riid) const override { return riid == IID_Database || riid == IID_DAO; }
};

class FakeDBEngine : public FakeObject<_DAODBEngine> {
public:
  explicit FakeDBEngine(FakeDAOStatePtr state) : FakeObject(std::move(state), L"DBEngine") {}
  ~FakeDBEngine() override {
    if (FErrors) FErrors->Release();
  }

  STDMETHODIMP get_Errors(DAOErrors** errors) override {
    HRESULT hr = Call(L"get_Errors");
    if (!errors) return E_POINTER;
    *errors = nullptr;
    if (FAILED(hr)) return hr;
    if (FState->HandsOutNothing(L"DBEngine.get_Errors")) return S_OK;
    if (!FErrors) FErrors = new FakeErrors(FState);   // the engine's own reference
    FErrors->AddRef();
    *errors = FErrors;
    return S_OK;
  }
  STDMETHODIMP OpenDatabase(BSTR name, VARIANT options, VARIANT readOnly, VARIANT connect,
                            DAODatabase** database) override {
    HRESULT hr = Call(L"OpenDatabase", {BStrArg(name), Arg(options), Arg(readOnly), Arg(connect)});
    if (!database) return E_POINTER;
    *database = nullptr;
    if (FAILED(hr)) return hr;
    if (FState->HandsOutNothing(L"DBEngine.OpenDatabase")) return S_OK;
    *database = new FakeDatabase(FState);
    return S_OK;
  }

  FAKE_NOTIMPL(get_Properties, DAOProperties**)
  FAKE_NOTIMPL(get_Version, BSTR*)
  FAKE_NOTIMPL(get_IniPath, BSTR*)
  FAKE_NOTIMPL(put_IniPath, BSTR)
  FAKE_NOTIMPL(put_DefaultUser, BSTR)
  FAKE_NOTIMPL(put_DefaultPassword, BSTR)
  FAKE_NOTIMPL(get_LoginTimeout, short*)
  FAKE_NOTIMPL(put_LoginTimeout, short)
  FAKE_NOTIMPL(get_Workspaces, DAOWorkspaces**)
  FAKE_NOTIMPL(Idle, VARIANT)
  FAKE_NOTIMPL(CompactDatabase, BSTR, BSTR, VARIANT, VARIANT, VARIANT)
  FAKE_NOTIMPL(RepairDatabase, BSTR)
  FAKE_NOTIMPL(RegisterDatabase, BSTR, BSTR, VARIANT_BOOL, BSTR)
  FAKE_NOTIMPL(_30_CreateWorkspace, BSTR, BSTR, BSTR, DAOWorkspace**)
  FAKE_NOTIMPL(CreateDatabase, BSTR, BSTR, VARIANT, DAODatabase**)
  FAKE_NOTIMPL(FreeLocks)
  FAKE_NOTIMPL(BeginTrans)
  FAKE_NOTIMPL(CommitTrans, LONG)
  FAKE_NOTIMPL(Rollback)
  FAKE_NOTIMPL(SetDefaultWorkspace, BSTR, BSTR)
  FAKE_NOTIMPL(SetDataAccessOption, short, VARIANT)
  FAKE_NOTIMPL(ISAMStats, LONG, VARIANT, LONG*)
  FAKE_NOTIMPL(get_SystemDB, BSTR*)
  FAKE_NOTIMPL(put_SystemDB, BSTR)
  FAKE_NOTIMPL(CreateWorkspace, BSTR, BSTR, BSTR, VARIANT, DAOWorkspace**)
  FAKE_NOTIMPL(OpenConnection, BSTR, VARIANT, VARIANT, VARIANT, DAOConnection**)
  FAKE_NOTIMPL(get_DefaultType, LONG*)
  FAKE_NOTIMPL(put_DefaultType, LONG)
  FAKE_NOTIMPL(SetOption, LONG, VARIANT)
  FAKE_NOTIMPL(DumpObjects, BSTR*)
  FAKE_NOTIMPL(DebugPrint, BSTR)

protected:
  bool AcceptsDAO(REFIID riid) const override {
    return riid == IID_DBEngine || riid == IID_DBEngine30 || riid == DAOGuid(0x00000020) || riid == IID_DAO;
  }

private:
  FakeErrors* FErrors = nullptr;
};

class FakeClassFactory : public FakeUnknown<IClassFactory> {
public:
  explicit FakeClassFactory(FakeDAOStatePtr state) : FakeUnknown(std::move(state), L"Factory") {}

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    HRESULT hr = Call(L"CreateInstance", {Variant(GuidText(riid)), Variant(outer != nullptr)});
    if (!object) return E_POINTER;
    *object = nullptr;
    if (FAILED(hr)) return hr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (FState->HandsOutNothing(L"Factory.CreateInstance")) return S_OK;
    auto* engine = new FakeDBEngine(FState);
    hr = engine->QueryInterface(riid, object);
    engine->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override { return Call(L"LockServer", {Variant(lock != FALSE)}); }

protected:
  bool Accepts(REFIID riid) const override { return riid == IID_IClassFactory; }
};

}  // namespace

// ---- FakeDAOState ---------------------------------------------------------------------

void FakeDAOState::FailCall(const std::wstring& member, HRESULT hr, int occurrence) {
  FRules.insert({member, Rule{hr, false, 0, occurrence}});
}

void FakeDAOState::ChangeControlWord(const std::wstring& member, uint16_t word, int occurrence) {
  FRules.insert({member, Rule{S_OK, true, word, occurrence}});
}

void FakeDAOState::RaiseInCall(const std::wstring& member, DWORD code, int occurrence) {
  FRules.insert({member, Rule{S_OK, false, 0, occurrence, code}});
}

void FakeDAOState::RaisePending() {
  const DWORD code = FPendingRaise;
  FPendingRaise = 0;
  if (code != 0) RaiseException(code, 0, 0, nullptr);
}

bool FakeDAOState::HandsOutNothing(const std::wstring& member) const {
  for (const std::wstring& m : SucceedWithoutObject)
    if (m == member) return true;
  return false;
}

int FakeDAOState::CountCalls(const std::wstring& member) const {
  int n = 0;
  for (const FakeCall& call : Calls) n += call.Name() == member;
  return n;
}

int FakeDAOState::IndexOf(const std::wstring& member, int n) const {
  for (size_t i = 0; i < Calls.size(); ++i)
    if (Calls[i].Name() == member && --n == 0) return static_cast<int>(i);
  return -1;
}

const FakeCall* FakeDAOState::FindCall(const std::wstring& member, int n) const {
  int i = IndexOf(member, n);
  return i < 0 ? nullptr : &Calls[i];
}

std::vector<std::wstring> FakeDAOState::LiveObjects() const {
  std::vector<std::wstring> live;
  for (const auto& [name, count] : RefCounts)
    if (count > 0) live.push_back(name);
  return live;
}

LONG FakeDAOState::RefCount(const std::wstring& object) const {
  auto it = RefCounts.find(object);
  return it == RefCounts.end() ? 0 : it->second;
}

std::wstring FakeDAOState::NewObjectName(const std::wstring& kind) {
  return kind + std::to_wstring(++FSerials[kind]);
}

HRESULT FakeDAOState::Record(const std::wstring& object, const std::wstring& kind, const std::wstring& member,
                             std::vector<Variant> args, LONG refCount) {
  FakeCall call;
  call.Object = object;
  call.Kind = kind;
  call.Member = member;
  call.Args = std::move(args);
  call.ControlWord = CurrentX87ControlWord();
  call.RefCount = refCount;
  const std::wstring name = call.Name();
  const int n = ++FCallCounts[name];
  HRESULT result = S_OK;
  auto [first, last] = FRules.equal_range(name);
  for (auto it = first; it != last; ++it) {
    const Rule& rule = it->second;
    if (rule.Occurrence != 0 && rule.Occurrence != n) continue;
    if (rule.Raise != 0)
      FPendingRaise = rule.Raise;
    else if (rule.ChangesControlWord)
      LoadX87ControlWord(rule.Word);
    else
      result = rule.Result;
  }
  Calls.push_back(std::move(call));
  if (OnCall) OnCall(Calls.back());
  return result;
}

// ---- factories and registration -------------------------------------------------------

IDispatch* CreateFakeEngine(const FakeDAOStatePtr& state) { return new FakeDBEngine(state); }

IClassFactory* CreateFakeClassFactory(const FakeDAOStatePtr& state) { return new FakeClassFactory(state); }

FakeRegistration::FakeRegistration(const FakeDAOStatePtr& state, REFCLSID clsid) {
  IClassFactory* factory = CreateFakeClassFactory(state);
  FResult = CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &FCookie);
  factory->Release();
}

FakeRegistration::~FakeRegistration() {
  if (SUCCEEDED(FResult)) CoRevokeClassObject(FCookie);
}

std::wstring ArgText(const Variant& arg) {
  return arg.Type() == VT_BSTR ? BStrToWide(arg.Raw().bstrVal) : std::wstring();
}

}  // namespace fakedao
