// The engine's Errors collection and its Error items.
#pragma once

#include "engine/server/com_object.h"
#include "engine/server/dao_interfaces.h"
#include "engine/server/error_list.h"

namespace bv::server {

// One error as it stood when the client fetched it: a later failure that refills the
// collection does not change an Error object already handed out.
class ErrorObject final : public ComObject<DAOError> {
 public:
  explicit ErrorObject(ErrorRecord record) : record_(std::move(record)) {}

  STDMETHODIMP get_Number(LONG* number) override;
  STDMETHODIMP get_Source(BSTR* text) override;
  STDMETHODIMP get_Description(BSTR* text) override;
  STDMETHODIMP get_HelpFile(BSTR* text) override;
  STDMETHODIMP get_HelpContext(LONG* context) override;

 protected:
  bool offers(REFIID riid) const override { return IsEqualIID(riid, IID_Error); }

 private:
  ErrorRecord record_;
};

// A live view of the engine's error list. Reading it never changes it: a failure of these
// members sets IErrorInfo but leaves the list as it is, so that a client reading the errors
// of a failed call cannot lose them half-way.
class ErrorsObject final : public ComObject<DAOErrors> {
 public:
  explicit ErrorsObject(ErrorListPtr list) : list_(std::move(list)) {}

  STDMETHODIMP get_Count(short* count) override;
  STDMETHODIMP get_Item(VARIANT item, DAOError** error) override;
  STDMETHODIMP Refresh() override;
  BV_NOT_IMPLEMENTED(_NewEnum, IUnknown**)

 protected:
  bool offers(REFIID riid) const override {
    return IsEqualIID(riid, IID_Errors) || IsEqualIID(riid, IID_Collection);
  }

 private:
  ErrorListPtr list_;
};

}  // namespace bv::server
