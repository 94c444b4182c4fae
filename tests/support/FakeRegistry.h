// Test seam for engine creation: replaces the DAO layer's CoGetClassObject / LoadLibraryW
// (DAOPlatform) with a registry of fake engine classes, records every request, and restores
// the layer's process-wide engine state (DAOVersion, identifiers, Jet library name,
// JetLoaded) and the previous hooks when destroyed. Instances nest: the newest one serves.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "dao/DAOHooks.h"
#include "tests/support/FakeDAO.h"

namespace fakedao {

class FakeRegistry {
public:
  struct ClassRequest {
    CLSID Class;
    DWORD Context;
    bool ServerInfoGiven;
    IID Interface;
    uint16_t ControlWord;   // live x87 control word during the request
  };

  FakeRegistry();
  FakeRegistry(const FakeRegistry&) = delete;
  FakeRegistry& operator=(const FakeRegistry&) = delete;
  ~FakeRegistry();

  // Makes `clsid` an engine class served by fake engines recording into `state`.
  void Register(REFCLSID clsid, const FakeDAOStatePtr& state);
  // Lets requests through to the system's CoGetClassObject (for CoRegisterClassObject).
  void PassThrough(bool on) { FPassThrough = on; }
  // Result of a Jet library load (nullptr = the library was not found).
  void SetLoadResult(HMODULE module) { FLoadResult = module; }

  std::vector<ClassRequest> Requests;
  std::vector<std::wstring> LoadedLibraries;
  std::vector<uint16_t> LoadControlWords;   // live x87 control word during each load

private:
  static HRESULT WINAPI GetClassObject(REFCLSID clsid, DWORD context, LPVOID server, REFIID iid, LPVOID* object);
  static HMODULE WINAPI LoadJetLibrary(LPCWSTR name);

  std::map<std::wstring, FakeDAOStatePtr> FClasses;
  bool FPassThrough = false;
  HMODULE FLoadResult = nullptr;

  uint8_t FSavedVersion;
  CLSID FSavedEngine, FSavedPrivate;
  IID FSavedIID;
  std::wstring FSavedLibrary;
  bool FSavedLoaded;
  FakeRegistry* FPrevious;
  DAOPlatformHooks FSavedHooks;
};

}  // namespace fakedao
