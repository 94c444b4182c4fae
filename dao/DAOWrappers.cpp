#include "dao/DAOWrappers.h"

#include "dao/DAOFailures.h"
#include "dao/DAOGuard.h"
#include "dao/DAOInterfaces.h"
#include "dao/DAOLayer.h"

namespace {

// A local interface reference that an operation receives from the engine. Released when the
// operation ends, outside the call frame (it is declared before the frame is entered), after
// the result wrapper has taken its own reference. Declared before the converted variants, so
// that those are cleared first and the interface is released last.
template <class T>
struct LocalRef {
  T* Ptr = nullptr;
  LocalRef() = default;
  LocalRef(const LocalRef&) = delete;
  LocalRef& operator=(const LocalRef&) = delete;
  ~LocalRef() {
    if (T* ptr = Ptr) GuardedCallDroppingFailures([ptr] { ptr->Release(); });
  }
};

// A BSTR the engine hands out; freed when the operation ends.
struct LocalBStr {
  BSTR Text = nullptr;
  LocalBStr() = default;
  LocalBStr(const LocalBStr&) = delete;
  LocalBStr& operator=(const LocalBStr&) = delete;
  ~LocalBStr() { SysFreeString(Text); }
};

// Raises the failure of a finished engine call (a negative HRESULT).
void Check(const wchar_t* label, HRESULT hr) {
  if (FAILED(hr)) RaiseDAOError(label, hr);
}

// The same for a call that hands out an interface: a success without one is a failure too,
// rather than a wrapper that would crash on its first use.
void Check(const wchar_t* label, HRESULT hr, const IUnknown* result) {
  Check(label, hr);
  if (!result) RaiseDAOError(label, E_POINTER);
}

// Runs one engine call inside the call frame; the frame is left on every path before the
// caller looks at the result (or before a failure of the argument conversion, or a
// structured exception the engine let escape, propagates).
template <class F>
HRESULT InFrame(F&& call) {
  DAOCallFrame frame;
  HRESULT hr = E_UNEXPECTED;
  GuardedCall([&] { hr = call(); });
  return hr;
}

template <class T>
T* As(IDispatch* intf) {
  return static_cast<T*>(intf);
}

}  // namespace

// ---- DAOBase ----------------------------------------------------------------------------

DAOBase::DAOBase(IDispatch* intf, DAOBase* parent) {
  AttachIntf(intf);
  Parent = parent;
}

DAOBase::DAOBase(const Variant& value, DAOBase* parent) {
  if (value.Type() != VT_DISPATCH) throw EDAOConvError(L"Variant is not of type VT_Dispatch");
  AttachIntf(value.Raw().pdispVal);
  Parent = parent;
}

DAOBase::DAOBase(VARIANT automation) {
  // The wrapper works on its own copy of the automation variant and clears it again.
  AutoVariant own;
  if (FAILED(VariantCopy(&own.Get(), &automation)) || own.Get().vt != VT_DISPATCH)
    throw EDAOConvError(L"Automation object is not of type varDispatch");
  AttachIntf(own.Get().pdispVal);
}

DAOBase::DAOBase(const DAOBase& other) {
  AttachIntf(other.Intf);
  Parent = other.Parent;
}

DAOBase::~DAOBase() {
  OwnedObject.reset();
  if (Intf) {
    EnterDAOCall();
    IDispatch* intf = Intf;
    Intf = nullptr;
    // A failing release (C++ or structured exception) must not stop the destruction.
    GuardedCallDroppingFailures([intf] { intf->Release(); });
    LeaveDAOCall();
  }
}

void DAOBase::AttachIntf(IDispatch* intf) {
  {
    DAOCallFrame frame;
    if (intf) GuardedCall([intf] { intf->AddRef(); });
  }
  Intf = intf;
}

IDispatch* DAOBase::RequireIntf(const wchar_t* label) const {
  if (!Intf) RaiseDAOError(label, E_POINTER);
  return Intf;
}

// ---- DAOCollection, DAOErrors, DAOError -------------------------------------------------

