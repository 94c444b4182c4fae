#include "dao/DAOGuard.h"

#include <cwchar>

namespace {

// One registration in the thread's chain of structured-exception handlers (fs:[0] on x86).
// The handler finds its way back to RunGuarded through the jump buffer stored after the
// two fields the system reads.
struct GuardRegistration {
  GuardRegistration* Next;
  void* Handler;
  void* Jump[5];   // __builtin_setjmp buffer
  DWORD Code;
  const void* Address;
};

GuardRegistration* ChainHead() {
  GuardRegistration* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

void SetChainHead(GuardRegistration* head) { asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory"); }

extern "C" EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT*, void*) {
  // Unwinding passes (another handler further out took the exception) are not ours to stop.
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
  auto* registration = static_cast<GuardRegistration*>(frame);
  registration->Code = record->ExceptionCode;
  registration->Address = record->ExceptionAddress;
  // Back into RunGuarded, abandoning the faulting call's frames and the dispatcher's.
  __builtin_longjmp(registration->Jump, 1);
}

// Registers the handler, runs the call and unregisters it. Kept apart from the C++ handler
// in RunGuarded: a function that receives __builtin_longjmp must not hold C++ handlers.
__attribute__((noinline)) void RunRegistered(void (*call)(void*), void* context, GuardRegistration* registration) {
  // Read again after the jump back, whatever registers the handler's path left behind.
  GuardRegistration* volatile reg = registration;
  reg->Next = ChainHead();
  reg->Handler = reinterpret_cast<void*>(&GuardHandler);
  reg->Code = 0;
  reg->Address = nullptr;
  if (__builtin_setjmp(reg->Jump) != 0) {
    // Arrived from GuardHandler: the chain still holds the dispatcher's registrations.
    SetChainHead(reg->Next);
    return;
  }
  SetChainHead(reg);
  call(context);
  SetChainHead(reg->Next);
}

std::wstring Hex8(uintptr_t value) {
  wchar_t text[16];
  std::swprintf(text, 16, L"%08lX", static_cast<unsigned long>(value));
  return text;
}

}  // namespace

EDAOExternalError::EDAOExternalError(DWORD code, const void* address)
    : Exception(L"External exception " + Hex8(code) + L" at address " +
                Hex8(reinterpret_cast<uintptr_t>(address))),
      ExceptionCode(code),
      ExceptionAddress(address) {}

DAOGuardResult RunGuarded(void (*call)(void*), void* context) {
  // The registration must live on the stack, below the caller's registrations.
  GuardRegistration registration{};
  GuardRegistration* const head = ChainHead();
  try {
    RunRegistered(call, context, &registration);
  } catch (...) {
    // A C++ exception left the call without passing the unregistration.
    SetChainHead(head);
    throw;
  }
  return DAOGuardResult{registration.Code, registration.Address};
}
