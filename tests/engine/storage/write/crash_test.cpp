// A writer that dies at any step of a commit — before its k-th write, flush, cut or
// removal, or halfway through a write — for every k: the next open (which finds and rolls
// back the journal) sees the file exactly as before the unit, or exactly as after it. A
// recovery that itself dies at any step is completed by the following open.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
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

// Runs `body` in a child process with an injector that ends it at change k with `fault`.
// Returns true if the child died there, false if it ran to the end (k lies past its last
// change). A child that fails otherwise fails the test.
bool runChild(uint64_t k, IoFault fault, const std::function<void()>& body) {
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    static IoFaultInjector in;
    in.failChangeAt = k;
    in.fault = fault;
    setIoFaultInjector(&in);
    try {
      body();
    } catch (...) {
      _exit(3);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status)) << "child ended by a signal";
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  EXPECT_TRUE(code == 0 || code == kInjectedCrashExit) << "child failed with exit code " << code;
  return code == kInjectedCrashExit;
}

struct Case {
  const char* fixture;
  bool farPage;
  bool durable;
};

class CrashTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    const std::string src = test::fixturesDir() + "/" + GetParam().fixture;
    if (!fs::exists(src)) GTEST_SKIP() << "fixture absent: " << src;
    copy_ = std::make_unique<test::TempCopy>(src);
    before_ = copy_->read();
    {
      test::TempCopy reference(src);
      auto db = Database::open(reference.path(), OpenMode::ReadWrite);
      WriteUnit unit(*db, options());
      ASSERT_TRUE(sample::applySampleChange(unit, GetParam().farPage));
      unit.commit();
      const CheckReport r = checkDatabase(*db);
      ASSERT_TRUE(r.ok()) << (r.problems.empty() ? "" : r.problems.front());
      db.reset();
      after_ = reference.read();
    }
    ASSERT_NE(after_, before_);
  }
  WriteOptions options() const {
    WriteOptions o;
    o.durable = GetParam().durable;
    return o;
  }
  void commitSample() const {
    auto db = Database::open(copy_->path(), OpenMode::ReadWrite);
    WriteUnit unit(*db, options());
    if (!sample::applySampleChange(unit, GetParam().farPage)) _exit(4);
    unit.commit();
  }
  // Opens for writing (recovering), closes, and tells which state the file is in.
  enum class State { Before, After, Other };
  State recoveredState() const {
    Database::open(copy_->path(), OpenMode::ReadWrite).reset();
    EXPECT_FALSE(fs::exists(journalPath(copy_->path())));
    const auto now = copy_->read();
    return now == before_ ? State::Before : now == after_ ? State::After : State::Other;
  }
  // Saves or restores the database and its journal as the crash left them.
  struct Snapshot {
    std::vector<uint8_t> db, journal;
    bool hasJournal = false;
  };
  Snapshot snapshot() const {
    Snapshot s{copy_->read(), {}, fs::exists(journalPath(copy_->path()))};
    if (s.hasJournal) {
      test::TempCopy tmp("");
      fs::copy_file(journalPath(copy_->path()), tmp.path());
      s.journal = tmp.read();
    }
    return s;
  }
  void restore(const Snapshot& s) const {
    copy_->write(s.db);
    const std::string j = journalPath(copy_->path());
    if (!s.hasJournal) {
      fs::remove(j);
      return;
    }
    std::ofstream out(j, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(s.journal.data()), static_cast<std::streamsize>(s.journal.size()));
  }

  std::unique_ptr<test::TempCopy> copy_;
  std::vector<uint8_t> before_, after_;
};

TEST_P(CrashTest, DeathAtEveryStepLeavesBeforeOrAfter) {
  for (IoFault fault : {IoFault::Crash, IoFault::TornWrite}) {
    int befores = 0, afters = 0;
    uint64_t k = 1;
    for (;; ++k) {
      SCOPED_TRACE(std::string(fault == IoFault::Crash ? "death" : "torn write") + " at change " + std::to_string(k));
      copy_->write(before_);
      const bool died = runChild(k, fault, [&] { commitSample(); });
      if (HasFailure()) return;
      const Snapshot crashed = snapshot();
      const State state = recoveredState();
      ASSERT_NE(state, State::Other) << "the file is neither as before nor as after the unit";
      (state == State::Before ? befores : afters)++;
      if (!died) break;
      // The recovery itself dies at each of its steps; the next open still ends the same.
      if (crashed.hasJournal) {
        for (uint64_t j = 1;; ++j) {
          SCOPED_TRACE("recovery dies at change " + std::to_string(j));
          restore(crashed);
          const bool recoveryDied =
              runChild(j, fault, [&] { Database::open(copy_->path(), OpenMode::ReadWrite).reset(); });
          ASSERT_EQ(recoveredState(), state);
          if (!recoveryDied) break;
        }
      }
    }
    EXPECT_GT(k, 4u) << "the commit performed fewer steps than expected";
    EXPECT_GT(befores, 0);
    EXPECT_GT(afters, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Units, CrashTest,
                         ::testing::Values(Case{"jet4/testV2000.mdb", true, true}, Case{"jet3/testV1997.mdb", true, false},
                                           Case{"jet4/indexTestV2000.mdb", false, true}),
                         [](const auto& info) {
                           std::string n = info.param.fixture;
                           n = n.substr(n.find('/') + 1);
                           n = n.substr(0, n.find('.'));
                           return n + (info.param.farPage ? "_grows" : "_small") +
                                  (info.param.durable ? "_durable" : "_fast");
                         });

}  // namespace
}  // namespace bv::storage
