// The shell as seen from outside a process: arguments from the real command line, the
// failure report of a renamed copy under the title of its file name, and the start-up
// failure with its "Error" box and exit code 217.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "ShellTestSupport.h"

namespace {

constexpr DWORD kTimeoutMs = 30000;

struct Outcome {
  DWORD exitCode = 0xFFFFFFFF;
  std::vector<std::string> lines;
  std::vector<SeenBox> boxes;
  bool finished = false;
};

// Runs the probe (or a copy of it) with the given command line and mode, answering up to
// `expectedBoxes` message boxes with OK.
Outcome RunProbe(const std::wstring& exe, const std::wstring& commandLine, const std::wstring& mode,
                 int expectedBoxes = 0, const std::wstring& message = L"") {
  ScratchFolder scratch;
  const std::wstring out = scratch.Path() + L"out.txt";
  SetEnvironmentVariableW(L"BV_PROBE_MODE", mode.c_str());
  SetEnvironmentVariableW(L"BV_PROBE_OUT", out.c_str());
  SetEnvironmentVariableW(L"BV_PROBE_MESSAGE", message.c_str());

  Outcome outcome;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring line = commandLine;
  if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    ADD_FAILURE() << "cannot start " << Utf8(exe) << ", error " << GetLastError();
    return outcome;
  }
  for (int i = 0; i < expectedBoxes; ++i) {
    SeenBox box;
    if (!HandleNextBox(process.dwProcessId, box, kTimeoutMs)) break;
    outcome.boxes.push_back(box);
  }
  outcome.finished = WaitForSingleObject(process.hProcess, kTimeoutMs) == WAIT_OBJECT_0;
  if (!outcome.finished) TerminateProcess(process.hProcess, 99);
  GetExitCodeProcess(process.hProcess, &outcome.exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);

  std::ifstream file(out.c_str(), std::ios::binary);
  for (std::string text; std::getline(file, text);) outcome.lines.push_back(text);
  return outcome;
}

std::wstring Probe() { return ProgramFolder() + L"shell_probe.exe"; }

using Lines = std::vector<std::string>;

TEST(ShellProcess, ArgumentsComeFromTheProcessCommandLine) {
  const std::wstring exe = Probe();
  Outcome plain = RunProbe(exe, L"\"" + exe + L"\"", L"args");
  ASSERT_TRUE(plain.finished);
  EXPECT_EQ(plain.exitCode, 0u);
  EXPECT_EQ(plain.lines, (Lines{"[" + Utf8(exe) + "]", "[]", "[]", "[]", "[]"}));

  Outcome quoted = RunProbe(
      exe, L"\"" + exe + L"\" \"C:\\Data Files\\shop.mdb\" \"DELETE FROM t WHERE id=3\" extra", L"args");
  ASSERT_TRUE(quoted.finished);
  EXPECT_EQ(quoted.lines, (Lines{"[" + Utf8(exe) + "]", "[C:\\Data Files\\shop.mdb]",
                                 "[DELETE FROM t WHERE id=3]", "[extra]", "[]"}));

  Outcome skipped = RunProbe(exe, L"probe \"\" \"UPDATE t SET \x00e9=1\" a\"b c\"d", L"args");
  ASSERT_TRUE(skipped.finished);
  EXPECT_EQ(skipped.lines, (Lines{"[" + Utf8(exe) + "]", "[UPDATE t SET \xc3\xa9=1]", "[ab cd]", "[]", "[]"}));
}

TEST(ShellProcess, FailureReportOfARenamedCopyCarriesItsTitleAndTheProgramGoesOn) {
  RenamedCopy copy(Probe(), L"MyTool.Exe");
  Outcome run = RunProbe(copy.Path(), L"x", L"report", 1, L"Class not registered");
  ASSERT_TRUE(run.finished) << "the program did not end after its main window closed";
  EXPECT_EQ(run.exitCode, 0u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].caption, L"Mytool");
  EXPECT_EQ(run.boxes[0].text, L"Class not registered.");
  EXPECT_TRUE(run.boxes[0].hasIcon);
  EXPECT_EQ(run.lines, (Lines{"continued", "loop ended"}));

  RenamedCopy dotted(Probe(), L"Data.Tool.exe");
  Outcome second = RunProbe(dotted.Path(), L"x", L"report", 1, L"Unknown (?)");
  ASSERT_EQ(second.boxes.size(), 1u);
  EXPECT_EQ(second.boxes[0].caption, L"Data");
  EXPECT_EQ(second.boxes[0].text, L"Unknown (?)");
  EXPECT_EQ(second.exitCode, 0u);
}

TEST(ShellProcess, FaultInAHandlerIsReportedAndTheProgramGoesOn) {
  Outcome run = RunProbe(Probe(), L"x", L"report", 1, L"<fault>");
  ASSERT_TRUE(run.finished) << "the program did not end after its main window closed";
  EXPECT_EQ(run.exitCode, 0u) << "an access violation in a handler must not end the process";
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].caption, L"shell_probe");
  EXPECT_TRUE(std::regex_match(Utf8(run.boxes[0].text),
                               std::regex("External exception C0000005 at address [0-9A-F]{8}\\.")))
      << Utf8(run.boxes[0].text);
  EXPECT_TRUE(run.boxes[0].hasIcon);
  EXPECT_EQ(run.lines, (Lines{"continued", "loop ended"}));
}

TEST(ShellProcess, StartupFailureStopsStartedModulesAndExitsWith217) {
  Outcome run = RunProbe(Probe(), L"x", L"startfail", 1);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 217u);
  ASSERT_EQ(run.lines.size(), 4u);
  EXPECT_EQ(run.lines[0], "start A");
  EXPECT_EQ(run.lines[1], "start B");
  EXPECT_EQ(run.lines[3], "stop A") << "only the started module is stopped, the main part never runs";
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].caption, L"Error");
  EXPECT_FALSE(run.boxes[0].hasIcon);
  EXPECT_EQ(run.boxes[0].buttons, 1);
  // The failing step's code address goes into the template.
  const std::string address = run.lines[2].substr(run.lines[2].find(' ') + 1);
  EXPECT_EQ(Utf8(run.boxes[0].text), "Runtime error 217 at " + address);
  EXPECT_TRUE(std::regex_match(Utf8(run.boxes[0].text), std::regex("Runtime error 217 at [0-9A-F]{8}")));
}

TEST(ShellProcess, ComStartUpFailureOfTheDAOLayerEndsTheProgramWith217) {
  Outcome run = RunProbe(Probe(), L"x", L"comfail", 1);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 217u);
  ASSERT_EQ(run.lines.size(), 2u) << "the main part must not run";
  EXPECT_EQ(run.lines[1], "application stopped") << "the started application object is stopped first";
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].caption, L"Error");
  EXPECT_FALSE(run.boxes[0].hasIcon);
  EXPECT_EQ(run.boxes[0].owner, nullptr);
  EXPECT_EQ(Utf8(run.boxes[0].text), "Runtime error 217 at " + run.lines[0].substr(run.lines[0].find(' ') + 1));
}

TEST(ShellProcess, FailingMainPartStopsEveryModuleInReverseOrder) {
  Outcome run = RunProbe(Probe(), L"x", L"mainfail", 1);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 217u);
  EXPECT_EQ(run.lines, (Lines{"start A", "start C", "main", "stop C", "stop A"}));
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].caption, L"Error");
}

}  // namespace
