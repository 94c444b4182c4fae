// The one failure type of the engine: a Jet error number with a description.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace bv {

// `number` is Jet's own error number (3078 unknown table, 3061 too few parameters, ...);
// the description is our own wording and names the object or place concerned.
class JetError : public std::runtime_error {
 public:
  JetError(int32_t number, const std::string& description)
      : std::runtime_error(description), number_(number) {}
  int32_t number() const { return number_; }

 private:
  int32_t number_;
};

}  // namespace bv
