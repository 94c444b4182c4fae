// Registration, written into a private key that stands in for HKEY_CLASSES_ROOT.
#include <gtest/gtest.h>
#include <windows.h>
#include <olectl.h>

#include <string>

#include "engine/server/registration.h"

using namespace bv::server;

namespace {

const wchar_t kEngineServer[] = L"CLSID\\{00000100-0000-0010-8000-00AA006D2EA4}\\InprocServer32";
const wchar_t kPrivateServer[] = L"CLSID\\{00000101-0000-0010-8000-00AA006D2EA4}\\InprocServer32";
const std::wstring kOurs = L"C:\\build\\bin\\daoengine.dll";

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = L"Software\\BrimvaleRegistrationTest" + std::to_wstring(GetCurrentProcessId());
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, name_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &root, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(root);
    RegDeleteTreeW(HKEY_CURRENT_USER, name_.c_str());
  }

  std::wstring value(const std::wstring& sub, const wchar_t* name = nullptr) {
    wchar_t buf[512] = {};
    DWORD bytes = sizeof buf - sizeof(wchar_t);
    if (RegGetValueW(root, sub.c_str(), name, RRF_RT_REG_SZ, nullptr, buf, &bytes) != ERROR_SUCCESS)
      return L"<none>";
    return buf;
  }
  void put(const std::wstring& sub, const std::wstring& text) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExW(root, sub.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
  }

  HKEY root = nullptr;
  std::wstring name_;
};

}  // namespace

TEST_F(Registration, WritesBothClassesWithProgIdsAndApartmentThreading) {
  RegistrationResult r = registerServer(root, kOurs);
  ASSERT_EQ(r.hr, S_OK) << r.message.c_str();
  EXPECT_EQ(value(kEngineServer), kOurs);
  EXPECT_EQ(value(kPrivateServer), kOurs);
  EXPECT_EQ(value(kEngineServer, L"ThreadingModel"), L"Apartment");
  EXPECT_EQ(value(kPrivateServer, L"ThreadingModel"), L"Apartment");
  EXPECT_EQ(value(L"DAO.DBEngine.36\\CLSID"), L"{00000100-0000-0010-8000-00AA006D2EA4}");
  EXPECT_EQ(value(L"DAO.PrivateDBEngine.36\\CLSID"), L"{00000101-0000-0010-8000-00AA006D2EA4}");
  EXPECT_EQ(value(L"CLSID\\{00000101-0000-0010-8000-00AA006D2EA4}\\ProgID"), L"DAO.PrivateDBEngine.36");
  // Registering again, or from a build in another folder, replaces our own entries.
  EXPECT_EQ(registerServer(root, L"D:\\other\\build\\DAOENGINE.DLL").hr, S_OK);
  EXPECT_EQ(value(kEngineServer), L"D:\\other\\build\\DAOENGINE.DLL");
}

TEST_F(Registration, RefusesToReplaceAnotherServerAndWritesNothing) {
  const std::wstring foreign = L"C:\\Program Files\\Common Files\\Microsoft Shared\\DAO\\dao360.dll";
  put(kPrivateServer, foreign);
  RegistrationResult r = registerServer(root, kOurs);
  EXPECT_EQ(r.hr, SELFREG_E_CLASS);
  EXPECT_NE(r.message.find(L"dao360.dll"), std::wstring::npos);
  EXPECT_NE(r.message.find(L"{00000101-0000-0010-8000-00AA006D2EA4}"), std::wstring::npos);
  // Not even the class that was free was taken.
  EXPECT_EQ(value(kEngineServer), L"<none>");
  EXPECT_EQ(value(L"DAO.DBEngine.36\\CLSID"), L"<none>");
  EXPECT_EQ(value(kPrivateServer), foreign);
}

TEST_F(Registration, UnregisteringRemovesOnlyWhatPointsAtThisDll) {
  ASSERT_EQ(registerServer(root, kOurs).hr, S_OK);
  // Another server took the private class meanwhile.
  const std::wstring foreign = L"C:\\Windows\\System32\\dao360.dll";
  put(kPrivateServer, foreign);
  EXPECT_EQ(unregisterServer(root, L"c:\\BUILD\\bin\\daoengine.dll").hr, S_OK);
  EXPECT_EQ(value(kEngineServer), L"<none>");
  EXPECT_EQ(value(L"DAO.DBEngine.36\\CLSID"), L"<none>");
  EXPECT_EQ(value(kPrivateServer), foreign);
  EXPECT_EQ(value(L"DAO.PrivateDBEngine.36\\CLSID"), L"{00000101-0000-0010-8000-00AA006D2EA4}");
  // A copy of this server elsewhere does not unregister this one.
  put(kEngineServer, kOurs);
  EXPECT_EQ(unregisterServer(root, L"D:\\elsewhere\\daoengine.dll").hr, S_OK);
  EXPECT_EQ(value(kEngineServer), kOurs);
}
