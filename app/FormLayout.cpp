#include "app/FormLayout.h"

#include <cstdint>

TFormPlacement PlaceOnDisplay(int displayWidth, int displayHeight, int windowWidth,
                              int windowHeight) {
  // C++ integer division truncates toward zero, which is the rule wanted here.
  return {(displayWidth - windowWidth) / 2, (displayHeight - windowHeight) / 3};
}

int ScaleBy(int value, int numerator, int denominator) {
  if (denominator == 0) return -1;
  // Rounds half away from zero, like the window system's MulDiv.
  int64_t product = static_cast<int64_t>(value) * numerator;
  int64_t half = (denominator < 0 ? -denominator : denominator) / 2;
  bool negative = (product < 0) != (denominator < 0);
  int64_t magnitude = (product < 0 ? -product : product) + half;
  int64_t q = magnitude / (denominator < 0 ? -denominator : denominator);
  return static_cast<int>(negative ? -q : q);
}

int FontHeightForPoints(int points, int dpi) { return -ScaleBy(points, dpi, 72); }

std::wstring FolderOfFileName(const std::wstring& fileName) {
  size_t pos = fileName.find_last_of(L"\\:");
  if (pos == std::wstring::npos) return {};
  return fileName.substr(0, pos + 1);
}

std::wstring JoinDocumentsPath(const std::wstring& folder, const std::wstring& subFolder) {
  std::wstring result = folder.substr(0, folder.find(L'\0'));
  if (result.empty() || result.back() != L'\\') result += L'\\';
  if (!subFolder.empty()) {
    result += subFolder;
    result += L'\\';
  }
  return result;
}
