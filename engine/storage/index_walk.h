// Reading an index B-tree in key order.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <unordered_set>

#include "engine/storage/database.h"
#include "engine/storage/index_page.h"
#include "engine/storage/index_page_view.h"

namespace bv::storage {

// Yields the leaf entries of one real index in key order: descends from the root along the
// first child to the leftmost leaf, then follows the leaf chain. Throws JetError 3049 when
// the tree is damaged (a page that is not an index page of the table, a loop, no leaf).
class IndexWalker {
 public:
  IndexWalker(const Database& db, const TableDef& table, const RealIndexDef& index);
  // Starts at the first entry whose key bytes are >= `fromKey` (compared as unsigned bytes,
  // a prefix sorting first): descends along the first parent entry that is not below it.
  IndexWalker(const Database& db, const TableDef& table, const RealIndexDef& index,
              const std::vector<uint8_t>& fromKey);
  bool next(IndexEntry& out);
  // Starts again, at the first entry whose key bytes are >= `fromKey`. The intermediate
  // pages of earlier descents are kept parsed, so that many seeks (an IN list) cost little
  // more than their leaves; the tree must not change between seeks.
  void seek(const std::vector<uint8_t>& fromKey);

 private:
  struct Upper {
    PageRef bytes;
    IndexPageView view;
  };
  void descend(uint32_t root, const std::vector<uint8_t>* fromKey);
  void load(uint32_t pageNo);
  const IndexPageView& upper(uint32_t pageNo);
  void visit(uint32_t pageNo);
  void read(uint32_t pageNo, PageRef& bytes, IndexPageView& view);

  const Database& db_;
  uint32_t tdefPage_;
  uint32_t root_;
  std::unordered_map<uint32_t, Upper> uppers_;
  // The page being read, in place: a descent parses only each page's entry boundaries.
  PageRef bytes_;
  IndexPageView page_;
  size_t pos_ = 0;
  bool done_ = false;
  std::unordered_set<uint32_t> seen_;
};

// The pages from the root down to the leaf where `entry` (key, then data page and row)
// belongs: the leaf that holds it, or where inserting it keeps the order. What a writer
// changes when it adds or removes that entry. Throws JetError 3049 on a damaged tree.
std::vector<uint32_t> leafPathFor(const Database& db, const TableDef& table,
                                  const RealIndexDef& index, const IndexEntry& entry);

}  // namespace bv::storage
