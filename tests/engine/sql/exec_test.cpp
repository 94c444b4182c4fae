// Statement execution on in-memory tables: results of SELECT and the change sets of
// action statements, and the errors that binding and execution raise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "engine/sql/conv_value.h"
#include "engine/sql/exec.h"
#include "engine/sql/parser.h"
#include "engine/sql/value_ops.h"
#include "engine/storage/error.h"

namespace bv::sql {
namespace {

using Row = std::vector<Value>;
Value L(int32_t v) { return Value(v); }
Value T(const char16_t* s) { return Value(s); }
const Value N;

SourceColumn col(const char16_t* name, ColType t, uint32_t len = 0, bool autoNum = false) {
  SourceColumn c;
  c.name = name;
  c.type = t;
  c.maxLength = len;
  c.autoNumber = autoNum;
  return c;
}

class Exec : public ::testing::Test {
 protected:
  void SetUp() override {
    auto emp = std::make_shared<MemoryTable>(
        u"Emp", std::vector<SourceColumn>{col(u"ID", ColType::Long, 0, true), col(u"Name", ColType::Text, 20),
                                          col(u"Dept", ColType::Long), col(u"Salary", ColType::Double),
                                          col(u"Boss", ColType::Long)});
    emp->addRow({L(1), T(u"Ann"), L(10), Value(5000.0), N});
    emp->addRow({L(2), T(u"bob"), L(10), Value(3000.0), L(1)});
    emp->addRow({L(3), T(u"Cy"), L(20), Value(4000.0), L(1)});
    emp->addRow({L(4), T(u"Di"), N, Value(2500.0), L(3)});
    emp->addRow({L(5), T(u"BOB"), L(20), N, L(3)});
    auto dept = std::make_shared<MemoryTable>(
        u"Dept", std::vector<SourceColumn>{col(u"ID", ColType::Long), col(u"Title", ColType::Text, 30)});
    dept->addRow({L(10), T(u"Sales")});
    dept->addRow({L(20), T(u"Dev")});
    dept->addRow({L(30), T(u"Empty")});
    auto empty = std::make_shared<MemoryTable>(
        u"Nothing", std::vector<SourceColumn>{col(u"X", ColType::Long)});
    catalog.add(emp);
    catalog.add(dept);
    catalog.add(empty);
  }

  ResultSet query(const char16_t* sql, const ParamValues& p = {}) {
    return executeSelect(parseStatement(sql), catalog, p);
  }
  std::vector<Row> rows(const char16_t* sql, const ParamValues& p = {}) { return query(sql, p).rows; }
  std::vector<Row> sorted(const char16_t* sql) {
    auto r = rows(sql);
    std::sort(r.begin(), r.end(), [](const Row& a, const Row& b) {
      for (size_t i = 0; i < a.size(); ++i) {
        int c = compareForSort(a[i], b[i]);
        if (c) return c < 0;
      }
      return false;
    });
    return r;
  }
  ActionPlan plan(const char16_t* sql, const ParamValues& p = {}) {
    return planAction(parseStatement(sql), catalog, p);
  }
  // The error kept with the first row of the first change whose value its column cannot
  // hold (0 for none).
  int fault(const char16_t* sql) {
    ActionPlan p = plan(sql);
    for (const TableChange& ch : p.changes)
      if (!ch.faults.empty()) return ch.faults.begin()->second.number();
    return 0;
  }
  int error(const char16_t* sql, bool action = false) {
    try {
      Statement st = parseStatement(sql);
      if (action) planAction(st, catalog);
      else executeSelect(st, catalog);
    } catch (const JetError& e) {
      return e.number();
    }
    return 0;
  }

