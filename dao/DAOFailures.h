// Failures of the DAO access layer.
#pragma once

#include <windows.h>

#include <string>

#include "dao/Exception.h"

// An engine call (or the creation of an engine) failed. The message is the operation's
// label followed by " failed"; the engine's own descriptions are in its errors collection.
class EDAOError : public Exception {
public:
  EDAOError(const std::wstring& message, HRESULT code) : Exception(message), ErrorCode(code) {}
  HRESULT ErrorCode;
};

// A wrapper was to be built from a variant that does not hold a dispatch interface.
class EDAOConvError : public Exception {
public:
  using Exception::Exception;
};

// An engine generation could not be reached while trying generations in turn. Carries
// nothing and is always caught inside CreateDAOEngine.
struct DAOProbeFailure {};

// Raises EDAOError for `label` ("DAODatabase.Execute") and `code`.
[[noreturn]] void RaiseDAOError(const wchar_t* label, HRESULT code);
