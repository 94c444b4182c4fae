// The two platform calls of engine creation, replaceable so that tests can observe them (or
// simulate an unregistered class) without registry changes. They default to the system's
// CoGetClassObject and LoadLibraryW; the program never changes them.
#pragma once

#include <windows.h>
#include <objbase.h>

struct DAOPlatformHooks {
  HRESULT(WINAPI* GetClassObject)(REFCLSID clsid, DWORD context, LPVOID server, REFIID iid,
                                  LPVOID* object);
  HMODULE(WINAPI* LoadJetLibrary)(LPCWSTR name);
};

extern DAOPlatformHooks DAOPlatform;
// The system's own functions, for restoring DAOPlatform after a test.
extern const DAOPlatformHooks DAOSystemPlatform;
