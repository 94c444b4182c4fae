// Kills a writer at every step of its commit and judges what the next open finds: the file
// exactly as before the unit, or exactly as after it (which `check` passes). A recovery
// that itself dies at any step must be completed by the following open.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "engine/storage/check.h"
#include "engine/storage/io_faults.h"
#include "engine/storage/journal.h"
#include "engine/storage/write_unit.h"
#include "tests/engine/storage/storage_test_util.h"

namespace bv::storage::crash {

namespace fs = std::filesystem;

// Runs `body` in a child process with an injector that ends it at change k with `fault`.
// True if the child died there, false if it ran to the end (k lies past its last change).
// A child that fails otherwise fails the test.
inline bool runChild(uint64_t k, IoFault fault, const std::function<void()>& body) {
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

// The changes of one unit, made on an open database (not committed).
using Change = std::function<void(WriteUnit&)>;

class Harness {
 public:
  // Copies the fixture and computes the after state with a clean commit (which must check).
  Harness(const std::string& fixture, Change change, WriteOptions options)
      : copy_(fixture), change_(std::move(change)), options_(options) {
    before_ = copy_.read();
    test::TempCopy reference(fixture);
    auto db = Database::open(reference.path(), OpenMode::ReadWrite);
    {
      WriteUnit unit(*db, options_);
      change_(unit);
      unit.commit();
    }
    const CheckReport r = checkDatabase(*db);
    EXPECT_TRUE(r.ok()) << "the clean commit does not check: " << (r.problems.empty() ? "" : r.problems.front());
    db.reset();
    after_ = reference.read();
    EXPECT_NE(after_, before_) << "the unit changes nothing";
  }
  const std::string& path() const { return copy_.path(); }
  const std::vector<uint8_t>& after() const { return after_; }

  // Kills the commit at every step with `fault`; returns the number of steps seen.
  uint64_t killAtEveryStep(IoFault fault) {
    int befores = 0, afters = 0;
    uint64_t k = 1;
    for (;; ++k) {
      SCOPED_TRACE(std::string(fault == IoFault::Crash ? "death" : "torn write") + " at change " + std::to_string(k));
      copy_.write(before_);
      const bool died = runChild(k, fault, [&] { commitOnce(); });
      if (::testing::Test::HasFailure()) return k;
      const Snapshot crashed = snapshot();
      const State state = recoveredState();
      EXPECT_NE(state, State::Other) << "the file is neither as before nor as after the unit";
      if (state == State::Other) return k;
      (state == State::Before ? befores : afters)++;
      if (!died) break;
      // The recovery itself dies at each of its steps; the next open still ends the same.
      if (!crashed.hasJournal) continue;
      for (uint64_t j = 1;; ++j) {
        SCOPED_TRACE("recovery dies at change " + std::to_string(j));
        restore(crashed);
        const bool recoveryDied = runChild(j, fault, [&] { Database::open(path(), OpenMode::ReadWrite).reset(); });
        EXPECT_EQ(recoveredState(), state);
        if (!recoveryDied || ::testing::Test::HasFailure()) break;
      }
    }
    EXPECT_GT(befores, 0);
    EXPECT_GT(afters, 0);
    return k;
  }

 private:
  enum class State { Before, After, Other };
  struct Snapshot {
    std::vector<uint8_t> db, journal;
    bool hasJournal = false;
  };

  void commitOnce() const {
    auto db = Database::open(path(), OpenMode::ReadWrite);
    WriteUnit unit(*db, options_);
    change_(unit);
    unit.commit();
  }
  // Opens for writing (recovering), closes, and tells which state the file is in.
  State recoveredState() const {
    Database::open(path(), OpenMode::ReadWrite).reset();
    EXPECT_FALSE(fs::exists(journalPath(path())));
    const auto now = copy_.read();
    return now == before_ ? State::Before : now == after_ ? State::After : State::Other;
  }
  static std::vector<uint8_t> readAll(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  Snapshot snapshot() const {
    Snapshot s{copy_.read(), {}, fs::exists(journalPath(path()))};
    if (s.hasJournal) s.journal = readAll(journalPath(path()));
    return s;
  }
  void restore(const Snapshot& s) const {
    copy_.write(s.db);
    const std::string j = journalPath(path());
    if (!s.hasJournal) {
      fs::remove(j);
      return;
    }
    std::ofstream out(j, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(s.journal.data()), static_cast<std::streamsize>(s.journal.size()));
  }

  test::TempCopy copy_;
  Change change_;
  WriteOptions options_;
  std::vector<uint8_t> before_, after_;
};

}  // namespace bv::storage::crash
