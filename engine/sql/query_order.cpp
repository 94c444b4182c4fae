// DISTINCT, ORDER BY and TOP on produced rows.
#include "engine/sql/query_executor.h"

#include <algorithm>
#include <cmath>

namespace bv::sql::query {

void Executor::distinctRows(std::vector<OutRow>& rows) {
  RowIndex seen;
  std::vector<OutRow> kept;
  for (auto& r : rows)
    if (seen.find(r.values).second) kept.push_back(std::move(r));
  rows = std::move(kept);
}

void Executor::orderRows(const Select& s, std::vector<OutRow>& rows) {
  if (s.orderBy.empty()) return;
  std::stable_sort(rows.begin(), rows.end(), [&](const OutRow& a, const OutRow& b) {
    for (size_t k = 0; k < s.orderBy.size(); ++k) {
      int c = compareForSort(a.keys[k], b.keys[k]);
      if (c != 0) return s.orderBy[k].descending ? c > 0 : c < 0;
    }
    return false;
  });
}

// TOP n keeps the rows that tie with the last one on the sort keys.
void Executor::applyTop(const Select& s, std::vector<OutRow>& rows) {
  if (!s.top) return;
  size_t n = s.topPercent ? size_t(std::ceil(double(rows.size()) * *s.top / 100.0))
                          : size_t(*s.top);
  cutTop(s, rows, n);
}

// Keeps the first n of sorted rows and those that tie with the n-th.
void Executor::cutTop(const Select& s, std::vector<OutRow>& rows, size_t n) {
  if (n >= rows.size()) return;
  if (!s.orderBy.empty() && n > 0) {
    auto equalKeys = [](const OutRow& a, const OutRow& b) {
      for (size_t k = 0; k < a.keys.size(); ++k)
        if (compareForSort(a.keys[k], b.keys[k]) != 0) return false;
      return true;
    };
    while (n < rows.size() && equalKeys(rows[n], rows[n - 1])) ++n;
  }
  rows.resize(n);
}

}  // namespace bv::sql::query
