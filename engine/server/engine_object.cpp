#include "engine/server/engine_object.h"

#include "engine/server/connect_string.h"
#include "engine/server/database_object.h"
#include "engine/server/database_open.h"
#include "engine/server/errors_object.h"
#include "engine/server/text.h"
#include "engine/server/variant_args.h"
#include "engine/storage/error.h"

namespace bv::server {

EngineObject::EngineObject() : errors_(std::make_shared<ErrorList>()) {}

EngineObject::~EngineObject() {
  if (errorsObject_) errorsObject_->Release();
}

STDMETHODIMP EngineObject::get_Version(BSTR* version) {
  if (!version) return E_POINTER;
  *version = nullptr;
  return guardedCall(site(), [&] { *version = makeBstr(L"3.6"); });
}

STDMETHODIMP EngineObject::get_Errors(DAOErrors** errors) {
  if (!errors) return E_POINTER;
  *errors = nullptr;
  return guardedCall(site(), [&] {
    if (!errorsObject_) errorsObject_ = new ErrorsObject(errors_);
    errorsObject_->AddRef();
    *errors = errorsObject_;
  });
}

STDMETHODIMP EngineObject::OpenDatabase(BSTR name, VARIANT options, VARIANT readOnly,
                                        VARIANT connect, DAODatabase** database) {
  if (!database) return E_POINTER;
  *database = nullptr;
  return guardedCall(site(), [&] {
    OpenRequest request;
    request.path = wideFromBstr(name);
    request.exclusive = flagArgument(options, "Options");
    request.readOnly = flagArgument(readOnly, "ReadOnly");
    std::wstring connectText = textArgument(connect, "Connect");
    request.password = parseConnect(connectText).password;
    if (request.path.empty()) throw JetError(3024, "No database file was named.");
    OpenedDatabase opened = openDatabaseFile(request);
    *database = new DatabaseObject(std::move(opened), request.path, std::move(connectText), errors_);
  });
}

STDMETHODIMP EngineObject::CreateDatabase(BSTR name, BSTR, VARIANT, DAODatabase** database) {
  if (!database) return E_POINTER;
  *database = nullptr;
  return guardedCall(site(), [&] {
    const std::wstring path = wideFromBstr(name);
    if (path.empty()) throw JetError(3024, "No database file was named.");
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
      throw JetError(3204, "Database already exists: '" + narrowUtf8(path) + "'.");
    throw JetError(3251, "This engine cannot create database files yet ('" + narrowUtf8(path) + "').");
  });
}

STDMETHODIMP EngineObject::get_SystemDB(BSTR* path) {
  if (!path) return E_POINTER;
  *path = nullptr;
  return guardedCall(site(), [&] { *path = makeBstr(systemDB_); });
}

// The workgroup file is remembered and reported; files of this engine carry no user-level
// security for it to apply.
STDMETHODIMP EngineObject::put_SystemDB(BSTR path) {
  return guardedCall(site(), [&] { systemDB_ = wideFromBstr(path); });
}

}  // namespace bv::server
