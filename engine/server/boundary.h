// The COM boundary: every method that does real work runs its body through guardedCall,
// which
//  - gives the engine a known x87 environment (all exceptions masked, extended precision)
//    and puts the caller's environment back afterwards, whatever the body did;
//  - turns every failure into an HRESULT: a Jet error n into 0x800A0000 | n (FACILITY_CONTROL),
//    argument faults into the HRESULT they carry, memory exhaustion into E_OUTOFMEMORY;
//  - stops C++ exceptions and hardware faults (access violations, ...) at the boundary;
//  - on failure refills the engine's errors collection (when the call has one) and sets the
//    thread's IErrorInfo with the first error's description and source.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "engine/server/error_list.h"

namespace bv::server {

// A failure that carries its own HRESULT besides the error number shown in the errors
// collection (DISP_E_TYPEMISMATCH with error 13, E_POINTER, ...).
class ComFailure : public std::runtime_error {
 public:
  ComFailure(HRESULT hr, LONG number, const std::string& description)
      : std::runtime_error(description), hr_(hr), number_(number) {}
  HRESULT hr() const { return hr_; }
  LONG number() const { return number_; }

 private:
  HRESULT hr_;
  LONG number_;
};

// Where a call happens: the error source it reports ("DAO.Database"), the interface it was
// made on (for IErrorInfo) and the errors collection to refill (may be null).
struct CallSite {
  const wchar_t* source;
  const GUID& iid;
  ErrorList* errors;
};

// The HRESULT DAO gives for Jet error `number`.
inline HRESULT jetHResult(LONG number) {
  return static_cast<HRESULT>(0x800A0000u | (static_cast<unsigned long>(number) & 0xFFFFu));
}

HRESULT guardedCallImpl(const CallSite& site, void (*body)(void*), void* context);

template <class F>
HRESULT guardedCall(const CallSite& site, F&& body) {
  return guardedCallImpl(
      site, [](void* c) { (*static_cast<std::remove_reference_t<F>*>(c))(); }, &body);
}

// Saves the caller's x87 environment and loads the engine's; the destructor restores the
// caller's (control word, status flags and all). For code outside guardedCall that may do
// floating-point work, such as the release of the last reference.
class FpuScope {
 public:
  FpuScope();
  ~FpuScope();
  FpuScope(const FpuScope&) = delete;
  FpuScope& operator=(const FpuScope&) = delete;

 private:
  unsigned char saved_[28];
};

// The x87 control word the engine computes with.
inline constexpr unsigned short kEngineControlWord = 0x037F;

}  // namespace bv::server
