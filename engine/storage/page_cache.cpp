#include "engine/storage/page_cache.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/storage/error.h"
#include "engine/storage/file.h"

namespace bv::storage {

namespace {
// Pages asked for in ascending order with small gaps (a scan, rows visited in file order)
// are read several at a time: one system call instead of one per page.
constexpr uint32_t kNearGap = 4;
constexpr uint32_t kReadAhead = 16;
}  // namespace

PageCache::PageCache(File& file, uint32_t pageSize, uint32_t pageCount, size_t capacity)
    : file_(file),
      pageSize_(pageSize),
      pageCount_(pageCount),
      capacity_(capacity < 4 ? 4 : capacity),
      buffers_(PageBuffers::make(pageSize)),
      window_(kReadAhead) {}

PageCache::~PageCache() = default;

void PageCache::remember(uint32_t page, std::shared_ptr<uint8_t[]> bytes, bool ahead) {
  lru_.push_front(Entry{page, std::move(bytes), ahead});
  index_[page] = lru_.begin();
  while (lru_.size() > capacity_) {
    Entry& old = lru_.back();
    index_.erase(old.page);
    lru_.pop_back();
  }
}

PageRef PageCache::get(uint32_t page) {
  if (page >= pageCount_)
    throw JetError(3049, "The database '" + file_.path() + "' is damaged: page " + std::to_string(page) +
                             " lies beyond the end of the file (" + std::to_string(pageCount_) +
                             " pages): the file is truncated, or what refers to the page is wrong.");
  std::lock_guard<std::mutex> lock(mu_);
  auto it = index_.find(page);
  if (it != index_.end()) {
    lru_.splice(lru_.begin(), lru_, it->second);
    if (it->second->ahead) {
      it->second->ahead = false;
      ++aheadUsed_;
    }
    return PageRef(it->second->bytes, page, pageSize_);
  }
  uint32_t count = 1;
  if (lastRead_ != UINT32_MAX && page > lastRead_ && page - lastRead_ <= kNearGap) {
    // The reader has moved past the last read: judge how much of its read-ahead it used.
    if (aheadRead_ == 0) {
      if (page == lastRead_ + 1) window_ = std::min(kReadAhead, std::max(window_ * 2, 2u));  // reading on
    } else if (aheadUsed_ * 2 < aheadRead_)
      window_ = std::max(1u, window_ / 2);
    else
      window_ = std::min(kReadAhead, window_ * 2);
    // No further than half the cache holds, or pages read ahead would push each other out.
    while (count < std::min<size_t>(window_, capacity_ / 2) && page + count < pageCount_ &&
           !index_.count(page + count))
      ++count;
  }
  // Read straight into the buffers the pages will live in.
  std::shared_ptr<uint8_t[]> bufs[kReadAhead];
  uint8_t* dest[kReadAhead];
  for (uint32_t k = 0; k < count; ++k) {
    bufs[k] = buffers_->take();
    dest[k] = bufs[k].get();
  }
  const size_t got = file_.readPagesAt(static_cast<uint64_t>(page) * pageSize_, dest, count, pageSize_);
  if (got < pageSize_)
    throw JetError(3049, "The database '" + file_.path() + "' is damaged: page " + std::to_string(page) +
                             " is cut short (the file is truncated).");
  count = static_cast<uint32_t>(std::min<size_t>(count, got / pageSize_));
  lastRead_ = page + count - 1;
  // The pages after the one asked for first, so that it is the most recent.
  for (uint32_t k = count; k-- > 1;) remember(page + k, std::move(bufs[k]), true);
  aheadRead_ = count - 1;
  aheadUsed_ = 0;
  std::shared_ptr<uint8_t[]> buf = std::move(bufs[0]);
  reads_ += count;
  remember(page, buf, false);
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
  lastRead_ = UINT32_MAX;
  lru_.clear();
  index_.clear();
}

}  // namespace bv::storage
