// I/O faults at every step of a commit (and reads anywhere in a unit): the unit ends with a
// clear JetError, the file is byte-for-byte as before, no journal is left, and the same
// Database commits the change afterwards as if nothing had happened.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "engine/storage/check.h"
#include "engine/storage/error.h"
#include "engine/storage/io_faults.h"
#include "engine/storage/journal.h"
#include "tests/engine/storage/storage_test_util.h"
#include "tests/engine/storage/write/unit_sample_change.h"

namespace bv::storage {
namespace {

namespace fs = std::filesystem;

// Sets an injector for the lifetime of the object.
struct ScopedInjector {
  IoFaultInjector in;
  ScopedInjector() { setIoFaultInjector(&in); }
  ~ScopedInjector() { setIoFaultInjector(nullptr); }
};

struct Case {
  const char* fixture;
  bool farPage;
  bool durable;
};

class FaultTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    const std::string src = test::fixturesDir() + "/" + GetParam().fixture;
    if (!fs::exists(src)) GTEST_SKIP() << "fixture absent: " << src;
    copy_ = std::make_unique<test::TempCopy>(src);
    reference_ = std::make_unique<test::TempCopy>(src);
    before_ = copy_->read();
    // The state after a clean commit, and how many operations that commit performs.
    auto db = Database::open(reference_->path(), OpenMode::ReadWrite);
    WriteUnit unit(*db, options());
    ASSERT_TRUE(sample::applySampleChange(unit, GetParam().farPage));
    ScopedInjector count;
    unit.commit();
    changes_ = count.in.changes;
    db.reset();
    after_ = reference_->read();
    ASSERT_NE(after_, before_);
  }
  WriteOptions options() const {
    WriteOptions o;
    o.durable = GetParam().durable;
    return o;
  }
  std::unique_ptr<test::TempCopy> copy_, reference_;
  std::vector<uint8_t> before_, after_;
  uint64_t changes_ = 0;
};

TEST_P(FaultTest, FailedWriteSyncCutOrRemovalLeavesTheFileAsBefore) {
  ASSERT_GT(changes_, 3u);
  const std::string journal = journalPath(copy_->path());
  for (IoFault fault : {IoFault::Error, IoFault::ShortWrite, IoFault::DiskFull}) {
    for (uint64_t k = 1; k <= changes_; ++k) {
      SCOPED_TRACE("fault " + std::to_string(static_cast<int>(fault)) + " at change " + std::to_string(k));
      auto db = Database::open(copy_->path(), OpenMode::ReadWrite);
      bool failed = false;
      {
        WriteUnit unit(*db, options());
        ASSERT_TRUE(sample::applySampleChange(unit, GetParam().farPage));
        ScopedInjector inject;
        inject.in.failChangeAt = k;
        inject.in.fault = fault;
        try {
          unit.commit();
        } catch (const JetError& e) {
          failed = true;
          EXPECT_EQ(e.number(), fault == IoFault::DiskFull ? 3026 : 3043) << e.what();
          EXPECT_NE(std::string(e.what()).find(copy_->path()), std::string::npos) << e.what();
        }
        EXPECT_FALSE(unit.active());
      }
      EXPECT_FALSE(fs::exists(journal));
      if (!failed) {
        // Only the last step, flushing the folder after the journal is gone, may fail
        // without undoing the change: the change had taken effect.
        EXPECT_EQ(k, changes_);
        db.reset();
        EXPECT_EQ(copy_->read(), after_);
        copy_->write(before_);
        continue;
      }
      EXPECT_EQ(db->pageCount(), before_.size() / db->pageSize());
      ASSERT_EQ(copy_->read(), before_);
      // The same database object carries on: its caches hold nothing of the failed unit.
      WriteUnit again(*db, options());
      ASSERT_TRUE(sample::applySampleChange(again, GetParam().farPage));
      again.commit();
      db.reset();
      ASSERT_EQ(copy_->read(), after_);
      copy_->write(before_);
    }
  }
}

TEST_P(FaultTest, FailedReadEndsTheUnitAndLeavesTheFileAsBefore) {
  // Reads a unit makes from opening to commit, counted on a clean run.
  uint64_t reads = 0;
  {
    auto db = Database::open(copy_->path(), OpenMode::ReadWrite);
    ScopedInjector count;
    WriteUnit unit(*db, options());
    ASSERT_TRUE(sample::applySampleChange(unit, GetParam().farPage));
    unit.rollback();
    reads = count.in.reads;
  }
  ASSERT_GT(reads, 0u);
  int errors = 0;
  for (uint64_t k = 1; k <= reads + 2; ++k) {
    SCOPED_TRACE("read fault at read " + std::to_string(k));
    auto db = Database::open(copy_->path(), OpenMode::ReadWrite);
    ScopedInjector inject;
    inject.in.failReadAt = k;
    try {
      WriteUnit unit(*db, options());
      ASSERT_TRUE(sample::applySampleChange(unit, GetParam().farPage));
      unit.commit();
    } catch (const JetError& e) {
      ++errors;
      EXPECT_EQ(e.number(), 3040) << e.what();
    }
    setIoFaultInjector(nullptr);
    db.reset();
    const auto now = copy_->read();
    if (now == after_) {
      copy_->write(before_);  // the fault fell on a read the commit did not need
      continue;
    }
    ASSERT_EQ(now, before_);
  }
  EXPECT_GT(errors, 0);
}

INSTANTIATE_TEST_SUITE_P(Units, FaultTest,
                         ::testing::Values(Case{"jet4/testV2000.mdb", true, true}, Case{"jet4/testV2000.mdb", false, false},
                                           Case{"jet3/testV1997.mdb", true, true}),
                         [](const auto& info) {
                           std::string n = info.param.fixture;
                           n = n.substr(n.find('/') + 1);
                           n = n.substr(0, n.find('.'));
                           return n + (info.param.farPage ? "_grows" : "_small") +
                                  (info.param.durable ? "_durable" : "_fast");
                         });

}  // namespace
}  // namespace bv::storage
