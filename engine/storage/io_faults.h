// A test hook in the file layer: counts the operations every File of the process performs
// and makes a chosen one fail, come up short, find the disk full, or end the process
// (before the operation, or halfway through a write). Tests use it to prove that a failing
// or dying writer leaves a database whole; with no injector set it costs one pointer test.
#pragma once

#include <cstdint>

namespace bv::storage {

enum class IoOp { Read, Write, Sync, Truncate, Remove };

enum class IoFault {
  None,
  Error,       // the operation fails (device error)
  ShortWrite,  // a write stores half its bytes, then fails
  DiskFull,    // the operation fails: no space left
  Crash,       // the process ends (_exit) before the operation
  TornWrite,   // a write stores half its bytes, then the process ends
};

struct IoFaultInjector {
  // Operations seen since the injector was set. Writes, syncs, truncations and removals
  // ("changes") are counted together from 1; reads separately.
  uint64_t changes = 0;
  uint64_t reads = 0;
  // The change (or read) that gets `fault`; 0 = none.
  uint64_t failChangeAt = 0;
  uint64_t failReadAt = 0;
  IoFault fault = IoFault::Error;
};

// The exit status of a process ended by a Crash or TornWrite fault.
constexpr int kInjectedCrashExit = 86;

// Process-wide; nullptr removes it. Not for concurrent use: tests only.
void setIoFaultInjector(IoFaultInjector* injector);

// Called by File before each operation: counts it and says what the injector wants done.
IoFault ioFaultFor(IoOp op);

}  // namespace bv::storage
