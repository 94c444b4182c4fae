#include "dao/Variant.h"

#include <limits>
#include <new>
#include <utility>

#include "dao/Exception.h"

namespace {

const std::wstring* TextOf(const VARIANT& v) { return static_cast<const std::wstring*>(v.byref); }

void CopyInto(const VARIANT& source, VARIANT& target) {
  if (source.vt == VarUString) {
    target.byref = new std::wstring(TextOf(source) ? *TextOf(source) : std::wstring());
    target.vt = VarUString;
    return;
  }
  HRESULT hr = VariantCopy(&target, const_cast<VARIANT*>(&source));
  if (FAILED(hr)) {
    if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
    throw Exception(L"Invalid variant type (" + std::to_wstring(source.vt) + L")");
  }
}

// How many VT_VARIANT | VT_BYREF references are followed before the value counts as
// unconvertible (a reference chain that loops back on itself).
constexpr int MaxReferenceDepth = 8;

void Convert(const VARIANT& source, VARIANT& target, int depth) {
  switch (source.vt) {
    case VarUString: {
      const std::wstring* text = TextOf(source);
      BSTR b = SysAllocStringLen(text ? text->data() : L"", text ? static_cast<UINT>(text->size()) : 0);
      if (!b) throw std::bad_alloc();
      target.vt = VT_BSTR;
      target.bstrVal = b;
      return;
    }
    case VT_I1:
      target.vt = VT_I4;
      target.lVal = source.cVal;   // CHAR is signed on this platform
      return;
    case VT_UI1:
      target.vt = VT_I4;
      target.lVal = source.bVal;
      return;
    case VT_UI2:
      target.vt = VT_I4;
      target.lVal = source.uiVal;
      return;
    case VT_UI4:
      if (source.ulVal < 0x80000000UL) {
        target.vt = VT_I4;
        target.lVal = static_cast<LONG>(source.ulVal);
      } else {
        target.vt = VT_R8;
        target.dblVal = static_cast<double>(source.ulVal);
      }
      return;
    case VT_I8:
      if (source.llVal >= std::numeric_limits<int32_t>::min() &&
          source.llVal <= std::numeric_limits<int32_t>::max()) {
        target.vt = VT_I4;
        target.lVal = static_cast<LONG>(source.llVal);
      } else {
        target.vt = VT_I8;
        target.llVal = source.llVal;
      }
      return;
    case VT_VARIANT | VT_BYREF:
      if (!source.pvarVal || depth >= MaxReferenceDepth)
        throw Exception(L"Invalid variant reference");
      Convert(*source.pvarVal, target, depth + 1);
      return;
    default:
      CopyInto(source, target);
      return;
  }
}

}  // namespace

Variant::Variant() noexcept { VariantInit(&FValue); }

Variant::Variant(const Variant& other) : Variant() { CopyInto(other.FValue, FValue); }

Variant::Variant(Variant&& other) noexcept : FValue(other.FValue) { VariantInit(&other.FValue); }

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    Variant copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    Clear();
    FValue = other.FValue;
    VariantInit(&other.FValue);
  }
  return *this;
}

Variant::~Variant() { Clear(); }

Variant::Variant(const VARIANT& value) : Variant() { CopyInto(value, FValue); }

Variant::Variant(bool value) : Variant() {
  FValue.vt = VT_BOOL;
  FValue.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}
Variant::Variant(int8_t value) : Variant() {
  FValue.vt = VT_I1;
  FValue.cVal = static_cast<CHAR>(value);
}
Variant::Variant(uint8_t value) : Variant() {
  FValue.vt = VT_UI1;
  FValue.bVal = value;
}
Variant::Variant(int16_t value) : Variant() {
  FValue.vt = VT_I2;
  FValue.iVal = value;
}
Variant::Variant(uint16_t value) : Variant() {
  FValue.vt = VT_UI2;
  FValue.uiVal = value;
}
Variant::Variant(int32_t value) : Variant() {
  FValue.vt = VT_I4;
  FValue.lVal = value;
}
Variant::Variant(uint32_t value) : Variant() {
  FValue.vt = VT_UI4;
  FValue.ulVal = value;
}
Variant::Variant(int64_t value) : Variant() {
  FValue.vt = VT_I8;
  FValue.llVal = value;
}
Variant::Variant(double value) : Variant() {
  FValue.vt = VT_R8;
  FValue.dblVal = value;
}
Variant::Variant(const std::wstring& text) : Variant() {
  FValue.byref = new std::wstring(text);
  FValue.vt = VarUString;
}
Variant::Variant(const wchar_t* text) : Variant(std::wstring(text ? text : L"")) {}

Variant Variant::Error(SCODE code) {
  Variant v;
  v.FValue.vt = VT_ERROR;
  v.FValue.scode = code;
  return v;
}

Variant Variant::Dispatch(IDispatch* dispatch) {
  Variant v;
  v.FValue.vt = VT_DISPATCH;
  v.FValue.pdispVal = dispatch;
  if (dispatch) dispatch->AddRef();
  return v;
}

std::wstring Variant::Text() const {
  if (FValue.vt != VarUString || !TextOf(FValue)) return std::wstring();
  return *TextOf(FValue);
}

void Variant::Clear() noexcept {
  if (FValue.vt == VarUString) {
    delete static_cast<std::wstring*>(FValue.byref);
    VariantInit(&FValue);
  } else {
    VariantClear(&FValue);
  }
}

void ToAutomationVariant(const VARIANT& source, VARIANT& target) { Convert(source, target, 0); }

DAOBStr::DAOBStr(const std::wstring& text)
    : FText(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
  if (!FText) throw std::bad_alloc();
}

DAOBStr::~DAOBStr() { SysFreeString(FText); }

std::wstring BStrToWide(BSTR text) {
  return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}
