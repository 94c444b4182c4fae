// The class factory of the DAO 3.6 engine classes (the shared engine and the private one;
// both make an independent engine object).
#pragma once

#include <windows.h>
#include <objbase.h>

namespace bv::server {

bool isEngineClass(REFCLSID clsid);

// DllGetClassObject's work: the factory of `clsid` asked for `riid`.
HRESULT getClassObject(REFCLSID clsid, REFIID riid, void** out);

}  // namespace bv::server
