// Engine creation and the choice of the DAO generation (3.0, 3.5 or 3.6).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "dao/DAOWrappers.h"

// Selected generation: 0 = none (CreateDAOEngine tries 3, 2, 1), 1 = DAO 3.0, 2 = 3.5, 3 = 3.6.
extern uint8_t DAOVersion;
// Identifiers of the selected generation (all zero until one is selected).
extern CLSID EngineCLSID;
extern CLSID PrivateEngineCLSID;
extern IID EngineIID;
// File name of the selected generation's Jet library (empty until one is selected).
extern std::wstring JetLibraryName;
// Engine creation has loaded (or tried to load) a Jet library; never reset.
extern bool JetLoaded;

// Microsoft's published identifiers of one DAO generation.
struct DAOIdentifierRow {
  const wchar_t* JetLibrary;
  CLSID Engine;
  CLSID PrivateEngine;
  IID EngineInterface;   // _DBEngine
};
// Rows for generations 1, 2 and 3 (index = generation - 1).
extern const DAOIdentifierRow DAOIdentifiers[3];

// Versions 1 to 3 select that generation's identifiers and Jet library; every version, 0 and
// unknown ones included, is stored in DAOVersion.
void SetDAOVersion(uint8_t Version);

// The engine wrapper that creates its own engine through the class factory of the selected
// generation. Failures: EDAOError "DAO.CreateEngineFactory failed" (class factory not
// obtained; DAOProbeFailure instead while probing) or "DAO.CreateEngine failed" (the factory
// refused the instance), each with the HRESULT.
class DAOLocalEngine : public DAODBEngine {
  DAO_WRAPPER_CONSTRUCTORS(DAOLocalEngine, DAODBEngine)
  DAOLocalEngine(bool PrivateEngine, bool Probing);
};

// A new engine of the selected generation or, when none is selected, of the newest one that
// can be created (which then stays selected). Owned by the caller.
std::unique_ptr<DAOLocalEngine> CreateDAOEngine(bool PrivateEngine = false);
