// Each of Jet's rules applied by a real run: with fail-on-error the statement fails with
// Jet's number and the file stays byte for byte as it was; without it the rows that break
// the rule are skipped and exactly the others are applied.
#include <gtest/gtest.h>

#include "action_test_util.h"
#include "engine/storage/check.h"
#include "engine/storage/lock_file.h"

namespace {

using bv::test::execute;
using bv::test::fixture;
using bv::test::jetErrorOf;
using bv::test::ScratchCopy;
using bv::test::selectRows;
using Rows = std::vector<std::string>;

struct RuleCase {
  const char* name;
  const char* file;        // fixture
  const char16_t* sql;     // breaks the rule for some rows, not for others
  int error;               // Jet's number with fail-on-error
  int64_t applied;         // rows applied without it
  const char16_t* select;  // what to read afterwards
  Rows after;              // ... and what it gives without fail-on-error
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

// testV2000/testV1997 Table1: A is the primary key ("abcdefg" and "a"), A allows no
// zero-length text, B is Text(100). indexTest*: Table1.otherfk1 -> Table2.id (cascading
// deletes), Table1.otherfk2 -> Table3.id (cascading updates); Table1 rows (id, fk1, fk2):
// (0,0,10) (1,1,11) (2,1,11) (3,2,13); Table2 ids 0-2; Table3 ids 10-13.
const RuleCase kCases[] = {
    {"Duplicate", "jet4/testV2000.mdb", u"INSERT INTO Table1 (A) SELECT IIf(A = 'a', 'abcdefg', 'zz') FROM Table1",
     3022, 1, u"SELECT A FROM Table1 ORDER BY A", {"\"a\"", "\"abcdefg\"", "\"zz\""}},
    {"DuplicateJet3", "jet3/testV1997.mdb",  // keys compare without regard to case
     u"INSERT INTO Table1 (A) SELECT IIf(A = 'a', 'ABCDEFG', 'new') FROM Table1", 3022, 1,
     u"SELECT A FROM Table1 ORDER BY A", {"\"a\"", "\"abcdefg\"", "\"new\""}},
    {"NullKey", "jet4/testV2000.mdb", u"UPDATE Table1 SET A = IIf(A = 'a', Null, 'q')", 3058, 1,
     u"SELECT A FROM Table1 ORDER BY A", {"\"a\"", "\"q\""}},
    {"ZeroLength", "jet4/testV2003.mdb", u"UPDATE Table1 SET A = IIf(A = 'a', '', A & '!')", 3315, 1,
     u"SELECT A FROM Table1 ORDER BY A", {"\"a\"", "\"abcdefg!\""}},
    {"Required", "jet4/fixedTextTestV2000.mdb",
     u"UPDATE users SET c_user_name = IIf(i_user_id = 1, Null, 'Someone')", 3314, 1,
     u"SELECT i_user_id, c_user_name FROM users ORDER BY i_user_id", {"1|\"Core User\"", "2|\"Someone\""}},
    {"RequiredOnInsert", "jet4/fixedTextTestV2003.mdb", u"INSERT INTO users (i_user_id) VALUES (3)", 3314, 0,
     u"SELECT i_user_id FROM users ORDER BY i_user_id", {"1", "2"}},
    {"NoParent", "jet4/indexTestV2000.mdb",
     u"INSERT INTO Table1 (id, otherfk1, otherfk2) SELECT id + 10, id + 1, 10 FROM Table2", 3201, 2,
     u"SELECT id FROM Table1 WHERE id >= 10 ORDER BY id", {"10", "11"}},
    {"NoParentJet3", "jet3/indexTestV1997.mdb", u"UPDATE Table1 SET otherfk2 = IIf(id = 0, 99, 12)", 3201, 3,
     u"SELECT id, otherfk2 FROM Table1 ORDER BY id", {"0|10", "1|12", "2|12", "3|12"}},
    {"RelatedRowsExist", "jet4/indexTestV2003.mdb", u"DELETE FROM Table3", 3200, 1,
     u"SELECT id FROM Table3 ORDER BY id", {"10", "11", "13"}},
    {"KeyOfRelatedRows", "jet4/indexTestV2000.mdb", u"UPDATE Table2 SET id = id + 5", 3200, 0,
     u"SELECT id FROM Table2 ORDER BY id", {"0", "1", "2"}},
    // New values their column cannot hold: B is Text(100), A Text(50), C a Byte, D an
    // Integer, E a Long.
    {"TooLong", "jet4/testV2000.mdb", u"UPDATE Table1 SET B = IIf(A = 'a', String(101, 'x'), 'short')", 3163, 1,
     u"SELECT A, B FROM Table1 ORDER BY A", {"\"a\"|\"b\"", "\"abcdefg\"|\"short\""}},
    {"TooLongInsertJet3", "jet3/testV1997.mdb", u"INSERT INTO Table1 (A) SELECT A & String(45, 'y') FROM Table1", 3163,
     1, u"SELECT Len(A) FROM Table1 ORDER BY Len(A)", {"1", "7", "46"}},
    {"NotANumber", "jet4/testV2003.mdb", u"UPDATE Table1 SET E = IIf(A = 'a', 'many', '12')", 3464, 1,
     u"SELECT A, E FROM Table1 ORDER BY A", {"\"a\"|0", "\"abcdefg\"|12"}},
    {"NotANumberJet3", "jet3/testV1997.mdb", u"INSERT INTO Table1 (A, E) SELECT A & '2', IIf(A = 'a', '3', 'x') FROM Table1",
     3464, 1, u"SELECT A, E FROM Table1 ORDER BY A", {"\"a\"|0", "\"a2\"|3", "\"abcdefg\"|333333333"}},
    {"IntegerOverflow", "jet4/testV2000.mdb",
     u"INSERT INTO Table1 (A, D) SELECT A & '2', IIf(A = 'a', 40000, 7) FROM Table1", 3349, 1,
     u"SELECT A, D FROM Table1 ORDER BY A", {"\"a\"|0", "\"abcdefg\"|222", "\"abcdefg2\"|7"}},
    {"ByteOverflowJet3", "jet3/testV1997.mdb", u"UPDATE Table1 SET C = IIf(A = 'a', 300, 255)", 3349, 1,
     u"SELECT A, C FROM Table1 ORDER BY A", {"\"a\"|0", "\"abcdefg\"|255"}},
    {"OverflowInsertValues", "jet4/testV2000.mdb", u"INSERT INTO Table1 (A, C) VALUES ('z', 300)", 3349, 0,
     u"SELECT A FROM Table1 ORDER BY A", {"\"a\"", "\"abcdefg\""}},
};

class RuleTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(RuleTest, FailOnErrorChangesNothingAndOtherwiseSkipsTheRow) {
  const RuleCase& c = GetParam();
  const std::string src = fixture(c.file);
  NEED_FIXTURE(src);
  ScratchCopy strict(src);
  const auto before = strict.bytes();
  EXPECT_EQ(jetErrorOf([&] { execute(strict.path(), c.sql, true); }), c.error);
  EXPECT_EQ(strict.bytes(), before) << "the failed statement changed the file";
  EXPECT_FALSE(std::filesystem::exists(bv::storage::lockFilePath(strict.path())));
  // A dry run reports the same error and changes nothing either.
  EXPECT_EQ(jetErrorOf([&] { execute(strict.path(), c.sql, true, true); }), c.error);
  EXPECT_EQ(strict.bytes(), before);

