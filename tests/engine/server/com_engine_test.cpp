// daoengine.dll as clients meet it: created through the registry, databases opened on
// copies of Access files, statements executed, failures read back from the errors
// collection and IErrorInfo, references released in every order.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include "com_support.h"

using namespace comtest;
using bv::server::CLSID_Engine;
using bv::server::CLSID_PrivateEngine;

namespace {

// The server registered as regsvr32 does it, and COM initialised for the test thread.
class RegisteredServer : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_EQ(regsvr32(false), 0u) << "regsvr32 failed";
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  }
  void TearDown() override { CoUninitialize(); }
};
const auto* const kServer = ::testing::AddGlobalTestEnvironment(new RegisteredServer);

#define REQUIRE_FIXTURE(var, rel)                                                  \
  const std::wstring var = copyFixture(rel);                                       \
  if (var.empty()) GTEST_SKIP() << "shared fixtures absent: " << rel << " skipped"

class Engine : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(createEngine(&engine), S_OK); }
  void TearDown() override {
    if (db) db->Release();
    if (engine) engine->Release();
    EXPECT_EQ(canUnloadNow(), S_OK) << "an object of the server is still alive";
  }
  _DAODBEngine* engine = nullptr;
  DAODatabase* db = nullptr;
};

}  // namespace

