// TButtonEdit: a single-line edit field with up to two small buttons inside its border, at
// its right end. The main button sits flush with the right inner edge; the alternative button
// (hidden unless AltBtnVisible) sits to its left. Each button can be clicked with the mouse or
// through its own keyboard shortcut while the field has the focus.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

enum TButtonKind { bkCustom, bkLookup, bkDropDown };

// Keyboard shortcut values: virtual-key code plus these modifier bits.
constexpr unsigned scShift = 0x2000;
constexpr unsigned scCtrl = 0x4000;
constexpr unsigned scAlt = 0x8000;

// The whole text of a window or control.
std::wstring WindowText(HWND wnd);

// The key code combined with the modifier states into one shortcut value.
unsigned ShortCutOf(unsigned key, bool shift, bool ctrl, bool alt);

class TButtonEdit {
 public:
  TButtonEdit();
  ~TButtonEdit();
  TButtonEdit(const TButtonEdit&) = delete;
  TButtonEdit& operator=(const TButtonEdit&) = delete;

  // Creates the field as a child of `parent` with the given control id and rectangle.
  void Create(HWND parent, int id, int left, int top, int width, int height);
  HWND Handle() const { return edit_; }
  // The button windows (children of the field); null while not created.
  HWND ButtonHandle() const { return main_.wnd; }
  HWND AltButtonHandle() const { return alt_.wnd; }

  std::wstring Text() const;
  void SetText(const std::wstring& text);
  void SetFont(HFONT font);
  void SetBounds(int left, int top, int width, int height);

  // Settings. Changing one on a created field updates it at once.
  bool ButtonVisible() const { return main_.visible; }
  void SetButtonVisible(bool v);
  TButtonKind ButtonKind() const { return main_.kind; }
  void SetButtonKind(TButtonKind k);
  int ButtonWidth() const { return main_.width; }
  void SetButtonWidth(int w);
  unsigned ButtonShortCut() const { return main_.shortcut; }
  void SetButtonShortCut(unsigned sc) { main_.shortcut = sc; }
  bool AltBtnVisible() const { return alt_.visible; }
  void SetAltBtnVisible(bool v);
  int AltBtnWidth() const { return alt_.width; }
  void SetAltBtnWidth(int w);
  unsigned AltBtnShortCut() const { return alt_.shortcut; }
  void SetAltBtnShortCut(unsigned sc) { alt_.shortcut = sc; }
  bool FlatButtons() const { return flat_; }
  void SetFlatButtons(bool f);
  COLORREF FlatButtonColor() const { return flatColor_; }
  void SetFlatButtonColor(COLORREF c);
  bool AllowKeyEdit() const { return allowKeyEdit_; }
  void SetAllowKeyEdit(bool a) { allowKeyEdit_ = a; }
  bool HideButtonsOnReadOnly() const { return hideOnReadOnly_; }
  void SetHideButtonsOnReadOnly(bool h);
  bool AutoSelect() const { return autoSelect_; }
  void SetAutoSelect(bool a) { autoSelect_ = a; }
  void SetReadOnly(bool r);

  // Click handlers; run by a mouse click on the button or by its shortcut.
  std::function<void()> OnButtonClick;
  std::function<void()> OnAltBtnClick;
  // Optional: called for Tab / Shift+Tab so the owner can move the focus (the field then
  // never types a tab character).
  std::function<void(bool backwards)> OnTabKey;

  // Clicks the main button as the mouse would (only when it is visible and enabled).
  void ButtonClick();

  // Text margins that keep typed text clear of the visible buttons.
  int RightTextMargin() const;

 private:
  struct Button {
    HWND wnd = nullptr;
    bool visible = true;
    TButtonKind kind = bkLookup;
    int width = 17;
    unsigned shortcut = 0;
    bool hot = false;      // the mouse is over it
    bool pressed = false;  // the left mouse button went down on it and is still down
    bool tracking = false;
  };

  static LRESULT CALLBACK EditProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  static LRESULT CALLBACK ButtonProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT OnEditMessage(HWND, UINT, WPARAM, LPARAM, bool& handled);
  LRESULT OnButtonMessage(Button& b, UINT, WPARAM, LPARAM);
  void Layout();
  void PaintButton(Button& b, HDC dc);
  bool ButtonShown(const Button& b) const;
  void Click(Button& b);
  bool ReadOnly() const;
  void RepaintButtons();
  Button* ButtonOf(HWND wnd);

  HWND edit_ = nullptr;
  Button main_;
  Button alt_;
  bool flat_ = false;
  COLORREF flatColor_;
  bool allowKeyEdit_ = true;
  bool hideOnReadOnly_ = false;
  bool autoSelect_ = true;
  bool mouseEntering_ = false;  // focus is arriving through a mouse click
  bool mouseOverEdit_ = false;
  bool swallowChar_ = false;    // the character of a shortcut key is not typed
  bool focusLeftWindow_ = false;  // the focus went from here to another window
};

// Draws the lookup glyph (three 2x2 dots centred in a 10x10 cell) with its top-left corner at
// (x, y); the greyed twin when `enabled` is false.
void DrawLookupGlyph(HDC dc, int x, int y, bool enabled);
