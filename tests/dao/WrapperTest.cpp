// The wrapper objects against a fake engine: what reaches the engine, failure labels,
// reference counts, construction forms, destruction and the errors-collection cache.
#include <gtest/gtest.h>

#include <functional>

#include "dao/OpDAO3x.h"
#include "tests/support/FakeDAO.h"
#include "tests/support/LayerSession.h"

using namespace fakedao;

namespace {

class Wrappers : public ::testing::Test {
protected:
  LayerSession Layer;
  FakeDAOStatePtr State = std::make_shared<FakeDAOState>();

  std::unique_ptr<DAODBEngine> NewEngine() {
    IDispatch* raw = CreateFakeEngine(State);
    auto engine = std::make_unique<DAODBEngine>(raw, nullptr);
    raw->Release();
    return engine;
  }
};

TEST_F(Wrappers, OpenDatabaseAndExecutePassArgumentsAsTheEngineExpects) {
  auto engine = NewEngine();
  const std::wstring path = L"  C:\\data\\x y.mdb \t";
  DAOBStr name(path);
  auto db = engine->OpenDatabase(name, Variant(false), Variant(false), DAOMissingParam);
  ASSERT_TRUE(db);
  EXPECT_EQ(db->Parent, engine.get());

  const FakeCall* open = State->FindCall(L"DBEngine.OpenDatabase");
  ASSERT_NE(open, nullptr);
  ASSERT_EQ(open->Args.size(), 4u);
  EXPECT_EQ(ArgText(open->Args[0]), path);
  for (int i : {1, 2}) {
    EXPECT_EQ(open->Args[i].Type(), VT_BOOL);
    EXPECT_EQ(open->Args[i].Raw().boolVal, VARIANT_FALSE);
  }
  EXPECT_EQ(open->Args[3].Type(), VT_ERROR);
  EXPECT_EQ(open->Args[3].Raw().scode, DISP_E_PARAMNOTFOUND);

  const std::wstring statement = L" UPDATE t SET a = 1\r\n";
  DAOBStr query(statement);
  db->Execute(query, Variant(uint8_t(128)));
  const FakeCall* exec = State->FindCall(L"Database.Execute");
  ASSERT_NE(exec, nullptr);
  ASSERT_EQ(exec->Args.size(), 2u);
  EXPECT_EQ(ArgText(exec->Args[0]), statement);
  EXPECT_EQ(exec->Args[1].Type(), VT_I4);
  EXPECT_EQ(exec->Args[1].Raw().lVal, 128);

  State->RecordsAffected = -3;
  EXPECT_EQ(db->GetRecordsAffected(), -3);
}

TEST_F(Wrappers, ErrorsAreReadThroughTheCollection) {
  State->ErrorDescriptions = {L"first", L"second"};
  auto engine = NewEngine();
  DAOErrors* errors = engine->GetErrors();
  EXPECT_EQ(errors->Parent, engine.get());
  EXPECT_EQ(errors->GetCount(), 2);
  auto item = errors->GetItem(Variant(int32_t(1)));
  EXPECT_EQ(item->Parent, errors);
  EXPECT_EQ(item->GetDescription(), L"second");
  const FakeCall* get = State->FindCall(L"Errors.get_Item");
  ASSERT_NE(get, nullptr);
  EXPECT_EQ(get->Args[0].Type(), VT_I4);
  EXPECT_EQ(get->Args[0].Raw().lVal, 1);
}

TEST_F(Wrappers, FailedEngineCallsRaiseTheOperationLabelAndHResult) {
  struct Case {
    const wchar_t* Member;
    const wchar_t* Message;
    std::function<void(DAODBEngine&)> Run;
  };
  const Case cases[] = {
      {L"DBEngine.OpenDatabase", L"DAODBEngine.OpenDatabase failed",
       [](DAODBEngine& e) { e.OpenDatabase(DAOBStr(L"x"), Variant(false), Variant(false), DAOMissingParam); }},
      {L"DBEngine.get_Errors", L"DAODBEngine.GetErrors failed", [](DAODBEngine& e) { e.GetErrors(); }},
      {L"Errors.get_Count", L"DAOCollection.GetCount failed", [](DAODBEngine& e) { e.GetErrors()->GetCount(); }},
      {L"Errors.get_Item", L"DAOErrors.GetItem failed",
       [](DAODBEngine& e) { e.GetErrors()->GetItem(Variant(int32_t(0))); }},
      {L"Error.get_Description", L"DAOError.GetDescription failed",
       [](DAODBEngine& e) { e.GetErrors()->GetItem(Variant(int32_t(0)))->GetDescription(); }},
      {L"Database.Execute", L"DAODatabase.Execute failed",
       [](DAODBEngine& e) {
         e.OpenDatabase(DAOBStr(L"x"), Variant(false), Variant(false), DAOMissingParam)
             ->Execute(DAOBStr(L"q"), Variant(uint8_t(128)));
       }},
      {L"Database.get_RecordsAffected", L"DAODatabase.GetRecordsAffected failed",
       [](DAODBEngine& e) {
         e.OpenDatabase(DAOBStr(L"x"), Variant(false), Variant(false), DAOMissingParam)->GetRecordsAffected();
       }},
  };
  HRESULT code = static_cast<HRESULT>(0x800A0BD0);
  for (const Case& c : cases) {
    State = std::make_shared<FakeDAOState>();
    State->ErrorDescriptions = {L"only"};
    State->FailCall(c.Member, ++code);
    {
      auto engine = NewEngine();
      try {
        c.Run(*engine);
        ADD_FAILURE() << "no failure for " << WideToUtf8(c.Member);
      } catch (const EDAOError& e) {
        EXPECT_EQ(e.Message(), c.Message);
        EXPECT_EQ(e.ErrorCode, code);
      }
      EXPECT_EQ(CurrentX87ControlWord(), Layer.AppSide) << WideToUtf8(c.Member);
    }
    EXPECT_TRUE(State->LiveObjects().empty()) << WideToUtf8(c.Member) << " leaked";
  }
}

TEST_F(Wrappers, SuccessCodesOtherThanSOkAreSuccess) {
  State->FailCall(L"Database.Execute", S_FALSE);
  State->FailCall(L"Database.get_RecordsAffected", 0x00040000);
  auto engine = NewEngine();
  auto db = engine->OpenDatabase(DAOBStr(L"x"), Variant(false), Variant(false), DAOMissingParam);
  EXPECT_NO_THROW(db->Execute(DAOBStr(L"q"), Variant(uint8_t(128))));
  EXPECT_NO_THROW(db->GetRecordsAffected());
}

TEST_F(Wrappers, GetErrorsAsksTheEngineOnceAndKeepsTheWrapper) {
  auto engine = NewEngine();
  State->FailCall(L"DBEngine.get_Errors", E_FAIL, 1);
  EXPECT_THROW(engine->GetErrors(), EDAOError);
  EXPECT_EQ(engine->ErrorsCache, nullptr);
  DAOErrors* first = engine->GetErrors();
  DAOErrors* second = engine->GetErrors();
  EXPECT_EQ(first, second);
  EXPECT_EQ(first, engine->ErrorsCache.get());
  EXPECT_EQ(State->CountCalls(L"DBEngine.get_Errors"), 2);   // the failed one and the first success
}

TEST_F(Wrappers, EveryReferenceIsReleasedAndTheEngineLast) {
  State->ErrorDescriptions = {L"e"};
  {
    auto engine = NewEngine();
    auto db = engine->OpenDatabase(DAOBStr(L"x"), Variant(false), Variant(false), DAOMissingParam);
    EXPECT_EQ(State->RefCount(L"Database1"), 1);
    EXPECT_EQ(State->RefCount(L"DBEngine1"), 1);
    auto item = engine->GetErrors()->GetItem(Variant(int32_t(0)));
    EXPECT_EQ(State->RefCount(L"Error1"), 1);
    item.reset();
    db.reset();
    EXPECT_EQ(State->RefCount(L"Database1"), 0);
    // The engine wrapper frees its errors wrapper before its own interface.
  }
  EXPECT_TRUE(State->LiveObjects().empty());
  int errorsRelease = -1, engineRelease = -1;
  for (size_t i = 0; i < State->Calls.size(); ++i) {
    const FakeCall& c = State->Calls[i];
    if (c.Member == L"Release" && c.RefCount == 0 && c.Object == L"DBEngine1") engineRelease = static_cast<int>(i);
    if (c.Member == L"Release" && c.Object == L"Errors1" && engineRelease < 0) errorsRelease = static_cast<int>(i);
  }
  ASSERT_GE(errorsRelease, 0);
  EXPECT_LT(errorsRelease, engineRelease);
}

TEST_F(Wrappers, ResultWrapperTakesItsReferenceBeforeTheTemporaryIsDroppedOutsideTheFrame) {
  State->ErrorDescriptions = {L"e"};
  auto engine = NewEngine();
  auto db = engine->OpenDatabase(DAOBStr(L"x"), Variant(false), Variant(false), DAOMissingParam);
  DAOErrors* errors = engine->GetErrors();
  auto item = errors->GetItem(Variant(int32_t(0)));
  // Per object: the engine hands out one reference, the wrapper adds its own inside a frame
  // of its own (count 2), then the operation drops the engine's on the application side.
  for (const wchar_t* object : {L"Database1", L"Errors1", L"Error1"}) {
    SCOPED_TRACE(WideToUtf8(object));
    std::vector<const FakeCall*> refs;
    for (const FakeCall& c : State->Calls)
      if (c.Object == object && (c.Member == L"AddRef" || c.Member == L"Release")) refs.push_back(&c);
    // Errors1 also carries the engine's own reference: its first AddRef is the hand-out.
    const size_t first = std::wstring(object) == L"Errors1" ? 1 : 0;
    ASSERT_EQ(refs.size(), first + 2);
    EXPECT_EQ(refs[first]->Member, L"AddRef");
    EXPECT_EQ(refs[first]->ControlWord, EngineSideControlWord);
    EXPECT_EQ(refs[first + 1]->Member, L"Release");
    EXPECT_EQ(refs[first + 1]->ControlWord, Layer.AppSide);
  }
  EXPECT_EQ(State->RefCount(L"Database1"), 1);
  EXPECT_EQ(State->RefCount(L"Error1"), 1);
}

TEST_F(Wrappers, ConstructionFromAnotherWrapperSharesInterfaceAndParent) {
  auto engine = NewEngine();
  auto db = engine->OpenDatabase(DAOBStr(L"x"), Variant(false), Variant(false), DAOMissingParam);
  db->OwnedObject = std::make_unique<DAOBase>(db->Intf, nullptr);
  EXPECT_EQ(State->RefCount(L"Database1"), 2);
  {
    DAODatabase copy(*db);
    EXPECT_EQ(copy.Intf, db->Intf);
    EXPECT_EQ(copy.Parent, engine.get());
    EXPECT_EQ(copy.OwnedObject, nullptr);
    EXPECT_EQ(State->RefCount(L"Database1"), 3);
    DAOCollection other(static_cast<const DAOBase&>(*db));   // any class from any wrapper
    EXPECT_EQ(State->RefCount(L"Database1"), 4);
  }
  EXPECT_EQ(State->RefCount(L"Database1"), 2);
  db.reset();   // frees the owned object as well
  EXPECT_EQ(State->RefCount(L"Database1"), 0);
}

TEST_F(Wrappers, ConstructionFromVariantsAcceptsOnlyPlainDispatch) {
  IDispatch* raw = CreateFakeEngine(State);
  {
    Variant good = Variant::Dispatch(raw);   // 2 references now
    DAODBEngine fromVariant(good, nullptr);
    EXPECT_EQ(fromVariant.Intf, raw);
    EXPECT_EQ(State->RefCount(L"DBEngine1"), 3);

    VARIANT automation;
    VariantInit(&automation);
    automation.vt = VT_DISPATCH;
    automation.pdispVal = raw;
    DAODBEngine fromAutomation(automation);
    EXPECT_EQ(fromAutomation.Parent, nullptr);
    EXPECT_EQ(State->RefCount(L"DBEngine1"), 4);   // its own copy was cleared again
    EXPECT_EQ(automation.vt, VT_DISPATCH);        // the caller's variant is untouched

    VARIANT byRef;
    VariantInit(&byRef);
    byRef.vt = VT_DISPATCH | VT_BYREF;
    byRef.ppdispVal = &raw;
    try {
      DAODBEngine bad{Variant(byRef), nullptr};
      ADD_FAILURE();
    } catch (const EDAOConvError& e) {
      EXPECT_EQ(e.Message(), L"Variant is not of type VT_Dispatch");
    }
    VARIANT number;
    VariantInit(&number);
    number.vt = VT_I4;
    number.lVal = 9;
    try {
      DAODBEngine bad(number);
      ADD_FAILURE();
    } catch (const EDAOConvError& e) {
      EXPECT_EQ(e.Message(), L"Automation object is not of type varDispatch");
    }
    EXPECT_EQ(State->RefCount(L"DBEngine1"), 4);
  }
  EXPECT_EQ(State->RefCount(L"DBEngine1"), 1);
  raw->Release();
  EXPECT_TRUE(State->LiveObjects().empty());
}

TEST_F(Wrappers, EveryClassHasTheFourConstructionForms) {
  IDispatch* raw = CreateFakeEngine(State);
  Variant dispatch = Variant::Dispatch(raw);
  VARIANT automation = dispatch.Raw();   // a shallow view; the wrapper copies it itself
  {
    DAOLocalEngine fromInterface(raw, nullptr);
    DAOLocalEngine fromVariant(dispatch, &fromInterface);
    DAOLocalEngine fromAutomation(automation);
    DAOLocalEngine fromWrapper(fromVariant);
    EXPECT_EQ(fromVariant.Parent, &fromInterface);
    EXPECT_EQ(fromWrapper.Parent, &fromInterface);
    EXPECT_EQ(fromAutomation.Parent, nullptr);
    for (const DAOBase* w : {static_cast<DAOBase*>(&fromInterface), static_cast<DAOBase*>(&fromVariant),
                             static_cast<DAOBase*>(&fromAutomation), static_cast<DAOBase*>(&fromWrapper)})
      EXPECT_EQ(w->Intf, raw);
    DAOErrors errors(raw, nullptr);
    DAOError error(dispatch, nullptr);
    DAODatabase database(automation);
    DAOCollection collection(static_cast<const DAOBase&>(database));
    EXPECT_EQ(State->RefCount(L"DBEngine1"), 2 + 8);   // ours, the variant's, one per wrapper
  }
  EXPECT_EQ(State->RefCount(L"DBEngine1"), 2);
  // None of the forms asks the object for an interface.
  EXPECT_EQ(State->CountCalls(L"DBEngine.QueryInterface"), 0);
  dispatch.Clear();
  raw->Release();
  EXPECT_TRUE(State->LiveObjects().empty());
}

TEST_F(Wrappers, FailingReleaseInDestructorIsDropped) {
  // The second release of the database is the wrapper's own (the first drops the
  // operation's temporary reference).
  State->FailCall(L"Database.Release", E_FAIL, 2);
  auto engine = NewEngine();
  auto db = engine->OpenDatabase(DAOBStr(L"x"), Variant(false), Variant(false), DAOMissingParam);
  EXPECT_NO_THROW(db.reset());
  EXPECT_EQ(CurrentX87ControlWord(), Layer.AppSide);
  // The frame was left: the next engine call runs on the engine side again.
  engine->GetErrors();
  EXPECT_EQ(State->FindCall(L"DBEngine.get_Errors")->ControlWord, EngineSideControlWord);
}

TEST_F(Wrappers, EmptyInterfaceOrMissingResultIsAFailureNotACrash) {
  DAODatabase empty(static_cast<IDispatch*>(nullptr), nullptr);
  try {
    empty.Execute(DAOBStr(L"q"), Variant(uint8_t(128)));
    ADD_FAILURE();
  } catch (const EDAOError& e) {
    EXPECT_EQ(e.Message(), L"DAODatabase.Execute failed");
    EXPECT_EQ(e.ErrorCode, E_POINTER);
  }
  // An engine that reports success but hands out no object.
  State->SucceedWithoutObject = {L"DBEngine.OpenDatabase", L"DBEngine.get_Errors"};
  auto engine = NewEngine();
  try {
    engine->OpenDatabase(DAOBStr(L"x"), Variant(false), Variant(false), DAOMissingParam);
    ADD_FAILURE();
  } catch (const EDAOError& e) {
    EXPECT_EQ(e.Message(), L"DAODBEngine.OpenDatabase failed");
    EXPECT_EQ(e.ErrorCode, E_POINTER);
  }
  EXPECT_THROW(engine->GetErrors(), EDAOError);
  EXPECT_EQ(engine->ErrorsCache, nullptr);
}

TEST_F(Wrappers, UnconvertibleArgumentFailsUnchangedAfterLeavingTheFrame) {
  auto engine = NewEngine();
  auto db = engine->OpenDatabase(DAOBStr(L"x"), Variant(false), Variant(false), DAOMissingParam);
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_VARIANT | VT_BYREF;   // refers to nothing
  try {
    db->Execute(DAOBStr(L"q"), Variant(ref));
    ADD_FAILURE();
  } catch (const EDAOError&) {
    ADD_FAILURE() << "conversion failure must not be an engine failure";
  } catch (const Exception&) {
  }
  EXPECT_EQ(State->CountCalls(L"Database.Execute"), 0);
  EXPECT_EQ(CurrentX87ControlWord(), Layer.AppSide);
}

}  // namespace