  MemoryCatalog catalog;
};

std::vector<int32_t> ids(const std::vector<Row>& rs, size_t col = 0) {
  std::vector<int32_t> out;
  for (const auto& r : rs) out.push_back(r[col].isNull() ? -1 : r[col].as<int32_t>());
  return out;
}
using V = std::vector<int32_t>;

TEST_F(Exec, WherePredicates) {
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp WHERE Dept = 10 OR Salary > 3500")), (V{1, 2, 3}));
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp WHERE Dept IN (20, 30) AND NOT Name = 'cy'")), (V{5}));
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp WHERE Salary BETWEEN 2500 AND 4000")), (V{2, 3, 4}));
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp WHERE Dept IS NULL OR Salary Is Null")), (V{4, 5}));
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp WHERE Name Like 'b*'")), (V{2, 5}));
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp WHERE Name Not Like '[a-c]*'")), (V{4}));
  // Null never satisfies a comparison, nor its negation.
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp WHERE Not (Dept = 10)")), (V{3, 5}));
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp WHERE Dept Not In (10)")), (V{3, 5}));
  EXPECT_EQ(rows(u"SELECT ID FROM Emp WHERE ID Not In (SELECT Boss FROM Emp)").size(), 0u);
  EXPECT_EQ(ids(rows(u"SELECT [Emp].[ID] FROM [Emp] WHERE Emp!Name = 'Di'")), (V{4}));
}

TEST_F(Exec, OutputNamesAndExpressions) {
  ResultSet r = query(u"SELECT Name, ID * 2 AS Twice, Name & '!' , Sum(1) FROM Emp WHERE ID = 1 GROUP BY Name, ID");
  ASSERT_EQ(r.columns.size(), 4u);
  EXPECT_EQ(r.columns[0].name, u"Name");
  EXPECT_EQ(r.columns[0].type, ColType::Text);
  EXPECT_EQ(r.columns[1].name, u"Twice");
  EXPECT_EQ(r.columns[2].name, u"Expr1000");
  EXPECT_EQ(r.columns[3].name, u"Expr1001");
  EXPECT_EQ(r.rows[0][1], L(2));
  EXPECT_EQ(r.rows[0][2], T(u"Ann!"));
  ResultSet j = query(u"SELECT e.ID, d.ID, Sum(e.Salary) FROM Emp e, Dept d WHERE e.ID = 1 AND d.ID = 10 GROUP BY e.ID, d.ID");
  EXPECT_EQ(j.columns[0].name, u"e.ID");
  EXPECT_EQ(j.columns[1].name, u"d.ID");
  EXPECT_EQ(j.columns[2].name, u"SumOfSalary");
  // IIf only evaluates the branch it returns.
  EXPECT_EQ(rows(u"SELECT IIf(ID > 0, 'pos', 1 / 0) FROM Emp WHERE ID = 1")[0][0], T(u"pos"));
}

TEST_F(Exec, OrderDistinctAndTop) {
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp ORDER BY Dept DESC, ID")), (V{3, 5, 1, 2, 4}));
  EXPECT_EQ(ids(rows(u"SELECT ID, Salary * -1 AS neg FROM Emp WHERE Salary > 0 ORDER BY neg")), (V{1, 3, 2, 4}));
  // Text sorts without regard to case; equal keys keep their order.
  EXPECT_EQ(ids(rows(u"SELECT ID, Name FROM Emp ORDER BY 2 DESC")), (V{4, 3, 2, 5, 1}));
  auto names = rows(u"SELECT DISTINCT Name FROM Emp WHERE Name Like 'b*'");
  EXPECT_EQ(names.size(), 1u);  // bob and BOB are one value to Jet
  EXPECT_EQ(rows(u"SELECT DISTINCT Dept FROM Emp").size(), 3u);  // 10, 20, Null
  // TOP keeps the rows that tie with the last one kept.
  EXPECT_EQ(ids(rows(u"SELECT TOP 1 ID FROM Emp ORDER BY Dept")), (V{4}));
  EXPECT_EQ(rows(u"SELECT TOP 2 ID FROM Emp ORDER BY Dept").size(), 3u);
  EXPECT_EQ(rows(u"SELECT TOP 40 PERCENT ID FROM Emp ORDER BY ID").size(), 2u);
  EXPECT_EQ(ids(rows(u"SELECT TOP 2 ID FROM Emp ORDER BY ID DESC")), (V{5, 4}));
  EXPECT_EQ(error(u"SELECT ID FROM Emp ORDER BY 3"), 3138);
  EXPECT_EQ(error(u"SELECT DISTINCT Name FROM Emp ORDER BY Salary"), 3093);
}

TEST_F(Exec, GroupingAndAggregates) {
  auto r = rows(u"SELECT Dept, Count(*), Count(Salary), Sum(Salary), Avg(Salary), Min(Name), Max(Name), "
                u"First(Name), Last(Name) FROM Emp GROUP BY Dept ORDER BY Dept");
  ASSERT_EQ(r.size(), 3u);
  EXPECT_TRUE(r[0][0].isNull());  // the Null group sorts first
  EXPECT_EQ(r[1][0], L(10));
  EXPECT_EQ(r[1][1], L(2));
  EXPECT_EQ(r[1][3], Value(8000.0));
  EXPECT_EQ(r[1][4], Value(4000.0));
  EXPECT_EQ(r[2][1], L(2));
  EXPECT_EQ(r[2][2], L(1));  // Count(Salary) skips the Null
  EXPECT_EQ(r[2][4], Value(4000.0));
  EXPECT_EQ(r[2][5], T(u"BOB"));
  EXPECT_EQ(r[2][6], T(u"Cy"));
  EXPECT_EQ(r[2][7], T(u"Cy"));
  EXPECT_EQ(r[2][8], T(u"BOB"));
  // Grouping text ignores case.
  EXPECT_EQ(rows(u"SELECT Name, Count(*) FROM Emp GROUP BY Name HAVING Count(*) > 1")[0][1], L(2));
  // Aggregates without GROUP BY give one row, also over no rows.
  auto none = rows(u"SELECT Count(*), Sum(X), Max(X) FROM Nothing");
  ASSERT_EQ(none.size(), 1u);
  EXPECT_EQ(none[0][0], L(0));
  EXPECT_TRUE(none[0][1].isNull());
  EXPECT_TRUE(rows(u"SELECT X, Count(*) FROM Nothing GROUP BY X").empty());
  auto stats = rows(u"SELECT Var(ID), StDevP(ID) FROM Emp");
  EXPECT_DOUBLE_EQ(stats[0][0].as<double>(), 2.5);
  EXPECT_DOUBLE_EQ(stats[0][1].as<double>(), std::sqrt(2.0));
  EXPECT_EQ(ids(rows(u"SELECT Dept, Count(*) AS n FROM Emp GROUP BY Dept HAVING n = 2 ORDER BY Dept")), (V{10, 20}));
}

TEST_F(Exec, GroupsComeOutInTheOrderOfTheGroupedFieldsWithoutOrderBy) {
  // The first row seen belongs to Dept 10, yet the Null group comes first and 20 last.
  EXPECT_EQ(ids(rows(u"SELECT Dept, Count(*) FROM Emp GROUP BY Dept")), (V{-1, 10, 20}));
  // With two grouped fields the second orders rows within equal first ones.
  EXPECT_EQ(ids(rows(u"SELECT Boss, ID FROM Emp WHERE Boss IS NOT NULL GROUP BY Boss, ID"), 0),
            (V{1, 1, 3, 3}));
  EXPECT_EQ(ids(rows(u"SELECT Dept, Boss FROM Emp WHERE Dept IS NOT NULL GROUP BY Dept, Boss"), 1),
            (V{-1, 1, 1, 3}));
  // An ORDER BY still decides.
  EXPECT_EQ(ids(rows(u"SELECT Dept FROM Emp GROUP BY Dept ORDER BY Dept DESC")), (V{20, 10, -1}));
}

TEST_F(Exec, GroupingErrors) {
  EXPECT_EQ(error(u"SELECT Name, Count(*) FROM Emp GROUP BY Dept"), 3122);
  EXPECT_EQ(error(u"SELECT Name, Count(*) FROM Emp"), 3122);
  EXPECT_EQ(error(u"SELECT * FROM Emp GROUP BY Dept"), 3122);
  EXPECT_EQ(error(u"SELECT ID FROM Emp WHERE Count(*) > 1"), 3096);
  EXPECT_EQ(error(u"SELECT Sum(Count(*)) FROM Emp"), 3096);
  EXPECT_EQ(error(u"SELECT Dept + 1, Count(*) FROM Emp GROUP BY Dept + 1"), 0);
}

TEST_F(Exec, Joins) {
  EXPECT_EQ(ids(sorted(u"SELECT e.ID FROM Emp e INNER JOIN Dept d ON e.Dept = d.ID WHERE d.Title = 'Dev'")),
            (V{3, 5}));
  auto left = sorted(u"SELECT e.ID, d.Title FROM Emp AS e LEFT JOIN Dept AS d ON e.Dept = d.ID");
  ASSERT_EQ(left.size(), 5u);
  EXPECT_EQ(left[3][0], L(4));
  EXPECT_TRUE(left[3][1].isNull());
  auto right = sorted(u"SELECT d.ID, e.ID FROM Emp e RIGHT JOIN Dept d ON e.Dept = d.ID");
  ASSERT_EQ(right.size(), 5u);
  EXPECT_EQ(right[4][0], L(30));
  EXPECT_TRUE(right[4][1].isNull());
  // A condition that is not an equality pairs every row with every row.
  EXPECT_EQ(rows(u"SELECT e.ID FROM Emp e INNER JOIN Dept d ON e.Dept < d.ID").size(), 6u);
  // Self-join through nested joins: employee, boss, boss's department.
  auto chain = sorted(u"SELECT e.ID, b.Name, d.Title FROM (Emp e INNER JOIN Emp b ON e.Boss = b.ID) "
                      u"LEFT JOIN Dept d ON b.Dept = d.ID");
  ASSERT_EQ(chain.size(), 4u);
  EXPECT_EQ(chain[2][0], L(4));
  EXPECT_EQ(chain[2][1], T(u"Cy"));
  EXPECT_EQ(chain[2][2], T(u"Dev"));
  EXPECT_EQ(rows(u"SELECT * FROM Emp, Dept").size(), 15u);
  EXPECT_EQ(query(u"SELECT * FROM Emp, Dept").columns.size(), 7u);
  EXPECT_EQ(error(u"SELECT ID FROM Emp, Dept"), 3079);
  EXPECT_EQ(error(u"SELECT * FROM Emp, Emp"), 3131);
}

TEST_F(Exec, Subqueries) {
  EXPECT_EQ(ids(sorted(u"SELECT ID FROM Emp WHERE ID IN (SELECT Boss FROM Emp)")), (V{1, 3}));
  // Correlated: the employees who earn more than their department's average.
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp AS o WHERE Salary > (SELECT Avg(Salary) FROM Emp i WHERE i.Dept = o.Dept)")),
            (V{1}));
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Dept d WHERE NOT EXISTS (SELECT * FROM Emp WHERE Emp.Dept = d.ID)")), (V{30}));
  EXPECT_EQ(ids(rows(u"SELECT q.n FROM (SELECT Dept, Count(*) AS n FROM Emp GROUP BY Dept) AS q WHERE q.Dept = 20")),
            (V{2}));
  // Correlated equalities (looked up by value): Null matches nothing, text ignores case.
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp e WHERE NOT EXISTS (SELECT * FROM Dept d WHERE d.ID = e.Dept)")), (V{4}));
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp e WHERE (SELECT Count(*) FROM Emp f WHERE f.Name = e.Name) > 1")),
            (V{2, 5}));
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp e WHERE ID IN (SELECT Boss FROM Emp f WHERE f.Dept = e.Dept + 10)")),
            (V{1}));
  EXPECT_EQ(error(u"SELECT ID FROM Emp WHERE ID = (SELECT ID FROM Emp)"), 3354);
  EXPECT_EQ(error(u"SELECT ID FROM Emp WHERE ID IN (SELECT ID, Name FROM Emp)"), 3306);
}

