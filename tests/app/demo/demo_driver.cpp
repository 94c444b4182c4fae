// demo_driver OUTDIR DB SQL: plays the user of `make demo` on a display nobody watches.
// Starts Brimvale.exe with DB and SQL as its two command-line arguments, saves a picture of
// the main window, clicks "Run SQL Query", saves a picture of the window with the message box
// that reports the records, prints the box's text, presses OK and closes the window.
// OUTDIR and DB are Linux paths (the Z: drive). Exit code 0 when the box was an information
// box (not "ERROR") and the program ended by itself.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>

#include "app/Unit1.h"
#include "ui_driver.h"

namespace {

// Message boxes separate their lines with CR; the terminal wants LF.
std::string Printable(const std::wstring& text) {
  std::string s = ui::Narrow(text);
  for (char& c : s)
    if (c == '\r') c = '\n';
  return s;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc != 4) {
    std::fprintf(stderr, "usage: demo_driver OUTDIR DB SQL\n");
    return 2;
  }
  const std::string outDir = ui::Narrow(argv[1]);
  const std::wstring db = ui::WinPath(ui::Narrow(argv[2]));
  const std::wstring sql = argv[3];
  LocalFree(argv);

  ui::Brimvale app(L"\"" + db + L"\" \"" + sql + L"\"");
  if (!app.Started()) {
    std::fprintf(stderr, "demo: Brimvale.exe did not show its window\n");
    return 1;
  }
  std::printf("Database field: %s\nSQL field:      %s\n",
              ui::Narrow(app.Text(TForm1::idDatabase)).c_str(),
              ui::Narrow(app.Text(TForm1::idSQL)).c_str());
  Sleep(500);  // let the window finish painting
  const std::wstring mainShot = ui::WinPath(outDir + "/main-window.bmp");
  if (!ui::SaveWindowsBmp(app.Form(), nullptr, mainShot))
    std::fprintf(stderr, "demo: could not save the main window's picture\n");

  app.Click(TForm1::idExecute);
  HWND box = app.WaitDialog(L"", 60000);
  if (!box) {
    std::fprintf(stderr, "demo: no message box after \"Run SQL Query\"\n");
    return 1;
  }
  Sleep(500);
  if (!ui::SaveWindowsBmp(app.Form(), box, ui::WinPath(outDir + "/records-message.bmp")))
    std::fprintf(stderr, "demo: could not save the message box's picture\n");
  const ui::MessageBoxSeen seen = app.AnswerMessageBox();
  std::printf("Message box \"%s\":\n%s\n", ui::Narrow(seen.caption).c_str(),
              Printable(seen.text).c_str());

  app.Click(TForm1::idClose);
  const DWORD code = app.WaitExit(15000);
  if (code == STILL_ACTIVE) {
    std::fprintf(stderr, "demo: Brimvale.exe did not close\n");
    return 1;
  }
  std::printf("Brimvale.exe closed (exit code %lu)\n", static_cast<unsigned long>(code));
  return seen.caption == L"ERROR" ? 1 : 0;
}
