// The shared Variant: a tagged value in the memory layout of the COM VARIANT. Besides the
// COM kinds it holds the program's own UTF-16 text (kind VarUString), which COM does not
// know; ToAutomationVariant turns any Variant into a VARIANT that COM Automation passes.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <string>

// The program's own text kind: the payload (byref) points to a std::wstring the Variant owns.
inline constexpr VARTYPE VarUString = 0x0102;

class Variant {
public:
  Variant() noexcept;
  Variant(const Variant& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;
  ~Variant();

  // A deep copy of a COM VARIANT (VariantCopy; strings copied, interfaces referenced).
  explicit Variant(const VARIANT& value);

  explicit Variant(bool value);            // VT_BOOL
  explicit Variant(int8_t value);          // VT_I1
  explicit Variant(uint8_t value);         // VT_UI1
  explicit Variant(int16_t value);         // VT_I2
  explicit Variant(uint16_t value);        // VT_UI2
  explicit Variant(int32_t value);         // VT_I4
  explicit Variant(uint32_t value);        // VT_UI4
  explicit Variant(int64_t value);         // VT_I8
  explicit Variant(double value);          // VT_R8
  explicit Variant(const std::wstring& text);  // VarUString
  explicit Variant(const wchar_t* text);       // VarUString

  // VT_ERROR holding `code` (DISP_E_PARAMNOTFOUND marks an omitted argument).
  static Variant Error(SCODE code);
  // VT_DISPATCH holding its own reference to `dispatch`.
  static Variant Dispatch(IDispatch* dispatch);

  VARTYPE Type() const noexcept { return FValue.vt; }
  const VARIANT& Raw() const noexcept { return FValue; }
  // The text of a VarUString variant (empty for other kinds).
  std::wstring Text() const;

  void Clear() noexcept;

private:
  VARIANT FValue;
};

static_assert(sizeof(Variant) == sizeof(VARIANT), "Variant keeps the VARIANT layout");

// Converts `source` (a VARIANT, or the raw image of a Variant) into `target`, which must be
// empty or cleared; the caller clears `target` afterwards. Text becomes a BSTR; VT_I1, VT_UI1
// and VT_UI2 become VT_I4; VT_UI4 becomes VT_I4 below 2^31 and VT_R8 otherwise; VT_I8 becomes
// VT_I4 when it fits in 32 bits; a VT_VARIANT | VT_BYREF reference is followed to its target;
// every other kind is copied unchanged. Throws Exception when the value cannot be converted.
void ToAutomationVariant(const VARIANT& source, VARIANT& target);
inline void ToAutomationVariant(const Variant& source, VARIANT& target) {
  ToAutomationVariant(source.Raw(), target);
}

// A VARIANT that clears itself: the temporary automation variant of one engine call.
class AutoVariant {
public:
  AutoVariant() noexcept { VariantInit(&FValue); }
  explicit AutoVariant(const Variant& source) : AutoVariant() { ToAutomationVariant(source, FValue); }
  AutoVariant(const AutoVariant&) = delete;
  AutoVariant& operator=(const AutoVariant&) = delete;
  ~AutoVariant() { VariantClear(&FValue); }
  VARIANT& Get() noexcept { return FValue; }

private:
  VARIANT FValue;
};

// A BSTR owned for the duration of a call: made from UTF-16 text (embedded NULs kept) and
// freed with SysFreeString.
class DAOBStr {
public:
  explicit DAOBStr(const std::wstring& text);
  DAOBStr(const DAOBStr&) = delete;
  DAOBStr& operator=(const DAOBStr&) = delete;
  ~DAOBStr();
  BSTR Get() const noexcept { return FText; }
  operator BSTR() const noexcept { return FText; }

private:
  BSTR FText;
};

// The text of a BSTR (a null BSTR is the empty text).
std::wstring BStrToWide(BSTR text);