TEST_F(Exec, Union) {
  EXPECT_EQ(ids(rows(u"SELECT Dept FROM Emp WHERE Dept Is Not Null UNION SELECT ID FROM Dept ORDER BY 1")),
            (V{10, 20, 30}));
  EXPECT_EQ(rows(u"SELECT Dept FROM Emp UNION ALL SELECT ID FROM Dept").size(), 8u);
  EXPECT_EQ(error(u"SELECT ID, Name FROM Emp UNION SELECT ID FROM Dept"), 3307);
}

TEST_F(Exec, ParametersAndTooFewParameters) {
  EXPECT_EQ(error(u"SELECT ID FROM Emp WHERE Dept = [Which Dept] AND Salary > MinPay"), 3061);
  try {
    query(u"SELECT ID FROM Emp WHERE Dept = [Which Dept] AND Salary > MinPay AND Dept = [which dept]");
    FAIL();
  } catch (const JetError& e) {
    EXPECT_NE(std::string(e.what()).find("2"), std::string::npos) << e.what();
  }
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp WHERE Dept = [Which Dept]", {{u"which dept", L(20)}})), (V{3, 5}));
  // A qualified name whose table is not in the query is a parameter too.
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp WHERE ID = Forms!f!x", {{u"Forms.f.x", L(2)}})), (V{2}));
  // Declared parameters convert their values to the declared type.
  EXPECT_EQ(ids(rows(u"PARAMETERS p Long; SELECT ID FROM Emp WHERE ID = p", {{u"p", T(u"3")}})), (V{3}));
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp WHERE ID = ? OR ID = ?", {{u"?1", L(1)}, {u"?2", L(4)}})), (V{1, 4}));
  Statement st = parseStatement(u"PARAMETERS a Text; SELECT x.ID FROM Emp x WHERE Name = b AND x.Dept = y.Dept");
  EXPECT_EQ(statementParameters(st, catalog), (std::vector<std::u16string>{u"a", u"b", u"y.Dept"}));
  // Actions check their parameters before anything else.
  EXPECT_EQ(error(u"DELETE FROM Emp WHERE Dept = Nope", true), 3061);
}

