// Keys that tell rows of values apart as statements compare them: exact bytes for a fast
// first lookup, buckets that equal values share (for hashing joins, groups and IN lists),
// and a numbering of distinct rows (GROUP BY, DISTINCT).
#pragma once

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/storage/value.h"

namespace bv::sql {

// The exact bytes of a value: values with equal bytes are certainly equal.
void appendExact(const Value& v, std::string& out);

// Bytes that are equal for values that compare equal (numbers of any type by value, text
// by its sort key, which ignores case). Values in one bucket may still differ (text
// beyond the key's 255 characters), so a bucket only names candidates.
void appendBucket(const Value& v, std::string& out);

// Whether two rows are equal under compareForSort.
bool rowsEqual(const std::vector<Value>& a, const std::vector<Value>& b);

// Numbers rows that are equal under compareForSort (GROUP BY, DISTINCT). Holds one copy
// of each distinct row.
class RowIndex {
 public:
  // The number of the group `key` belongs to, and whether it is new.
  std::pair<size_t, bool> find(const std::vector<Value>& key);
  size_t size() const { return rows_.size(); }

 private:
  std::string exact_, bucket_;
  std::unordered_map<std::string, size_t> fast_;
  std::unordered_map<std::string, std::vector<size_t>> buckets_;
  std::vector<std::vector<Value>> rows_;
};

}  // namespace bv::sql
