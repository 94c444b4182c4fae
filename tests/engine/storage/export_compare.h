// Compares our CSV export of a table with mdb-export's, value by value. Differences that
// come from known display limits of mdbtools 1.0 are counted under a named reason instead
// of failing; anything else is a failure.
#pragma once

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "engine/storage/csv_export.h"
#include "engine/storage/database.h"
#include "tests/engine/storage/storage_test_util.h"

namespace bv::test {

struct CompareResult {
  size_t rows = 0;
  size_t cells = 0;
  std::map<std::string, size_t> explained;  // reason -> cells (or tables for row order)
  std::vector<std::string> failures;        // first few unexplained differences
  size_t failureCount = 0;
};

namespace detail {

inline std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A decimal number in canonical form (no leading zeros, no trailing fraction zeros).
inline std::string canonicalDecimal(std::string s) {
  bool neg = !s.empty() && s[0] == '-';
  if (neg || (!s.empty() && s[0] == '+')) s.erase(0, 1);
  std::string ip = s, fp;
  if (auto dot = s.find('.'); dot != std::string::npos) {
    ip = s.substr(0, dot);
    fp = s.substr(dot + 1);
  }
  while (ip.size() > 1 && ip[0] == '0') ip.erase(0, 1);
  if (ip.empty()) ip = "0";
  while (!fp.empty() && fp.back() == '0') fp.pop_back();
  std::string r = ip + (fp.empty() ? "" : "." + fp);
  if (neg && r != "0") r = "-" + r;
  return r;
}

inline bool parseDouble(const std::string& s, double& v) {
  if (s.empty()) return false;
  char* end = nullptr;
  v = std::strtod(s.c_str(), &end);
  return end && *end == '\0';
}

// mdbtools prints each UTF-16 unit of a character outside the BMP as '?'.
inline std::string nonBmpAsQuestionMarks(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b >= 0xF0 && i + 3 < s.size() + 1) {
      out += "??";
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// mdbtools prints the five code-page bytes that cp1252 leaves undefined as '?'.
inline std::string undefinedCp1252AsQuestionMarks(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (static_cast<unsigned char>(s[i]) == 0xC2 && i + 1 < s.size()) {
      const auto n = static_cast<unsigned char>(s[i + 1]);
      if (n == 0x81 || n == 0x8D || n == 0x8F || n == 0x90 || n == 0x9D) {
        out.push_back('?');
        ++i;
        continue;
      }
    }
    out.push_back(s[i]);
  }
  return out;
}

inline std::string hexUpper(const std::string& s) {
  static const char d[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    out.push_back(d[c >> 4]);
    out.push_back(d[c & 15]);
  }
  return out;
}

// "" if equal, a reason if the difference is a known mdbtools limit, "!" otherwise.
inline std::string compareCell(const storage::ColumnDef& col, const CsvField& ours, const CsvField& theirs) {
  using bv::ColType;
  const std::string& o = ours.text;
  const std::string& t = theirs.text;
  const bool text = col.type == ColType::Text || col.type == ColType::Memo;
  if (text) {
    if (ours.quoted && o.empty() && !theirs.quoted && t.empty()) return "empty text printed like Null";
    if (ours.quoted != theirs.quoted) return "!";
    if (o == t) return "";
    if (undefinedCp1252AsQuestionMarks(o) == t) return "undefined cp1252 byte printed as ?";
    if (nonBmpAsQuestionMarks(o) == t) return "character outside the BMP printed as ??";
    if (const size_t nul = o.find('\0'); nul != std::string::npos && o.compare(0, nul, t) == 0)
      return "text cut at U+0000";
    return "!";
  }
  if (ours.quoted && !(col.type == ColType::Binary || col.type == ColType::OLE)) return "!";
  if (o == t) return "";
  double a, b;
  switch (col.type) {
    case ColType::Byte:
    case ColType::Integer:
    case ColType::Long:
      return parseDouble(o, a) && parseDouble(t, b) && a == b ? "" : "!";
    case ColType::Currency:
    case ColType::Decimal:
      return canonicalDecimal(o) == canonicalDecimal(t) ? "" : "!";
    case ColType::Single:
      if (!parseDouble(o, a) || !parseDouble(t, b)) return "!";
      if (static_cast<float>(a) == static_cast<float>(b)) return "";
      // mdbtools prints 8 significant digits, one short of what reads back exactly.
      return std::fabs(a - b) <= 1e-7 * std::fabs(a) ? "Single printed with 8 digits" : "!";
    case ColType::Double:
    {
      if (!parseDouble(o, a) || !parseDouble(t, b)) return "!";
      if (a == b) return "";
      // mdbtools prints 16 significant digits, which does not always read back exactly
      // (and can even round past the largest double), so compare in extended precision.
      const long double la = std::strtold(o.c_str(), nullptr), lb = std::strtold(t.c_str(), nullptr);
      return std::fabs(la - lb) <= 1e-15L * std::fabs(la) ? "Double printed with 16 digits" : "!";
    }
    case ColType::DateTime:
      // mdbtools prints no date before 1900 nor after day 1,000,000 (4637-11-26).
      if (t.rfind("1900-01-00", 0) == 0 && (o < "1900-01-01" || o > "4637-11-26 00:00:00"))
        return "date outside mdbtools' range printed as 1900-01-00";
      return "!";
    case ColType::Guid: {
      // mdbtools prints the hex of the GUID's text without its fourth hyphen.
      std::string text = o;
      size_t hyphens = 0;
      for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == '-' && ++hyphens == 4) {
          text.erase(i, 1);
          break;
        }
      return hexUpper(text) == t ? "GUID printed as hex of its text" : "!";
    }
    case ColType::Binary:
    case ColType::OLE:
    case ColType::Complex: {
      if (col.type == ColType::Complex && t.empty() && !theirs.quoted) return "column type 0x11 not shown";
      const std::string lo = lower(o), lt = lower(t);
      if (lo == lt && !lt.empty()) return "";  // mdbtools writes OLE hex in upper case
      if (ours.quoted && o.empty() && t.empty() && !theirs.quoted) return "empty binary printed like Null";
      if (lt.size() % 2 == 0 && lo.size() > lt.size() && lo.compare(0, lt.size(), lt) == 0 &&
          lo.compare(lt.size(), 2, "00") == 0)
        return "binary cut at its first 00 byte";
      return "!";
    }
    default:
      return "!";
  }
}

}  // namespace detail

