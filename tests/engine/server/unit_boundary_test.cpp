// The call boundary: failures become HRESULTs with the errors collection and IErrorInfo
// filled, nothing is thrown or faults through it, and the caller's x87 state survives.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <new>
#include <stdexcept>

#include "engine/server/boundary.h"
#include "engine/server/dao_interfaces.h"
#include "engine/storage/error.h"

using namespace bv::server;

namespace {

unsigned short controlWord() {
  unsigned short cw = 0;
  __asm__ volatile("fnstcw %0" : "=m"(cw));
  return cw;
}
void setControlWord(unsigned short cw) { __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(cw)); }
unsigned short statusWord() {
  unsigned short sw = 0;
  __asm__ volatile("fnstsw %0" : "=m"(sw));
  return sw;
}

// The thread's IErrorInfo as (source, description); empty when none is set.
std::pair<std::wstring, std::wstring> takeErrorInfo() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return {};
  BSTR source = nullptr, description = nullptr;
  info->GetSource(&source);
  info->GetDescription(&description);
  std::pair<std::wstring, std::wstring> out{source ? source : L"", description ? description : L""};
  SysFreeString(source);
  SysFreeString(description);
  info->Release();
  return out;
}

class Boundary : public ::testing::Test {
 protected:
  ErrorList errors;
  CallSite site{L"DAO.Database", IID_Database, &errors};
};

}  // namespace

TEST_F(Boundary, SuccessLeavesTheErrorsAlone) {
  errors.replace({{3078, L"earlier", L"DAO.DBEngine"}});
  bool ran = false;
  EXPECT_EQ(guardedCall(site, [&] { ran = true; }), S_OK);
  EXPECT_TRUE(ran);
  ASSERT_EQ(errors.records().size(), 1u);
  EXPECT_EQ(errors.records()[0].description, L"earlier");
}

TEST_F(Boundary, JetErrorsBecomeControlFacilityHResultsAndReplaceTheErrors) {
  errors.replace({{1, L"a", L"x"}, {2, L"b", L"y"}});
  HRESULT hr = guardedCall(site, [] { throw bv::JetError(3078, "No table 'Tabel1' in 'x.mdb'."); });
  EXPECT_EQ(static_cast<unsigned long>(hr), 0x800A0C06ul);
  ASSERT_EQ(errors.records().size(), 1u);
  EXPECT_EQ(errors.records()[0].number, 3078);
  EXPECT_EQ(errors.records()[0].description, L"No table 'Tabel1' in 'x.mdb'.");
  EXPECT_EQ(errors.records()[0].source, L"DAO.Database");
  EXPECT_EQ(takeErrorInfo(), std::make_pair(std::wstring(L"DAO.Database"),
                                            std::wstring(L"No table 'Tabel1' in 'x.mdb'.")));
}

TEST_F(Boundary, OtherFailuresKeepTheirOwnHResult) {
  EXPECT_EQ(guardedCall(site, [] { throw ComFailure(DISP_E_TYPEMISMATCH, 13, "Type mismatch."); }),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(errors.records().at(0).number, 13);
  EXPECT_EQ(guardedCall(site, [] { throw std::bad_alloc(); }), E_OUTOFMEMORY);
  EXPECT_EQ(errors.records().at(0).number, 7);
  EXPECT_EQ(guardedCall(site, [] { throw std::logic_error("broken invariant"); }), E_FAIL);
  EXPECT_NE(errors.records().at(0).description.find(L"broken invariant"), std::wstring::npos);
  EXPECT_EQ(guardedCall(site, [] { throw 42; }), E_FAIL);
  // Descriptions in UTF-8 arrive as UTF-16.
  guardedCall(site, [] { throw bv::JetError(3024, "Could not find the file 'K\xC3\xA4se.mdb'."); });
  EXPECT_EQ(errors.records().at(0).description, L"Could not find the file 'K\u00E4se.mdb'.");
}

TEST_F(Boundary, WithoutAnErrorsListOnlyIErrorInfoIsSet) {
  CallSite bare{L"DAO.Errors", IID_Errors, nullptr};
  EXPECT_EQ(static_cast<unsigned long>(guardedCall(bare, [] { throw bv::JetError(3265, "gone"); })),
            0x800A0CC1ul);
  EXPECT_EQ(takeErrorInfo().first, L"DAO.Errors");
}

TEST_F(Boundary, AnAccessViolationEndsTheCallNotTheProcess) {
  volatile int* nowhere = nullptr;
  HRESULT hr = guardedCall(site, [&] { *nowhere = 1; });
  EXPECT_EQ(hr, E_UNEXPECTED);
  ASSERT_EQ(errors.records().size(), 1u);
  EXPECT_NE(errors.records()[0].description.find(L"0xC0000005"), std::wstring::npos);
  // The thread goes on normally: a second fault is caught too, then a call succeeds, and
  // C++ exceptions still travel through frames of this thread.
  EXPECT_EQ(guardedCall(site, [&] { *nowhere = 2; }), E_UNEXPECTED);
  volatile int zero = 0;
  EXPECT_EQ(guardedCall(site, [&] { volatile int x = 10 / zero; (void)x; }), E_UNEXPECTED);
  EXPECT_NE(errors.records()[0].description.find(L"0xC0000094"), std::wstring::npos);
  EXPECT_EQ(guardedCall(site, [] {}), S_OK);
  EXPECT_THROW(throw std::runtime_error("still works"), std::runtime_error);
}

TEST_F(Boundary, TheCallersControlWordAndStatusSurviveWhateverTheEngineDoes) {
  const unsigned short before = controlWord();
  // A caller that unmasks zero-divide and invalid-operation (as some runtimes do): the
  // engine computes with all exceptions masked, and the caller gets its word back.
  setControlWord(0x1332);
  const unsigned short callers = controlWord();  // the reserved bit 6 reads back as set
  unsigned short inside = 0;
  volatile double zero = 0.0, result = 0.0;
  EXPECT_EQ(guardedCall(site, [&] {
              inside = controlWord();
              result = 1.0 / zero;  // would trap with the caller's word
              setControlWord(0x0072);  // the engine may change its own word
            }),
            S_OK);
  EXPECT_EQ(inside, kEngineControlWord);
  EXPECT_TRUE(result > 1e300);
  EXPECT_EQ(controlWord(), callers);
  EXPECT_EQ(statusWord() & 0x3F, 0) << "no exception flag left pending for the caller";
  // Also on failure and after a fault.
  EXPECT_NE(guardedCall(site, [] { throw bv::JetError(3001, "x"); }), S_OK);
  EXPECT_EQ(controlWord(), callers);
  volatile int* nowhere = nullptr;
  EXPECT_EQ(guardedCall(site, [&] { setControlWord(0x0C7F); *nowhere = 3; }), E_UNEXPECTED);
  EXPECT_EQ(controlWord(), callers);
  setControlWord(before);
}

TEST(FpuScope, RestoresTheWholeEnvironment) {
  const unsigned short before = controlWord();
  setControlWord(0x027F);
  {
    FpuScope scope;
    EXPECT_EQ(controlWord(), kEngineControlWord);
    setControlWord(0x0C7F);
  }
  EXPECT_EQ(controlWord(), 0x027F);
  setControlWord(before);
}
