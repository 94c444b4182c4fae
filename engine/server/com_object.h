// The common part of the server's COM objects: IUnknown with exact reference counting,
// IDispatch without type information (clients call the vtable members), and
// ISupportErrorInfo, so that clients trust the IErrorInfo a failed call sets.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "engine/server/boundary.h"
#include "engine/server/module.h"

namespace bv::server {

template <class Itf>
class ComObject : public Itf, public ISupportErrorInfo {
 public:
  ComObject() { objectCreated(); }
  virtual ~ComObject() { objectDestroyed(); }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || offers(riid))
      *out = static_cast<Itf*>(this);
    else if (IsEqualIID(riid, IID_ISupportErrorInfo))
      *out = static_cast<ISupportErrorInfo*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) {
      // The last reference closes what the object holds (a database file): that work
      // runs behind the same boundary as every call, so nothing reaches the client.
      guardedCall(CallSite{L"DAO", IID_IUnknown, nullptr}, [this] { delete this; });
    }
    return static_cast<ULONG>(left);
  }

  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
    return offers(riid) ? S_OK : S_FALSE;
  }

 protected:
  // The DAO interfaces (besides IUnknown and IDispatch) this object answers to.
  virtual bool offers(REFIID riid) const = 0;

 private:
  volatile LONG refs_ = 1;  // the creator's reference
};

// Members this server does not implement.
#define BV_NOT_IMPLEMENTED(name, ...) \
  STDMETHODIMP name(__VA_ARGS__) override { return E_NOTIMPL; }

}  // namespace bv::server
