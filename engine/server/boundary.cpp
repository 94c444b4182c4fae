#include "engine/server/boundary.h"

#include <intrin.h>
#include <oleauto.h>

#include <exception>
#include <new>
#include <vector>

#include "engine/server/text.h"
#include "engine/storage/error.h"

namespace bv::server {

FpuScope::FpuScope() {
  const unsigned short cw = kEngineControlWord;
  __asm__ volatile("fnstenv %0" : "=m"(saved_));
  __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(cw));
}

FpuScope::~FpuScope() { __asm__ volatile("fldenv %0" : : "m"(saved_)); }

namespace {

// ---- hardware faults -------------------------------------------------------------------
// A fault inside a guarded call (a defect of the engine) must not take the client down.
// While a call runs, a vectored handler sends such a fault to the landing of the innermost
// guarded call of the thread, which ends the call with E_UNEXPECTED. Objects built during the
// call may leak; the process survives. Stack overflows are left alone: no code can run
// safely on an exhausted stack.

struct Landing {
  void* jump[5] = {};
  DWORD sehHead = 0;   // the thread's SEH chain at entry, put back after a landing
  DWORD code = 0;
};

DWORD landingSlot() {
  static const DWORD slot = TlsAlloc();
  return slot;
}

bool isFault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_PRIV_INSTRUCTION:
      return true;
    default:
      return false;
  }
}

[[noreturn]] __attribute__((noinline)) void resumeAtLanding() {
  auto* landing = static_cast<Landing*>(TlsGetValue(landingSlot()));
  __builtin_longjmp(landing->jump, 1);
}

LONG CALLBACK onFault(EXCEPTION_POINTERS* info) {
  auto* landing = static_cast<Landing*>(TlsGetValue(landingSlot()));
  if (!landing || !isFault(info->ExceptionRecord->ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
  landing->code = info->ExceptionRecord->ExceptionCode;
  // Continue in resumeAtLanding on the faulting stack, below what it used, as if called.
  CONTEXT* c = info->ContextRecord;
  c->Esp = ((c->Esp - 512) & ~static_cast<DWORD>(15)) - 4;
  c->Eip = reinterpret_cast<DWORD>(&resumeAtLanding);
  return EXCEPTION_CONTINUE_EXECUTION;
}

struct Protected {
  void (*body)(void*);
  void* context;
  std::exception_ptr error;
};

void callBody(Protected& p) noexcept {
  try {
    p.body(p.context);
  } catch (...) {
    p.error = std::current_exception();
  }
}

// False when the body ended in a hardware fault.
__attribute__((noinline)) bool runProtected(Protected& p, Landing& landing) {
  const DWORD slot = landingSlot();
  void* const outer = TlsGetValue(slot);
  landing.sehHead = __readfsdword(0);
  if (__builtin_setjmp(landing.jump)) {
    __writefsdword(0, landing.sehHead);
    TlsSetValue(landingSlot(), outer);
    return false;
  }
  TlsSetValue(slot, &landing);
  callBody(p);
  TlsSetValue(slot, outer);
  return true;
}

std::wstring hex(DWORD value) {
  wchar_t buf[16];
  wsprintfW(buf, L"0x%08lX", static_cast<unsigned long>(value));
  return buf;
}

void setErrorInfo(const CallSite& site, const ErrorRecord& first) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(CreateErrorInfo(&create)) || !create) return;
  create->SetGUID(site.iid);
  create->SetSource(const_cast<LPOLESTR>(first.source.c_str()));
  create->SetDescription(const_cast<LPOLESTR>(first.description.c_str()));
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))) && info) {
    SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
}

}  // namespace

HRESULT guardedCallImpl(const CallSite& site, void (*body)(void*), void* context) {
  FpuScope fpu;
  HRESULT hr = S_OK;
  std::vector<ErrorRecord> records;
  try {
    try {
      Protected p{body, context, nullptr};
      Landing landing;
      PVOID handler = AddVectoredExceptionHandler(1, onFault);
      const bool finished = runProtected(p, landing);
      if (handler) RemoveVectoredExceptionHandler(handler);
      if (!finished) {
        hr = E_UNEXPECTED;
        records.push_back({3000,
                           L"The engine stopped on an internal fault (exception " +
                               hex(landing.code) + L"); the operation was abandoned.",
                           site.source});
      } else if (p.error) {
        std::rethrow_exception(p.error);
      }
    } catch (const JetError& e) {
      hr = jetHResult(e.number());
      records.push_back({e.number(), widenUtf8(e.what()), site.source});
    } catch (const ComFailure& e) {
      hr = e.hr();
      records.push_back({e.number(), widenUtf8(e.what()), site.source});
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
      records.push_back({7, L"Out of memory.", site.source});
    } catch (const std::exception& e) {
      hr = E_FAIL;
      records.push_back({3000, L"Internal engine failure: " + widenUtf8(e.what()), site.source});
    } catch (...) {
      hr = E_FAIL;
      records.push_back({3000, L"Internal engine failure.", site.source});
    }
    if (FAILED(hr) && !records.empty()) {
      setErrorInfo(site, records.front());
      if (site.errors) site.errors->replace(std::move(records));
    }
  } catch (...) {
    // Describing the failure failed (memory): the HRESULT alone still tells it.
    if (SUCCEEDED(hr)) hr = E_OUTOFMEMORY;
  }
  return hr;
}

}  // namespace bv::server
