// Brimvale.exe: starts the modules (the application object, then the DAO access layer),
// shows the main window, runs the message loop until it is closed, and shuts the modules
// down in reverse order.
#include <windows.h>

#include <iterator>

#include "app/Application.h"
#include "app/ShellStartup.h"
#include "app/Unit1.h"
#include "dao/OpDAO3x.h"

namespace {

void RunMainWindow() {
  Form1 = new TForm1;
  Application->SetMainForm(Form1->Handle());
  Form1->Show();
  Application->Run();
  delete Form1;
  Form1 = nullptr;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  static const ShellModule modules[] = {
      {&StartApplication, &StopApplication},
      {&InitDAOLayer, &DoneDAOLayer},
  };
  return RunShell(modules, &RunMainWindow);
}
