// The engine object (_DBEngine) that the class factories hand out. It owns the errors
// list that it and every database it opened refill on failure.
#pragma once

#include <string>

#include "engine/server/com_object.h"
#include "engine/server/dao_interfaces.h"
#include "engine/server/error_list.h"

namespace bv::server {

class ErrorsObject;

class EngineObject final : public ComObject<_DAODBEngine> {
 public:
  EngineObject();
  ~EngineObject() override;

  STDMETHODIMP get_Version(BSTR* version) override;
  STDMETHODIMP get_Errors(DAOErrors** errors) override;
  STDMETHODIMP OpenDatabase(BSTR name, VARIANT options, VARIANT readOnly, VARIANT connect,
                            DAODatabase** database) override;
  STDMETHODIMP CreateDatabase(BSTR name, BSTR locale, VARIANT option, DAODatabase** database) override;
  STDMETHODIMP get_SystemDB(BSTR* path) override;
  STDMETHODIMP put_SystemDB(BSTR path) override;

  BV_NOT_IMPLEMENTED(get_Properties, DAOProperties**)
  BV_NOT_IMPLEMENTED(get_IniPath, BSTR*)
  BV_NOT_IMPLEMENTED(put_IniPath, BSTR)
  BV_NOT_IMPLEMENTED(put_DefaultUser, BSTR)
  BV_NOT_IMPLEMENTED(put_DefaultPassword, BSTR)
  BV_NOT_IMPLEMENTED(get_LoginTimeout, short*)
  BV_NOT_IMPLEMENTED(put_LoginTimeout, short)
  BV_NOT_IMPLEMENTED(get_Workspaces, DAOWorkspaces**)
  BV_NOT_IMPLEMENTED(Idle, VARIANT)
  BV_NOT_IMPLEMENTED(CompactDatabase, BSTR, BSTR, VARIANT, VARIANT, VARIANT)
  BV_NOT_IMPLEMENTED(RepairDatabase, BSTR)
  BV_NOT_IMPLEMENTED(RegisterDatabase, BSTR, BSTR, VARIANT_BOOL, BSTR)
  BV_NOT_IMPLEMENTED(_30_CreateWorkspace, BSTR, BSTR, BSTR, DAOWorkspace**)
  BV_NOT_IMPLEMENTED(FreeLocks)
  BV_NOT_IMPLEMENTED(BeginTrans)
  BV_NOT_IMPLEMENTED(CommitTrans, LONG)
  BV_NOT_IMPLEMENTED(Rollback)
  BV_NOT_IMPLEMENTED(SetDefaultWorkspace, BSTR, BSTR)
  BV_NOT_IMPLEMENTED(SetDataAccessOption, short, VARIANT)
  BV_NOT_IMPLEMENTED(ISAMStats, LONG, VARIANT, LONG*)
  BV_NOT_IMPLEMENTED(CreateWorkspace, BSTR, BSTR, BSTR, VARIANT, DAOWorkspace**)
  BV_NOT_IMPLEMENTED(OpenConnection, BSTR, VARIANT, VARIANT, VARIANT, DAOConnection**)
  BV_NOT_IMPLEMENTED(get_DefaultType, LONG*)
  BV_NOT_IMPLEMENTED(put_DefaultType, LONG)
  BV_NOT_IMPLEMENTED(SetOption, LONG, VARIANT)
  BV_NOT_IMPLEMENTED(DumpObjects, BSTR*)
  BV_NOT_IMPLEMENTED(DebugPrint, BSTR)

 protected:
  bool offers(REFIID riid) const override {
    return IsEqualIID(riid, IID_DBEngine) || IsEqualIID(riid, IID_DAOBase);
  }

 private:
  CallSite site() const { return CallSite{L"DAO.DBEngine", IID_DBEngine, errors_.get()}; }

  ErrorListPtr errors_;
  ErrorsObject* errorsObject_ = nullptr;  // made at the first get_Errors; one reference held
  std::wstring systemDB_;
};

}  // namespace bv::server
