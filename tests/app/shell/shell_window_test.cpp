// The application object in a live message loop: failures escaping a handler are reported
// under the application title and the program goes on; every message box follows the
// ownership, disabling and focus rules; the loop ends with the main window.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "ShellTestSupport.h"
#include "app/Application.h"
#include "dao/Exception.h"

namespace {

constexpr DWORD kBoxTimeoutMs = 20000;

class ShellWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = std::make_unique<TApplication>();
    ASSERT_EQ(Application, app_.get());
    form_ = std::make_unique<TestForm>(app_->Handle());
    ASSERT_NE(form_->window, nullptr);
    app_->SetMainForm(form_->window);
    ShowWindow(form_->window, SW_SHOW);
    SetForegroundWindow(form_->window);
    SetFocus(form_->edit);
  }
  void TearDown() override {
    form_.reset();
    app_.reset();
    EXPECT_EQ(Application, nullptr);
  }

  std::unique_ptr<TApplication> app_;
  std::unique_ptr<TestForm> form_;
};

TEST_F(ShellWindow, EscapedFailuresAreReportedUnderTheTitleAndTheLoopGoesOn) {
  struct Case {
    std::function<void()> fail;
    std::wstring text;
  };
  const std::vector<Case> cases = {
      {[] { throw Exception(L"Cannot create the DAO engine object"); },
       L"Cannot create the DAO engine object."},
      {[] { throw Exception(L"Already a sentence."); }, L"Already a sentence."},
      {[] { throw Exception(L""); }, L""},
      {[] { throw std::runtime_error("narrow failure"); }, L"narrow failure."},
      {[] { throw 42; }, L"An unexpected failure of unknown kind occurred."},
  };
  std::vector<SeenBox> boxes(cases.size());
  std::vector<bool> formEnabledWhileOpen(cases.size(), true);
  std::atomic<bool> watcherOk{true};
  HWND formWindow = form_->window;
  std::thread watcher([&] {
    for (size_t i = 0; i < cases.size(); ++i) {
      if (!HandleNextBox(GetCurrentProcessId(), boxes[i], kBoxTimeoutMs, [&](HWND) {
            formEnabledWhileOpen[i] = IsWindowEnabled(formWindow) != FALSE;
          })) {
        watcherOk = false;
        return;
      }
    }
  });

  size_t handled = 0;
  bool continued = false;
  form_->onMessage = [&](UINT message, WPARAM, LPARAM) {
    if (message == WM_APP) {
      SetCapture(form_->window);  // the report must end a capture mode first
      app_->Guard(cases[handled].fail);
      ++handled;
      PostMessageW(form_->window, handled < cases.size() ? WM_APP : WM_APP + 1, 0, 0);
      return true;
    }
    if (message == WM_APP + 1) {
      continued = true;
      PostMessageW(form_->window, WM_CLOSE, 0, 0);  // default handling destroys it
      return true;
    }
    return false;
  };
  PostMessageW(form_->window, WM_APP, 0, 0);
  app_->Run();
  watcher.join();

  ASSERT_TRUE(watcherOk) << "a failure report did not appear";
  EXPECT_EQ(handled, cases.size());
  EXPECT_TRUE(continued) << "the loop did not go on after the reports";
  EXPECT_TRUE(app_->Terminated());
  EXPECT_EQ(form_->window, nullptr) << "closing the main window destroyed it";
  EXPECT_TRUE(form_->Saw(WM_CANCELMODE));
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(boxes[i].caption, app_->Title());
    EXPECT_EQ(Utf8(boxes[i].text), Utf8(cases[i].text));
    EXPECT_EQ(boxes[i].owner, formWindow);
    EXPECT_TRUE(boxes[i].hasIcon);
    EXPECT_EQ(boxes[i].buttons, 1);
    EXPECT_FALSE(formEnabledWhileOpen[i]);
  }
}

