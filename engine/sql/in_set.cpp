#include "engine/sql/in_set.h"

#include "engine/sql/row_keys.h"
#include "engine/sql/value_ops.h"

namespace bv::sql {

namespace {

// Values of one family compare without conversions, and equal ones share a bucket.
int familyOf(const Value& v) {
  switch (v.kind()) {
    case Kind::Text: return 1;
    case Kind::Guid: return 2;
    case Kind::Binary: return 3;
    default: return 0;  // numbers, dates, booleans
  }
}

}  // namespace

InSet::InSet(std::vector<Value> items) {
  for (auto& v : items) {
    if (v.isNull()) {
      sawNull_ = true;
      continue;
    }
    int f = familyOf(v);
    family_ = items_.empty() ? f : (family_ == f ? f : -2);
    items_.push_back(std::move(v));
  }
  if (family_ < 0) return;
  std::string bucket;
  for (size_t i = 0; i < items_.size(); ++i) {
    bucket.clear();
    appendBucket(items_[i], bucket);
    buckets_[bucket].push_back(i);
  }
}

bool InSet::hashes(const Value& v) const { return family_ >= 0 && familyOf(v) == family_; }

Value InSet::contains(const Value& v) const {
  if (v.isNull()) return Value();
  if (!hashes(v)) {
    Value r = inList(v, items_);
    return r.kind() == Kind::Bool && !r.as<bool>() && sawNull_ ? Value() : r;
  }
  std::string bucket;
  appendBucket(v, bucket);
  auto it = buckets_.find(bucket);
  if (it != buckets_.end())
    for (size_t i : it->second)
      if (isTrue(applyBinary(BinaryOp::Eq, v, items_[i]))) return Value(true);
  return sawNull_ ? Value() : Value(false);
}

}  // namespace bv::sql
