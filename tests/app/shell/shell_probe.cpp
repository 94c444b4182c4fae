// A small program that the shell's process tests start with chosen command lines and file
// names. BV_PROBE_MODE selects what it does; it writes what it observed (UTF-8, one item a
// line) to the file named by BV_PROBE_OUT.
//   args       ParamStr(0..4)
//   report     a main window whose handler fails with BV_PROBE_MESSAGE (an access violation
//              when it is "<fault>"); after the report the loop must go on ("continued"),
//              then the window closes and the program ends
//   startfail  three modules, the second failing to start; logs starts and stops
//   mainfail   two modules and a main part that fails
//   comfail    the program's own modules (application object, DAO access layer) on a thread
//              already in the multithreaded apartment, so that the layer's COM start-up
//              fails; logs whether the application object was gone before the box
#include <windows.h>

#include <cstdio>
#include <iterator>
#include <stdexcept>
#include <string>

#include "ShellTestSupport.h"
#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/ShellStartup.h"
#include "dao/DAOLayer.h"
#include "dao/Exception.h"

namespace {

std::wstring Env(const wchar_t* name) {
  wchar_t value[4096] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, 4096);
  return length < 4096 ? std::wstring(value, length) : std::wstring();
}

void Log(const std::wstring& line) {
  FILE* out = _wfopen(Env(L"BV_PROBE_OUT").c_str(), L"ab");
  if (out == nullptr) return;
  const std::string text = Utf8(line) + "\n";
  std::fwrite(text.data(), 1, text.size(), out);
  std::fclose(out);
}

void StartA() { Log(L"start A"); }
void StopA() { Log(L"stop A"); }
void StartB() {
  Log(L"start B");
  wchar_t address[32];
  swprintf(address, 32, L"%08lX", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&StartB)));
  Log(std::wstring(L"address ") + address);
  throw Exception(L"OpDAO3x: OLE (COM) initialization failed");
}
void StopB() { Log(L"stop B"); }
void StartC() { Log(L"start C"); }
void StopC() { Log(L"stop C"); }
void FailingMain() {
  Log(L"main");
  throw std::runtime_error("main part failed");
}

void ReportMain() {
  TestForm form(Application->Handle());
  Application->SetMainForm(form.window);
  const std::wstring message = Env(L"BV_PROBE_MESSAGE");
  form.onMessage = [&](UINT msg, WPARAM, LPARAM) {
    if (msg == WM_APP) {
      if (message == L"<fault>") {
        // A structured exception rather than a C++ one: an access violation.
        Application->Guard([] {
          volatile int* volatile nowhere = nullptr;
          *nowhere = 1;
        });
      } else {
        Application->Guard([&] { throw Exception(message); });
      }
      PostMessageW(form.window, WM_APP + 1, 0, 0);
      return true;
    }
    if (msg == WM_APP + 1) {
      Log(L"continued");
      PostMessageW(form.window, WM_CLOSE, 0, 0);
      return true;
    }
    return false;
  };
  ShowWindow(form.window, SW_SHOW);
  PostMessageW(form.window, WM_APP, 0, 0);
  Application->Run();
  Log(L"loop ended");
}

void LoggedInitDAOLayer() {
  wchar_t address[32];
  swprintf(address, 32, L"%08lX", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&LoggedInitDAOLayer)));
  Log(std::wstring(L"address ") + address);
  InitDAOLayer();
}
void LoggedStopApplication() {
  StopApplication();
  Log(Application == nullptr ? L"application stopped" : L"application left");
}
void NeverMain() { Log(L"main"); }

}  // namespace

int wmain() {
  const std::wstring mode = Env(L"BV_PROBE_MODE");
  if (mode == L"args") {
    for (int n = 0; n <= 4; ++n) Log(L"[" + ParamStr(n) + L"]");
    return 0;
  }
  if (mode == L"report") {
    static const ShellModule modules[] = {{&StartApplication, &StopApplication}};
    return RunShell(modules, &ReportMain);
  }
  if (mode == L"startfail") {
    static const ShellModule modules[] = {{&StartA, &StopA}, {&StartB, &StopB}, {&StartC, &StopC}};
    return RunShell(modules, &FailingMain);
  }
  if (mode == L"mainfail") {
    static const ShellModule modules[] = {{&StartA, &StopA}, {&StartC, &StopC}};
    return RunShell(modules, &FailingMain);
  }
  if (mode == L"comfail") {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    static const ShellModule modules[] = {{&StartApplication, &LoggedStopApplication},
                                          {&LoggedInitDAOLayer, &DoneDAOLayer}};
    return RunShell(modules, &NeverMain);
  }
  return 3;
}