TEST(EngineClass, BothClassesComeThroughTheRegistryWithExactReferenceCounts) {
  for (const GUID& clsid : {CLSID_Engine, CLSID_PrivateEngine}) {
    _DAODBEngine* engine = nullptr;
    ASSERT_EQ(createEngine(&engine, clsid), S_OK);
    Bstr version;
    ASSERT_EQ(engine->get_Version(version.out()), S_OK);
    EXPECT_EQ(version.str(), L"3.6");
    EXPECT_EQ(engine->AddRef(), 2u);
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(engine->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    EXPECT_EQ(static_cast<void*>(dispatch), static_cast<void*>(engine));
    ISupportErrorInfo* support = nullptr;
    ASSERT_EQ(engine->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(bv::server::IID_DBEngine), S_OK);
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(engine->QueryInterface(bv::server::IID_Database, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(support->Release(), 3u);
    EXPECT_EQ(dispatch->Release(), 2u);
    EXPECT_EQ(engine->Release(), 1u);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    EXPECT_EQ(engine->Release(), 0u);
  }
  EXPECT_EQ(canUnloadNow(), S_OK);
  // The ProgIDs name the classes.
  CLSID byName{};
  ASSERT_EQ(CLSIDFromProgID(L"DAO.DBEngine.36", &byName), S_OK);
  EXPECT_TRUE(IsEqualCLSID(byName, CLSID_Engine));
  ASSERT_EQ(CLSIDFromProgID(L"DAO.PrivateDBEngine.36", &byName), S_OK);
  EXPECT_TRUE(IsEqualCLSID(byName, CLSID_PrivateEngine));
}

TEST(EngineClass, FactoryRulesAndNullPointers) {
  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(CLSID_Engine, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  IUnknown* outer = reinterpret_cast<IUnknown*>(factory);
  void* out = nullptr;
  EXPECT_EQ(factory->CreateInstance(outer, bv::server::IID_DBEngine, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, bv::server::IID_DBEngine, nullptr), E_POINTER);
  EXPECT_EQ(factory->CreateInstance(nullptr, bv::server::IID_Errors, &out), E_NOINTERFACE);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  EXPECT_EQ(canUnloadNow(), S_FALSE) << "a server lock keeps the DLL";
  CoGetClassObject(CLSID_Engine, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                   reinterpret_cast<void**>(&factory));
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory->Release();
  EXPECT_EQ(canUnloadNow(), S_OK);

  _DAODBEngine* engine = nullptr;
  ASSERT_EQ(createEngine(&engine), S_OK);
  Bstr name(L"x.mdb");
  EXPECT_EQ(engine->OpenDatabase(name.get(), vbool(false), vbool(false), missing(), nullptr), E_POINTER);
  EXPECT_EQ(engine->get_Errors(nullptr), E_POINTER);
  EXPECT_EQ(engine->get_Version(nullptr), E_POINTER);
  EXPECT_EQ(engine->get_Workspaces(nullptr), E_NOTIMPL);
  EXPECT_EQ(engine->Release(), 0u);
}

TEST_F(Engine, OpensAJet4AndAJet3FileAndReportsWhatItOpened) {
  REQUIRE_FIXTURE(jet4, "jet4/testV2000.mdb");
  const std::wstring jet3 = copyFixture("jet3/testV1997.mdb");
  ASSERT_EQ(openDatabase(engine, jet4, &db), S_OK);
  Bstr name, version;
  ASSERT_EQ(db->get_Name(name.out()), S_OK);
  EXPECT_EQ(name.str(), jet4);
  VARIANT_BOOL updatable = VARIANT_FALSE;
  ASSERT_EQ(db->get_Updatable(&updatable), S_OK);
  EXPECT_EQ(updatable, VARIANT_TRUE);
  ASSERT_EQ(db->get_Version(version.out()), S_OK);
  EXPECT_EQ(version.str(), L"4.0");
  LONG records = -1;
  ASSERT_EQ(db->get_RecordsAffected(&records), S_OK);
  EXPECT_EQ(records, 0);
  EXPECT_EQ(db->get_TableDefs(nullptr), E_NOTIMPL);
  // A name with a NUL inside is not cut short to another file's name.
  DAODatabase* cut = nullptr;
  EXPECT_EQ(openDatabase(engine, jet4 + std::wstring(1, L'\0') + L"x", &cut), jet(3044));
  EXPECT_EQ(cut, nullptr);

  DAODatabase* db3 = nullptr;
  ASSERT_EQ(openDatabase(engine, jet3, &db3), S_OK);
  EXPECT_EQ(db3->Release(), 0u);
  // Under Wine, a Unix path names the file too; the database keeps the name it was given.
  const std::wstring unixPath =
      winPath(std::string(BV_FIXTURES_DIR) + "/jet3/testV1997.mdb").substr(2);
  std::wstring slashed = unixPath;
  for (wchar_t& c : slashed) c = (c == L'\\') ? L'/' : c;
  ASSERT_EQ(openDatabase(engine, slashed, &db3, /*readOnly=*/true), S_OK);
  ASSERT_EQ(db3->get_Name(name.out()), S_OK);
  EXPECT_EQ(name.str(), slashed);
  ASSERT_EQ(db3->get_Version(version.out()), S_OK);
  EXPECT_EQ(version.str(), L"3.0");
  EXPECT_EQ(db3->Release(), 0u);
}

TEST_F(Engine, AFailedCallFillsTheErrorsCollectionAndIErrorInfoAndALaterOneReplacesThem) {
  REQUIRE_FIXTURE(path, "jet4/testV2000.mdb");
  ASSERT_EQ(openDatabase(engine, path, &db), S_OK);
  EXPECT_EQ(execute(db, L"UPDATE Tabel1 SET C = 1"), jet(3078));
  std::vector<ErrorSeen> errors = readErrors(engine);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].number, 3078);
  EXPECT_NE(errors[0].description.find(L"Tabel1"), std::wstring::npos) << errors[0].description.c_str();
  EXPECT_EQ(errors[0].source, L"DAO.Database");
  ErrorSeen info = takeErrorInfo();
  EXPECT_EQ(info.description, errors[0].description);
  EXPECT_EQ(info.source, L"DAO.Database");

  // The collection object is the engine's own, read live; an Error fetched earlier keeps
  // what it said.
  DAOErrors* live = nullptr;
  ASSERT_EQ(engine->get_Errors(&live), S_OK);
  DAOErrors* again = nullptr;
  ASSERT_EQ(engine->get_Errors(&again), S_OK);
  EXPECT_EQ(live, again);
  again->Release();
  DAOError* first = nullptr;
  VARIANT zero;
  VariantInit(&zero);
  zero.vt = VT_UI1;
  zero.bVal = 0;
  ASSERT_EQ(live->get_Item(zero, &first), S_OK);

  // A syntax error, then a missing file (an engine failure) replace the list.
  EXPECT_LT(execute(db, L"UPDATE Table1 SET"), 0);
  errors = readErrors(engine);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].number, 3078);
  DAODatabase* none = nullptr;
  EXPECT_EQ(openDatabase(engine, path + L".missing.mdb", &none), jet(3024));
  EXPECT_EQ(none, nullptr);
  errors = readErrors(engine);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].number, 3024);
  EXPECT_EQ(errors[0].source, L"DAO.DBEngine");
  EXPECT_EQ(takeErrorInfo().source, L"DAO.DBEngine");
  LONG number = 0;
  first->get_Number(&number);
  EXPECT_EQ(number, 3078);

  // Out of range and wrong kinds fail without emptying the collection.
  DAOError* item = nullptr;
  EXPECT_EQ(live->get_Item(i4(1), &item), jet(3265));
  EXPECT_EQ(live->get_Item(i4(-1), &item), jet(3265));
  VARIANT name = text(L"0");
  EXPECT_EQ(live->get_Item(name, &item), DISP_E_TYPEMISMATCH);
  VariantClear(&name);
  EXPECT_EQ(item, nullptr);
  EXPECT_EQ(live->Refresh(), S_OK);
  short count = 0;
  EXPECT_EQ(live->get_Count(&count), S_OK);
  EXPECT_EQ(count, 1);
  first->Release();
  live->Release();
}

