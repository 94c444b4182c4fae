// A bounded cache of file pages. Pages are handed out as PageRef (shared ownership), so a
// page stays valid for as long as someone holds it, even after the cache dropped it.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "engine/storage/page_buffers.h"

namespace bv::storage {

class File;

class PageRef {
 public:
  PageRef() = default;
  PageRef(std::shared_ptr<const uint8_t[]> bytes, uint32_t number, uint32_t size)
      : bytes_(std::move(bytes)), number_(number), size_(size) {}

  const uint8_t* data() const { return bytes_.get(); }
  uint32_t size() const { return size_; }
  uint32_t number() const { return number_; }
  explicit operator bool() const { return bytes_ != nullptr; }
  uint8_t operator[](size_t i) const { return bytes_[i]; }
  // Little-endian reads; the caller guarantees off + width <= size().
  uint16_t u16(size_t off) const {
    return static_cast<uint16_t>(bytes_[off] | (bytes_[off + 1] << 8));
  }
  uint32_t u32(size_t off) const {
    return static_cast<uint32_t>(bytes_[off]) | (static_cast<uint32_t>(bytes_[off + 1]) << 8) |
           (static_cast<uint32_t>(bytes_[off + 2]) << 16) | (static_cast<uint32_t>(bytes_[off + 3]) << 24);
  }

 private:
  std::shared_ptr<const uint8_t[]> bytes_;
  uint32_t number_ = 0;
  uint32_t size_ = 0;
};

class PageCache {
 public:
  // `capacity` is the number of pages kept; reads beyond `pageCount` fail with 3049.
  PageCache(File& file, uint32_t pageSize, uint32_t pageCount, size_t capacity);
  ~PageCache();

  PageRef get(uint32_t page);
  uint32_t pageSize() const { return pageSize_; }
  uint32_t pageCount() const { return pageCount_; }
  // Drops a page (after the file changed underneath), or all pages.
  void invalidate(uint32_t page);
  // The file's length in pages changed (a write unit grew or cut it).
  void setPageCount(uint32_t n) { pageCount_ = n; }
  void clear();
  // Statistics: pages read from the file since opening.
  uint64_t reads() const { return reads_; }
  File& file() { return file_; }

 private:
  struct Entry {
    uint32_t page;
    std::shared_ptr<uint8_t[]> bytes;
    bool ahead;  // read ahead and not asked for yet
  };
  void remember(uint32_t page, std::shared_ptr<uint8_t[]> bytes, bool ahead);
  File& file_;
  uint32_t pageSize_;
  uint32_t pageCount_;
  size_t capacity_;
  std::mutex mu_;
  std::list<Entry> lru_;  // most recent first
  std::unordered_map<uint32_t, std::list<Entry>::iterator> index_;
  uint64_t reads_ = 0;
  // Page memory: buffers of dropped pages come back here once nobody holds them, so a scan
  // allocates (and first touches) no memory per page.
  std::shared_ptr<PageBuffers> buffers_;
  // The last page read from the file.
  uint32_t lastRead_ = UINT32_MAX;
  // How many pages a read takes beyond the one asked for: it doubles while the pages read
  // ahead get used and halves while most are not (rows fetched sparsely in file order).
  uint32_t window_;
  uint32_t aheadRead_ = 0, aheadUsed_ = 0;  // of the last read
};

}  // namespace bv::storage
