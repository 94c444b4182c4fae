// Optional VARIANT arguments of the DAO methods, read the way DAO reads them: an omitted
// argument (VT_ERROR / DISP_E_PARAMNOTFOUND) or VT_EMPTY takes the default; a by-reference
// VARIANT is followed. A kind the argument cannot take raises ComFailure with
// DISP_E_TYPEMISMATCH (error 13) naming the argument.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <optional>
#include <string>

namespace bv::server {

// The value of an integer VARIANT (VT_I1 ... VT_UI8, VT_INT, VT_UINT, also by reference),
// or nothing for any other kind.
std::optional<int64_t> integerOf(const VARIANT& v);

bool isOmitted(const VARIANT& v);

// A yes/no option: VT_BOOL, or an integer (non-zero is yes). Omitted: false.
bool flagArgument(const VARIANT& v, const char* name);
// An integer option. Omitted: `fallback`.
int64_t integerArgument(const VARIANT& v, const char* name, int64_t fallback);
// A text option: VT_BSTR. Omitted: empty.
std::wstring textArgument(const VARIANT& v, const char* name);

}  // namespace bv::server
