// The run request: what the "Run SQL Query" button does. It checks the two inputs, runs the
// statement once through a fresh DAO 3.6 engine and tells the user the outcome.
#pragma once

// windows.h first: it renames MessageBox to MessageBoxW, and every user of RunUI must see
// the same member name.
#include <windows.h>

#include <string>

#include "dao/Exception.h"

class DAODBEngine;

// Window-system services a run uses; the program passes its own, tests pass observers.
struct RunUI {
  virtual ~RunUI() = default;
  virtual int MessageBox(const std::wstring& text, const std::wstring& caption, unsigned flags) = 0;
  virtual void SetCursor(int cursor) = 0;   // 0 = normal, -11 = hourglass (busy)
};

// Runs `statement` against `database`. Input-check, success and failure messages go through
// `ui`; a failure to create the engine leaves as an exception (EDAOError) for the caller's
// report of unhandled failures.
void RunRequest(const std::wstring& database, const std::wstring& statement,
                const std::wstring& caption, RunUI& ui);

// The engine's error descriptions for a failed engine call, joined by "\r\n"; empty when `E`
// is not an EDAOError or nothing can be read. Never throws.
std::wstring GetDAOError(const Exception& E, DAODBEngine* EN);