TEST_F(Engine, ExecuteReportsTheRecordsAffectedByTheLastStatement) {
  REQUIRE_FIXTURE(path, "jet4/testV2000.mdb");
  ASSERT_EQ(openDatabase(engine, path, &db), S_OK);
  const HRESULT hr = execute(db, L"UPDATE Table1 SET C = C + 1");
  ASSERT_EQ(hr, S_OK);
  LONG records = -1;
  ASSERT_EQ(db->get_RecordsAffected(&records), S_OK);
  EXPECT_EQ(records, 2);
  ASSERT_EQ(execute(db, L"DELETE FROM Table1 WHERE A = 'nobody'"), S_OK);
  db->get_RecordsAffected(&records);
  EXPECT_EQ(records, 0);
  ASSERT_EQ(execute(db, L"DELETE FROM Table1 WHERE A = 'a'", 0), S_OK);
  db->get_RecordsAffected(&records);
  EXPECT_EQ(records, 1);
  // A failed statement affected nothing.
  EXPECT_EQ(execute(db, L"DELETE FROM Tabel1"), jet(3078));
  db->get_RecordsAffected(&records);
  EXPECT_EQ(records, 0);
  // Each database object counts its own statements.
  DAODatabase* second = nullptr;
  ASSERT_EQ(openDatabase(engine, path, &second), S_OK);
  second->get_RecordsAffected(&records);
  EXPECT_EQ(records, 0);
  second->Release();
}

TEST_F(Engine, ExecuteOptionsAndArgumentKinds) {
  REQUIRE_FIXTURE(path, "jet4/testV2000.mdb");
  ASSERT_EQ(openDatabase(engine, path, &db), S_OK);
  // Pass-through, ODBCDirect and unknown bits are refused before the statement is looked at.
  EXPECT_EQ(execute(db, L"UPDATE Table1 SET C = 1", 64), jet(3001));
  EXPECT_EQ(execute(db, L"UPDATE Table1 SET C = 1", 0x10000 | 128), jet(3001));
  EXPECT_NE(readErrors(engine).at(0).description.find(L"0x10000"), std::wstring::npos);
  Bstr query(L"UPDATE Tabel1 SET C = 1");
  VARIANT options = text(L"128");
  EXPECT_EQ(db->Execute(query.get(), options), DISP_E_TYPEMISMATCH);
  VariantClear(&options);
  EXPECT_EQ(readErrors(engine).at(0).number, 13);
  // Accepted kinds reach the statement (which names no table of the file).
  VARIANT i2;
  VariantInit(&i2);
  i2.vt = VT_I2;
  i2.iVal = 128;
  EXPECT_EQ(db->Execute(query.get(), i2), jet(3078));
  EXPECT_EQ(db->Execute(query.get(), missing()), jet(3078));
  // OpenDatabase's flags: a text is no Boolean; a foreign connect type has no driver here.
  Bstr file(path);
  DAODatabase* other = nullptr;
  VARIANT yes = text(L"yes");
  EXPECT_EQ(engine->OpenDatabase(file.get(), yes, vbool(false), missing(), &other), DISP_E_TYPEMISMATCH);
  VariantClear(&yes);
  EXPECT_EQ(openDatabase(engine, path, &other, false, L"ODBC;DSN=sales"), jet(3170));
  EXPECT_EQ(other, nullptr);
  // Integer flags and a Jet connect string are fine.
  ASSERT_EQ(engine->OpenDatabase(file.get(), i4(0), i4(1), missing(), &other), S_OK);
  VARIANT_BOOL updatable = VARIANT_TRUE;
  other->get_Updatable(&updatable);
  EXPECT_EQ(updatable, VARIANT_FALSE);
  other->Release();
  ASSERT_EQ(openDatabase(engine, path, &other, false, L";PWD="), S_OK);
  other->Release();
}

