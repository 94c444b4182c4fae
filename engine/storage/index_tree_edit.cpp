#include "engine/storage/index_tree_edit.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "engine/storage/error.h"
#include "engine/storage/index_split.h"
#include "engine/storage/index_page_view.h"
#include "engine/storage/usage_map_edit.h"
#include "engine/storage/write_unit.h"

namespace bv::storage {
namespace {

constexpr int kMaxDepth = 64;
constexpr size_t kCachedPages = 512;   // decoded pages (the path of a split or a changed bound)
constexpr size_t kCachedViews = 2048;  // pages read in place

[[noreturn]] void damaged(uint32_t pageNo, const std::string& what) {
  throw JetError(3049, "The database is damaged: index page " + std::to_string(pageNo) + ": " +
                           what + ".");
}

bool sameBound(const IndexEntry& a, const IndexEntry& b) {
  return a.key == b.key && a.dataPage == b.dataPage && a.dataRow == b.dataRow;
}

// The entry a parent stores for a child whose subtree ends with `last`.
IndexEntry boundFor(const IndexEntry& last, uint32_t child) {
  IndexEntry e{last.key, last.dataPage, last.dataRow, child};
  return e;
}

}  // namespace

// A decoded page and the unit's stamp of the bytes it was decoded from: reused while the
// stamp stays the same (any write to the page, by this editor or another, changes it).
struct IndexTreeEditor::Cached {
  uint64_t stamp = 0;
  IndexPage ip;
};

// One page on the way from the root to a leaf: which of its children the way continues
// to (`slot`, or the tail when `viaTail`); on the leaf, where the entry is or belongs.
struct IndexTreeEditor::Frame {
  uint32_t page = 0;
  Cached* c = nullptr;
  size_t slot = 0;
  bool viaTail = false;
};

// What a changed page tells its parent: it was removed; pages split off to its left (with
// their parent entries); the last entry of its subtree changed.
struct IndexTreeEditor::Up {
  bool deleted = false;
  std::vector<IndexEntry> newLeft;
  bool maxChanged = false;
  IndexEntry max;
};

struct IndexTreeEditor::LastPath {
  IndexEntry target;
  std::vector<Frame> path;
  std::vector<uint64_t> stamps;
};

IndexTreeEditor::IndexTreeEditor(WriteUnit& unit, uint32_t tdefPage, uint32_t rootPage,
                                 RowPointer usageMap)
    : unit_(unit), tdefPage_(tdefPage), root_(rootPage), usageMap_(usageMap), jet4_(unit.jet4()) {}

IndexTreeEditor::~IndexTreeEditor() = default;

const uint8_t* IndexTreeEditor::current(uint32_t pageNo, PageRef& hold, uint64_t& stamp) {
  if (pageNo < 3 || pageNo >= unit_.pageCount()) damaged(pageNo, "the page lies outside the file");
  return unit_.read(pageNo, hold, stamp);
}

// Asked before every write, so the unit gives the page a new stamp.
uint8_t* IndexTreeEditor::writable(uint32_t pageNo) { return unit_.modify(pageNo); }

IndexTreeEditor::Cached* IndexTreeEditor::load(uint32_t pageNo) {
  PageRef hold;
  uint64_t stamp = 0;
  const uint8_t* p = current(pageNo, hold, stamp);
  const size_t size = unit_.pageSize();
  auto it = cache_.find(pageNo);
  if (it != cache_.end() && it->second->stamp == stamp) return it->second.get();
  auto c = std::make_unique<Cached>();
  c->stamp = stamp;
  c->ip = decodeIndexPage(std::span<const uint8_t>(p, size), jet4_, pageNo);
  if (c->ip.tdefPage != tdefPage_) damaged(pageNo, "the page belongs to another table");
  Cached* out = c.get();
  cache_[pageNo] = std::move(c);
  return out;
}

std::vector<IndexTreeEditor::Frame> IndexTreeEditor::pathTo(const IndexEntry& e) {
  // Bounded memory: forget decoded pages between operations once there are many.
  if (cache_.size() > kCachedPages) cache_.clear();
  while (views_.size() > kCachedViews) views_.erase(views_.begin());
  if (last_ && !last_->path.empty() && last_->path[0].page == root_) {
    const std::vector<Frame>& path = last_->path;
    bool parentsSame = true, allTails = true;
    for (size_t k = 0; parentsSame && k + 1 < path.size(); ++k) {
      parentsSame = unit_.stamp(path[k].page) == last_->stamps[k];
      allTails = allTails && path[k].viaTail;
    }
    if (parentsSame) {
      // The same entry again, and nothing on its way changed.
      if (sameBound(last_->target, e) && unit_.stamp(path.back().page) == last_->stamps.back()) return path;
      // Past the end of the last leaf (appended keys): the way down is all tails, and an
      // entry above the last one goes the same way.
      if (allTails) {
        const IndexPageView& v = leafView(path.back().page);
        if (v.next() == 0 && v.count() && v.compare(v.count() - 1, e) < 0) return path;
      }
    }
  }
  std::vector<Frame> path = descend(e);
  if (!last_) last_ = std::make_unique<LastPath>();
  last_->target = e;
  last_->path = path;
  last_->stamps.clear();
  for (const Frame& f : path) last_->stamps.push_back(unit_.stamp(f.page));
  return path;
}

std::vector<IndexTreeEditor::Frame> IndexTreeEditor::descend(const IndexEntry& target) {
  std::vector<Frame> path;
  uint32_t n = root_;
  while (true) {
    if (path.size() > kMaxDepth) damaged(n, "the tree is deeper than any index can be");
    for (const Frame& f : path)
      if (f.page == n) damaged(n, "the index pages form a loop");
    // Read in place; a page is decoded only when the change reaches it (propagate).
    const IndexPageView& v = pageView(n);
    if (v.leaf()) {
      path.push_back({n, nullptr, 0, false});
      return path;
    }
    const size_t count = v.count();
    const size_t i = v.lowerBound(target);
    // The first entry not below the target bounds the child holding it; past the last
    // entry lies the tail page, or without one the last child (whose bound then rises).
    if (i < count) {
      path.push_back({n, nullptr, i, false});
      n = v.child(i);
    } else if (v.tail()) {
      path.push_back({n, nullptr, count, true});
      n = v.tail();
    } else if (count) {
      path.push_back({n, nullptr, count - 1, false});
      n = v.child(count - 1);
    } else {
      damaged(n, "an intermediate page has no children");
    }
  }
}

// A page read in place. Parsed bitmasks are kept while the page keeps the same stamp.
struct IndexTreeEditor::ParsedPage {
  uint64_t stamp = 0;
  bool valid = false;
  PageRef page;  // keeps the bytes the view reads alive
  IndexPageView view;
};

IndexPageView& IndexTreeEditor::pageView(uint32_t pageNo) {
  PageRef hold;
  uint64_t stamp = 0;
  const uint8_t* p = current(pageNo, hold, stamp);
  std::unique_ptr<ParsedPage>& slot = views_[pageNo];
  if (slot && slot->valid && slot->stamp == stamp) {
    slot->view.rebind(p);
    slot->page = std::move(hold);
    return slot->view;
  }
  if (!slot) slot = std::make_unique<ParsedPage>();
  slot->valid = false;  // not valid until parsed
  slot->view.parse(p, jet4_, pageNo);
  if (slot->view.tdefPage() != tdefPage_) damaged(pageNo, "the page belongs to another table");
  slot->stamp = stamp;
  slot->valid = true;
  slot->page = std::move(hold);
  return slot->view;
}

IndexPageView& IndexTreeEditor::leafView(uint32_t pageNo) {
  IndexPageView& v = pageView(pageNo);
  if (!v.leaf()) damaged(pageNo, "the leaf chain leads to an intermediate page");
  return v;
}

// A leaf just edited in place (in its writable copy): its view already describes the new
// bytes.
void IndexTreeEditor::keepParsed(uint32_t pageNo, const uint8_t* page) {
  ParsedPage& l = *views_.at(pageNo);
  l.page = PageRef();
  l.view.rebind(page);
  l.stamp = unit_.stamp(pageNo);
  l.valid = true;
}

bool IndexTreeEditor::contains(const IndexEntry& e) {
  std::vector<Frame> path = pathTo(e);
  const IndexPageView& v = leafView(path.back().page);
  const size_t i = v.lowerBound(e);
  return i < v.count() && v.compare(i, e) == 0;
}

std::optional<RowId> IndexTreeEditor::findOtherWithKey(const std::vector<uint8_t>& key,
                                                       const RowId* except) {
  IndexEntry first{key, 0, 0, 0};
  std::vector<Frame> path = pathTo(first);
  const IndexPageView* v = &leafView(path.back().page);
  size_t i = v->lowerBound(first);
  for (int hops = 0; hops < kMaxDepth * 1024; ++hops) {
    for (; i < v->count(); ++i) {
      if (!v->keyIs(i, key)) return std::nullopt;
      const RowId id = v->row(i);
      if (!except || !(id == *except)) return id;
    }
    if (v->next() == 0) return std::nullopt;
    v = &leafView(v->next());
    i = 0;
  }
  return std::nullopt;
}

// Whether the leaf entry at `before` (an index into the page, -1 for the previous page's
// last entry) or at `after` (count() or more for the next page's first entry) has `key`.
bool IndexTreeEditor::neighboursHaveKey(const IndexPageView& v, std::ptrdiff_t before, size_t after,
                                        const std::vector<uint8_t>& key) {
  if (before >= 0) {
    if (v.keyIs(static_cast<size_t>(before), key)) return true;
  } else if (v.prev()) {
    const IndexPageView& s = leafView(v.prev());
    if (s.count() && s.keyIs(s.count() - 1, key)) return true;
  }
  if (after < v.count()) return v.keyIs(after, key);
  if (!v.next()) return false;
  const IndexPageView& s = leafView(v.next());
  return s.count() && s.keyIs(0, key);
}

// The leaf's parents keep no entry for it (it is the root, or reached through tails only),
// so its last entry may change without touching them.
bool IndexTreeEditor::noParentBound(const std::vector<Frame>& path) {
  for (size_t k = 0; k + 1 < path.size(); ++k)
    if (!path[k].viaTail) return false;
  return true;
}

bool IndexTreeEditor::insert(const IndexEntry& e, bool refuseDuplicate) {
  try {
    std::vector<Frame> path = pathTo(e);
    Frame& leaf = path.back();
    IndexPageView& v = leafView(leaf.page);
    const size_t i = v.lowerBound(e);
    if (i < v.count() && v.compare(i, e) == 0)
      damaged(leaf.page, "the index already holds an entry for this row");
    const bool shared = neighboursHaveKey(v, static_cast<std::ptrdiff_t>(i) - 1, i, e.key);
    if (shared && refuseDuplicate)
      throw JetError(3022, "The index already holds this key for another row.");
    // Most insertions change one leaf in place; the rest re-encode the path.
    // Asked first: making the page writable gives it a new stamp, which would throw away
    // its decoded form for nothing when the edit cannot be made in place.
    if ((i < v.count() || noParentBound(path)) && v.canInsert(i, e)) {
      uint8_t* out = writable(leaf.page);
      if (v.insert(out, i, e)) {
        keepParsed(leaf.page, out);
        return !shared;
      }
    }

    leaf.c = load(leaf.page);
    leaf.slot = i;
    auto& es = leaf.c->ip.entries;
    std::optional<IndexEntry> oldLast;
    if (!es.empty()) oldLast = es.back();
    IndexEntry leafEntry{e.key, e.dataPage, e.dataRow, 0};
    es.insert(es.begin() + static_cast<std::ptrdiff_t>(i), std::move(leafEntry));
    propagate(path, oldLast, i + 1 == es.size());
    return !shared;
  } catch (...) {
    cache_.clear();  // decoded pages may have been changed in memory only
    throw;
  }
}

bool IndexTreeEditor::remove(const IndexEntry& e) {
  try {
    std::vector<Frame> path = pathTo(e);
    Frame& leaf = path.back();
    IndexPageView& v = leafView(leaf.page);
    const size_t i = v.lowerBound(e);
    if (i >= v.count() || v.compare(i, e) != 0)
      damaged(leaf.page, "the entry to remove is not in the index");
    const bool shared = neighboursHaveKey(v, static_cast<std::ptrdiff_t>(i) - 1, i + 1, e.key);
    if ((i + 1 < v.count() || noParentBound(path)) && v.canRemove(i)) {
      uint8_t* out = writable(leaf.page);
      if (v.remove(out, i)) {
        keepParsed(leaf.page, out);
        return !shared;
      }
    }

    leaf.c = load(leaf.page);
    leaf.slot = i;
    auto& es = leaf.c->ip.entries;
    std::optional<IndexEntry> oldLast = es.back();
    es.erase(es.begin() + static_cast<std::ptrdiff_t>(i));
    propagate(path, oldLast, false);
    return !shared;
  } catch (...) {
    cache_.clear();
    throw;
  }
}

void IndexTreeEditor::writePage(uint32_t pageNo, Cached* c) {
  c->ip.tdefPage = tdefPage_;
  // Encoded beside the unit's page first, so a failure leaves the page as it was.
  encoded_.resize(unit_.pageSize());
  encodeIndexPageInto(c->ip, jet4_, encoded_.data());
  std::memcpy(writable(pageNo), encoded_.data(), encoded_.size());
  c->stamp = unit_.stamp(pageNo);
}

uint32_t IndexTreeEditor::newPage(IndexPage&& ip) {
  const uint32_t n = unit_.allocate();
  setPageInMap(unit_, usageMap_, n, true);
  auto c = std::make_unique<Cached>();
  c->ip = std::move(ip);
  writePage(n, c.get());
  cache_[n] = std::move(c);
  return n;
}

void IndexTreeEditor::dropPage(uint32_t pageNo) {
  setPageInMap(unit_, usageMap_, pageNo, false);
  unit_.release(pageNo);
  cache_.erase(pageNo);
  views_.erase(pageNo);
}

void IndexTreeEditor::setLink(uint32_t pageNo, bool next, uint32_t value) {
  const IndexPageLayout L = IndexPageLayout::forJet4(jet4_);
  uint8_t* p = writable(pageNo);
  const uint32_t at = next ? L.nextOffset : L.prevOffset;
  for (int i = 0; i < 4; ++i) p[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Writes the changed path back, from the leaf up. Each level applies what the level below
// reports (a removed child, pages split off to its left, a changed last entry), then itself
// is removed when empty, split when overfull, and reports to its parent in turn.
void IndexTreeEditor::propagate(std::vector<Frame>& path, const std::optional<IndexEntry>& leafOldLast,
                                bool changedAtEnd) {
  const size_t area = indexEntryArea(jet4_);
  Up up;
  for (size_t k = path.size(); k-- > 0;) {
    Frame& f = path[k];
    if (!f.c) f.c = load(f.page);
    IndexPage& ip = f.c->ip;
    const bool leaf = ip.leaf();
    std::optional<IndexEntry> oldLast = leaf ? leafOldLast : std::nullopt;
    const bool hadTail = ip.tail != 0;
    Up next;
    if (!leaf) {
      if (!ip.entries.empty()) oldLast = ip.entries.back();
      auto at = ip.entries.begin() + static_cast<std::ptrdiff_t>(f.slot);
      if (up.deleted) {
        if (!f.viaTail) {
          ip.entries.erase(at);
        } else if (!ip.entries.empty()) {
          // The tail child is gone: the last entry's child takes its place as the tail.
          ip.tail = ip.entries.back().child;
          ip.entries.pop_back();
        } else {
          ip.tail = 0;
        }
      } else {
        ip.entries.insert(at, up.newLeft.begin(), up.newLeft.end());
        if (up.maxChanged && !f.viaTail) {
          IndexEntry& bound = ip.entries[f.slot + up.newLeft.size()];
          bound = boundFor(up.max, bound.child);
        }
      }
      changedAtEnd = f.viaTail || f.slot + up.newLeft.size() + 1 >= ip.entries.size();
    }

    // An emptied page leaves the tree; an emptied root becomes an empty leaf.
    if (ip.entries.empty() && (leaf || ip.tail == 0)) {
      if (k == 0) {
        ip.type = kIndexLeafPage;
        ip.tail = 0;
        writePage(f.page, f.c);
        return;
      }
      if (ip.prev) setLink(ip.prev, true, ip.next);
      if (ip.next) setLink(ip.next, false, ip.prev);
      dropPage(f.page);
      up = Up{};
      up.deleted = true;
      continue;
    }
    // A root left with only its tail hands the root over to that page.
    if (k == 0 && !leaf && ip.entries.empty()) {
      const uint32_t tail = ip.tail;
      dropPage(f.page);
      root_ = tail;
      return;
    }

    // The last entry of this page's subtree after the change.
    if (leaf || ip.tail == 0) {
      next.max = ip.entries.back();
      next.maxChanged = !oldLast || !sameBound(*oldLast, next.max) || (!leaf && hadTail);
    } else if (f.viaTail && up.deleted && hadTail && oldLast) {
      next.max = *oldLast;  // the promoted child's bound
      next.maxChanged = true;
    } else if (f.viaTail && up.maxChanged) {
      next.max = up.max;
      next.maxChanged = true;
    }

    // Split an overfull page: the left parts go to new pages before it in the sibling
    // chain, the page keeps the last part (so its parent entry or tail role stays right).
    if (encodedEntriesSize(ip.entries, leaf, jet4_) > area) {
      const std::vector<size_t> cuts =
          planSplit(ip.entries, leaf, jet4_, changedAtEnd && ip.next == 0);
      std::vector<IndexEntry> all = std::move(ip.entries);
      uint32_t prev = ip.prev;
      IndexPage* prevNew = nullptr;
      size_t from = 0;
      for (size_t cut : cuts) {
        IndexPage np;
        np.type = ip.type;
        np.tdefPage = tdefPage_;
        np.prev = prev;
        IndexEntry bound = boundFor(all[cut - 1], 0);  // its child is the new page
        np.entries.assign(std::make_move_iterator(all.begin() + static_cast<std::ptrdiff_t>(from)),
                          std::make_move_iterator(all.begin() + static_cast<std::ptrdiff_t>(cut)));
        const uint32_t n = newPage(std::move(np));
        if (prevNew) {
          prevNew->next = n;
          writePage(prev, cache_.at(prev).get());
        } else if (prev) {
          setLink(prev, true, n);
        }
        prevNew = &cache_.at(n)->ip;
        bound.child = n;
        next.newLeft.push_back(std::move(bound));
        prev = n;
        from = cut;
      }
      prevNew->next = f.page;
      writePage(prev, cache_.at(prev).get());
      ip.entries.assign(std::make_move_iterator(all.begin() + static_cast<std::ptrdiff_t>(from)),
                        std::make_move_iterator(all.end()));
      ip.prev = prev;
    }
    writePage(f.page, f.c);

    if (k == 0) {
      if (!next.newLeft.empty()) {
        // The root split: a new root above, with the old root as its tail.
        IndexPage root;
        root.type = kIndexNodePage;
        root.tdefPage = tdefPage_;
        root.entries = std::move(next.newLeft);
        root.tail = f.page;
        root_ = newPage(std::move(root));
      }
      return;
    }
    if (!next.maxChanged && next.newLeft.empty()) return;  // nothing above changes
    up = std::move(next);
  }
}

}  // namespace bv::storage
