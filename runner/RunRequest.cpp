#include "runner/RunRequest.h"

#include <memory>

#include "dao/OpDAO3x.h"

namespace {

constexpr int NormalCursor = 0;
constexpr int BusyCursor = -11;   // the hourglass
constexpr uint8_t FailOnError = 128;

// The text without leading and trailing characters 0 to 32 (blanks and control characters).
std::wstring TrimCopy(const std::wstring& text) {
  size_t first = 0, last = text.size();
  while (first < last && text[first] <= L' ') ++first;
  while (last > first && text[last - 1] <= L' ') --last;
  return text.substr(first, last - first);
}

// A statement counts as a delete when its first six characters, lower-cased by the user's
// locale, are "delete". Leading blanks are not skipped.
bool IsDeleteStatement(const std::wstring& statement) {
  std::wstring head = statement.substr(0, 6);
  if (!head.empty()) {
    std::wstring lower(head.size() * 2 + 2, L'\0');
    int n = LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_LOWERCASE, head.data(), static_cast<int>(head.size()),
                         lower.data(), static_cast<int>(lower.size()));
    if (n > 0) head.assign(lower.data(), n);
  }
  return head == L"delete";
}

// Opens the database, executes the statement under the busy cursor and shows the number of
// affected records while the database is still open. The database is released when this
// returns or throws, so a failure reaches the caller's handler with it already closed.
void OpenExecuteAndReport(DAODBEngine& engine, const std::wstring& database, const std::wstring& statement,
                          const std::wstring& caption, RunUI& ui) {
  std::unique_ptr<DAODatabase> db;
  {
    DAOBStr name(database);
    db = engine.OpenDatabase(name, Variant(false), Variant(false), DAOMissingParam);
  }
  ui.SetCursor(BusyCursor);
  try {
    DAOBStr query(statement);
    db->Execute(query, Variant(FailOnError));
  } catch (...) {
    ui.SetCursor(NormalCursor);
    throw;
  }
  ui.SetCursor(NormalCursor);
  const wchar_t* wording = IsDeleteStatement(statement) ? L" records deleted." : L" records updated.";
  int32_t affected = db->GetRecordsAffected();
  ui.MessageBox(std::to_wstring(affected) + wording, caption, MB_ICONINFORMATION);
}

}  // namespace

void RunRequest(const std::wstring& database, const std::wstring& statement, const std::wstring& caption,
                RunUI& ui) {
  if (TrimCopy(database).empty()) {
    ui.MessageBox(L"Please specify database!", caption, MB_ICONERROR);
    return;
  }
  if (statement.empty()) {
    ui.MessageBox(L"Please specify SQL query!", caption, MB_ICONERROR);
    return;
  }
  // Creation failures leave the run: the window's report of unhandled failures shows them.
  SetDAOVersion(3);
  std::unique_ptr<DAOLocalEngine> engine = CreateDAOEngine();
  try {
    OpenExecuteAndReport(*engine, database, statement, caption, ui);
  } catch (const Exception& E) {
    std::wstring text = E.Message() + L"\r\r" + GetDAOError(E, engine.get());
    ui.MessageBox(text, L"ERROR", MB_OK);
  }
  // The engine is released last, on every path (unique_ptr), after any ERROR box.
}

std::wstring GetDAOError(const Exception& E, DAODBEngine* EN) {
  std::wstring result;
  if (!dynamic_cast<const EDAOError*>(&E) || !EN) return result;
  try {
    int16_t count = EN->GetErrors()->GetCount();
    for (int32_t i = 0; i < count; ++i) {
      std::unique_ptr<DAOError> item = EN->GetErrors()->GetItem(Variant(i));
      if (i > 0) result += L"\r\n";
      result += item->GetDescription();
    }
  } catch (...) {
    // Best effort: what was gathered so far is the text.
  }
  return result;
}