TEST_F(Engine, AReadOnlyDatabaseRefusesChangesAfterCheckingTheStatement) {
  REQUIRE_FIXTURE(path, "jet4/testV2000.mdb");
  ASSERT_EQ(openDatabase(engine, path, &db, /*readOnly=*/true), S_OK);
  EXPECT_EQ(execute(db, L"UPDATE Tabel1 SET C = 1"), jet(3078));
  EXPECT_EQ(execute(db, L"UPDATE Table1 SET C = 1"), jet(3027));
  EXPECT_EQ(execute(db, L"SELECT * FROM Table1"), jet(3065));
  LONG records = -1;
  db->get_RecordsAffected(&records);
  EXPECT_EQ(records, 0);
  db->Release();
  db = nullptr;
  // A file marked read-only opens read-only.
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_EQ(openDatabase(engine, path, &db), S_OK);
  VARIANT_BOOL updatable = VARIANT_TRUE;
  db->get_Updatable(&updatable);
  EXPECT_EQ(updatable, VARIANT_FALSE);
  EXPECT_EQ(execute(db, L"DELETE FROM Table1"), jet(3027));
  EXPECT_NE(readErrors(engine).at(0).description.find(L"read-only"), std::wstring::npos);
  db->Release();
  db = nullptr;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Engine, AFileHeldByAnotherWriterIsNotOpened) {
  REQUIRE_FIXTURE(path, "jet4/testV2000.mdb");
  HANDLE held = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(openDatabase(engine, path, &db), jet(3051));
  EXPECT_EQ(db, nullptr);
  CloseHandle(held);
  EXPECT_EQ(openDatabase(engine, path, &db), S_OK);
}

TEST_F(Engine, CloseEndsTheDatabaseAndLaterCallsSayItIsGone) {
  REQUIRE_FIXTURE(path, "jet4/testV2000.mdb");
  ASSERT_EQ(openDatabase(engine, path, &db), S_OK);
  ASSERT_EQ(db->Close(), S_OK);
  // The file is free again: another process could take it whole.
  HANDLE whole = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(whole, INVALID_HANDLE_VALUE);
  CloseHandle(whole);
  EXPECT_EQ(execute(db, L"UPDATE Table1 SET C = 1"), jet(3420));
  LONG records = 0;
  EXPECT_EQ(db->get_RecordsAffected(&records), jet(3420));
  EXPECT_EQ(db->Close(), jet(3420));
  EXPECT_EQ(readErrors(engine).at(0).source, L"DAO.Database");
}

TEST_F(Engine, ReleaseInEveryOrderFreesEverything) {
  REQUIRE_FIXTURE(path, "jet4/testV2000.mdb");
  // Engine first: the database and the errors collection still work on their own.
  ASSERT_EQ(openDatabase(engine, path, &db), S_OK);
  DAOErrors* errors = nullptr;
  ASSERT_EQ(engine->get_Errors(&errors), S_OK);
  EXPECT_EQ(engine->Release(), 0u);
  engine = nullptr;
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  EXPECT_EQ(execute(db, L"UPDATE Tabel1 SET C = 1"), jet(3078));
  short count = 0;
  errors->get_Count(&count);
  EXPECT_EQ(count, 1);
  DAOError* error = nullptr;
  ASSERT_EQ(errors->get_Item(i4(0), &error), S_OK);
  EXPECT_EQ(errors->Release(), 0u);
  EXPECT_EQ(db->Release(), 0u);
  db = nullptr;
  EXPECT_EQ(canUnloadNow(), S_FALSE) << "the Error item is still held";
  Bstr description;
  EXPECT_EQ(error->get_Description(description.out()), S_OK);
  EXPECT_NE(description.str().find(L"Tabel1"), std::wstring::npos);
  EXPECT_EQ(error->Release(), 0u);
  EXPECT_EQ(canUnloadNow(), S_OK);
  // Database first, then the engine (the program's order), with the file closed at once.
  ASSERT_EQ(createEngine(&engine), S_OK);
  ASSERT_EQ(openDatabase(engine, path, &db), S_OK);
  EXPECT_EQ(db->Release(), 0u);
  db = nullptr;
  HANDLE whole = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(whole, INVALID_HANDLE_VALUE) << "the last release closes the file";
  CloseHandle(whole);
}

