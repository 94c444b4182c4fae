// Process-wide state of the server DLL: its module handle and the count of live objects
// and server locks that DllCanUnloadNow answers from.
#pragma once

#include <windows.h>

namespace bv::server {

void setModule(HMODULE module);
// The DLL (or, when the server code is linked into a test program, that program).
HMODULE thisModule();

void objectCreated();
void objectDestroyed();
void lockServer(bool lock);
// True while no object is alive and no lock is held.
bool canUnload();
long liveObjects();

}  // namespace bv::server