int16_t DAOCollection::GetCount() {
  constexpr const wchar_t* label = L"DAOCollection.GetCount";
  auto* collection = As<daoif::_DAOCollection>(RequireIntf(label));
  short count = 0;
  Check(label, InFrame([&] { return collection->get_Count(&count); }));
  return count;
}

std::unique_ptr<DAOError> DAOErrors::GetItem(const Variant& Index) {
  constexpr const wchar_t* label = L"DAOErrors.GetItem";
  auto* errors = As<daoif::DAOErrors>(RequireIntf(label));
  LocalRef<daoif::DAOError> item;
  AutoVariant index;
  HRESULT hr = InFrame([&] {
    ToAutomationVariant(Index, index.Get());
    return errors->get_Item(index.Get(), &item.Ptr);
  });
  Check(label, hr, item.Ptr);
  return std::make_unique<DAOError>(item.Ptr, this);
}

std::wstring DAOError::GetDescription() {
  constexpr const wchar_t* label = L"DAOError.GetDescription";
  auto* error = As<daoif::DAOError>(RequireIntf(label));
  LocalBStr text;
  Check(label, InFrame([&] { return error->get_Description(&text.Text); }));
  return BStrToWide(text.Text);
}

// ---- DAODAO, DAODBEngine, DAODatabase ---------------------------------------------------

DAODAO::~DAODAO() { PropertiesCache.reset(); }

DAODBEngine::~DAODBEngine() {
  WorkspacesCache.reset();
  ErrorsCache.reset();
}

DAOErrors* DAODBEngine::GetErrors() {
  if (ErrorsCache) return ErrorsCache.get();
  constexpr const wchar_t* label = L"DAODBEngine.GetErrors";
  auto* engine = As<daoif::_DAODBEngine>(RequireIntf(label));
  LocalRef<daoif::DAOErrors> errors;
  HRESULT hr = InFrame([&] { return engine->get_Errors(&errors.Ptr); });
  Check(label, hr, errors.Ptr);   // the result is looked at only after the call
  ErrorsCache = std::make_unique<DAOErrors>(errors.Ptr, this);
  return ErrorsCache.get();
}

std::unique_ptr<DAODatabase> DAODBEngine::OpenDatabase(BSTR Name, const Variant& Options, const Variant& ReadOnly,
                                                       const Variant& Connect) {
  constexpr const wchar_t* label = L"DAODBEngine.OpenDatabase";
  auto* engine = As<daoif::_DAODBEngine>(RequireIntf(label));
  LocalRef<daoif::DAODatabase> database;
  AutoVariant options, readOnly, connect;
  HRESULT hr = InFrame([&] {
    ToAutomationVariant(Options, options.Get());
    ToAutomationVariant(ReadOnly, readOnly.Get());
    ToAutomationVariant(Connect, connect.Get());
    return engine->OpenDatabase(Name, options.Get(), readOnly.Get(), connect.Get(), &database.Ptr);
  });
  Check(label, hr, database.Ptr);
  return std::make_unique<DAODatabase>(database.Ptr, this);
}

DAODatabase::~DAODatabase() {
  TableDefsCache.reset();
  QueryDefsCache.reset();
  RelationsCache.reset();
  ContainersCache.reset();
  RecordsetsCache.reset();
}

int32_t DAODatabase::GetRecordsAffected() {
  constexpr const wchar_t* label = L"DAODatabase.GetRecordsAffected";
  auto* database = As<daoif::DAODatabase>(RequireIntf(label));
  LONG count = 0;
  Check(label, InFrame([&] { return database->get_RecordsAffected(&count); }));
  return count;
}

void DAODatabase::Execute(BSTR Query, const Variant& Options) {
  constexpr const wchar_t* label = L"DAODatabase.Execute";
  auto* database = As<daoif::DAODatabase>(RequireIntf(label));
  AutoVariant options;
  HRESULT hr = InFrame([&] {
    ToAutomationVariant(Options, options.Get());
    return database->Execute(Query, options.Get());
  });
  Check(label, hr);
}
