#include "engine/storage/sharing.h"

#include "engine/storage/error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace bv::storage {

std::string computerName() {
#ifdef _WIN32
  char buf[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD n = sizeof buf;
  if (GetComputerNameA(buf, &n)) return std::string(buf, n);
#else
  char buf[256] = {};
  if (gethostname(buf, sizeof buf - 1) == 0) return buf;
#endif
  return "UNKNOWN";
}

ShareSession::ShareSession(const std::string& path, const ShareOptions& options) : path_(path), options_(options) {
  locks_ = std::make_unique<FileLocks>(path);
  const auto mode = options_.exclusive ? FileLocks::Mode::Exclusive : FileLocks::Mode::Shared;
  // A short wait covers another user who is just closing the database.
  if (!locks_->lock(kOpenLockByte, mode, options_.timeoutMs < 250 ? options_.timeoutMs : 250))
    throw JetError(3045, options_.exclusive
                             ? "Could not use '" + path + "': other users have it open, so it cannot be opened exclusively."
                             : "Could not use '" + path + "': another user has it open exclusively.");
  if (!options_.exclusive && options_.writable) {
    try {
      entry_ = std::make_unique<LockFileEntry>(path, *locks_, kLockFileGuardByte,
                                               options_.computerName.empty() ? computerName() : options_.computerName,
                                               options_.userName, options_.timeoutMs);
    } catch (...) {
      locks_->unlock(kOpenLockByte);
      throw;
    }
  }
}

ShareSession::~ShareSession() {
  entry_.reset();
  if (readHeld_) locks_->unlock(kCommitLockByte);
  if (writeDepth_ > 0) locks_->unlock(kWriterLockByte);
  locks_->unlock(kOpenLockByte);
}

bool ShareSession::beginWrite() {
  if (writeDepth_++ > 0 || options_.exclusive) return false;
  if (!locks_->lock(kWriterLockByte, FileLocks::Mode::Exclusive, options_.timeoutMs)) {
    --writeDepth_;
    throw JetError(3218, "Could not update; the database '" + path_ + "' is currently locked by another user.");
  }
  // While this open is the only writer no one can change the file under a reader of ours,
  // so the shared commit byte is not needed (and must not stand in the way of our commit).
  if (readHeld_) {
    locks_->unlock(kCommitLockByte);
    readHeld_ = false;
  }
  return true;
}

void ShareSession::endWrite() {
  if (writeDepth_ == 0 || --writeDepth_ > 0) return;
  if (options_.exclusive) return;
  if (readDepth_ > 0) readHeld_ = locks_->lock(kCommitLockByte, FileLocks::Mode::Shared, options_.timeoutMs);
  locks_->unlock(kWriterLockByte);
}

bool ShareSession::beginRead() {
  if (readDepth_++ > 0 || writeDepth_ > 0 || options_.exclusive) return false;
  if (!locks_->lock(kCommitLockByte, FileLocks::Mode::Shared, options_.timeoutMs)) {
    --readDepth_;
    throw JetError(3218, "Could not read the database '" + path_ + "': another user's change is being written.");
  }
  readHeld_ = true;
  return true;
}

void ShareSession::endRead() {
  if (readDepth_ == 0 || --readDepth_ > 0) return;
  if (readHeld_) {
    locks_->unlock(kCommitLockByte);
    readHeld_ = false;
  }
}

void ShareSession::beginCommit() {
  if (options_.exclusive) return;
  if (!locks_->lock(kCommitLockByte, FileLocks::Mode::Exclusive, options_.timeoutMs))
    throw JetError(3218, "Could not update; other users are reading the database '" + path_ + "'.");
}

void ShareSession::endCommit() {
  if (options_.exclusive) return;
  locks_->unlock(kCommitLockByte);
}

}  // namespace bv::storage