TEST_F(Exec, NameAndTypeErrors) {
  EXPECT_EQ(error(u"SELECT * FROM Missing"), 3078);
  EXPECT_EQ(error(u"SELECT x.* FROM Emp"), 3078);
  EXPECT_EQ(error(u"SELECT Frobnicate(ID) FROM Emp"), 3085);
  EXPECT_EQ(error(u"SELECT ID FROM Emp WHERE Name + 1 > 0"), 3464);
  EXPECT_EQ(error(u"SELECT ID FROM Emp"), 0);
  EXPECT_EQ(error(u"SELECT ID FROM Emp", true), 3065);
  EXPECT_EQ(error(u"UPDATE Emp SET ID = 7", true), 3113);
  EXPECT_EQ(error(u"UPDATE Emp SET Nope = 7", true), 3265);
  // A value its column cannot hold fails its row, not the statement: the plan keeps the error.
  EXPECT_EQ(error(u"UPDATE Emp SET Dept = 'ten'", true), 0);
  EXPECT_EQ(fault(u"UPDATE Emp SET Dept = 'ten'"), 3464);
  EXPECT_EQ(error(u"UPDATE Missing SET a = 1", true), 3078);
}

TEST_F(Exec, UpdatePlans) {
  ActionPlan p = plan(u"UPDATE Emp SET Salary = Salary * 2, Dept = Dept + 1 WHERE Dept = 10");
  EXPECT_EQ(p.recordsAffected, 2);
  ASSERT_EQ(p.changes.size(), 1u);
  const TableChange& ch = p.changes[0];
  EXPECT_EQ(ch.table, u"Emp");
  EXPECT_EQ(ch.columns, (std::vector<int>{3, 2}));
  ASSERT_EQ(ch.updates.size(), 2u);
  EXPECT_EQ(ch.updates[0].values, (Row{Value(10000.0), L(11)}));
  EXPECT_EQ(ch.updates[1].values, (Row{Value(6000.0), L(11)}));
  EXPECT_EQ(ch.updates[1].row, (RowId{0, 1}));
  // Every new value comes from the row as it was: this swaps.
  ActionPlan swap = plan(u"UPDATE Emp SET Dept = Boss, Boss = Dept WHERE ID = 2");
  EXPECT_EQ(swap.changes[0].updates[0].values, (Row{L(1), L(10)}));
  // New values take the column's type.
  ActionPlan conv = plan(u"UPDATE Emp SET Dept = '42', Name = 7 WHERE ID = 1");
  EXPECT_EQ(conv.changes[0].updates[0].values, (Row{L(42), T(u"7")}));
  EXPECT_EQ(plan(u"UPDATE Emp SET Salary = 0 WHERE Salary > 1E9").recordsAffected, 0);
  // Through a join: each employee row once, even when several rows of the join name it.
  ActionPlan j = plan(u"UPDATE Emp INNER JOIN Dept ON Emp.Dept = Dept.ID SET Emp.Name = Dept.Title & '-' & Emp.Name "
                      u"WHERE Dept.ID = 20");
  EXPECT_EQ(j.recordsAffected, 2);
  ASSERT_EQ(j.changes[0].updates.size(), 2u);
  EXPECT_EQ(j.changes[0].updates[0].values[0], T(u"Dev-Cy"));
  ActionPlan cross = plan(u"UPDATE Emp INNER JOIN Dept ON Emp.Dept <= Dept.ID SET Emp.Boss = 0");
  EXPECT_EQ(cross.changes[0].updates.size(), 4u);
  EXPECT_EQ(fault(u"UPDATE Emp SET Name = 'abcdefghijklmnopqrstuvwxyz'"), 3163);
  // Text up to the column's size is kept as given; one character more is refused.
  ActionPlan full = plan(u"UPDATE Emp SET Name = 'abcdefghijklmnopqrst' WHERE ID = 1");
  EXPECT_EQ(full.changes[0].updates[0].values, (Row{T(u"abcdefghijklmnopqrst")}));
  EXPECT_EQ(fault(u"UPDATE Emp SET Name = 'abcdefghijklmnopqrstu'"), 3163);
  // A field assigned twice gets the last value (each computed from the row as it was).
  ActionPlan twice = plan(u"UPDATE Emp SET Dept = 1, Salary = 2, Dept = Dept + 5 WHERE ID = 1");
  EXPECT_EQ(twice.changes[0].columns, (std::vector<int>{2, 3}));
  EXPECT_EQ(twice.changes[0].updates[0].values, (Row{L(15), Value(2.0)}));
  ActionPlan some = plan(u"UPDATE Emp SET Dept = IIf(ID = 2, 3E9, Dept)");
  ASSERT_EQ(some.changes[0].faults.size(), 1u);
  EXPECT_EQ(some.changes[0].faults.begin()->first, 1u);
  EXPECT_EQ(some.changes[0].faults.begin()->second.number(), 3349);
}

