// Fake DAO engine objects for tests: in-process COM objects implementing the DAO 3.6 dual
// interfaces _DBEngine, Database, Errors and Error (vtables of mingw-w64's <dbdaoint.h>),
// plus a class factory for CoRegisterClassObject. Free of any test framework.
//
// Everything the objects do is configured in, and recorded into, one shared FakeDAOState:
//  - every call (AddRef and Release included) is appended to Calls with the object's name
//    ("DBEngine1", "Database1", "Errors1", "Error2", "Factory1"), the member ("Execute"),
//    its arguments (VARIANT arguments copied as they arrived, BSTR parameters as VT_BSTR
//    values with their exact length) and the live x87 control word on entry;
//  - RefCounts holds each object's current reference count, so leaks and the release order
//    can be checked; an object is deleted when its count reaches zero;
//  - FailCall("Database.Execute", hr) makes that member return hr (every call, or only the
//    n-th); "Factory.CreateInstance" makes the factory refuse the instance; a rule for
//    "<Kind>.Release" makes Release throw FakeReleaseFailure after releasing;
//  - ChangeControlWord("Database.Execute", cw) loads cw into the x87 control word inside
//    that call (after recording it);
//  - RaiseInCall("Database.Execute", code) makes that member raise a structured exception
//    (RaiseException) after recording the call; for "<Kind>.Release" after releasing;
//  - ErrorDescriptions is what the engine's Errors collection holds (read live; Count is
//    its size, Item(i) an Error with description i); RecordsAffected is what every
//    Database reports;
//  - OnCall, when set, runs after each call has been recorded;
//  - members named in SucceedWithoutObject ("DBEngine.OpenDatabase", "DBEngine.get_Errors",
//    "Errors.get_Item", "Factory.CreateInstance") report S_OK but hand out no object.
// Member names: DBEngine.{OpenDatabase,get_Errors}, Database.{Execute,get_RecordsAffected,
// Close}, Errors.{get_Count,get_Item}, Error.{get_Description,get_Number}, Factory.
// {CreateInstance,LockServer}, and <Kind>.{AddRef,Release,QueryInterface}; any other member
// returns E_NOTIMPL (and is recorded).
// Single-threaded: use the objects from the thread (apartment) that made them.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oaidl.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "dao/Variant.h"

namespace fakedao {

struct FakeCall {
  std::wstring Object;   // "Database1"
  std::wstring Kind;     // "Database"
  std::wstring Member;   // "Execute"
  std::vector<Variant> Args;
  uint16_t ControlWord = 0;  // live x87 control word on entry
  LONG RefCount = 0;         // for AddRef / Release: the count afterwards

  std::wstring Name() const { return Kind + L"." + Member; }
};

// Thrown by Release when a rule for "<Kind>.Release" exists.
struct FakeReleaseFailure : std::runtime_error {
  FakeReleaseFailure() : std::runtime_error("fake Release failure") {}
};

class FakeDAOState {
public:
  // ---- configuration
  // Member ("Kind.Member") returns hr on its `occurrence`-th call (1-based), or on every
  // call when occurrence is 0.
  void FailCall(const std::wstring& member, HRESULT hr, int occurrence = 0);
  // Member loads `word` into the x87 control word on its `occurrence`-th call (0 = every).
  void ChangeControlWord(const std::wstring& member, uint16_t word, int occurrence = 0);
  // Member raises the structured exception `code` on its `occurrence`-th call (0 = every).
  void RaiseInCall(const std::wstring& member, DWORD code, int occurrence = 0);
  std::vector<std::wstring> ErrorDescriptions;
  LONG RecordsAffected = 0;
  std::function<void(const FakeCall&)> OnCall;
  std::vector<std::wstring> SucceedWithoutObject;
  bool HandsOutNothing(const std::wstring& member) const;

  // ---- observation
  std::vector<FakeCall> Calls;
  std::map<std::wstring, LONG> RefCounts;

  // Calls of member "Kind.Member".
  int CountCalls(const std::wstring& member) const;
  // The n-th call (1-based) of member "Kind.Member", or nullptr.
  const FakeCall* FindCall(const std::wstring& member, int n = 1) const;
  // Position of that call in Calls, or -1.
  int IndexOf(const std::wstring& member, int n = 1) const;
  // Objects whose reference count is above zero ("Database1", ...).
  std::vector<std::wstring> LiveObjects() const;
  // Reference count of the named object (0 when unknown or released).
  LONG RefCount(const std::wstring& object) const;

  // ---- used by the fake objects
  std::wstring NewObjectName(const std::wstring& kind);
  // Records a call and applies the rules: returns the HRESULT to fail with (S_OK for none).
  HRESULT Record(const std::wstring& object, const std::wstring& kind, const std::wstring& member,
                 std::vector<Variant> args = {}, LONG refCount = 0);
  // Raises the structured exception that the last recorded call's rules asked for, if any.
  void RaisePending();

private:
  struct Rule {
    HRESULT Result;
    bool ChangesControlWord;
    uint16_t Word;
    int Occurrence;
    DWORD Raise = 0;
  };
  DWORD FPendingRaise = 0;
  std::multimap<std::wstring, Rule> FRules;
  std::map<std::wstring, int> FCallCounts;
  std::map<std::wstring, int> FSerials;
};

using FakeDAOStatePtr = std::shared_ptr<FakeDAOState>;

// A new fake engine (one reference, owned by the caller), as the class factory makes it.
IDispatch* CreateFakeEngine(const FakeDAOStatePtr& state);
// A new class factory (one reference) whose instances are fake engines; it answers the
// DAO _DBEngine interface identifiers, IDispatch and IUnknown.
IClassFactory* CreateFakeClassFactory(const FakeDAOStatePtr& state);

// Registers a fake class factory for `clsid` with CoRegisterClassObject (in-process) and
// revokes it again when destroyed.
class FakeRegistration {
public:
  FakeRegistration(const FakeDAOStatePtr& state, REFCLSID clsid);
  FakeRegistration(const FakeRegistration&) = delete;
  FakeRegistration& operator=(const FakeRegistration&) = delete;
  ~FakeRegistration();
  HRESULT Result() const { return FResult; }

private:
  DWORD FCookie = 0;
  HRESULT FResult = E_FAIL;
};

// A BSTR argument as recorded (VT_BSTR Variant) in UTF-16.
std::wstring ArgText(const Variant& arg);

}  // namespace fakedao
