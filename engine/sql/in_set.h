// The values of an IN list as a set: each row's value is looked up once instead of being
// compared with every item.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "engine/storage/value.h"

namespace bv::sql {

class InSet {
 public:
  explicit InSet(std::vector<Value> items);
  // What `v In (items)` gives: True if an item equals v, Null if none does but v or an
  // item is Null, else False. The same answer as comparing with every item.
  Value contains(const Value& v) const;
  // Whether looking `v` up goes through the hash rather than past every item.
  bool hashes(const Value& v) const;

 private:
  std::vector<Value> items_;  // the non-Null items
  bool sawNull_ = false;
  // Hashing applies when every item is of one family of values (numbers and dates, text,
  // GUIDs, binary); a value of another family is compared with every item as before.
  int family_ = -1;
  std::unordered_map<std::string, std::vector<size_t>> buckets_;
};

}  // namespace bv::sql
