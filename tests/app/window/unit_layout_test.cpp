// The main window's pure rules: placement, one-time scaling arithmetic, the browse folder
// rules and the dialog's file-type list.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include "app/FormLayout.h"
#include "app/OpenDialog.h"
#include "app/Unit1.h"

TEST(Placement, CentredAcrossAndOneThirdDownTruncatingTowardZero) {
  TFormPlacement p = PlaceOnDisplay(1920, 1080, 700, 500);
  EXPECT_EQ(p.left, 610);
  EXPECT_EQ(p.top, 193);
  // Larger than the display: negative, truncated toward zero (not floored).
  p = PlaceOnDisplay(640, 480, 702, 497);
  EXPECT_EQ(p.left, -31);
  EXPECT_EQ(p.top, -5);
  p = PlaceOnDisplay(1281, 1024, 702, 497);
  EXPECT_EQ(p.left, 289);
  EXPECT_EQ(p.top, 175);
}

TEST(Scaling, RoundsLikeTheSystemMulDiv) {
  for (int v : {-13, -11, 0, 1, 8, 13, 15, 21, 25, 27, 54, 353, 436, 469, 680, 696})
    for (int num : {13, 15, 16, 17, 20, 25, 96, 120, 144, 192})
      for (int den : {13, 72, 96})
        EXPECT_EQ(ScaleBy(v, num, den), MulDiv(v, num, den)) << v << "*" << num << "/" << den;
  // Window font at 120 dpi, statement font points at 96/120 dpi.
  EXPECT_EQ(ScaleBy(-11, 120, 96), -14);
  EXPECT_EQ(FontHeightForPoints(10, 96), -13);
  EXPECT_EQ(FontHeightForPoints(12, 96), -16);
  EXPECT_EQ(FontHeightForPoints(12, 120), -20);
}

TEST(BrowseFolder, IsTheFolderPartOfTheLastPick) {
  EXPECT_EQ(FolderOfFileName(L"D:\\db\\shop.mdb"), L"D:\\db\\");
  EXPECT_EQ(FolderOfFileName(L"C:shop.mdb"), L"C:");
  EXPECT_EQ(FolderOfFileName(L"\\\\server\\share\\a.mdb"), L"\\\\server\\share\\");
  EXPECT_EQ(FolderOfFileName(L"shop.mdb"), L"");
  EXPECT_EQ(FolderOfFileName(L""), L"");
}

TEST(DocumentsPath, AlwaysEndsInABackslashWithTheSubFolderAppended) {
  EXPECT_EQ(JoinDocumentsPath(L"C:\\Users\\Public\\Documents", L""),
            L"C:\\Users\\Public\\Documents\\");
  EXPECT_EQ(JoinDocumentsPath(L"C:\\Users\\Public\\Documents", L"Sub"),
            L"C:\\Users\\Public\\Documents\\Sub\\");
  EXPECT_EQ(JoinDocumentsPath(L"D:\\", L""), L"D:\\");
  // A failed lookup leaves an empty folder text: "\" alone, which names no folder.
  EXPECT_EQ(JoinDocumentsPath(L"", L""), L"\\");
  // The folder text ends at its first NUL, as the lookup's buffer does.
  EXPECT_EQ(JoinDocumentsPath(std::wstring(L"C:\\Docs\0junk", 12), L""), L"C:\\Docs\\");

  wchar_t docs[MAX_PATH + 1] = {};
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_DOCUMENTS, nullptr, 0, docs), S_OK);
  EXPECT_EQ(GetCommonDocumentsPath(L""), std::wstring(docs) + L"\\");
  EXPECT_EQ(GetCommonDocumentsPath(L"Sub"), std::wstring(docs) + L"\\Sub\\");
}

TEST(OpenDialogFilter, SplitsIntoDescriptionAndPatternPairs) {
  auto one = TOpenDialog::SplitFilter(L"Databases|*.mdb");
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].first, L"Databases");
  EXPECT_EQ(one[0].second, L"*.mdb");
  auto two = TOpenDialog::SplitFilter(L"Databases|*.mdb;*.accdb|All files|*.*|Dangling");
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[1].first, L"All files");
  EXPECT_EQ(two[1].second, L"*.*");
  EXPECT_TRUE(TOpenDialog::SplitFilter(L"").empty());
}
