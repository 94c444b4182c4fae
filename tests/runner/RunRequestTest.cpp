// The run request against a fake DAO 3.6 engine: input checks, what reaches the engine, the
// records message, the ERROR box with the engine's error text, cursor and release order.
#include <gtest/gtest.h>

#include <functional>

#include "dao/OpDAO3x.h"
#include "runner/RunRequest.h"
#include "tests/support/FakeRegistry.h"
#include "tests/support/LayerSession.h"

using namespace fakedao;

namespace {

const CLSID Engine36 = {0x00000100, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
const std::wstring Caption = L"Brimvale v1.1";

struct Box {
  std::wstring Text, Caption;
  unsigned Flags;
  int Cursor;            // the cursor when the box came up
  LONG DatabaseRefs;     // references the engine's database object held at that moment
  LONG EngineRefs;
  size_t CallsBefore;    // engine calls made before the box
};

// Records what the run shows; can be told to fail inside the records message.
struct RecordingUI : RunUI {
  FakeDAOStatePtr State;
  std::vector<Box> Boxes;
  std::vector<int> Cursors;
  int Cursor = 0;
  std::function<void()> DuringMessage;

  int MessageBox(const std::wstring& text, const std::wstring& caption, unsigned flags) override {
    Boxes.push_back({text, caption, flags, Cursor, State->RefCount(L"Database1"), State->RefCount(L"DBEngine1"),
                     State->Calls.size()});
    if (DuringMessage) DuringMessage();
    return IDOK;
  }
  void SetCursor(int cursor) override {
    Cursors.push_back(cursor);
    Cursor = cursor;
  }
};

class Run : public ::testing::Test {
protected:
  LayerSession Layer;
  FakeRegistry Registry;
  FakeDAOStatePtr State = std::make_shared<FakeDAOState>();
  RecordingUI UI;

  void SetUp() override {
    UI.State = State;
    Registry.Register(Engine36, State);
    SetDAOVersion(0);   // the run selects 3.6 itself
  }
  void Go(const std::wstring& database, const std::wstring& statement) {
    RunRequest(database, statement, Caption, UI);
    EXPECT_TRUE(State->LiveObjects().empty()) << "references left after the run";
    EXPECT_EQ(CurrentX87ControlWord(), Layer.AppSide);
  }
  const Box& OnlyBox() {
    EXPECT_EQ(UI.Boxes.size(), 1u);
    return UI.Boxes.at(0);
  }
};

TEST_F(Run, InputChecksStopBeforeAnythingIsCreated) {
  for (const wchar_t* blank : {L"", L"   ", L" \t\r\n\x01 "}) {
    UI.Boxes.clear();
    Go(blank, L"DELETE FROM t");
    EXPECT_EQ(OnlyBox().Text, L"Please specify database!");
    EXPECT_EQ(OnlyBox().Caption, Caption);
    EXPECT_EQ(OnlyBox().Flags, static_cast<unsigned>(MB_ICONERROR));
  }
  UI.Boxes.clear();
  Go(L"C:\\x.mdb", L"");
  EXPECT_EQ(OnlyBox().Text, L"Please specify SQL query!");
  EXPECT_EQ(OnlyBox().Caption, Caption);
  EXPECT_EQ(OnlyBox().Flags, static_cast<unsigned>(MB_ICONERROR));
  EXPECT_TRUE(Registry.Requests.empty());
  EXPECT_TRUE(UI.Cursors.empty());
}

TEST_F(Run, EngineReceivesTheUntrimmedTextsAndTheExpectedArgumentTypes) {
  const std::wstring path = L"  C:\\Data\\shop.mdb  ";
  const std::wstring statement = L"UPDATE t SET a = 1 \r\n";
  Go(path, statement);
  EXPECT_EQ(DAOVersion, 3);
  const FakeCall* open = State->FindCall(L"DBEngine.OpenDatabase");
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(ArgText(open->Args[0]), path);
  EXPECT_EQ(open->Args[1].Type(), VT_BOOL);
  EXPECT_EQ(open->Args[1].Raw().boolVal, VARIANT_FALSE);
  EXPECT_EQ(open->Args[2].Type(), VT_BOOL);
  EXPECT_EQ(open->Args[2].Raw().boolVal, VARIANT_FALSE);
  EXPECT_EQ(open->Args[3].Type(), VT_ERROR);
  EXPECT_EQ(open->Args[3].Raw().scode, DISP_E_PARAMNOTFOUND);
  const FakeCall* exec = State->FindCall(L"Database.Execute");
  ASSERT_NE(exec, nullptr);
  EXPECT_EQ(ArgText(exec->Args[0]), statement);
  EXPECT_EQ(exec->Args[1].Type(), VT_I4);
  EXPECT_EQ(exec->Args[1].Raw().lVal, 128);
  // Open, execute, count: in this order, each on the engine side of the frame.
  int open_at = State->IndexOf(L"DBEngine.OpenDatabase"), exec_at = State->IndexOf(L"Database.Execute"),
      count_at = State->IndexOf(L"Database.get_RecordsAffected");
  EXPECT_LT(open_at, exec_at);
  EXPECT_LT(exec_at, count_at);
  EXPECT_EQ(State->Calls[count_at].ControlWord, EngineSideControlWord);
  EXPECT_EQ(State->CountCalls(L"DBEngine.get_Errors"), 0);
}

TEST_F(Run, StatementOfBlanksReachesTheEngine) {
  State->FailCall(L"Database.Execute", E_FAIL);
  Go(L"x.mdb", L"   ");
  EXPECT_EQ(ArgText(State->FindCall(L"Database.Execute")->Args[0]), L"   ");
  EXPECT_EQ(OnlyBox().Caption, L"ERROR");
}

TEST_F(Run, RecordsMessageWording) {
  struct Case {
    const wchar_t* Statement;
    LONG Count;
    const wchar_t* Message;
  };
  const Case cases[] = {
      {L"DELETE FROM t WHERE x=1", 3, L"3 records deleted."},
      {L"Delete * From t", 2, L"2 records deleted."},
      {L"dElEtE FROM t", 0, L"0 records deleted."},
      {L"delete", 5, L"5 records deleted."},
      {L" DELETE FROM t", 3, L"3 records updated."},
      {L"\r\nDELETE FROM t", 3, L"3 records updated."},
      {L"DELET", 1, L"1 records updated."},
      {L"UPDATE t SET a=1 WHERE 0=1", 0, L"0 records updated."},
      {L"UPDATE t SET a=1", 1, L"1 records updated."},
      {L"INSERT INTO t VALUES (1)", 1, L"1 records updated."},
      {L"CREATE TABLE u (a INT)", 0, L"0 records updated."},
      {L"UPDATE big SET a=1", 2147483647, L"2147483647 records updated."},
  };
  for (const Case& c : cases) {
    UI.Boxes.clear();
    State->RecordsAffected = c.Count;
    Go(L"x.mdb", c.Statement);
    EXPECT_EQ(OnlyBox().Text, c.Message) << WideToUtf8(c.Statement);
    EXPECT_EQ(OnlyBox().Caption, Caption);
    EXPECT_EQ(OnlyBox().Flags, static_cast<unsigned>(MB_ICONINFORMATION));
  }
}

TEST_F(Run, RecordsMessageShowsWhileTheDatabaseIsOpen) {
  Go(L"x.mdb", L"UPDATE t SET a=1");
  const Box& box = OnlyBox();
  EXPECT_EQ(box.DatabaseRefs, 1);
  EXPECT_EQ(box.EngineRefs, 1);
  EXPECT_EQ(box.Cursor, 0);
  EXPECT_EQ(UI.Cursors, (std::vector<int>{-11, 0}));
  // The database is released after the message, the engine after the database.
  int db_gone = -1, engine_gone = -1;
  for (size_t i = box.CallsBefore; i < State->Calls.size(); ++i) {
    const FakeCall& c = State->Calls[i];
    if (c.Member == L"Release" && c.RefCount == 0 && c.Object == L"Database1") db_gone = static_cast<int>(i);
    if (c.Member == L"Release" && c.RefCount == 0 && c.Object == L"DBEngine1") engine_gone = static_cast<int>(i);
  }
  EXPECT_GE(db_gone, 0);
  EXPECT_GT(engine_gone, db_gone);
}

TEST_F(Run, FailedExecuteShowsTheErrorBoxAfterReleasingTheDatabase) {
  State->ErrorDescriptions = {L"Syntax error in UPDATE statement.", L"second", L"third"};
  State->FailCall(L"Database.Execute", static_cast<HRESULT>(0x800A0BB8));
  Go(L"x.mdb", L"UPDATE SET");
  const Box& box = OnlyBox();
  EXPECT_EQ(box.Text, L"DAODatabase.Execute failed\r\rSyntax error in UPDATE statement.\r\nsecond\r\nthird");
  EXPECT_EQ(box.Caption, L"ERROR");
  EXPECT_EQ(box.Flags, static_cast<unsigned>(MB_OK));
  EXPECT_EQ(box.Cursor, 0);
  EXPECT_EQ(UI.Cursors, (std::vector<int>{-11, 0}));
  EXPECT_EQ(box.DatabaseRefs, 0);   // closed before the box
  EXPECT_EQ(box.EngineRefs, 1);     // released only after it
  EXPECT_EQ(State->CountCalls(L"DBEngine.get_Errors"), 1);   // the collection is asked for once
  EXPECT_EQ(State->CountCalls(L"Database.get_RecordsAffected"), 0);
  for (int i = 1; i <= 3; ++i) {
    const FakeCall* item = State->FindCall(L"Errors.get_Item", i);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Args[0].Type(), VT_I4);
    EXPECT_EQ(item->Args[0].Raw().lVal, i - 1);
  }
}

TEST_F(Run, FailedOpenLeavesTheCursorAlone) {
  State->ErrorDescriptions = {L"Could not find file 'x.mdb'."};
  State->FailCall(L"DBEngine.OpenDatabase", static_cast<HRESULT>(0x800A0BDC));
  Go(L"x.mdb", L"DELETE FROM t");
  EXPECT_EQ(OnlyBox().Text, L"DAODBEngine.OpenDatabase failed\r\rCould not find file 'x.mdb'.");
  EXPECT_TRUE(UI.Cursors.empty());
}

TEST_F(Run, FailedCountAndEmptyErrorList) {
  State->FailCall(L"Database.get_RecordsAffected", E_UNEXPECTED);
  Go(L"x.mdb", L"DELETE FROM t");
  EXPECT_EQ(OnlyBox().Text, L"DAODatabase.GetRecordsAffected failed\r\r");
  EXPECT_EQ(OnlyBox().DatabaseRefs, 0);
}

TEST_F(Run, ErrorTextKeepsWhatWasGatheredBeforeAFailure) {
  struct Case {
    const wchar_t* Member;
    int Occurrence;
    const wchar_t* Tail;
  };
  const Case cases[] = {
      {L"Errors.get_Item", 2, L"one"},
      {L"Error.get_Description", 2, L"one\r\n"},
      {L"Errors.get_Count", 1, L""},
      {L"DBEngine.get_Errors", 1, L""},
  };
  for (const Case& c : cases) {
    State = std::make_shared<FakeDAOState>();
    UI.State = State;
    UI.Boxes.clear();
    Registry.Register(Engine36, State);
    State->ErrorDescriptions = {L"one", L"two", L"three"};
    State->FailCall(L"Database.Execute", E_FAIL);
    State->FailCall(c.Member, E_FAIL, c.Occurrence);
    Go(L"x.mdb", L"UPDATE t SET a=1");
    EXPECT_EQ(OnlyBox().Text, std::wstring(L"DAODatabase.Execute failed\r\r") + c.Tail) << WideToUtf8(c.Member);
  }
}

TEST_F(Run, FailureOtherThanAnEngineCallGetsNoEngineText) {
  State->ErrorDescriptions = {L"stale engine error"};
  UI.DuringMessage = [this] {
    if (UI.Boxes.size() == 1) throw Exception(L"Out of window handles");
  };
  Go(L"x.mdb", L"UPDATE t SET a=1");
  ASSERT_EQ(UI.Boxes.size(), 2u);
  EXPECT_EQ(UI.Boxes[1].Text, L"Out of window handles\r\r");
  EXPECT_EQ(UI.Boxes[1].Caption, L"ERROR");
  EXPECT_EQ(UI.Boxes[1].DatabaseRefs, 0);
  EXPECT_EQ(State->CountCalls(L"DBEngine.get_Errors"), 0);

  // Called directly: only EDAOError (and what derives from it) reads the engine's errors.
  IDispatch* raw = CreateFakeEngine(State);
  DAODBEngine engine(raw, nullptr);
  raw->Release();
  EXPECT_EQ(GetDAOError(EDAOConvError(L"Variant is not of type VT_Dispatch"), &engine), L"");
  EXPECT_EQ(GetDAOError(EDAOError(L"DAODatabase.Execute failed", E_FAIL), &engine), L"stale engine error");
}

TEST_F(Run, FaultInsideTheEngineIsShownLikeAnyOtherFailure) {
  // A structured exception (here an access violation) escaping Execute: the run goes on to
  // its ERROR box instead of the process ending, with no engine text (not an HRESULT).
  State->ErrorDescriptions = {L"stale engine error"};
  State->RaiseInCall(L"Database.Execute", EXCEPTION_ACCESS_VIOLATION);
  Go(L"x.mdb", L"DELETE FROM t");
  const Box& box = OnlyBox();
  EXPECT_EQ(box.Text.rfind(L"External exception C0000005 at address ", 0), 0u) << WideToUtf8(box.Text);
  EXPECT_EQ(box.Text.substr(box.Text.size() - 2), L"\r\r");
  EXPECT_EQ(box.Caption, L"ERROR");
  EXPECT_EQ(box.Cursor, 0);
  EXPECT_EQ(box.DatabaseRefs, 0);
  EXPECT_EQ(box.EngineRefs, 1);
  EXPECT_EQ(State->CountCalls(L"DBEngine.get_Errors"), 0);
}

TEST_F(Run, EngineCreationFailuresLeaveTheRun) {
  struct Case {
    bool Registered;
    const wchar_t* Message;
    HRESULT Code;
  };
  for (const Case& c : {Case{false, L"DAO.CreateEngineFactory failed", REGDB_E_CLASSNOTREG},
                        Case{true, L"DAO.CreateEngine failed", E_ACCESSDENIED}}) {
    FakeRegistry registry;   // a fresh registry: nothing registered unless asked
    auto state = std::make_shared<FakeDAOState>();
    state->FailCall(L"Factory.CreateInstance", E_ACCESSDENIED);
    if (c.Registered) registry.Register(Engine36, state);
    try {
      RunRequest(L"x.mdb", L"DELETE FROM t", Caption, UI);
      ADD_FAILURE();
    } catch (const EDAOError& e) {
      EXPECT_EQ(e.Message(), c.Message);
      EXPECT_EQ(e.ErrorCode, c.Code);
    }
    EXPECT_TRUE(UI.Boxes.empty());
    EXPECT_TRUE(state->LiveObjects().empty());
    EXPECT_EQ(CurrentX87ControlWord(), Layer.AppSide);
  }
}

}  // namespace
