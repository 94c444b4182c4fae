// Texts the program shell derives: the application title, the text of a failure report,
// the start-up failure text, and the module path they start from.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

// Full path of a module (nullptr: the executable), however long it is.
std::wstring ModuleFileName(HMODULE module);

// The application title for an executable path: the file name after the last '\', cut at
// its first '.', with every character after the first lower-cased (the first keeps its
// case). "C:\x\MyTool.Exe" -> "Mytool", "Data.Tool.exe" -> "Data".
std::wstring ApplicationTitleFromPath(std::wstring_view path);

// The text a failure report shows for a failure message: a full stop is appended when the
// message is not empty and its last character's code is above that of '.'.
std::wstring FailureReportText(std::wstring message);

// "Runtime error <code> at <address as eight hex digits>", the box text of a failure that
// ends the program's start-up.
std::wstring RuntimeErrorText(int code, std::uintptr_t address);

// Text of a narrow failure message (std::exception::what()): UTF-8 when it is valid UTF-8,
// the ANSI code page otherwise.
std::wstring WidenMessage(const char* text);