TEST_F(ShellWindow, MessageBoxDisablesTheOtherWindowsAndRestoresTheFocus) {
  TestForm other(app_->Handle());
  ShowWindow(other.window, SW_SHOWNOACTIVATE);
  SetActiveWindow(form_->window);
  SetFocus(form_->edit);
  ASSERT_EQ(GetFocus(), form_->edit);

  SeenBox box;
  bool formEnabled = true, otherEnabled = true, appEnabled = true;
  std::thread watcher([&] {
    HandleNextBox(GetCurrentProcessId(), box, kBoxTimeoutMs, [&](HWND) {
      formEnabled = IsWindowEnabled(form_->window) != FALSE;
      otherEnabled = IsWindowEnabled(other.window) != FALSE;
      appEnabled = IsWindowEnabled(app_->Handle()) != FALSE;
    });
  });
  const int answer = app_->MessageBox(L"Records updated: 3", L"Brimvale v1.1", MB_OK | MB_ICONINFORMATION);
  watcher.join();

  EXPECT_EQ(answer, IDOK);
  EXPECT_EQ(box.caption, L"Brimvale v1.1");
  EXPECT_EQ(box.text, L"Records updated: 3");
  EXPECT_EQ(box.owner, form_->window) << "owned by the active window";
  EXPECT_TRUE(box.hasIcon);
  EXPECT_FALSE(formEnabled);
  EXPECT_FALSE(otherEnabled);
  EXPECT_FALSE(appEnabled);
  EXPECT_TRUE(IsWindowEnabled(form_->window));
  EXPECT_TRUE(IsWindowEnabled(other.window));
  EXPECT_TRUE(IsWindowEnabled(app_->Handle()));
  EXPECT_EQ(GetActiveWindow(), form_->window);
  EXPECT_EQ(GetFocus(), form_->edit);
}

TEST_F(ShellWindow, FlagsZeroGiveAPlainBoxWithoutIcon) {
  SeenBox box;
  std::thread watcher([&] { HandleNextBox(GetCurrentProcessId(), box, kBoxTimeoutMs); });
  const int answer = app_->MessageBox(L"Please enter a database\r\rand a statement", L"ERROR", MB_OK);
  watcher.join();
  EXPECT_EQ(answer, IDOK);
  EXPECT_EQ(box.caption, L"ERROR");
  EXPECT_EQ(box.text, L"Please enter a database\r\rand a statement");
  EXPECT_FALSE(box.hasIcon);
  EXPECT_EQ(box.buttons, 1);
}

TEST_F(ShellWindow, ApplicationWindowCarriesTitleAndIsNotTheMainWindow) {
  wchar_t caption[256] = {};
  GetWindowTextW(app_->Handle(), caption, 256);
  EXPECT_EQ(caption, app_->Title());
  EXPECT_TRUE(IsWindowVisible(app_->Handle())) << "visible, so it owns the taskbar button";
  EXPECT_EQ(GetWindow(form_->window, GW_OWNER), app_->Handle());
  EXPECT_EQ(app_->MainFormHandle(), form_->window);
  EXPECT_NE(app_->Icon(), nullptr);
  // A second form does not replace the main window.
  TestForm second(app_->Handle());
  app_->SetMainForm(second.window);
  EXPECT_EQ(app_->MainFormHandle(), form_->window);
}

TEST_F(ShellWindow, BusyCursorIsTheHourglassUntilSetBack) {
  app_->SetBusyCursor(true);
  EXPECT_TRUE(app_->IsBusy());
  EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
  app_->SetBusyCursor(false);
  EXPECT_FALSE(app_->IsBusy());
  EXPECT_NE(GetCursor(), LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
}

TEST_F(ShellWindow, LoopEndsOnTerminateAndMessageFilterSeesMessages) {
  int filtered = 0;
  app_->OnMessage = [&](MSG& msg) {
    if (msg.message != WM_APP + 7) return false;
    ++filtered;
    if (filtered == 2) app_->Terminate();
    return true;  // never reaches the form
  };
  PostMessageW(form_->window, WM_APP + 7, 0, 0);
  PostMessageW(form_->window, WM_APP + 7, 0, 0);
  app_->Run();
  EXPECT_EQ(filtered, 2);
  EXPECT_FALSE(form_->Saw(WM_APP + 7));
  EXPECT_NE(form_->window, nullptr) << "Terminate alone does not destroy the main window";
}

}  // namespace