TEST_F(Engine, CreateDatabaseMakesAFileThatOpensInTheAskedFormat) {
  REQUIRE_FIXTURE(path, "jet4/testV2000.mdb");
  const std::wstring base = path.substr(0, path.size() - 4);
  Bstr existing(path), locale(L";LANGID=0x0409;CP=1252;COUNTRY=0");
  EXPECT_EQ(engine->CreateDatabase(existing.get(), locale.get(), missing(), &db), jet(3204));
  EXPECT_EQ(db, nullptr);
  // Default format Jet 4; a name without extension gets ".mdb".
  Bstr bare(base + L"-new");
  ASSERT_EQ(engine->CreateDatabase(bare.get(), locale.get(), missing(), &db), S_OK);
  Bstr name, version;
  db->get_Name(name.out());
  EXPECT_EQ(name.str(), base + L"-new.mdb");
  db->get_Version(version.out());
  EXPECT_EQ(version.str(), L"4.0");
  VARIANT_BOOL updatable = VARIANT_FALSE;
  db->get_Updatable(&updatable);
  EXPECT_EQ(updatable, VARIANT_TRUE);
  EXPECT_EQ(db->Release(), 0u);
  db = nullptr;
  ASSERT_EQ(openDatabase(engine, base + L"-new.mdb", &db), S_OK);
  EXPECT_EQ(db->Release(), 0u);
  db = nullptr;
  // dbVersion30 makes a Jet 3 file.
  Bstr jet3(base + L"-97.mdb");
  ASSERT_EQ(engine->CreateDatabase(jet3.get(), locale.get(), i4(32), &db), S_OK);
  db->get_Version(version.out());
  EXPECT_EQ(version.str(), L"3.0");
  EXPECT_EQ(db->Release(), 0u);
  db = nullptr;
  // What the engine cannot make is refused, and no file is left behind.
  Bstr refused(base + L"-refused.mdb"), withPassword(L";LANGID=0x0409;CP=1252;COUNTRY=0;pwd=secret");
  EXPECT_EQ(engine->CreateDatabase(refused.get(), locale.get(), i4(64 | 2), &db), jet(3251));
  EXPECT_EQ(engine->CreateDatabase(refused.get(), locale.get(), i4(16), &db), jet(3251));
  EXPECT_EQ(engine->CreateDatabase(refused.get(), locale.get(), i4(32 | 64), &db), jet(3001));
  EXPECT_EQ(engine->CreateDatabase(refused.get(), withPassword.get(), missing(), &db), jet(3251));
  EXPECT_EQ(db, nullptr);
  EXPECT_EQ(GetFileAttributesW((base + L"-refused.mdb").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Engine, TheSystemDatabaseSettingIsKept) {
  Bstr system(L"C:\\windows\\system32\\system.mdw"), read;
  EXPECT_EQ(engine->put_SystemDB(system.get()), S_OK);
  ASSERT_EQ(engine->get_SystemDB(read.out()), S_OK);
  EXPECT_EQ(read.str(), system.str());
}

TEST_F(Engine, AnExclusiveOpenKeepsOtherUsersOutAndAShareOneKeepsItOut) {
  REQUIRE_FIXTURE(path, "jet4/testV2000.mdb");
  Bstr file(path);
  ASSERT_EQ(engine->OpenDatabase(file.get(), vbool(true), vbool(false), missing(), &db), S_OK);
  _DAODBEngine* other = nullptr;
  ASSERT_EQ(createEngine(&other), S_OK);
  DAODatabase* second = nullptr;
  EXPECT_EQ(openDatabase(other, path, &second), jet(3045));
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(db->Close(), S_OK);
  // Now the other user is in, with its entry in the lock file beside the database; an
  // exclusive open must wait for it to leave.
  ASSERT_EQ(openDatabase(other, path, &second), S_OK);
  const std::wstring ldb = path.substr(0, path.size() - 4) + L".ldb";
  EXPECT_NE(GetFileAttributesW(ldb.c_str()), INVALID_FILE_ATTRIBUTES);
  DAODatabase* exclusive = nullptr;
  EXPECT_EQ(engine->OpenDatabase(file.get(), vbool(true), vbool(false), missing(), &exclusive), jet(3045));
  EXPECT_EQ(readErrors(engine).at(0).number, 3045);
  EXPECT_EQ(second->Release(), 0u);
  EXPECT_EQ(GetFileAttributesW(ldb.c_str()), INVALID_FILE_ATTRIBUTES) << "the last user out removes it";
  ASSERT_EQ(engine->OpenDatabase(file.get(), vbool(true), vbool(false), missing(), &exclusive), S_OK);
  EXPECT_EQ(exclusive->Release(), 0u);
  EXPECT_EQ(other->Release(), 0u);
}

TEST_F(Engine, TheCallersFloatingPointControlWordIsKept) {
  REQUIRE_FIXTURE(path, "jet4/testV2000.mdb");
  unsigned short saved = 0, now = 0;
  __asm__ volatile("fnstcw %0" : "=m"(saved));
  // Zero-divide and invalid operation unmasked, as some clients run.
  const unsigned short unmasked = 0x1332;
  unsigned short callers = 0;
  __asm__ volatile("fnclex\n\tfldcw %1\n\tfnstcw %0" : "=m"(callers) : "m"(unmasked));
  ASSERT_EQ(openDatabase(engine, path, &db, /*readOnly=*/true), S_OK);
  // The condition overflows a Double on every row while the statement is checked: with the
  // caller's word that would trap; the engine answers with a Jet error (overflow, or the
  // read-only refusal), never with a fault.
  const HRESULT hr = execute(db, L"DELETE FROM Table1 WHERE F * 1E308 * 1E308 > 1");
  EXPECT_EQ(static_cast<ULONG>(hr) & 0xFFFF0000u, 0x800A0000u) << std::hex << hr;
  EXPECT_EQ(execute(db, L"DELETE FROM Table1 WHERE F / 0 > 1"), jet(11));  // division by zero
  EXPECT_EQ(execute(db, L"DELETE FROM Tabel1"), jet(3078));
  __asm__ volatile("fnstcw %0" : "=m"(now));
  EXPECT_EQ(now, callers);
  __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(saved));
}

// Runs last in this program (its name sorts last is not relied on: it restores the
// registration itself). Other tests in this prefix do not use the DAO classes meanwhile.
TEST(Registration, UnregisteredMeansClassNotRegisteredAndAForeignServerIsNotReplaced) {
  ASSERT_EQ(regsvr32(true), 0u);
  _DAODBEngine* engine = nullptr;
  EXPECT_EQ(createEngine(&engine), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(createEngine(&engine, CLSID_PrivateEngine), REGDB_E_CLASSNOTREG);
  CLSID byName{};
  EXPECT_NE(CLSIDFromProgID(L"DAO.DBEngine.36", &byName), S_OK);

  // Another server holds the engine class: registering refuses and leaves it alone, and
  // unregistering does not take it away either.
  const wchar_t key[] = L"CLSID\\{00000100-0000-0010-8000-00AA006D2EA4}\\InprocServer32";
  const wchar_t foreign[] = L"C:\\windows\\system32\\dao360.dll";
  HKEY k;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, key, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(foreign), sizeof foreign);
  RegCloseKey(k);
  EXPECT_NE(regsvr32(false), 0u);
  EXPECT_NE(regsvr32(true), 0xFFFFFFFFu);
  wchar_t value[MAX_PATH] = {};
  DWORD bytes = sizeof value;
  ASSERT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, key, nullptr, RRF_RT_REG_SZ, nullptr, value, &bytes),
            ERROR_SUCCESS);
  EXPECT_STREQ(value, foreign);
  wchar_t privateValue[MAX_PATH] = {};
  bytes = sizeof privateValue;
  EXPECT_NE(RegGetValueW(HKEY_CLASSES_ROOT,
                         L"CLSID\\{00000101-0000-0010-8000-00AA006D2EA4}\\InprocServer32", nullptr,
                         RRF_RT_REG_SZ, nullptr, privateValue, &bytes),
            ERROR_SUCCESS)
      << "the refused registration wrote nothing";

  RegDeleteTreeW(HKEY_CLASSES_ROOT, L"CLSID\\{00000100-0000-0010-8000-00AA006D2EA4}");
  ASSERT_EQ(regsvr32(false), 0u);
  ASSERT_EQ(createEngine(&engine), S_OK);
  engine->Release();
}
