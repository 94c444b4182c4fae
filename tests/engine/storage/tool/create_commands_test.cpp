// `brimvale create` and `brimvale sample`, run as a program: new files that every reader
// accepts, the same bytes on every run, and an existing file never replaced.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/engine/storage/storage_test_util.h"

namespace bv::test {
namespace {

int toolStatus(const std::string& args, std::string* err = nullptr) {
  TempCopy errFile("");
  int status = 0;
  runCommand(std::string(BV_TOOL) + " " + args + " 2>" + shellQuote(errFile.dir() + "/err"), &status);
  if (err) *err = runCommand("cat " + shellQuote(errFile.dir() + "/err"));
  return status;
}

bool haveMdbTools() {
  int status = 0;
  runCommand("command -v mdb-export >/dev/null 2>&1", &status);
  return status == 0;
}

TEST(CreateCommands, CreateMakesEitherFormatAndRefusesToOverwrite) {
  TempCopy dir("");
  const std::string j4 = dir.dir() + "/a.mdb", j3 = dir.dir() + "/b.mdb";
  EXPECT_EQ(toolStatus("create " + shellQuote(j4)), 0);
  EXPECT_EQ(toolStatus("create " + shellQuote(j3) + " --format jet3"), 0);
  EXPECT_EQ(std::filesystem::file_size(j4) % 4096, 0u);
  EXPECT_EQ(std::filesystem::file_size(j3) % 2048, 0u);
  EXPECT_EQ(toolStatus("check " + shellQuote(j3)), 0);
  std::string err;
  const auto before = std::filesystem::file_size(j4);
  EXPECT_EQ(toolStatus("create " + shellQuote(j4) + " --format jet3", &err), 1);
  EXPECT_NE(err.find("3204"), std::string::npos) << err;
  EXPECT_EQ(std::filesystem::file_size(j4), before);
  EXPECT_EQ(toolStatus("create " + shellQuote(dir.dir() + "/c.mdb") + " --format jet5"), 2);
  EXPECT_FALSE(std::filesystem::exists(dir.dir() + "/c.mdb"));
}

TEST(CreateCommands, TheSampleIsDeterministicConsistentAndReadable) {
  TempCopy dir("");
  const std::string a = dir.dir() + "/shop.mdb", b = dir.dir() + "/again.mdb";
  ASSERT_EQ(toolStatus("sample " + shellQuote(a)), 0);
  ASSERT_EQ(toolStatus("sample " + shellQuote(b)), 0);
  EXPECT_EQ(runCommand("cmp " + shellQuote(a) + " " + shellQuote(b) + " && echo same"), "same\n");
  EXPECT_EQ(toolStatus("check " + shellQuote(a)), 0);
  EXPECT_EQ(runCommand(std::string(BV_TOOL) + " tables " + shellQuote(a)), "Customers\nProducts\nOrders\nOrderLines\n");
  // Every order line names an order and a product that exist.
  const std::string orphans = runCommand(std::string(BV_TOOL) + " query " + shellQuote(a) +
                                         " \"SELECT Count(*) AS N FROM OrderLines WHERE OrderID NOT IN "
                                         "(SELECT OrderID FROM Orders) OR ProductID NOT IN (SELECT ProductID FROM Products)\"");
  EXPECT_EQ(orphans, "N\n0\n");
  if (!haveMdbTools()) GTEST_SKIP() << "mdbtools is not installed";
  const auto customers = parseCsv(runCommand("mdb-export " + shellQuote(a) + " Customers"));
  ASSERT_EQ(customers.size(), 49u);
  EXPECT_EQ(customers[4][1].text, "Ελένη Παπαδοπούλου");
  EXPECT_EQ(customers[6][1].text, "さとう はなこ");
  const auto lines = parseCsv(runCommand("mdb-export " + shellQuote(a) + " OrderLines"));
  EXPECT_GT(lines.size(), 300u);
  const std::string rels = runCommand("mdb-export " + shellQuote(a) + " MSysRelationships");
  EXPECT_NE(rels.find("\"OrdersOrderLines\",4096,1,0,\"OrderLines\",\"OrderID\",\"Orders\",\"OrderID\""),
            std::string::npos)
      << rels;
}

}  // namespace
}  // namespace bv::test