// Compares one table; `db` must be the database at `path`.
inline CompareResult compareWithMdbExport(const storage::Database& db, const std::string& path,
                                          const std::string& tableUtf8) {
  CompareResult r;
  auto def = db.table(storage::fromUtf8(tableUtf8));
  std::string ourCsv;
  storage::exportCsv(db, *def, [&](const char* p, size_t n) {
    ourCsv.append(p, n);
    return true;
  });
  int status = 0;
  const std::string theirCsv = runCommand("mdb-export -T '%Y-%m-%d %H:%M:%S' -b hex " + shellQuote(path) + " " +
                                              shellQuote(tableUtf8) + " 2>/dev/null",
                                          &status);
  auto fail = [&](const std::string& what) {
    ++r.failureCount;
    if (r.failures.size() < 8) r.failures.push_back(tableUtf8 + ": " + what);
  };
  if (status != 0) {
    fail("mdb-export failed");
    return r;
  }
  const auto ours = parseCsv(ourCsv);
  const auto theirs = parseCsv(theirCsv);
  if (ours.empty() || theirs.empty()) {
    fail("no header line");
    return r;
  }
  const size_t ncol = def->columns.size();
  if (ours[0].size() != ncol) fail("our header has the wrong number of columns");
  for (size_t i = 0; i < std::min(ours[0].size(), theirs[0].size()); ++i)
    if (ours[0][i].text != theirs[0][i].text) fail("header differs at column " + std::to_string(i));
  if (ours.size() != theirs.size()) {
    fail("row count " + std::to_string(ours.size() - 1) + " vs mdb-export's " + std::to_string(theirs.size() - 1));
    return r;
  }
  r.rows = ours.size() - 1;

  // Row-against-row comparison; returns unexplained differences, adds reasons to `tally`.
  auto rowDiff = [&](const CsvRow& a, const CsvRow& b, std::map<std::string, size_t>* tally,
                     std::string* first) {
    size_t bad = 0;
    if (a.size() != ncol || b.size() != ncol) return ncol + 1;
    for (size_t c = 0; c < ncol; ++c) {
      const std::string why = detail::compareCell(def->columns[c], a[c], b[c]);
      if (why.empty()) continue;
      if (why == "!") {
        if (first && first->empty())
          *first = storage::toUtf8(def->columns[c].name) + ": ours [" + a[c].text.substr(0, 80) +
                   "] mdb-export [" + b[c].text.substr(0, 80) + "]";
        ++bad;
      } else if (tally) {
        ++(*tally)[why];
      }
    }
    return bad;
  };

  std::map<std::string, size_t> tally;
  size_t badRows = 0;
  std::vector<std::string> firstDiffs;
  for (size_t i = 1; i < ours.size(); ++i) {
    std::string first;
    if (rowDiff(ours[i], theirs[i], &tally, &first)) {
      ++badRows;
      if (firstDiffs.size() < 8) firstDiffs.push_back("row " + std::to_string(i) + " " + first);
    }
  }
  r.cells = r.rows * ncol;
  if (badRows && ours.size() <= 2001) {
    // Moved (overflow) rows may come in another order from mdb-export: match as multisets.
    std::vector<bool> used(theirs.size(), false);
    bool all = true;
    for (size_t i = 1; i < ours.size() && all; ++i) {
      bool found = false;
      for (size_t j = 1; j < theirs.size() && !found; ++j)
        if (!used[j] && rowDiff(ours[i], theirs[j], nullptr, nullptr) == 0) found = used[j] = true;
      all = found;
    }
    if (all) {
      tally.clear();
      std::vector<bool> used2(theirs.size(), false);
      for (size_t i = 1; i < ours.size(); ++i)
        for (size_t j = 1; j < theirs.size(); ++j)
          if (!used2[j] && rowDiff(ours[i], theirs[j], nullptr, nullptr) == 0) {
            used2[j] = true;
            rowDiff(ours[i], theirs[j], &tally, nullptr);
            break;
          }
      ++tally["tables whose rows mdb-export lists in another order"];
      badRows = 0;
    }
  }
  if (badRows) {
    for (const auto& d : firstDiffs) r.failures.push_back(tableUtf8 + ": " + d);
    r.failureCount += badRows;
  }
  r.explained = std::move(tally);
  return r;
}

}  // namespace bv::test
