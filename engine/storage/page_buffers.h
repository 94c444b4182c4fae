// Memory for cached page images, handed out in slabs. Each page buffer comes back to its
// slab's free list when its last holder lets go, so a long scan reuses the same memory and
// a new slab is made ready in one step instead of page by page on first touch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace bv::storage {

class PageBuffers : public std::enable_shared_from_this<PageBuffers> {
 public:
  static std::shared_ptr<PageBuffers> make(uint32_t pageSize);
  ~PageBuffers();
  PageBuffers(const PageBuffers&) = delete;
  PageBuffers& operator=(const PageBuffers&) = delete;

  // A buffer of one page, contents unspecified. It stays valid while held, even after the
  // PageBuffers object's other owners are gone.
  std::shared_ptr<uint8_t[]> take();
  // Pages in all slabs made so far (for tests and statistics).
  size_t capacity() const;

 private:
  explicit PageBuffers(uint32_t pageSize) : pageSize_(pageSize) {}
  void give(uint8_t* p);
  void addSlab();

  uint32_t pageSize_;
  mutable std::mutex mu_;
  std::vector<uint8_t*> free_;
  std::vector<std::pair<uint8_t*, size_t>> slabs_;  // start, bytes
  size_t pages_ = 0;
};

}  // namespace bv::storage
