// Pure layout and path rules of the main window, kept apart from the window code so that
// they can be checked without a screen.
#pragma once

#include <string>

struct TFormPlacement {
  int left;
  int top;
};

// Centred across the display and one third of the free height down; integer division
// truncating toward zero, so a window larger than the display gets a negative position.
TFormPlacement PlaceOnDisplay(int displayWidth, int displayHeight, int windowWidth,
                              int windowHeight);

// The scale used once at creation when the system resolution is not the design's 96 dpi:
// value * numerator / denominator, rounded as the window system's MulDiv rounds.
int ScaleBy(int value, int numerator, int denominator);

// Pixel height (negative: character height) of a font of `points` at `dpi`.
int FontHeightForPoints(int points, int dpi);

// Everything up to and including the last '\' or ':' of a file name; empty when it has none.
std::wstring FolderOfFileName(const std::wstring& fileName);

// `folder` (cut at its first NUL) with a closing '\' and, when `subFolder` is not empty, that
// sub-folder and another '\'.
std::wstring JoinDocumentsPath(const std::wstring& folder, const std::wstring& subFolder);
