#include "engine/storage/page_buffers.h"

#include <algorithm>
#include <new>

#ifndef _WIN32
#include <sys/mman.h>
#endif

namespace bv::storage {

namespace {
// Slabs double from a few pages (a one-row lookup) to a megabyte (a long scan).
constexpr size_t kFirstSlabPages = 16;
constexpr size_t kMaxSlabPages = 256;

uint8_t* slabMemory(size_t bytes) {
#ifdef _WIN32
  return new uint8_t[bytes];
#else
  // Populated at once: one call instead of a fault on the first touch of every page.
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  return static_cast<uint8_t*>(p);
#endif
}

void releaseSlab(uint8_t* p, size_t bytes) {
#ifdef _WIN32
  (void)bytes;
  delete[] p;
#else
  munmap(p, bytes);
#endif
}
}  // namespace

std::shared_ptr<PageBuffers> PageBuffers::make(uint32_t pageSize) {
  return std::shared_ptr<PageBuffers>(new PageBuffers(pageSize));
}

PageBuffers::~PageBuffers() {
  for (const auto& [p, bytes] : slabs_) releaseSlab(p, bytes);
}

void PageBuffers::addSlab() {
  const size_t pages = slabs_.empty() ? kFirstSlabPages : std::min(pages_, kMaxSlabPages);
  const size_t bytes = pages * pageSize_;
  uint8_t* p = slabMemory(bytes);
  slabs_.emplace_back(p, bytes);
  pages_ += pages;
  for (size_t k = pages; k-- > 0;) free_.push_back(p + k * pageSize_);
}

std::shared_ptr<uint8_t[]> PageBuffers::take() {
  uint8_t* p;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (free_.empty()) addSlab();
    p = free_.back();
    free_.pop_back();
  }
  // The deleter keeps this object (and so the slab) alive for as long as the buffer is held.
  return std::shared_ptr<uint8_t[]>(p, [self = shared_from_this()](uint8_t* q) { self->give(q); });
}

void PageBuffers::give(uint8_t* p) {
  std::lock_guard<std::mutex> lock(mu_);
  free_.push_back(p);
}

size_t PageBuffers::capacity() const {
  std::lock_guard<std::mutex> lock(mu_);
  return pages_;
}

}  // namespace bv::storage
