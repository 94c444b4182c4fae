#include "engine/storage/index_walk.h"

#include <string>

#include "engine/storage/error.h"

namespace bv::storage {
namespace {

constexpr int kMaxDepth = 64;

[[noreturn]] void damaged(uint32_t pageNo, const std::string& what) {
  throw JetError(3049, "The database is damaged: index page " + std::to_string(pageNo) + ": " +
                           what + ".");
}

}  // namespace

IndexWalker::IndexWalker(const Database& db, const TableDef& table, const RealIndexDef& index)
    : db_(db), tdefPage_(table.tdefPage) {
  uint32_t pageNo = index.rootPage;
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) damaged(pageNo, "the tree is deeper than any index can be");
    load(pageNo);
    if (page_.leaf()) break;
    uint32_t child = page_.entries.empty() ? page_.tail : page_.entries.front().child;
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