  ScratchCopy lenient(src);
  EXPECT_EQ(execute(lenient.path(), c.sql, false, true), c.applied) << "dry run without fail-on-error";
  EXPECT_EQ(execute(lenient.path(), c.sql, false), c.applied);
  EXPECT_EQ(selectRows(lenient.path(), c.select), c.after);
  auto db = bv::storage::Database::open(lenient.path());
  auto report = bv::storage::checkDatabase(*db);
  EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0]);
}

INSTANTIATE_TEST_SUITE_P(Rules, RuleTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ApplyRules, StatementLevelFailuresChangeNothing) {
  const std::string src = fixture("jet4/testV2000.mdb");
  NEED_FIXTURE(src);
  ScratchCopy f(src);
  const auto before = f.bytes();
  for (bool failOnError : {true, false}) {
    for (bool dryRun : {true, false}) {
      // A condition that cannot be evaluated, or a value that cannot be computed, fails the
      // statement, unlike a computed value its column cannot hold.
      EXPECT_EQ(jetErrorOf([&] { execute(f.path(), u"UPDATE Table1 SET B = 'x' WHERE A + 1 > 0", failOnError, dryRun); }),
                3464);
      EXPECT_EQ(jetErrorOf([&] {
                  execute(f.path(), u"INSERT INTO Table3 (b) SELECT A FROM Table1 WHERE A > 1", failOnError, dryRun);
                }),
                3464);
      EXPECT_EQ(jetErrorOf([&] { execute(f.path(), u"UPDATE Table1 SET E = A * 2", failOnError, dryRun); }), 3464);
      EXPECT_EQ(jetErrorOf([&] { execute(f.path(), u"UPDATE Table1 SET Nope = 1", failOnError, dryRun); }), 3265);
      EXPECT_EQ(jetErrorOf([&] { execute(f.path(), u"INSERT INTO Nowhere (A) VALUES (1)", failOnError, dryRun); }),
                3078);
      EXPECT_EQ(f.bytes(), before);
    }
  }
  EXPECT_EQ(execute(f.path(), u"UPDATE Table1 SET B = String(100, 'x') WHERE A = 'a'"), 1);
}

