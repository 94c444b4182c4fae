#include "engine/server/module.h"

namespace bv::server {

namespace {
HMODULE g_module = nullptr;
volatile LONG g_objects = 0;
volatile LONG g_locks = 0;
}  // namespace

void setModule(HMODULE module) { g_module = module; }

HMODULE thisModule() {
  if (!g_module) {
    HMODULE found = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&thisModule), &found);
    g_module = found;
  }
  return g_module;
}

void objectCreated() { InterlockedIncrement(&g_objects); }
void objectDestroyed() { InterlockedDecrement(&g_objects); }

void lockServer(bool lock) {
  if (lock) InterlockedIncrement(&g_locks);
  else if (InterlockedDecrement(&g_locks) < 0) InterlockedIncrement(&g_locks);  // unbalanced unlock
}

bool canUnload() { return g_objects == 0 && g_locks == 0; }
long liveObjects() { return g_objects; }

}  // namespace bv::server
