// Conversions between the UTF-16 text of COM and the UTF-8 / char16_t text of the engine.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

namespace bv::server {

std::wstring widenUtf8(std::string_view utf8);
std::string narrowUtf8(std::wstring_view text);
// A BSTR's whole text (embedded NULs included); a null BSTR is the empty text.
std::u16string fromBstr(BSTR text);
std::wstring wideFromBstr(BSTR text);
// A new BSTR; throws std::bad_alloc when none can be allocated.
BSTR makeBstr(std::wstring_view text);
// Without blanks at either end.
std::wstring trimmed(const std::wstring& text);
// Equal, ignoring letter case as Windows folds it.
bool sameText(const std::wstring& a, const wchar_t* b);

}  // namespace bv::server
