#include "engine/sql/row_keys.h"

#include <type_traits>
#include <variant>

#include "engine/sql/conv_value.h"
#include "engine/sql/value_ops.h"

namespace bv::sql {

// The exact bytes of a row of values: rows with equal bytes are certainly equal, so this
// serves as a fast first lookup before the collation-aware comparison.
void appendExact(const Value& v, std::string& out) {
  out.push_back(char(v.kind()));
  std::visit(
      [&](const auto& x) {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::u16string>) {
          out.append(reinterpret_cast<const char*>(x.data()), x.size() * 2);
          out.append(2, '\0');
        } else if constexpr (std::is_same_v<T, Bytes>) {
          out.append(std::to_string(x.size()));
          out.push_back(':');
          out.append(reinterpret_cast<const char*>(x.data()), x.size());
        } else if constexpr (std::is_same_v<T, Decimal>) {
          // Field by field: the struct has padding bytes of no fixed value.
          out.push_back(char(x.negative));
          out.append(reinterpret_cast<const char*>(&x.hi), sizeof x.hi);
          out.append(reinterpret_cast<const char*>(&x.lo), sizeof x.lo);
          out.push_back(char(x.scale));
        } else if constexpr (!std::is_same_v<T, std::monostate>) {
          out.append(reinterpret_cast<const char*>(&x), sizeof(x));
        }
      },
      v.storage());
}

// Bytes that are equal for values that compare equal (numbers of any type by value, text
// by its sort key, which ignores case): a bucket for hashing. Values in one bucket may
// still differ (text beyond the key's 255 characters), so a bucket is only a candidate.
void appendBucket(const Value& v, std::string& out) {
  switch (v.kind()) {
    case Kind::Null:
      out.push_back('0');
      return;
    case Kind::Text:
      out.push_back('T');
      appendTextBucket(v.as<std::u16string>(), out);
      return;
    case Kind::Binary:
    case Kind::Guid:
      appendExact(v, out);
      return;
    default: {
      out.push_back('N');
      double d = toDouble(v);
      if (d == 0) d = 0;  // -0 and 0 are one value
      out.append(reinterpret_cast<const char*>(&d), sizeof d);
      return;
    }
  }
}

bool rowsEqual(const std::vector<Value>& a, const std::vector<Value>& b) {
  for (size_t i = 0; i < a.size(); ++i)
    if (compareForSort(a[i], b[i]) != 0) return false;
  return true;
}

std::pair<size_t, bool> RowIndex::find(const std::vector<Value>& key) {
  exact_.clear();
  for (const auto& v : key) appendExact(v, exact_);
  auto hit = fast_.find(exact_);
  if (hit != fast_.end()) return {hit->second, false};
  bucket_.clear();
  for (const auto& v : key) appendBucket(v, bucket_);
  auto& candidates = buckets_[bucket_];
  size_t number = rows_.size();
  bool fresh = true;
  for (size_t c : candidates) {
    if (rowsEqual(rows_[c], key)) {
      number = c;
      fresh = false;
      break;
    }
  }
  if (fresh) {
    rows_.push_back(key);
    candidates.push_back(number);
  }
  fast_.emplace(exact_, number);
  return {number, fresh};
}

}  // namespace bv::sql
