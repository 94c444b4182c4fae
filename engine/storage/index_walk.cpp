#include "engine/storage/index_walk.h"

#include <algorithm>
#include <string>

#include "engine/storage/error.h"

namespace bv::storage {
namespace {

constexpr int kMaxDepth = 64;

[[noreturn]] void damaged(uint32_t pageNo, const std::string& what) {
  throw JetError(3049, "The database is damaged: index page " + std::to_string(pageNo) + ": " +
                           what + ".");
}

bool keyBelow(const std::vector<uint8_t>& key, const std::vector<uint8_t>& target) {
  return std::lexicographical_compare(key.begin(), key.end(), target.begin(), target.end());
}

}  // namespace

IndexWalker::IndexWalker(const Database& db, const TableDef& table, const RealIndexDef& index)
    : db_(db), tdefPage_(table.tdefPage) {
  descend(index.rootPage, nullptr);
}

IndexWalker::IndexWalker(const Database& db, const TableDef& table, const RealIndexDef& index,
                         const std::vector<uint8_t>& fromKey)
    : db_(db), tdefPage_(table.tdefPage) {
  descend(index.rootPage, &fromKey);
}

void IndexWalker::descend(uint32_t pageNo, const std::vector<uint8_t>* fromKey) {
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) damaged(pageNo, "the tree is deeper than any index can be");
    load(pageNo);
    const auto& es = page_.entries;
    size_t i = 0;
    if (fromKey)
      while (i < es.size() && keyBelow(es[i].key, *fromKey)) ++i;
    if (page_.leaf()) {
      pos_ = i;
      return;
    }
    // Each parent entry bounds its child from above; past the last one lies the tail page
    // (or, without one, the last child, whose entries are then all below the key).
    uint32_t child = i < es.size() ? es[i].child : (page_.tail ? page_.tail : (es.empty() ? 0 : es.back().child));
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

void IndexWalker::load(uint32_t pageNo) {
  if (pageNo < 3 || pageNo >= db_.pageCount()) damaged(pageNo, "the page lies outside the file");
  if (!seen_.insert(pageNo).second) damaged(pageNo, "the index pages form a loop");
  PageRef p = db_.page(pageNo);
  page_ = decodeIndexPage(std::span<const uint8_t>(p.data(), p.size()), db_.isJet4(), pageNo);
  if (page_.tdefPage != tdefPage_) damaged(pageNo, "the page belongs to another table");
  pos_ = 0;
}

bool IndexWalker::next(IndexEntry& out) {
  while (!done_) {
    if (pos_ < page_.entries.size()) {
      out = page_.entries[pos_++];
      return true;
    }
    if (page_.next == 0) {
      done_ = true;
      break;
    }
    uint32_t n = page_.next;
    load(n);
    if (!page_.leaf()) damaged(n, "the leaf chain leads to an intermediate page");
  }
  return false;
}

}  // namespace bv::storage