TEST_F(Exec, DeletePlans) {
  EXPECT_EQ(plan(u"DELETE FROM Emp WHERE Dept = 20").recordsAffected, 2);
  EXPECT_EQ(plan(u"DELETE * FROM Emp").recordsAffected, 5);
  ActionPlan j = plan(u"DELETE Emp.* FROM Emp INNER JOIN Dept ON Emp.Dept = Dept.ID WHERE Dept.Title = 'Sales'");
  EXPECT_EQ(j.recordsAffected, 2);
  EXPECT_EQ(j.changes[0].table, u"Emp");
  EXPECT_EQ(j.changes[0].deletes, (std::vector<RowId>{{0, 0}, {0, 1}}));
  EXPECT_EQ(plan(u"DELETE e.* FROM Emp e, Dept d WHERE e.Dept <= d.ID").recordsAffected, 4);
  EXPECT_EQ(error(u"DELETE FROM Emp INNER JOIN Dept ON Emp.Dept = Dept.ID", true), 3128);
  EXPECT_EQ(error(u"DELETE Nope.* FROM Emp", true), 3078);
}

TEST_F(Exec, InsertPlans) {
  ActionPlan v = plan(u"INSERT INTO Emp (Name, Dept) VALUES ('Eve', '30')");
  EXPECT_EQ(v.recordsAffected, 1);
  EXPECT_EQ(v.changes[0].columns, (std::vector<int>{1, 2}));
  EXPECT_EQ(v.changes[0].inserts[0], (Row{T(u"Eve"), L(30)}));
  ActionPlan pos = plan(u"INSERT INTO Dept VALUES (40, 'Ops')");
  EXPECT_EQ(pos.changes[0].columns, (std::vector<int>{0, 1}));
  // SELECT fields go to the fields of the same name when no field list is given.
  ActionPlan sel = plan(u"INSERT INTO Dept SELECT Title, ID + 100 AS ID FROM Dept WHERE ID > 10");
  EXPECT_EQ(sel.recordsAffected, 2);
  EXPECT_EQ(sel.changes[0].columns, (std::vector<int>{1, 0}));
  EXPECT_EQ(sel.changes[0].inserts[0], (Row{T(u"Dev"), L(120)}));
  ActionPlan listed = plan(u"INSERT INTO Dept (Title, ID) SELECT Name, ID FROM Emp WHERE Dept Is Null");
  EXPECT_EQ(listed.changes[0].inserts[0], (Row{T(u"Di"), L(4)}));
  EXPECT_EQ(error(u"INSERT INTO Dept (ID, Nope) VALUES (1, 2)", true), 3127);
  EXPECT_EQ(error(u"INSERT INTO Dept SELECT Name FROM Emp", true), 3127);
  EXPECT_EQ(error(u"INSERT INTO Dept (ID) VALUES (1, 2)", true), 3346);
  EXPECT_EQ(error(u"INSERT INTO Dept VALUES (1, 'a', 3)", true), 3346);
  EXPECT_EQ(fault(u"INSERT INTO Dept (ID) VALUES ('x')"), 3464);
  EXPECT_EQ(fault(u"INSERT INTO Dept (ID, Title) SELECT ID, Name & String(30, 'x') FROM Emp"), 3163);
  EXPECT_EQ(error(u"INSERT INTO Nope VALUES (1)", true), 3078);
}

