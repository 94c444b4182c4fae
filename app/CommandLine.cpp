#include "app/CommandLine.h"

#include <windows.h>

#include "app/ShellText.h"

namespace {

bool IsSeparator(wchar_t c) {
  const unsigned code = static_cast<unsigned>(c);
  return code >= 1 && code <= 32;
}

// Reads the next token starting at p into token and returns the position after it.
const wchar_t* NextToken(const wchar_t* p, std::wstring& token) {
  token.clear();
  for (;;) {
    while (IsSeparator(*p)) ++p;
    if (p[0] == L'"' && p[1] == L'"') {
      p += 2;
      continue;
    }
    break;
  }
  while (static_cast<unsigned>(*p) > 32) {
    if (*p == L'"') {
      ++p;
      while (*p != L'\0' && *p != L'"') token += *p++;
      if (*p == L'"') ++p;
    } else {
      token += *p++;
    }
  }
  return p;
}

}  // namespace

std::wstring CommandLineArgument(const wchar_t* commandLine, int n) {
  if (commandLine == nullptr || n < 1) return {};
  std::wstring token;
  const wchar_t* p = NextToken(commandLine, token);  // the program itself
  for (int i = 1; i <= n; ++i) {
    p = NextToken(p, token);
    if (token.empty()) return {};
  }
  return token;
}

std::wstring ParamStr(int n) {
  if (n == 0) return ModuleFileName(nullptr);
  return CommandLineArgument(GetCommandLineW(), n);
}
