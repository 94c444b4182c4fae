// The program's start and end: the modules' start-up steps in order, the main part, then the
// shut-down steps in reverse order.
#pragma once

#include <cstddef>
#include <span>

// A module with a start-up and a shut-down step (either may be null).
struct ShellModule {
  void (*start)();
  void (*stop)();
};

// The error number of a failure that ends the program's start-up.
constexpr int kStartupFailureCode = 217;

// Starts the modules in order, then runs mainPart, then stops the started modules in reverse
// order and returns 0. When a start-up step or the main part fails, the modules started so
// far are stopped in reverse order, a box captioned "Error" (flags 0) shows
// "Runtime error 217 at XXXXXXXX" (the address of the failing step), and 217 is returned.
int RunShell(std::span<const ShellModule> modules, void (*mainPart)());
