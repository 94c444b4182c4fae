// Quoting for the shell command lines the benchmarks run.
#pragma once

#include <string>

namespace bv::bench {

// `s` as one shell word, in single quotes.
inline std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace bv::bench