TEST(ApplyRules, CascadesFollowTheRelationships) {
  for (const char* file : {"jet3/indexTestV1997.mdb", "jet4/indexTestV2000.mdb"}) {
    const std::string src = fixture(file);
    NEED_FIXTURE(src);
    ScratchCopy f(src);
    // Deleting a Table2 row deletes the Table1 rows that refer to it; only the Table2 row
    // is counted.
    EXPECT_EQ(execute(f.path(), u"DELETE FROM Table2 WHERE id = 1"), 1) << file;
    EXPECT_EQ(selectRows(f.path(), u"SELECT id, otherfk1 FROM Table1 ORDER BY id"), (Rows{"0|0", "3|2"}));
    // Changing a Table3 key carries the new key to the rows that refer to it.
    EXPECT_EQ(execute(f.path(), u"UPDATE Table3 SET id = 31 WHERE id = 13"), 1);
    EXPECT_EQ(selectRows(f.path(), u"SELECT id, otherfk2 FROM Table1 ORDER BY id"), (Rows{"0|10", "3|31"}));
    EXPECT_EQ(selectRows(f.path(), u"SELECT id FROM Table3 ORDER BY id"), (Rows{"10", "11", "12", "31"}));
    // A Null foreign key needs no parent.
    EXPECT_EQ(execute(f.path(), u"INSERT INTO Table1 (id, otherfk1, otherfk2) VALUES (7, Null, Null)"), 1);
    // Rows deleted by the statement itself no longer count as related rows.
    EXPECT_EQ(execute(f.path(), u"DELETE FROM Table1 WHERE otherfk2 = 31"), 1);
    EXPECT_EQ(execute(f.path(), u"DELETE FROM Table3 WHERE id = 31"), 1);
    auto db = bv::storage::Database::open(f.path());
    EXPECT_TRUE(bv::storage::checkDatabase(*db).ok()) << file;
  }
}

TEST(ApplyRules, DefaultsAndAutoNumbersOnInsert) {
  const std::string src = fixture("jet4/testV2000.mdb");
  NEED_FIXTURE(src);
  ScratchCopy f(src);
  // C, D, E, F and H default to 0; G has no default; a Yes/No column is never Null.
  EXPECT_EQ(execute(f.path(), u"INSERT INTO Table1 (A, E) VALUES ('n', 5)"), 1);
  EXPECT_EQ(selectRows(f.path(), u"SELECT C, D, E, F, G, H, I FROM Table1 WHERE A = 'n'"),
            (Rows{"0|0|5|0||0.0000|0"}));
  // An explicit Null stays Null: the default is only for columns the INSERT leaves out.
  EXPECT_EQ(execute(f.path(), u"INSERT INTO Table1 (A, C) VALUES ('m', Null)"), 1);
  EXPECT_EQ(selectRows(f.path(), u"SELECT C, D FROM Table1 WHERE A = 'm'"), (Rows{"|0"}));
  // Table3.a is an AutoNumber: a number once handed out is not given again, even after the
  // row holding it was deleted and the file reopened.
  EXPECT_EQ(execute(f.path(), u"INSERT INTO Table3 (b) SELECT A FROM Table1"), 4);
  EXPECT_EQ(execute(f.path(), u"DELETE FROM Table3 WHERE a >= 3"), 2);
  EXPECT_EQ(execute(f.path(), u"INSERT INTO Table3 (b) VALUES ('again')"), 1);
  EXPECT_EQ(selectRows(f.path(), u"SELECT a FROM Table3 ORDER BY a"), (Rows{"1", "2", "5"}));
  // A failed insert does not use up a number either.
  EXPECT_EQ(jetErrorOf([&] { execute(f.path(), u"INSERT INTO Table3 (a, b) VALUES (1, 'dup')"); }), 3022);
  EXPECT_EQ(execute(f.path(), u"INSERT INTO Table3 (b) VALUES ('next')"), 1);
  EXPECT_EQ(selectRows(f.path(), u"SELECT a FROM Table3 WHERE b = 'next'"), (Rows{"6"}));
  auto db = bv::storage::Database::open(f.path());
  EXPECT_TRUE(bv::storage::checkDatabase(*db).ok());
}

TEST(ApplyRules, ReadOnlyOpensAndFilesRefuseChanges) {
  const std::string src = fixture("jet4/testV2000.mdb");
  NEED_FIXTURE(src);
  ScratchCopy f(src);
  auto db = bv::storage::Database::open(f.path(), bv::storage::OpenMode::ReadOnly);
  EXPECT_EQ(jetErrorOf([&] {
              bv::sql::executeAction(*db, bv::sql::parseStatement(u"DELETE FROM Table1"), {}, {true, false});
            }),
            3027);
  db.reset();
  std::filesystem::permissions(f.path(), std::filesystem::perms::owner_read);
  EXPECT_EQ(jetErrorOf([&] { execute(f.path(), u"DELETE FROM Table1"); }), 3027);
  EXPECT_EQ(execute(f.path(), u"DELETE FROM Table1", true, true), 2) << "a dry run only reads";
}

}  // namespace
