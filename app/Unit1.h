// TForm1: the program's main window. A field for the database path with a browse button
// inside it, a multi-line field for the SQL statement, "Run SQL Query" and "Close Window".
#pragma once

#include <windows.h>

#include <string>

#include "app/ButtonEdit.h"
#include "app/OpenDialog.h"

class Exception;
class DAODBEngine;

// A plain child control of the form (label, multi-line field or push button).
struct TControl {
  HWND handle = nullptr;
  HWND Handle() const { return handle; }
  std::wstring Text() const;
  void SetText(const std::wstring& text) const;
};

class TForm1 {
 public:
  // Creates the window hidden (owned by the application window), scales it once when the
  // system resolution is not 96 dpi, then runs FormCreate (failures are reported and the
  // window is still made).
  TForm1();
  // The same at a given system resolution (dots per inch) instead of the screen's.
  explicit TForm1(int dpi);
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  HWND Handle() const { return handle_; }
  // Runs FormShow (failures reported), then shows and activates the window.
  void Show();
  void Close();

  std::wstring Caption() const;

  // Handlers.
  void FormCreate();
  void FormShow();
  void txtDatabaseButtonClick();
  void btnCloseClick();
  void btnExecuteClick();
  // The engine's error descriptions for a failed run (the run request's own rule).
  std::wstring GetDAOError(const Exception& E, DAODBEngine* EN);

  // Components, by their design names.
  TControl Label1;
  TButtonEdit txtDatabase;
  TControl Label2;
  TControl txtSQL;
  TControl btnExecute;
  TControl btnClose;
  TOpenDialog OpenDialog1;

  // Control ids of the window's children.
  enum : int {
    idLabel1 = 100,
    idDatabase = 101,
    idLabel2 = 102,
    idSQL = 103,
    idExecute = 104,
    idClose = 105
  };

 private:
  static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK ControlProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  LRESULT HandleMessage(UINT, WPARAM, LPARAM);
  LRESULT HandleControlMessage(HWND, UINT, WPARAM, LPARAM, bool& handled);
  void CreateControls();
  void TrimSystemMenu();
  void MoveFocus(HWND from, bool backwards);
  void SetSQLFont(const wchar_t* face, int height);
  int ScaleValue(int v) const;
  void KeepDesignSize(MINMAXINFO& info) const;

  static thread_local TForm1* creating_;  // the form whose window is being created

  HWND handle_ = nullptr;
  int dpi_;                  // the system resolution the layout was made for
  int outerWidth_ = 0;       // the window's size, frame and caption included
  int outerHeight_ = 0;
  HFONT font_ = nullptr;     // the window font
  HFONT sqlFont_ = nullptr;  // txtSQL's own font
  int scaleNum_ = 13;        // one-time scaling: text height of the window font ...
  int scaleDen_ = 13;        // ... against the design's 13
  int sqlPoints_ = 10;       // txtSQL's point size after scaling
  HWND lastFocus_ = nullptr; // the control that had the focus when the window was left
};

extern TForm1* Form1;

// The all-users documents folder with a closing '\'; with `SubFolder` and another '\' after
// it when `SubFolder` is not empty.
std::wstring GetCommonDocumentsPath(const std::wstring& SubFolder);

// True when the font family `face` is installed.
bool FontFamilyInstalled(const wchar_t* face);
