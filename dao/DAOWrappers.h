// Wrapper objects over the DAO engine's dual interfaces. Each wrapper owns exactly one COM
// reference (Intf), offers the few engine operations the program needs and turns a failed
// engine call into EDAOError("<Class>.<Operation> failed", HRESULT). Every engine call, every
// AddRef of a constructor and the Release of the destructor run inside the call frame.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <memory>
#include <string>

#include "dao/Variant.h"

// Every wrapper class can be built by each of the four construction forms of DAOBase:
//   1. (IDispatch* intf, DAOBase* parent)  takes its own reference to intf;
//   2. (const Variant& v, DAOBase* parent) v must be exactly VT_DISPATCH;
//   3. (VARIANT automation)                 the same test on a COM VARIANT, parent none;
//   4. (const DAOBase& other)               shares other's interface and Parent.
#define DAO_WRAPPER_CONSTRUCTORS(Class, Base)                                          \
 public:                                                                               \
  using Base::Base;                                                                    \
  explicit Class(const DAOBase& other) : Base(other) {}                               \
  Class(const Class& other) : Base(static_cast<const DAOBase&>(other)) {}            \
  Class& operator=(const Class&) = delete;                                             \
                                                                                       \
 protected:                                                                            \
  Class() = default;                                                                   \
                                                                                       \
 public:

class DAOError;

class DAOBase {
public:
  DAOBase(IDispatch* intf, DAOBase* parent);
  DAOBase(const Variant& value, DAOBase* parent);
  explicit DAOBase(VARIANT automation);
  DAOBase(const DAOBase& other);
  DAOBase& operator=(const DAOBase&) = delete;
  virtual ~DAOBase();

  // The wrapper this one was obtained from; not owned, never followed.
  DAOBase* Parent = nullptr;
  // An object the wrapper owns and frees; nothing fills it.
  std::unique_ptr<DAOBase> OwnedObject;
  // The engine interface; one COM reference held from construction to destruction.
  IDispatch* Intf = nullptr;

protected:
  DAOBase() = default;
  // Takes a reference to `intf` inside a call frame of its own.
  void AttachIntf(IDispatch* intf);
  // Intf, or EDAOError(label, E_POINTER) when the wrapper holds no interface.
  IDispatch* RequireIntf(const wchar_t* label) const;
};

class DAOCollection : public DAOBase {
  DAO_WRAPPER_CONSTRUCTORS(DAOCollection, DAOBase)
  // _Collection::get_Count.
  int16_t GetCount();
};

class DAOErrors : public DAOCollection {
  DAO_WRAPPER_CONSTRUCTORS(DAOErrors, DAOCollection)
  // Errors::get_Item; the new wrapper's Parent is this collection and the caller owns it.
  std::unique_ptr<DAOError> GetItem(const Variant& Index);
};

class DAOError : public DAOBase {
  DAO_WRAPPER_CONSTRUCTORS(DAOError, DAOBase)
  // Error::get_Description.
  std::wstring GetDescription();
};

class DAODAO : public DAOBase {
  DAO_WRAPPER_CONSTRUCTORS(DAODAO, DAOBase)
  ~DAODAO() override;
  // Owned wrapper slot; nothing fills it.
  std::unique_ptr<DAOBase> PropertiesCache;
};

class DAODatabase;

class DAODBEngine : public DAODAO {
  DAO_WRAPPER_CONSTRUCTORS(DAODBEngine, DAODAO)
  ~DAODBEngine() override;
  // _DBEngine::get_Errors, asked once: later calls return the same wrapper, which this
  // engine wrapper owns (the caller must not free it).
  DAOErrors* GetErrors();
  // _DBEngine::OpenDatabase; the new wrapper's Parent is this engine and the caller owns it.
  std::unique_ptr<DAODatabase> OpenDatabase(BSTR Name, const Variant& Options, const Variant& ReadOnly,
                                            const Variant& Connect);

  // Owned wrapper slot; nothing fills it.
  std::unique_ptr<DAOBase> WorkspacesCache;
  std::unique_ptr<DAOErrors> ErrorsCache;
};

class DAODatabase : public DAODAO {
  DAO_WRAPPER_CONSTRUCTORS(DAODatabase, DAODAO)
  ~DAODatabase() override;
  // Database::get_RecordsAffected: the records the last Execute on this database affected.
  int32_t GetRecordsAffected();
  // Database::Execute.
  void Execute(BSTR Query, const Variant& Options);

  // Owned wrapper slots; nothing fills them.
  std::unique_ptr<DAOBase> TableDefsCache;
  std::unique_ptr<DAOBase> QueryDefsCache;
  std::unique_ptr<DAOBase> RelationsCache;
  std::unique_ptr<DAOBase> ContainersCache;
  std::unique_ptr<DAOBase> RecordsetsCache;
};