TEST_F(Exec, SelectIntoAndDefinitionPlans) {
  ActionPlan p = plan(u"SELECT Name, Salary * 2 AS Pay INTO Rich FROM Emp WHERE Salary > 3000");
  EXPECT_EQ(p.recordsAffected, 2);
  ASSERT_TRUE(p.createTable);
  EXPECT_EQ(*p.createTable, u"Rich");
  ASSERT_EQ(p.createColumns.size(), 2u);
  EXPECT_EQ(p.createColumns[0].type, ColType::Text);
  EXPECT_EQ(p.createColumns[0].maxLength, 20u);
  EXPECT_EQ(p.createColumns[1].name, u"Pay");
  EXPECT_EQ(p.createColumns[1].type, ColType::Double);
  EXPECT_EQ(error(u"SELECT * INTO Dept FROM Emp", true), 3010);
  EXPECT_EQ(plan(u"CREATE TABLE NewOne (a LONG)").recordsAffected, 0);
  EXPECT_EQ(error(u"CREATE TABLE Emp (a LONG)", true), 3010);
  EXPECT_EQ(error(u"CREATE TABLE t2 (a LONG, A TEXT)", true), 3191);
  EXPECT_EQ(error(u"DROP TABLE Nope", true), 3376);
  EXPECT_EQ(error(u"CREATE INDEX i ON Nope (a)", true), 3078);
}

