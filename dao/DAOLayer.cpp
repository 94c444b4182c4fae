#include "dao/DAOLayer.h"

#include <objbase.h>

#include "dao/DAOEngine.h"
#include "dao/DAOFailures.h"
#include "dao/Exception.h"

bool ComInitialized = false;
Variant DAOMissingParam;
X87Environment AppFPUEnv{};
X87Environment DAOFPUEnv{};

// Both frame operations stay out of line: at a call boundary the x87 register stack is empty
// by the calling convention, so replacing the environment cannot lose a live value.
__attribute__((noinline)) void EnterDAOCall() {
  asm volatile("fnstenv %0\n\tfldenv %1" : "=m"(AppFPUEnv) : "m"(DAOFPUEnv) : "memory");
}

__attribute__((noinline)) void LeaveDAOCall() {
  asm volatile("fnstenv %0\n\tfldenv %1" : "=m"(DAOFPUEnv) : "m"(AppFPUEnv) : "memory");
}

uint16_t CurrentX87ControlWord() {
  uint16_t word;
  asm volatile("fnstcw %0" : "=m"(word));
  return word;
}

void LoadX87ControlWord(uint16_t word) { asm volatile("fldcw %0" : : "m"(word) : "memory"); }

void InitDAOLayer() {
  HRESULT hr = CoInitialize(nullptr);
  ComInitialized = SUCCEEDED(hr);
  if (!ComInitialized) throw Exception(L"OpDAO3x: OLE (COM) initialization failed");
  DAOMissingParam = Variant::Error(DISP_E_PARAMNOTFOUND);
  // FNSTENV masks every x87 exception after storing and nothing reloads the image here, so
  // the application goes on with all exceptions masked, while the engine's first call sees
  // the environment as it was before the capture.
  asm volatile("fnstenv %0" : "=m"(AppFPUEnv) : : "memory");
  DAOFPUEnv = AppFPUEnv;
}

void DoneDAOLayer() {
  if (ComInitialized) {
    CoUninitialize();
    ComInitialized = false;   // a second shut-down must not unbalance COM
  }
  DAOMissingParam.Clear();
  JetLibraryName.clear();
  JetLibraryName.shrink_to_fit();
}

void RaiseDAOError(const wchar_t* label, HRESULT code) {
  throw EDAOError(std::wstring(label) + L" failed", code);
}
