#include "engine/server/errors_object.h"

#include <string>

#include "engine/server/text.h"
#include "engine/server/variant_args.h"
#include "engine/storage/error.h"

namespace bv::server {

namespace {

const CallSite kErrorSite{L"DAO.Error", IID_Error, nullptr};
const CallSite kErrorsSite{L"DAO.Errors", IID_Errors, nullptr};

}  // namespace

STDMETHODIMP ErrorObject::get_Number(LONG* number) {
  if (!number) return E_POINTER;
  *number = record_.number;
  return S_OK;
}

STDMETHODIMP ErrorObject::get_Source(BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  return guardedCall(kErrorSite, [&] { *text = makeBstr(record_.source); });
}

STDMETHODIMP ErrorObject::get_Description(BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  return guardedCall(kErrorSite, [&] { *text = makeBstr(record_.description); });
}

STDMETHODIMP ErrorObject::get_HelpFile(BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  return guardedCall(kErrorSite, [&] { *text = makeBstr(L""); });
}

STDMETHODIMP ErrorObject::get_HelpContext(LONG* context) {
  if (!context) return E_POINTER;
  *context = 0;
  return S_OK;
}

STDMETHODIMP ErrorsObject::get_Count(short* count) {
  if (!count) return E_POINTER;
  const size_t n = list_->records().size();
  *count = static_cast<short>(n > 0x7FFF ? 0x7FFF : n);
  return S_OK;
}

STDMETHODIMP ErrorsObject::get_Item(VARIANT item, DAOError** error) {
  if (!error) return E_POINTER;
  *error = nullptr;
  return guardedCall(kErrorsSite, [&] {
    const int64_t index = integerArgument(item, "Item", -1);
    if (isOmitted(item)) throw ComFailure(DISP_E_PARAMNOTFOUND, 449, "Argument not optional: Item is required.");
    const auto& records = list_->records();
    if (index < 0 || static_cast<uint64_t>(index) >= records.size())
      throw JetError(3265, "Item not found in this collection: there is no error at position " +
                               std::to_string(index) + " (the collection holds " +
                               std::to_string(records.size()) + ").");
    *error = new ErrorObject(records[static_cast<size_t>(index)]);
  });
}

// The collection always shows the latest failure; there is nothing to fetch again.
STDMETHODIMP ErrorsObject::Refresh() { return S_OK; }

}  // namespace bv::server
