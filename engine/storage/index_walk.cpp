#include "engine/storage/index_walk.h"

#include <algorithm>
#include <string>

#include "engine/storage/error.h"

namespace bv::storage {
namespace {

constexpr int kMaxDepth = 64;
constexpr size_t kKeptUpperPages = 256;

[[noreturn]] void damaged(uint32_t pageNo, const std::string& what) {
  throw JetError(3049, "The database is damaged: index page " + std::to_string(pageNo) + ": " +
                           what + ".");
}

}  // namespace

IndexWalker::IndexWalker(const Database& db, const TableDef& table, const RealIndexDef& index)
    : db_(db), tdefPage_(table.tdefPage), root_(index.rootPage) {
  descend(index.rootPage, nullptr);
}

IndexWalker::IndexWalker(const Database& db, const TableDef& table, const RealIndexDef& index,
                         const std::vector<uint8_t>& fromKey)
    : db_(db), tdefPage_(table.tdefPage), root_(index.rootPage) {
  descend(index.rootPage, &fromKey);
}

void IndexWalker::descend(uint32_t pageNo, const std::vector<uint8_t>* fromKey) {
  // The first entry whose key is not below `fromKey`: with the lowest row pointer, an
  // entry target sorts before every entry of that key.
  IndexEntry target;
  if (fromKey) target.key = *fromKey;
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) damaged(pageNo, "the tree is deeper than any index can be");
    const IndexPageView* v = &upper(pageNo);
    if (v->leaf()) {
      pos_ = fromKey ? page_.lowerBound(target) : 0;
      return;
    }
    const size_t count = v->count();
    const size_t i = fromKey ? v->lowerBound(target) : 0;
    // Each parent entry bounds its child from above; past the last one lies the tail page
    // (or, without one, the last child, whose entries are then all below the key).
    uint32_t child = i < count ? v->child(i) : (v->tail() ? v->tail() : (count ? v->child(count - 1) : 0));
    if (child == 0) damaged(pageNo, "an intermediate page has no children");
    pageNo = child;
  }
}

std::vector<uint32_t> leafPathFor(const Database& db, const TableDef& table,
                                  const RealIndexDef& index, const IndexEntry& entry) {
  std::vector<uint32_t> path;
  uint32_t pageNo = index.rootPage;
  while (true) {
    if (path.size() > kMaxDepth) damaged(pageNo, "the tree is deeper than any index can be");
    if (pageNo < 3 || pageNo >= db.pageCount()) damaged(pageNo, "the page lies outside the file");
    if (std::find(path.begin(), path.end(), pageNo) != path.end())
      damaged(pageNo, "the index pages form a loop");
    path.push_back(pageNo);
    PageRef p = db.page(pageNo);
    IndexPage ip = decodeIndexPage(std::span<const uint8_t>(p.data(), p.size()), db.isJet4(), pageNo);
    if (ip.tdefPage != table.tdefPage) damaged(pageNo, "the page belongs to another table");
    if (ip.leaf()) return path;
    // The first child whose bounding entry is not below the entry; past them, the tail.
    auto it = std::find_if(ip.entries.begin(), ip.entries.end(),
                           [&](const IndexEntry& e) { return compareEntries(e, entry) >= 0; });
    uint32_t child = it != ip.entries.end() ? it->child
                     : ip.tail                 ? ip.tail
                     : ip.entries.empty()      ? 0
                                               : ip.entries.back().child;
    if (child == 0) damaged(pageNo, "an intermediate page has no children");
    pageNo = child;
  }
}

void IndexWalker::seek(const std::vector<uint8_t>& fromKey) {
  seen_.clear();
  done_ = false;
  // A key inside the current leaf (above its first entry, not above its last) is found in
  // it: every entry before the leaf is below its first. Ascending seeks (an IN list of
  // near keys) then stay on one leaf.
  IndexEntry target;
  target.key = fromKey;
  const size_t n = page_.count();
  if (bytes_ && n && page_.compare(0, target) < 0 && page_.compare(n - 1, target) >= 0) {
    seen_.insert(bytes_.number());
    pos_ = page_.lowerBound(target);
    return;
  }
  descend(root_, &fromKey);
}

// A page on the way down. Intermediate pages are parsed once per walker; a leaf becomes
// the current page.
const IndexPageView& IndexWalker::upper(uint32_t pageNo) {
  if (auto it = uppers_.find(pageNo); it != uppers_.end()) {
    visit(pageNo);
    return it->second.view;
  }
  Upper u;
  read(pageNo, u.bytes, u.view);
  if (u.view.leaf()) {
    bytes_ = std::move(u.bytes);
    page_ = std::move(u.view);
    pos_ = 0;
    return page_;
  }
  if (uppers_.size() >= kKeptUpperPages) uppers_.clear();
  return (uppers_[pageNo] = std::move(u)).view;
}

void IndexWalker::load(uint32_t pageNo) {
  read(pageNo, bytes_, page_);
  pos_ = 0;
}

// Every page visited: inside the file, not met before on this way, and of this table.
void IndexWalker::visit(uint32_t pageNo) {
  if (pageNo < 3 || pageNo >= db_.pageCount()) damaged(pageNo, "the page lies outside the file");
  if (!seen_.insert(pageNo).second) damaged(pageNo, "the index pages form a loop");
}

void IndexWalker::read(uint32_t pageNo, PageRef& bytes, IndexPageView& view) {
  visit(pageNo);
  bytes = db_.page(pageNo);
  view.parse(bytes.data(), db_.isJet4(), pageNo);
  if (view.tdefPage() != tdefPage_) damaged(pageNo, "the page belongs to another table");
}

bool IndexWalker::next(IndexEntry& out) {
  while (!done_) {
    if (pos_ < page_.count()) {
      page_.entry(pos_++, out);
      return true;
    }
    if (page_.next() == 0) {
      done_ = true;
      break;
    }
    uint32_t n = page_.next();
    load(n);
    if (!page_.leaf()) damaged(n, "the leaf chain leads to an intermediate page");
  }
  return false;
}

}  // namespace bv::storage
