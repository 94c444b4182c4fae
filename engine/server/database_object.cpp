#include "engine/server/database_object.h"

#include <limits>

#include "engine/server/execute_options.h"
#include "engine/server/text.h"
#include "engine/server/variant_args.h"
#include "engine/sql/action.h"
#include "engine/sql/parser.h"
#include "engine/storage/error.h"

namespace bv::server {

DatabaseObject::DatabaseObject(OpenedDatabase opened, std::wstring name, std::wstring connect,
                               ErrorListPtr errors)
    : db_(std::move(opened.db)),
      readOnly_(opened.readOnly),
      name_(std::move(name)),
      connect_(std::move(connect)),
      errors_(std::move(errors)) {}

storage::Database& DatabaseObject::open() const {
  if (!db_) throw JetError(3420, "Object invalid or no longer set: the database has been closed.");
  return *db_;
}

STDMETHODIMP DatabaseObject::Execute(BSTR query, VARIANT options) {
  return guardedCall(site(), [&] {
    storage::Database& db = open();
    const ExecuteOptions opts = decodeExecuteOptions(integerArgument(options, "Options", 0));
    recordsAffected_ = 0;  // a failed statement affected nothing
    const sql::Statement statement = sql::parseStatement(fromBstr(query));
    sql::ActionOptions action;
    action.failOnError = opts.failOnError;
    if (readOnly_) {
      // Every rule that would refuse the statement comes first, as in a real run.
      action.dryRun = true;
      sql::executeAction(db, statement, {}, action);
      throw JetError(3027, "Cannot update: the database '" + narrowUtf8(name_) +
                               "' is opened read-only.");
    }
    const int64_t n = sql::executeAction(db, statement, {}, action);
    recordsAffected_ = static_cast<LONG>(
        n > std::numeric_limits<LONG>::max() ? std::numeric_limits<LONG>::max() : n);
  });
}

STDMETHODIMP DatabaseObject::get_RecordsAffected(LONG* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return guardedCall(site(), [&] {
    open();
    *count = recordsAffected_;
  });
}

STDMETHODIMP DatabaseObject::Close() {
  return guardedCall(site(), [&] {
    open();
    db_.reset();
  });
}

STDMETHODIMP DatabaseObject::get_Name(BSTR* name) {
  if (!name) return E_POINTER;
  *name = nullptr;
  return guardedCall(site(), [&] {
    open();
    *name = makeBstr(name_);
  });
}

STDMETHODIMP DatabaseObject::get_Updatable(VARIANT_BOOL* updatable) {
  if (!updatable) return E_POINTER;
  *updatable = VARIANT_FALSE;
  return guardedCall(site(), [&] {
    open();
    *updatable = readOnly_ ? VARIANT_FALSE : VARIANT_TRUE;
  });
}

STDMETHODIMP DatabaseObject::get_Connect(BSTR* connect) {
  if (!connect) return E_POINTER;
  *connect = nullptr;
  return guardedCall(site(), [&] {
    open();
    *connect = makeBstr(connect_);
  });
}

STDMETHODIMP DatabaseObject::get_Version(BSTR* version) {
  if (!version) return E_POINTER;
  *version = nullptr;
  return guardedCall(site(), [&] { *version = makeBstr(open().isJet4() ? L"4.0" : L"3.0"); });
}

STDMETHODIMP DatabaseObject::get_CollatingOrder(LONG* order) {
  if (!order) return E_POINTER;
  *order = 0;
  return guardedCall(site(), [&] { *order = open().sortOrder(); });
}

}  // namespace bv::server
