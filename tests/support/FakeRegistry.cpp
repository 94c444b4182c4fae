#include "tests/support/FakeRegistry.h"

#include "dao/DAOEngine.h"
#include "dao/DAOHooks.h"
#include "dao/DAOLayer.h"

namespace fakedao {

namespace {
FakeRegistry* Current = nullptr;

std::wstring Key(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}
}  // namespace

FakeRegistry::FakeRegistry()
    : FSavedVersion(DAOVersion),
      FSavedEngine(EngineCLSID),
      FSavedPrivate(PrivateEngineCLSID),
      FSavedIID(EngineIID),
      FSavedLibrary(JetLibraryName),
      FSavedLoaded(JetLoaded),
      FPrevious(Current),
      FSavedHooks(DAOPlatform) {
  Current = this;
  DAOPlatform.GetClassObject = &FakeRegistry::GetClassObject;
  DAOPlatform.LoadJetLibrary = &FakeRegistry::LoadJetLibrary;
}

FakeRegistry::~FakeRegistry() {
  DAOPlatform = FSavedHooks;
  Current = FPrevious;
  DAOVersion = FSavedVersion;
  EngineCLSID = FSavedEngine;
  PrivateEngineCLSID = FSavedPrivate;
  EngineIID = FSavedIID;
  JetLibraryName = FSavedLibrary;
  JetLoaded = FSavedLoaded;
}

void FakeRegistry::Register(REFCLSID clsid, const FakeDAOStatePtr& state) { FClasses[Key(clsid)] = state; }

HRESULT WINAPI FakeRegistry::GetClassObject(REFCLSID clsid, DWORD context, LPVOID server, REFIID iid,
                                            LPVOID* object) {
  FakeRegistry& self = *Current;
  self.Requests.push_back({clsid, context, server != nullptr, iid, CurrentX87ControlWord()});
  if (self.FPassThrough) return DAOSystemPlatform.GetClassObject(clsid, context, server, iid, object);
  *object = nullptr;
  auto it = self.FClasses.find(Key(clsid));
  if (it == self.FClasses.end()) return REGDB_E_CLASSNOTREG;
  IClassFactory* factory = CreateFakeClassFactory(it->second);
  HRESULT hr = factory->QueryInterface(iid, object);
  factory->Release();
  return hr;
}

HMODULE WINAPI FakeRegistry::LoadJetLibrary(LPCWSTR name) {
  Current->LoadedLibraries.push_back(name ? name : L"(null)");
  Current->LoadControlWords.push_back(CurrentX87ControlWord());
  return Current->FLoadResult;
}

}  // namespace fakedao
