#include "engine/storage/io_faults.h"

namespace bv::storage {

namespace {
IoFaultInjector* g_injector = nullptr;
}  // namespace

void setIoFaultInjector(IoFaultInjector* injector) { g_injector = injector; }

IoFault ioFaultFor(IoOp op) {
  IoFaultInjector* in = g_injector;
  if (!in) return IoFault::None;
  if (op == IoOp::Read) {
    ++in->reads;
    return in->reads == in->failReadAt ? IoFault::Error : IoFault::None;
  }
  ++in->changes;
  if (in->changes != in->failChangeAt) return IoFault::None;
  // Only writes can be cut in half; any other operation fails or dies whole.
  if (op != IoOp::Write && in->fault == IoFault::ShortWrite) return IoFault::Error;
  if (op != IoOp::Write && in->fault == IoFault::TornWrite) return IoFault::Crash;
  return in->fault;
}

}  // namespace bv::storage
