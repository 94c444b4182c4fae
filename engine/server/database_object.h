// A Database opened by the engine. It keeps its file open until Close or the release of
// its last reference.
#pragma once

#include <memory>
#include <string>

#include "engine/server/com_object.h"
#include "engine/server/dao_interfaces.h"
#include "engine/server/database_open.h"
#include "engine/server/error_list.h"

namespace bv::server {

class DatabaseObject final : public ComObject<DAODatabase> {
 public:
  DatabaseObject(OpenedDatabase opened, std::wstring name, std::wstring connect, ErrorListPtr errors);

  STDMETHODIMP Execute(BSTR query, VARIANT options) override;
  STDMETHODIMP get_RecordsAffected(LONG* count) override;
  STDMETHODIMP Close() override;
  STDMETHODIMP get_Name(BSTR* name) override;
  STDMETHODIMP get_Updatable(VARIANT_BOOL* updatable) override;
  STDMETHODIMP get_Connect(BSTR* connect) override;
  STDMETHODIMP get_Version(BSTR* version) override;
  STDMETHODIMP get_CollatingOrder(LONG* order) override;

  BV_NOT_IMPLEMENTED(get_Properties, DAOProperties**)
  BV_NOT_IMPLEMENTED(get_QueryTimeout, short*)
  BV_NOT_IMPLEMENTED(put_QueryTimeout, short)
  BV_NOT_IMPLEMENTED(get_Transactions, VARIANT_BOOL*)
  BV_NOT_IMPLEMENTED(get_TableDefs, DAOTableDefs**)
  BV_NOT_IMPLEMENTED(get_QueryDefs, DAOQueryDefs**)
  BV_NOT_IMPLEMENTED(get_Relations, DAORelations**)
  BV_NOT_IMPLEMENTED(get_Containers, DAOContainers**)
  BV_NOT_IMPLEMENTED(get_Recordsets, DAORecordsets**)
  BV_NOT_IMPLEMENTED(_30_OpenRecordset, BSTR, VARIANT, VARIANT, DAORecordset**)
  BV_NOT_IMPLEMENTED(CreateProperty, VARIANT, VARIANT, VARIANT, VARIANT, DAOProperty**)
  BV_NOT_IMPLEMENTED(CreateRelation, VARIANT, VARIANT, VARIANT, VARIANT, DAORelation**)
  BV_NOT_IMPLEMENTED(CreateTableDef, VARIANT, VARIANT, VARIANT, VARIANT, DAOTableDef**)
  BV_NOT_IMPLEMENTED(BeginTrans)
  BV_NOT_IMPLEMENTED(CommitTrans, LONG)
  BV_NOT_IMPLEMENTED(Rollback)
  BV_NOT_IMPLEMENTED(CreateDynaset, BSTR, VARIANT, VARIANT, DAORecordset**)
  BV_NOT_IMPLEMENTED(CreateQueryDef, VARIANT, VARIANT, DAOQueryDef**)
  BV_NOT_IMPLEMENTED(CreateSnapshot, BSTR, VARIANT, DAORecordset**)
  BV_NOT_IMPLEMENTED(DeleteQueryDef, BSTR)
  BV_NOT_IMPLEMENTED(ExecuteSQL, BSTR, LONG*)
  BV_NOT_IMPLEMENTED(ListFields, BSTR, DAORecordset**)
  BV_NOT_IMPLEMENTED(ListTables, DAORecordset**)
  BV_NOT_IMPLEMENTED(OpenQueryDef, BSTR, DAOQueryDef**)
  BV_NOT_IMPLEMENTED(OpenTable, BSTR, VARIANT, DAORecordset**)
  BV_NOT_IMPLEMENTED(get_ReplicaID, BSTR*)
  BV_NOT_IMPLEMENTED(get_DesignMasterID, BSTR*)
  BV_NOT_IMPLEMENTED(put_DesignMasterID, BSTR)
  BV_NOT_IMPLEMENTED(Synchronize, BSTR, VARIANT)
  BV_NOT_IMPLEMENTED(MakeReplica, BSTR, BSTR, VARIANT)
  BV_NOT_IMPLEMENTED(put_Connect, BSTR)
  BV_NOT_IMPLEMENTED(NewPassword, BSTR, BSTR)
  BV_NOT_IMPLEMENTED(OpenRecordset, BSTR, VARIANT, VARIANT, VARIANT, DAORecordset**)
  BV_NOT_IMPLEMENTED(get_Connection, DAOConnection**)
  BV_NOT_IMPLEMENTED(PopulatePartial, BSTR)

 protected:
  bool offers(REFIID riid) const override {
    return IsEqualIID(riid, IID_Database) || IsEqualIID(riid, IID_DAOBase);
  }

 private:
  CallSite site() const { return CallSite{L"DAO.Database", IID_Database, errors_.get()}; }
  // JetError 3420 once the database has been closed.
  storage::Database& open() const;

  std::unique_ptr<storage::Database> db_;
  bool readOnly_;
  std::wstring name_;
  std::wstring connect_;
  ErrorListPtr errors_;
  LONG recordsAffected_ = 0;
};

}  // namespace bv::server
