#include "engine/server/engine_object.h"

#include "engine/server/connect_string.h"
#include "engine/server/create_options.h"
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

STDMETHODIMP EngineObject::CreateDatabase(BSTR name, BSTR locale, VARIANT option,
                                          DAODatabase** database) {
  if (!database) return E_POINTER;
  *database = nullptr;
  return guardedCall(site(), [&] {
    std::wstring given = wideFromBstr(name);
    if (given.empty()) throw JetError(3044, "No database file was named.");
    // As with Jet, a name without an extension gets ".mdb".
    const size_t base = given.find_last_of(L"\\/:");
    if (given.find(L'.', base == std::wstring::npos ? 0 : base + 1) == std::wstring::npos)
      given += L".mdb";
    const CreateRequest request =
        decodeCreateArguments(wideFromBstr(locale), integerArgument(option, "Option", 0));
    storage::createDatabase(narrowUtf8(databasePath(given)), request.version, request.options);
    OpenRequest open;
    open.path = given;
    OpenedDatabase opened = openDatabaseFile(open);
    *database = new DatabaseObject(std::move(opened), given, L"", errors_);
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