TEST_F(Exec, KeywordsThatAreAlsoFunctionNames) {
  auto r = rows(u"SELECT Left(Name, 2), Right(Name, 1), Asc(Name) FROM Emp WHERE ID = 1");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0][0], T(u"An"));
  EXPECT_EQ(r[0][1], T(u"n"));
  EXPECT_EQ(toDouble(r[0][2]), 65.0);
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp WHERE Left(Name, 1) = 'b' ORDER BY Right(Name, 2) DESC, ID")),
            (V{2, 5}));
  ActionPlan u = plan(u"UPDATE Emp SET Name = Right(Name, 2) WHERE ID = 3");
  ASSERT_EQ(u.changes.size(), 1u);
  EXPECT_EQ(u.changes[0].updates[0].values[0], T(u"Cy"));
  // The keywords keep their meaning where they are not followed by a parenthesis.
  EXPECT_EQ(rows(u"SELECT e.ID FROM Emp e LEFT JOIN Dept d ON e.Dept = d.ID ORDER BY e.ID ASC").size(), 5u);
  EXPECT_EQ(error(u"SELECT Left FROM Emp"), 3141);
}

TEST_F(Exec, NumbersTooLargeAreOverflowErrors) {
  EXPECT_EQ(error(u"SELECT TOP 99999999999999999999 ID FROM Emp"), 3349);
  EXPECT_EQ(error(u"SELECT TOP 2147483648 ID FROM Emp"), 3349);
  EXPECT_EQ(rows(u"SELECT TOP 2147483647 ID FROM Emp").size(), 5u);
  EXPECT_EQ(error(u"SELECT 1e400"), 3349);
  EXPECT_EQ(error(u"SELECT ID FROM Emp WHERE Salary < 1e400"), 3349);
  EXPECT_EQ(rows(u"SELECT ID FROM Emp WHERE Salary < 1e300").size(), 4u);
}

TEST_F(Exec, UpdateOfCommaSeparatedTablesJoinsThemByTheWhereClause) {
  ActionPlan p = plan(u"UPDATE Emp AS e, Dept AS d SET e.Salary = e.Salary + 1, d.Title = 'x' "
                      u"WHERE e.Dept = d.ID AND d.ID = 20");
  EXPECT_EQ(p.recordsAffected, 2);
  ASSERT_EQ(p.changes.size(), 2u);
  EXPECT_EQ(p.changes[0].updates.size(), 2u);  // Cy and BOB
  EXPECT_EQ(p.changes[1].updates.size(), 1u);  // Dev, once
  EXPECT_EQ(plan(u"UPDATE Emp, Dept SET Salary = 0 WHERE Dept.ID = 30 AND Emp.Dept = Dept.ID").recordsAffected, 0);
}

TEST_F(Exec, InListsAnswerAsComparingWithEveryItem) {
  std::u16string many = u"SELECT ID FROM Emp WHERE ID IN (";
  for (int i = 0; i < 5000; ++i) many += storage::fromUtf8(std::to_string(i * 2 + 1)) + u",";
  many.back() = u')';
  EXPECT_EQ(ids(rows(many.c_str())), (V{1, 3, 5}));
  // Text items match without regard to case; numbers of other types by value.
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp WHERE Name IN ('ANN', 'bob', 'zed')")), (V{1, 2, 5}));
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp WHERE Salary IN (3000, 2500.0, CCur(4000))")), (V{2, 3, 4}));
  // Text that holds a number compares with a number; a Null item makes a miss Null.
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp WHERE ID IN ('2', 4)")), (V{2, 4}));
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp WHERE ID NOT IN (1, 2)")), (V{3, 4, 5}));
  EXPECT_EQ(rows(u"SELECT ID FROM Emp WHERE ID NOT IN (1, Null)").size(), 0u);
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp WHERE ID IN (1, Null)")), (V{1}));
  // Parameters count as constants of the list.
  EXPECT_EQ(ids(rows(u"SELECT ID FROM Emp WHERE ID IN (p1, p2)", {{u"p1", L(2)}, {u"p2", Value(3.0)}})),
            (V{2, 3}));
}

