#include "engine/server/class_factory.h"

#include "engine/server/boundary.h"
#include "engine/server/dao_interfaces.h"
#include "engine/server/engine_object.h"
#include "engine/server/module.h"

namespace bv::server {

namespace {

const CallSite kFactorySite{L"DAO.DBEngine", IID_IClassFactory, nullptr};

class EngineFactory final : public IClassFactory {
 public:
  EngineFactory() { objectCreated(); }
  ~EngineFactory() { objectDestroyed(); }

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    HRESULT found = S_OK;
    HRESULT hr = guardedCall(kFactorySite, [&] {
      EngineObject* engine = new EngineObject();
      found = engine->QueryInterface(riid, out);
      engine->Release();
    });
    return FAILED(hr) ? hr : found;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    lockServer(lock != FALSE);
    return S_OK;
  }

 private:
  volatile LONG refs_ = 1;
};

}  // namespace

bool isEngineClass(REFCLSID clsid) {
  return IsEqualCLSID(clsid, CLSID_Engine) || IsEqualCLSID(clsid, CLSID_PrivateEngine);
}

HRESULT getClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!isEngineClass(clsid)) return CLASS_E_CLASSNOTAVAILABLE;
  HRESULT found = S_OK;
  HRESULT hr = guardedCall(kFactorySite, [&] {
    EngineFactory* factory = new EngineFactory();
    found = factory->QueryInterface(riid, out);
    factory->Release();
  });
  return FAILED(hr) ? hr : found;
}

}  // namespace bv::server
