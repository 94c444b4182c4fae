// Self-registration of the server for the DAO 3.6 engine classes, with the ProgIDs
// "DAO.DBEngine.36" and "DAO.PrivateDBEngine.36" and the Apartment threading model.
//
// Registering never takes a DAO 3.6 class away from another server: when one of the classes
// is registered to a DLL that is not this server (another file name, such as the engine
// that ships with Windows), nothing is written and the result says so. A registration of
// this server's DLL in another folder (an earlier build) is ours to replace. Unregistering
// removes only entries that point at this very DLL.
#pragma once

#include <windows.h>

#include <string>

namespace bv::server {

struct RegistrationResult {
  HRESULT hr = S_OK;
  std::wstring message;  // what was done or refused, one line per class
};

// `classesRoot` is HKEY_CLASSES_ROOT for the real thing (tests pass a key of their own);
// `modulePath` the full path of the server DLL.
RegistrationResult registerServer(HKEY classesRoot, const std::wstring& modulePath);
RegistrationResult unregisterServer(HKEY classesRoot, const std::wstring& modulePath);

}  // namespace bv::server
