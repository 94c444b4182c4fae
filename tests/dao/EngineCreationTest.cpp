// Choosing the DAO generation and creating the engine through its class factory.
#include <gtest/gtest.h>

#include "dao/DAOHooks.h"
#include "dao/OpDAO3x.h"
#include "tests/support/FakeRegistry.h"
#include "tests/support/LayerSession.h"

using namespace fakedao;

namespace {

std::wstring Text(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

const wchar_t* const Engine36 = L"{00000100-0000-0010-8000-00AA006D2EA4}";
const wchar_t* const Private36 = L"{00000101-0000-0010-8000-00AA006D2EA4}";
const wchar_t* const Engine35 = L"{00000010-0000-0010-8000-00AA006D2EA4}";
const wchar_t* const Engine30 = L"{00025E15-0000-0000-C000-000000000046}";
const wchar_t* const Private30 = L"{00025E19-0000-0000-C000-000000000046}";
const wchar_t* const Interface35 = L"{00000021-0000-0010-8000-00AA006D2EA4}";
const wchar_t* const Interface30 = L"{00025E17-0000-0000-C000-000000000046}";

CLSID Clsid(const wchar_t* text) {
  CLSID id;
  CLSIDFromString(const_cast<LPOLESTR>(text), &id);
  return id;
}

class Creation : public ::testing::Test {
protected:
  LayerSession Layer;
  FakeRegistry Registry;   // restores the layer's engine state afterwards
  FakeDAOStatePtr State = std::make_shared<FakeDAOState>();

  void SetUp() override {
    SetDAOVersion(0);
    EngineCLSID = PrivateEngineCLSID = EngineIID = GUID{};
    JetLibraryName.clear();
    JetLoaded = false;
  }
  // CreateDAOEngine must fail with `message` and `code`.
  static void ExpectCreationFailure(const wchar_t* message, HRESULT code) {
    try {
      CreateDAOEngine();
      ADD_FAILURE() << "an engine was created";
    } catch (const EDAOError& e) {
      EXPECT_EQ(e.Message(), message);
      EXPECT_EQ(e.ErrorCode, code);
    }
  }
  std::vector<std::wstring> RequestedClasses() const {
    std::vector<std::wstring> out;
    for (const auto& r : Registry.Requests) out.push_back(Text(r.Class));
    return out;
  }
};

TEST_F(Creation, SetDAOVersionCopiesTheRowOfKnownGenerationsOnly) {
  SetDAOVersion(1);
  EXPECT_EQ(Text(EngineCLSID), Engine30);
  EXPECT_EQ(Text(PrivateEngineCLSID), Private30);
  EXPECT_EQ(Text(EngineIID), Interface30);
  EXPECT_EQ(JetLibraryName, L"MSJT3032.dll");
  SetDAOVersion(2);
  EXPECT_EQ(Text(EngineCLSID), Engine35);
  EXPECT_EQ(Text(EngineIID), Interface35);
  EXPECT_EQ(JetLibraryName, L"MSJET35.dll");
  SetDAOVersion(3);
  EXPECT_EQ(Text(EngineCLSID), Engine36);
  EXPECT_EQ(Text(PrivateEngineCLSID), Private36);
  EXPECT_EQ(Text(EngineIID), Interface35);
  EXPECT_EQ(JetLibraryName, L"MSJET40.dll");
  for (uint8_t other : {uint8_t(0), uint8_t(7), uint8_t(255)}) {
    SetDAOVersion(other);
    EXPECT_EQ(DAOVersion, other);
    EXPECT_EQ(Text(EngineCLSID), Engine36);
    EXPECT_EQ(JetLibraryName, L"MSJET40.dll");
  }
}

TEST_F(Creation, SelectedGenerationIsCreatedInsideTheFrameAndLoadsItsLibraryOnce) {
  Registry.Register(Clsid(Engine36), State);
  SetDAOVersion(3);
  auto first = CreateDAOEngine();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Parent, nullptr);
  ASSERT_EQ(Registry.Requests.size(), 1u);
  const auto& request = Registry.Requests[0];
  EXPECT_EQ(Text(request.Class), Engine36);
  EXPECT_EQ(request.Context, static_cast<DWORD>(CLSCTX_INPROC_SERVER));
  EXPECT_FALSE(request.ServerInfoGiven);
  EXPECT_EQ(Text(request.Interface), Text(IID_IClassFactory));
  EXPECT_EQ(request.ControlWord, EngineSideControlWord);
  const FakeCall* create = State->FindCall(L"Factory.CreateInstance");
  ASSERT_NE(create, nullptr);
  EXPECT_EQ(create->Args[0].Text(), Interface35);
  EXPECT_EQ(create->Args[1].Raw().boolVal, VARIANT_FALSE);   // no outer object
  EXPECT_EQ(create->ControlWord, EngineSideControlWord);
  EXPECT_EQ(Registry.LoadedLibraries, std::vector<std::wstring>{L"MSJET40.dll"});
  EXPECT_EQ(Registry.LoadControlWords, std::vector<uint16_t>{EngineSideControlWord});
  EXPECT_TRUE(JetLoaded);   // set although the load found nothing
  EXPECT_EQ(CurrentX87ControlWord(), Layer.AppSide);

  // The wrapper's reference is taken in a frame of its own, after the creation's frame was
  // left; then the factory and the temporary engine reference are dropped, in this order,
  // on the application side.
  std::vector<std::wstring> tail;
  for (size_t i = State->IndexOf(L"Factory.CreateInstance") + 1; i < State->Calls.size(); ++i) {
    const FakeCall& c = State->Calls[i];
    if (c.Member != L"AddRef" && c.Member != L"Release") continue;
    tail.push_back(c.Object + L"." + c.Member + (c.ControlWord == EngineSideControlWord ? L"/engine" : L"/app"));
  }
  // (The factory hands out the new engine through QueryInterface: DBEngine1 AddRef/Release
  // inside CreateInstance belong to the engine's own bookkeeping.)
  ASSERT_GE(tail.size(), 3u);
  EXPECT_EQ(std::vector<std::wstring>(tail.end() - 3, tail.end()),
            (std::vector<std::wstring>{L"DBEngine1.AddRef/engine", L"Factory1.Release/app", L"DBEngine1.Release/app"}));

  // Only the engine wrapper's reference is left; the factory and the temporary are gone.
  EXPECT_EQ(State->LiveObjects(), std::vector<std::wstring>{L"DBEngine1"});
  EXPECT_EQ(State->RefCount(L"DBEngine1"), 1);

  // Another generation created later does not load its own library.
  FakeDAOStatePtr other = std::make_shared<FakeDAOState>();
  Registry.Register(Clsid(Engine35), other);
  SetDAOVersion(2);
  auto second = CreateDAOEngine();
  EXPECT_EQ(Registry.LoadedLibraries.size(), 1u);
  first.reset();
  second.reset();
  EXPECT_TRUE(State->LiveObjects().empty());
  EXPECT_TRUE(other->LiveObjects().empty());
}

TEST_F(Creation, PrivateEngineAsksForThePrivateClassAndTheSameInterface) {
  Registry.Register(Clsid(Private36), State);
  SetDAOVersion(3);
  auto engine = CreateDAOEngine(true);
  ASSERT_EQ(Registry.Requests.size(), 1u);
  EXPECT_EQ(Text(Registry.Requests[0].Class), Private36);
  EXPECT_EQ(State->FindCall(L"Factory.CreateInstance")->Args[0].Text(), Interface35);
}

TEST_F(Creation, UnregisteredSelectedGenerationFailsWithoutProbing) {
  SetDAOVersion(3);
  ExpectCreationFailure(L"DAO.CreateEngineFactory failed", REGDB_E_CLASSNOTREG);
  EXPECT_EQ(RequestedClasses(), std::vector<std::wstring>{Engine36});
  EXPECT_EQ(DAOVersion, 3);
  EXPECT_FALSE(JetLoaded);
  EXPECT_TRUE(Registry.LoadedLibraries.empty());
  EXPECT_EQ(CurrentX87ControlWord(), Layer.AppSide);
}

TEST_F(Creation, RefusedInstanceIsReportedAndNothingIsKept) {
  State->FailCall(L"Factory.CreateInstance", E_OUTOFMEMORY);
  Registry.Register(Clsid(Engine36), State);
  SetDAOVersion(3);
  ExpectCreationFailure(L"DAO.CreateEngine failed", E_OUTOFMEMORY);
  EXPECT_TRUE(State->LiveObjects().empty());
  EXPECT_FALSE(JetLoaded);
  EXPECT_EQ(CurrentX87ControlWord(), Layer.AppSide);
}

TEST_F(Creation, InstanceReportedButNotHandedOutIsARefusal) {
  State->SucceedWithoutObject = {L"Factory.CreateInstance"};
  Registry.Register(Clsid(Engine36), State);
  SetDAOVersion(3);
  ExpectCreationFailure(L"DAO.CreateEngine failed", E_POINTER);
  EXPECT_TRUE(State->LiveObjects().empty());
}

TEST_F(Creation, ProbingTakesTheNewestAvailableGenerationAndKeepsIt) {
  Registry.Register(Clsid(Engine35), State);
  auto engine = CreateDAOEngine();
  EXPECT_EQ(RequestedClasses(), (std::vector<std::wstring>{Engine36, Engine35}));
  EXPECT_EQ(DAOVersion, 2);
  EXPECT_EQ(Registry.LoadedLibraries, std::vector<std::wstring>{L"MSJET35.dll"});
  auto again = CreateDAOEngine();
  EXPECT_EQ(RequestedClasses(), (std::vector<std::wstring>{Engine36, Engine35, Engine35}));
}

TEST_F(Creation, ProbingGoesOnWhenAFactoryRefusesTheInstance) {
  FakeDAOStatePtr refusing = std::make_shared<FakeDAOState>();
  refusing->FailCall(L"Factory.CreateInstance", E_FAIL);
  Registry.Register(Clsid(Engine36), refusing);
  Registry.Register(Clsid(Engine30), State);
  auto engine = CreateDAOEngine();
  EXPECT_EQ(RequestedClasses(), (std::vector<std::wstring>{Engine36, Engine35, Engine30}));
  EXPECT_EQ(DAOVersion, 1);
  EXPECT_EQ(State->FindCall(L"Factory.CreateInstance")->Args[0].Text(), Interface30);
  EXPECT_TRUE(refusing->LiveObjects().empty());
}

TEST_F(Creation, NoGenerationAvailableEndsWithVersionZeroAndGenerationOneIdentifiers) {
  ExpectCreationFailure(L"DAO.CreateEngineFactory failed", 0);
  EXPECT_EQ(RequestedClasses(), (std::vector<std::wstring>{Engine36, Engine35, Engine30}));
  EXPECT_EQ(DAOVersion, 0);
  EXPECT_EQ(JetLibraryName, L"MSJT3032.dll");
  EXPECT_EQ(Text(EngineCLSID), Engine30);
  EXPECT_EQ(Text(EngineIID), Interface30);
  EXPECT_EQ(CurrentX87ControlWord(), Layer.AppSide);
}

TEST_F(Creation, ResetToZeroProbesAgainFromTheNewest) {
  Registry.Register(Clsid(Engine36), State);
  SetDAOVersion(3);
  SetDAOVersion(0);
  EXPECT_EQ(Text(EngineCLSID), Engine36);
  auto engine = CreateDAOEngine();
  EXPECT_EQ(RequestedClasses(), std::vector<std::wstring>{Engine36});
  EXPECT_EQ(DAOVersion, 3);
}

TEST_F(Creation, UnknownVersionUsesTheLastIdentifiersWithoutProbing) {
  SetDAOVersion(7);
  ExpectCreationFailure(L"DAO.CreateEngineFactory failed", REGDB_E_CLASSNOTREG);
  ASSERT_EQ(Registry.Requests.size(), 1u);
  EXPECT_EQ(Text(Registry.Requests[0].Class), Text(GUID{}));
  EXPECT_EQ(DAOVersion, 7);
}

TEST(CreationThroughCom, ClassObjectsRegisteredWithComAreFound) {
  LayerSession layer;
  FakeRegistry registry;
  registry.PassThrough(true);
  DAOPlatform.LoadJetLibrary = DAOSystemPlatform.LoadJetLibrary;   // the real LoadLibraryW
  JetLoaded = false;
  auto state = std::make_shared<FakeDAOState>();
  {
    FakeRegistration registration(state, Clsid(Engine36));
    ASSERT_EQ(registration.Result(), S_OK);
    SetDAOVersion(3);
    auto engine = CreateDAOEngine();
    engine->GetErrors();
    EXPECT_EQ(state->CountCalls(L"DBEngine.get_Errors"), 1);
    EXPECT_TRUE(JetLoaded);   // Jet itself is absent here; the engine works all the same
    EXPECT_EQ(GetModuleHandleW(L"MSJET40.dll"), nullptr);
  }
  EXPECT_TRUE(state->LiveObjects().empty());
}

}  // namespace
