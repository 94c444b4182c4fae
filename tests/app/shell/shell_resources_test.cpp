// The built Brimvale.exe carries its icon, its manifest and its version record; read back
// with the Win32 resource and version APIs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ShellTestSupport.h"

namespace {

BOOL CALLBACK CountName(HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

std::wstring BrimvaleExe() { return ProgramFolder() + L"Brimvale.exe"; }

class ExecutableResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(BrimvaleExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module_, nullptr) << "cannot load " << Utf8(BrimvaleExe()) << ", error " << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  std::string Resource(LPCWSTR type, LPCWSTR name) {
    HRSRC found = FindResourceW(module_, name, type);
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(module_, found);
    const auto* data = static_cast<const char*>(LockResource(loaded));
    return data ? std::string(data, SizeofResource(module_, found)) : std::string();
  }
  HMODULE module_ = nullptr;
};

TEST_F(ExecutableResources, ManifestAsksForCommonControls6AndAsInvoker) {
  const std::string manifest = Resource(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
  ASSERT_FALSE(manifest.empty()) << "no manifest with id 1";
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos)
      << manifest;
  EXPECT_NE(manifest.find("requestedExecutionLevel level=\"asInvoker\""), std::string::npos) << manifest;
  // Exactly one manifest: a second (e.g. a toolchain default) would make the choice arbitrary.
  int count = 0;
  EnumResourceNamesW(module_, MAKEINTRESOURCEW(24), &CountName, reinterpret_cast<LONG_PTR>(&count));
  EXPECT_EQ(count, 1);
}

TEST_F(ExecutableResources, MainIconHasSeveralSizes) {
  const std::string group = Resource(MAKEINTRESOURCEW(14), L"MAINICON");  // RT_GROUP_ICON
  ASSERT_GE(group.size(), 6u);
  const int images = static_cast<unsigned char>(group[4]) | static_cast<unsigned char>(group[5]) << 8;
  EXPECT_GE(images, 2);
  HICON icon = static_cast<HICON>(LoadImageW(module_, L"MAINICON", IMAGE_ICON, 32, 32, 0));
  EXPECT_NE(icon, nullptr);
  if (icon) DestroyIcon(icon);
}

TEST(ExecutableVersion, FileVersionAndNames) {
  const std::wstring exe = BrimvaleExe();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);

  struct Translation {
    WORD language, codePage;
  }* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_GE(length, sizeof(Translation));
  wchar_t block[64];
  swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\", translation->language, translation->codePage);
  auto text = [&](const wchar_t* name) {
    wchar_t* value = nullptr;
    UINT chars = 0;
    if (!VerQueryValueW(info.data(), (std::wstring(block) + name).c_str(),
                        reinterpret_cast<void**>(&value), &chars) || value == nullptr)
      return std::wstring(L"<missing>");
    return std::wstring(value);
  };
  EXPECT_EQ(text(L"FileDescription"), L"Brimvale");
  EXPECT_EQ(text(L"InternalName"), L"Brimvale");
  EXPECT_EQ(text(L"ProductName"), L"Brimvale");
  EXPECT_EQ(text(L"FileVersion"), L"1.0.0.1");
}

}  // namespace
