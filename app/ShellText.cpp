#include "app/ShellText.h"

#include <cstdio>
#include <cstring>
#include <vector>

std::wstring ModuleFileName(HMODULE module) {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameW(module, buffer.data(), size);
    if (length == 0) return {};
    // A result that fills the whole buffer may have been cut short: try a larger one.
    if (length < size - 1 || buffer.size() >= 32768) return std::wstring(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring ApplicationTitleFromPath(std::wstring_view path) {
  const size_t slash = path.rfind(L'\\');
  std::wstring_view name = slash == std::wstring_view::npos ? path : path.substr(slash + 1);
  name = name.substr(0, name.find(L'.'));
  std::wstring title(name);
  if (title.size() > 1) CharLowerBuffW(title.data() + 1, static_cast<DWORD>(title.size() - 1));
  return title;
}

std::wstring FailureReportText(std::wstring message) {
  if (!message.empty() && message.back() > L'.') message += L'.';
  return message;
}

std::wstring RuntimeErrorText(int code, std::uintptr_t address) {
  wchar_t text[64];
  std::swprintf(text, sizeof text / sizeof text[0], L"Runtime error %3d at %08lX", code,
                static_cast<unsigned long>(address));
  return text;
}

std::wstring WidenMessage(const char* text) {
  if (text == nullptr || *text == '\0') return {};
  const int length = static_cast<int>(std::strlen(text));
  for (UINT codePage : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
    const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    const int wide = MultiByteToWideChar(codePage, flags, text, length, nullptr, 0);
    if (wide <= 0) continue;
    std::wstring result(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(codePage, flags, text, length, result.data(), wide);
    return result;
  }
  return {};
}
