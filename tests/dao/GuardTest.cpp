// Structured exceptions that engine code lets escape: they fail the one engine call (or are
// dropped in a destructor) instead of ending the process, the call frame is left and the
// thread's chain of exception handlers is intact afterwards.
#include <gtest/gtest.h>

#include "dao/DAOHooks.h"
#include "dao/OpDAO3x.h"
#include "tests/support/FakeRegistry.h"
#include "tests/support/LayerSession.h"

using namespace fakedao;

namespace {

constexpr DWORD kAccessViolation = EXCEPTION_ACCESS_VIOLATION;
constexpr DWORD kEngineDefined = 0xE0440001;

void* HandlerChain() {
  void* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

class Guard : public ::testing::Test {
protected:
  LayerSession Layer;
  FakeDAOStatePtr State = std::make_shared<FakeDAOState>();
  void* Chain = HandlerChain();

  std::unique_ptr<DAODBEngine> NewEngine() {
    IDispatch* raw = CreateFakeEngine(State);
    auto engine = std::make_unique<DAODBEngine>(raw, nullptr);
    raw->Release();
    return engine;
  }
  void ExpectIntact() {
    EXPECT_EQ(HandlerChain(), Chain) << "the handler chain was left changed";
    EXPECT_EQ(CurrentX87ControlWord(), Layer.AppSide) << "the call frame was not left";
  }
};

TEST(GuardPrimitive, ReportsTheCodeAndLeavesNormalCallsAndCppExceptionsAlone) {
  void* chain = HandlerChain();
  int ran = 0;
  DAOGuardResult ok = RunGuarded([](void* p) { ++*static_cast<int*>(p); }, &ran);
  EXPECT_EQ(ok.Code, 0u);
  EXPECT_EQ(ran, 1);

  DAOGuardResult raised = RunGuarded([](void*) { RaiseException(kEngineDefined, 0, 0, nullptr); }, nullptr);
  EXPECT_EQ(raised.Code, kEngineDefined);
  EXPECT_EQ(HandlerChain(), chain);

  // A genuine fault, not only a raised code.
  DAOGuardResult fault = RunGuarded(
      [](void*) {
        volatile int* volatile nowhere = nullptr;
        *nowhere = 1;
      },
      nullptr);
  EXPECT_EQ(fault.Code, kAccessViolation);
  EXPECT_EQ(HandlerChain(), chain);

  EXPECT_THROW(RunGuarded([](void*) { throw std::runtime_error("c++"); }, nullptr), std::runtime_error);
  EXPECT_EQ(HandlerChain(), chain);

  // Guards inside guards: the inner one takes the exception, the outer call goes on.
  int outer = 0;
  DAOGuardResult nested = RunGuarded(
      [](void* p) {
        DAOGuardResult inner = RunGuarded([](void*) { RaiseException(kEngineDefined, 0, 0, nullptr); }, nullptr);
        *static_cast<int*>(p) = static_cast<int>(inner.Code == kEngineDefined);
      },
      &outer);
  EXPECT_EQ(nested.Code, 0u);
  EXPECT_EQ(outer, 1);
  EXPECT_EQ(HandlerChain(), chain);
}

TEST_F(Guard, FaultInAnEngineCallFailsThatCallOnly) {
  auto engine = NewEngine();
  auto db = engine->OpenDatabase(DAOBStr(L"x"), Variant(false), Variant(false), DAOMissingParam);
  State->RaiseInCall(L"Database.Execute", kAccessViolation, 1);
  try {
    db->Execute(DAOBStr(L"q"), Variant(uint8_t(128)));
    ADD_FAILURE() << "no failure";
  } catch (const EDAOError&) {
    ADD_FAILURE() << "a fault is not an engine failure with an HRESULT";
  } catch (const EDAOExternalError& e) {
    EXPECT_EQ(e.ExceptionCode, kAccessViolation);
    EXPECT_EQ(e.Message().rfind(L"External exception C0000005 at address ", 0), 0u) << e.what();
  }
  ExpectIntact();
  // The wrappers go on working, on the engine side of the frame.
  EXPECT_NO_THROW(db->Execute(DAOBStr(L"q"), Variant(uint8_t(128))));
  EXPECT_EQ(State->FindCall(L"Database.Execute", 2)->ControlWord, EngineSideControlWord);
  db.reset();
  engine.reset();
  EXPECT_TRUE(State->LiveObjects().empty());
}

TEST_F(Guard, FaultInReleaseOfADestructorIsDropped) {
  auto engine = NewEngine();
  auto db = engine->OpenDatabase(DAOBStr(L"x"), Variant(false), Variant(false), DAOMissingParam);
  // Release 1 drops the operation's temporary reference; release 2 is the wrapper's.
  State->RaiseInCall(L"Database.Release", kEngineDefined, 2);
  EXPECT_NO_THROW(db.reset());
  ExpectIntact();
  EXPECT_EQ(State->RefCount(L"Database1"), 0);
  engine->GetErrors();
  EXPECT_EQ(State->FindCall(L"DBEngine.get_Errors")->ControlWord, EngineSideControlWord);
}

TEST_F(Guard, FaultInAddRefFailsTheConstruction) {
  IDispatch* raw = CreateFakeEngine(State);
  State->RaiseInCall(L"DBEngine.AddRef", kEngineDefined, 1);
  EXPECT_THROW(DAODBEngine(raw, nullptr), EDAOExternalError);
  ExpectIntact();
  raw->Release();   // the fake counted the AddRef before raising
  raw->Release();
  EXPECT_TRUE(State->LiveObjects().empty());
}

TEST_F(Guard, FaultWhileCreatingTheEngine) {
  FakeRegistry registry;
  const CLSID engine36 = DAOIdentifiers[2].Engine;
  const CLSID engine35 = DAOIdentifiers[1].Engine;
  State->RaiseInCall(L"Factory.CreateInstance", kEngineDefined);
  registry.Register(engine36, State);
  SetDAOVersion(3);
  EXPECT_THROW(CreateDAOEngine(), EDAOExternalError);
  ExpectIntact();
  EXPECT_FALSE(JetLoaded);
  EXPECT_TRUE(State->LiveObjects().empty());

  // While probing, it is one more failed attempt: the next generation is tried.
  auto older = std::make_shared<FakeDAOState>();
  registry.Register(engine35, older);
  SetDAOVersion(0);
  auto engine = CreateDAOEngine();
  EXPECT_EQ(DAOVersion, 2);
  ExpectIntact();
}

}  // namespace
