#include "app/ShellStartup.h"

#include <windows.h>

#include <cstdint>

#include "app/ShellText.h"

namespace {

void StopModules(std::span<const ShellModule> modules, std::size_t started) {
  while (started > 0) {
    const ShellModule& module = modules[--started];
    if (module.stop == nullptr) continue;
    try {
      module.stop();
    } catch (...) {
      // A failing shut-down step must not keep the steps before it from running.
    }
  }
}

int ReportStartupFailure(std::span<const ShellModule> modules, std::size_t started,
                         void (*failedStep)()) {
  StopModules(modules, started);
  const auto address = reinterpret_cast<std::uintptr_t>(failedStep);
  MessageBoxW(nullptr, RuntimeErrorText(kStartupFailureCode, address).c_str(), L"Error", 0);
  return kStartupFailureCode;
}

}  // namespace

int RunShell(std::span<const ShellModule> modules, void (*mainPart)()) {
  std::size_t started = 0;
  for (const ShellModule& module : modules) {
    if (module.start != nullptr) {
      try {
        module.start();
      } catch (...) {
        return ReportStartupFailure(modules, started, module.start);
      }
    }
    ++started;
  }
  if (mainPart != nullptr) {
    try {
      mainPart();
    } catch (...) {
      return ReportStartupFailure(modules, started, mainPart);
    }
  }
  StopModules(modules, started);
  return 0;
}
