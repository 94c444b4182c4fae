#include "engine/server/variant_args.h"

#include <string>

#include "engine/server/boundary.h"

namespace bv::server {

namespace {

// The variant a VT_VARIANT | VT_BYREF points at (one level, as Automation allows).
const VARIANT& target(const VARIANT& v) {
  if (v.vt == (VT_VARIANT | VT_BYREF) && v.pvarVal) return *v.pvarVal;
  return v;
}

[[noreturn]] void mismatch(const char* name, const char* wanted) {
  throw ComFailure(DISP_E_TYPEMISMATCH, 13,
                   std::string("Type mismatch: the argument ") + name + " must be " + wanted + ".");
}

}  // namespace

std::optional<int64_t> integerOf(const VARIANT& given) {
  const VARIANT& v = target(given);
  const bool ref = (v.vt & VT_BYREF) != 0;
  if (ref && !v.byref) return std::nullopt;
  switch (v.vt & ~VT_BYREF) {
    case VT_I1: return ref ? *v.pcVal : v.cVal;
    case VT_UI1: return ref ? *v.pbVal : v.bVal;
    case VT_I2: return ref ? *v.piVal : v.iVal;
    case VT_UI2: return ref ? *v.puiVal : v.uiVal;
    case VT_I4: return ref ? *v.plVal : v.lVal;
    case VT_UI4: return ref ? *v.pulVal : v.ulVal;
    case VT_INT: return ref ? *v.pintVal : v.intVal;
    case VT_UINT: return ref ? *v.puintVal : v.uintVal;
    case VT_I8: return ref ? *v.pllVal : v.llVal;
    case VT_UI8: {
      const ULONGLONG u = ref ? *v.pullVal : v.ullVal;
      if (u > static_cast<ULONGLONG>(INT64_MAX)) return std::nullopt;
      return static_cast<int64_t>(u);
    }
    default: return std::nullopt;
  }
}

bool isOmitted(const VARIANT& given) {
  const VARIANT& v = target(given);
  return v.vt == VT_EMPTY || (v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND);
}

bool flagArgument(const VARIANT& given, const char* name) {
  if (isOmitted(given)) return false;
  const VARIANT& v = target(given);
  if (v.vt == VT_BOOL) return v.boolVal != VARIANT_FALSE;
  if (v.vt == (VT_BOOL | VT_BYREF) && v.pboolVal) return *v.pboolVal != VARIANT_FALSE;
  if (auto n = integerOf(v)) return *n != 0;
  mismatch(name, "True/False or an integer");
}

int64_t integerArgument(const VARIANT& given, const char* name, int64_t fallback) {
  if (isOmitted(given)) return fallback;
  if (auto n = integerOf(given)) return *n;
  mismatch(name, "an integer");
}

std::wstring textArgument(const VARIANT& given, const char* name) {
  if (isOmitted(given)) return {};
  const VARIANT& v = target(given);
  if (v.vt == VT_BSTR) return v.bstrVal ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : std::wstring();
  if (v.vt == (VT_BSTR | VT_BYREF) && v.pbstrVal)
    return *v.pbstrVal ? std::wstring(*v.pbstrVal, SysStringLen(*v.pbstrVal)) : std::wstring();
  mismatch(name, "a text");
}

}  // namespace bv::server
