#include "engine/storage/page_cache.h"

#include <string>

#include "engine/storage/error.h"
#include "engine/storage/file.h"

namespace bv::storage {

PageCache::PageCache(File& file, uint32_t pageSize, uint32_t pageCount, size_t capacity)
    : file_(file), pageSize_(pageSize), pageCount_(pageCount), capacity_(capacity < 4 ? 4 : capacity) {}

PageCache::~PageCache() = default;

PageRef PageCache::get(uint32_t page) {
  if (page >= pageCount_)
    throw JetError(3049, "The database '" + file_.path() + "' is damaged: page " + std::to_string(page) +
                             " lies beyond the end of the file (" + std::to_string(pageCount_) +
                             " pages): the file is truncated, or what refers to the page is wrong.");
  std::lock_guard<std::mutex> lock(mu_);
  auto it = index_.find(page);
  if (it != index_.end()) {
    lru_.splice(lru_.begin(), lru_, it->second);
    return PageRef(it->second->bytes, page, pageSize_);
  }
  std::shared_ptr<uint8_t[]> buf(new uint8_t[pageSize_]);
  size_t got = file_.readAt(static_cast<uint64_t>(page) * pageSize_, buf.get(), pageSize_);
  if (got != pageSize_)
    throw JetError(3049, "The database '" + file_.path() + "' is damaged: page " + std::to_string(page) +
                             " is cut short (the file is truncated).");
  ++reads_;
  lru_.push_front(Entry{page, buf});
  index_[page] = lru_.begin();
  while (lru_.size() > capacity_) {
    index_.erase(lru_.back().page);
    lru_.pop_back();
  }
  return PageRef(std::move(buf), page, pageSize_);
}

void PageCache::invalidate(uint32_t page) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = index_.find(page);
  if (it == index_.end()) return;
  lru_.erase(it->second);
  index_.erase(it);
}

void PageCache::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  lru_.clear();
  index_.clear();
}

}  // namespace bv::storage
