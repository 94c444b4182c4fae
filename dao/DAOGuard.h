// Structured exceptions (access violations, floating-point faults, RaiseException) that
// engine code lets escape. A C++ handler never sees them, so without a guard they would end
// the process instead of failing one engine call. Every call into the engine runs under
// RunGuarded; what it catches becomes EDAOExternalError, or is dropped where a failure has
// to be dropped (the release in a wrapper's destructor).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <type_traits>

#include "dao/Exception.h"

// A structured exception raised inside an engine call. Not an engine failure in the
// HRESULT sense, so it carries no ErrorCode and the engine's errors collection is not read
// for it.
class EDAOExternalError : public Exception {
public:
  EDAOExternalError(DWORD code, const void* address);
  DWORD ExceptionCode;
  const void* ExceptionAddress;
};

// What a guarded call caught: Code is 0 when the call ended normally.
struct DAOGuardResult {
  DWORD Code = 0;
  const void* Address = nullptr;
};

// Runs call(context). A structured exception that nothing inside handles stops the call
// and is reported in the result; C++ exceptions pass through unchanged. Never nests a
// second handler registration of its own between the call and the caller's handlers.
DAOGuardResult RunGuarded(void (*call)(void*), void* context);

// Runs f() under the guard; a structured exception becomes EDAOExternalError.
template <class F>
void GuardedCall(F&& f) {
  using Fn = std::remove_reference_t<F>;
  auto thunk = [](void* p) { (*static_cast<Fn*>(p))(); };
  DAOGuardResult result = RunGuarded(thunk, const_cast<void*>(static_cast<const void*>(&f)));
  if (result.Code != 0) throw EDAOExternalError(result.Code, result.Address);
}

// Runs f() under the guard and drops any failure, structured or C++.
template <class F>
void GuardedCallDroppingFailures(F&& f) noexcept {
  try {
    using Fn = std::remove_reference_t<F>;
    auto thunk = [](void* p) { (*static_cast<Fn*>(p))(); };
    RunGuarded(thunk, const_cast<void*>(static_cast<const void*>(&f)));
  } catch (...) {
  }
}
