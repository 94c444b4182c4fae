// Splitting of the process command line into the program's arguments.
#pragma once

#include <string>

// Argument n (n >= 1) of the given command line; "" when the line has fewer arguments.
// The first token (the program as it was started) is skipped. Arguments are separated by
// characters with codes 1..32; runs of such characters and pairs of adjacent double quotes
// between arguments are skipped. Inside an argument a double quote opens quoted text that
// runs to the next double quote (or the end of the line); the quotes themselves are dropped
// and there is no escape. An argument that comes out empty ends the list.
std::wstring CommandLineArgument(const wchar_t* commandLine, int n);

// Argument n of this process: n >= 1 from GetCommandLineW(), n == 0 is the executable's
// full path (from the module file name, not from the command line).
std::wstring ParamStr(int n);
