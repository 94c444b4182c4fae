#include "dao/DAOEngine.h"

#include <objbase.h>

#include "dao/DAOFailures.h"
#include "dao/DAOGuard.h"
#include "dao/DAOHooks.h"
#include "dao/DAOInterfaces.h"
#include "dao/DAOLayer.h"

uint8_t DAOVersion = 0;
CLSID EngineCLSID{};
CLSID PrivateEngineCLSID{};
IID EngineIID{};
std::wstring JetLibraryName;
bool JetLoaded = false;

const DAOIdentifierRow DAOIdentifiers[3] = {
    {L"MSJT3032.dll", daoif::DAO30Guid(0x00025E15), daoif::DAO30Guid(0x00025E19), daoif::DAO30Guid(0x00025E17)},
    {L"MSJET35.dll", daoif::DAOGuid(0x00000010), daoif::DAOGuid(0x00000011), daoif::DAOGuid(0x00000021)},
    {L"MSJET40.dll", daoif::DAOGuid(0x00000100), daoif::DAOGuid(0x00000101), daoif::DAOGuid(0x00000021)},
};

const DAOPlatformHooks DAOSystemPlatform = {&CoGetClassObject, &LoadLibraryW};
DAOPlatformHooks DAOPlatform = DAOSystemPlatform;

void SetDAOVersion(uint8_t Version) {
  if (Version >= 1 && Version <= 3) {
    const DAOIdentifierRow& row = DAOIdentifiers[Version - 1];
    EngineCLSID = row.Engine;
    PrivateEngineCLSID = row.PrivateEngine;
    EngineIID = row.EngineInterface;
    JetLibraryName = row.JetLibrary;
  }
  DAOVersion = Version;
}

DAOLocalEngine::DAOLocalEngine(bool PrivateEngine, bool Probing) {
  const CLSID clsid = PrivateEngine ? PrivateEngineCLSID : EngineCLSID;
  // Temporary references, released when the construction ends (outside the call frame).
  struct Temporaries {
    IClassFactory* Factory = nullptr;
    IUnknown* Engine = nullptr;
    ~Temporaries() {
      if (IClassFactory* factory = Factory) GuardedCallDroppingFailures([factory] { factory->Release(); });
      if (IUnknown* engine = Engine) GuardedCallDroppingFailures([engine] { engine->Release(); });
    }
  } temp;

  HRESULT factoryResult = E_UNEXPECTED, createResult = S_OK;
  {
    DAOCallFrame frame;
    GuardedCall([&] {
      factoryResult = DAOPlatform.GetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                                 reinterpret_cast<void**>(&temp.Factory));
      if (SUCCEEDED(factoryResult) && !temp.Factory) factoryResult = E_POINTER;
      if (SUCCEEDED(factoryResult)) {
        createResult = temp.Factory->CreateInstance(nullptr, EngineIID, reinterpret_cast<void**>(&temp.Engine));
        if (SUCCEEDED(createResult) && !temp.Engine) createResult = E_POINTER;
        if (SUCCEEDED(createResult) && !JetLoaded) {
          // The library stays loaded for the life of the process; a failed load is not an error.
          DAOPlatform.LoadJetLibrary(JetLibraryName.c_str());
          JetLoaded = true;
        }
      }
    });
  }
  if (FAILED(factoryResult)) {
    if (Probing) throw DAOProbeFailure();
    RaiseDAOError(L"DAO.CreateEngineFactory", factoryResult);
  }
  if (FAILED(createResult)) RaiseDAOError(L"DAO.CreateEngine", createResult);
  // The factory was asked for the _DBEngine dual interface, which derives from IDispatch.
  AttachIntf(static_cast<daoif::_DAODBEngine*>(temp.Engine));
}

std::unique_ptr<DAOLocalEngine> CreateDAOEngine(bool PrivateEngine) {
  if (DAOVersion != 0) return std::make_unique<DAOLocalEngine>(PrivateEngine, false);
  for (uint8_t version : {uint8_t(3), uint8_t(2), uint8_t(1)}) {
    SetDAOVersion(version);
    try {
      return std::make_unique<DAOLocalEngine>(PrivateEngine, true);
    } catch (...) {
      // This generation is not available; try the next older one.
    }
  }
  SetDAOVersion(0);
  RaiseDAOError(L"DAO.CreateEngineFactory", 0);
}