TEST_F(Exec, InSubqueriesAnswerAsComparingWithEveryValue) {
  // Text values match without regard to case; numbers of other types by value.
  EXPECT_EQ(ids(sorted(u"SELECT ID FROM Emp WHERE Name IN (SELECT UCase(Name) FROM Emp WHERE ID < 3)")),
            (V{1, 2, 5}));
  EXPECT_EQ(ids(sorted(u"SELECT ID FROM Emp WHERE Salary IN (SELECT ID * 1000 FROM Dept WHERE ID < 1)")), (V{}));
  EXPECT_EQ(ids(sorted(u"SELECT ID FROM Dept WHERE ID IN (SELECT Salary / 100 FROM Emp)")), (V{30}));
  EXPECT_EQ(ids(sorted(u"SELECT ID FROM Emp WHERE ID IN (SELECT CCur(Dept) / 10 FROM Emp WHERE Dept Is Not Null)")), (V{1, 2}));
  // A value of another family than the subquery's values is still compared with them.
  EXPECT_EQ(ids(sorted(u"SELECT ID FROM Emp WHERE ID IN (SELECT Str(ID + 1) FROM Emp WHERE ID < 3)")),
            (V{2, 3}));
  // A Null among the values makes a miss Null: NOT IN then keeps no row.
  EXPECT_EQ(ids(sorted(u"SELECT ID FROM Emp WHERE ID IN (SELECT Boss FROM Emp)")), (V{1, 3}));
  EXPECT_EQ(rows(u"SELECT ID FROM Emp WHERE ID NOT IN (SELECT Boss FROM Emp)").size(), 0u);
  EXPECT_EQ(ids(sorted(u"SELECT ID FROM Emp WHERE ID NOT IN (SELECT Boss FROM Emp WHERE Boss Is Not Null)")),
            (V{2, 4, 5}));
}

TEST_F(Exec, CrossProductsReadTheirTablesAsFarAsNeeded) {
  // Every pair of a cross product, in odometer order, filtered per table.
  auto r = rows(u"SELECT e.ID, d.ID FROM Emp e, Dept d WHERE e.ID < 3 AND d.ID <> 20");
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(ids(r, 1), (V{10, 30, 10, 30}));
  EXPECT_EQ(ids(r, 0), (V{1, 1, 2, 2}));
  // Two tables joined by the WHERE clause and a third alone.
  EXPECT_EQ(rows(u"SELECT e.ID, d.ID, n.X FROM Emp e, Dept d, Nothing n WHERE e.Dept = d.ID").size(), 0u);
  auto j = sorted(u"SELECT e.ID, d.Title, x.ID FROM Emp e, Dept d, Dept x WHERE e.Dept = d.ID AND x.ID = 30");
  ASSERT_EQ(j.size(), 4u);
  EXPECT_EQ(ids(j, 2), (V{30, 30, 30, 30}));
  EXPECT_EQ(rows(u"SELECT TOP 2 e.ID, d.ID FROM Emp e, Dept d ORDER BY d.ID DESC, e.ID").size(), 2u);
  EXPECT_EQ(ids(rows(u"SELECT TOP 2 e.ID, d.ID FROM Emp e, Dept d ORDER BY d.ID DESC, e.ID"), 0), (V{1, 2}));
  // A join streams into TOP and still keeps its unmatched rows.
  EXPECT_EQ(ids(rows(u"SELECT TOP 3 e.ID FROM Emp e LEFT JOIN Dept d ON e.Dept = d.ID WHERE d.ID Is Null")), (V{4}));
}

TEST(ExecEdge, ATableWithoutColumnsStillHasItsRows) {
  auto t = std::make_shared<MemoryTable>(u"Bare", std::vector<SourceColumn>{});
  t->addRow({});
  t->addRow({});
  MemoryCatalog catalog;
  catalog.add(t);
  auto rs = executeSelect(parseStatement(u"SELECT 7 FROM Bare"), catalog);
  ASSERT_EQ(rs.rows.size(), 2u);
  EXPECT_EQ(rs.rows[0][0], Value(int32_t(7)));
  EXPECT_EQ(executeSelect(parseStatement(u"SELECT a.x FROM Bare AS b, (SELECT 1 AS x FROM Bare) AS a"), catalog).rows.size(), 4u);
}

TEST(ValueOrder, GuidsOrderAsTheirIndexKeys) {
  // The first field is stored little-endian: 00000002-... sorts before 00000100-....
  Guid a, b;
  a.bytes[0] = 2;  // {00000002-0000-...}
  b.bytes[1] = 1;  // {00000100-0000-...}
  EXPECT_LT(compareForSort(Value(a), Value(b)), 0);
  Guid c, d;
  c.bytes[5] = 1;  // data2 = 0x0100
  d.bytes[4] = 2;  // data2 = 0x0002
  EXPECT_GT(compareForSort(Value(c), Value(d)), 0);
  EXPECT_TRUE(isTrue(applyBinary(BinaryOp::Gt, Value(c), Value(d))));
}

}  // namespace
}  // namespace bv::sql
