// The x87 call frame: the engine keeps an environment of its own, the application's is
// restored after every engine call, failed ones included.
#include <gtest/gtest.h>

#include "dao/OpDAO3x.h"
#include "tests/support/FakeDAO.h"
#include "tests/support/LayerSession.h"

using namespace fakedao;

namespace {

// Round to nearest, 53-bit precision, the denormal exception unmasked: a start-up control
// word that differs from the masked one in a way no ordinary arithmetic here trips over.
constexpr uint16_t StartupWord = 0x027D;
constexpr uint16_t EngineChanged = 0x0C7F;   // truncating, 24-bit precision, all masked

TEST(CallFrame, StartUpMasksTheApplicationSideAndKeepsTheOldWordForTheEngine) {
  const uint16_t saved = CurrentX87ControlWord();
  LoadX87ControlWord(StartupWord);
  InitDAOLayer();
  const uint16_t appSide = CurrentX87ControlWord();
  LoadX87ControlWord(saved);   // the test itself goes on with its own word
  EXPECT_EQ(appSide, StartupWord | 0x3F);
  EXPECT_EQ(DAOFPUEnv.ControlWord, StartupWord);
  EXPECT_EQ(AppFPUEnv.ControlWord, StartupWord);
  EXPECT_EQ(DAOMissingParam.Type(), VT_ERROR);
  EXPECT_EQ(DAOMissingParam.Raw().scode, DISP_E_PARAMNOTFOUND);

  // The engine's first call runs with the start-up word.
  auto state = std::make_shared<FakeDAOState>();
  IDispatch* raw = CreateFakeEngine(state);
  {
    DAODBEngine engine(raw, nullptr);
    engine.GetErrors();
  }
  raw->Release();
  EXPECT_EQ(state->FindCall(L"DBEngine.get_Errors")->ControlWord, StartupWord);
  DoneDAOLayer();
  EXPECT_EQ(DAOMissingParam.Type(), VT_EMPTY);
  LoadX87ControlWord(saved);
}

class Frame : public ::testing::Test {
protected:
  LayerSession Layer;
  FakeDAOStatePtr State = std::make_shared<FakeDAOState>();
};

TEST_F(Frame, EngineChangesCarryOverToItsNextCallButNeverReachTheApplication) {
  State->ChangeControlWord(L"Database.Execute", EngineChanged);
  IDispatch* raw = CreateFakeEngine(State);
  auto engine = std::make_unique<DAODBEngine>(raw, nullptr);
  raw->Release();
  auto db = engine->OpenDatabase(DAOBStr(L"x"), Variant(false), Variant(false), DAOMissingParam);
  db->Execute(DAOBStr(L"q"), Variant(uint8_t(128)));
  EXPECT_EQ(CurrentX87ControlWord(), Layer.AppSide);
  db->GetRecordsAffected();
  EXPECT_EQ(State->FindCall(L"Database.Execute")->ControlWord, EngineSideControlWord);
  EXPECT_EQ(State->FindCall(L"Database.get_RecordsAffected")->ControlWord, EngineChanged);
  EXPECT_EQ(CurrentX87ControlWord(), Layer.AppSide);
  db.reset();
  engine.reset();
  EXPECT_EQ(DAOFPUEnv.ControlWord, EngineChanged);
}

TEST_F(Frame, FailedCallRestoresTheApplicationSide) {
  State->ChangeControlWord(L"Database.Execute", EngineChanged);
  State->FailCall(L"Database.Execute", static_cast<HRESULT>(0x800A0C5A));
  IDispatch* raw = CreateFakeEngine(State);
  auto engine = std::make_unique<DAODBEngine>(raw, nullptr);
  raw->Release();
  auto db = engine->OpenDatabase(DAOBStr(L"x"), Variant(false), Variant(false), DAOMissingParam);
  try {
    db->Execute(DAOBStr(L"bad"), Variant(uint8_t(128)));
    ADD_FAILURE();
  } catch (const EDAOError& e) {
    EXPECT_EQ(CurrentX87ControlWord(), Layer.AppSide);
    EXPECT_EQ(e.Message(), L"DAODatabase.Execute failed");
    EXPECT_EQ(e.ErrorCode, static_cast<HRESULT>(0x800A0C5A));
  }
  db->GetRecordsAffected();
  EXPECT_EQ(State->FindCall(L"Database.get_RecordsAffected")->ControlWord, EngineChanged);
}

TEST_F(Frame, ReferenceTakingAndDroppingOfWrappersRunOnTheEngineSide) {
  IDispatch* raw = CreateFakeEngine(State);
  {
    DAODBEngine engine(raw, nullptr);
    DAODBEngine copy(engine);
  }
  raw->Release();
  int inside = 0;
  for (const FakeCall& c : State->Calls) {
    if (c.Member != L"AddRef" && c.Member != L"Release") continue;
    // The test's own reference (count 1 <-> 0) is taken and dropped outside any frame.
    bool wrapper = !(c.Member == L"Release" && c.RefCount == 0);
    EXPECT_EQ(c.ControlWord, wrapper ? EngineSideControlWord : Layer.AppSide)
        << WideToUtf8(c.Member) << " -> " << c.RefCount;
    inside += wrapper;
  }
  EXPECT_EQ(inside, 4);   // two AddRef, two Release
}

}  // namespace
