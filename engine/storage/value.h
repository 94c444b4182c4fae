// The value of one cell, as the storage layer decodes it and the SQL layer computes with it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace bv {

// Column type codes exactly as a column descriptor stores them.
enum class ColType : uint8_t {
  Bool = 0x01,
  Byte = 0x02,
  Integer = 0x03,
  Long = 0x04,
  Currency = 0x05,
  Single = 0x06,
  Double = 0x07,
  DateTime = 0x08,
  Binary = 0x09,
  Text = 0x0A,
  OLE = 0x0B,
  Memo = 0x0C,
  Guid = 0x0F,
  Decimal = 0x10,
  Complex = 0x11,  // undocumented fixed blob seen in one system table
};

// Fixed-point money: the stored integer is the amount times 10,000.
struct Currency {
  int64_t scaled = 0;
  friend bool operator==(const Currency&, const Currency&) = default;
};

// Days since 1899-12-30; the fraction is the time of day (also for negative days).
struct DateTime {
  double days = 0;
  friend bool operator==(const DateTime&, const DateTime&) = default;
};

// 16 bytes in the Windows GUID memory layout (u32 LE, u16 LE, u16 LE, 8 bytes).
struct Guid {
  std::array<uint8_t, 16> bytes{};
  friend bool operator==(const Guid&, const Guid&) = default;
};

// Exact decimal: sign, 96..128-bit magnitude split in two halves, and the scale
// (digits after the point). 32-bit targets have no 128-bit integer type.
struct Decimal {
  bool negative = false;
  uint64_t hi = 0;
  uint64_t lo = 0;
  uint8_t scale = 0;
  uint8_t precision = 18;
  friend bool operator==(const Decimal&, const Decimal&) = default;
};

using Bytes = std::vector<uint8_t>;

// Kinds in the order of the variant's alternatives.
enum class Kind : uint8_t {
  Null, Bool, Byte, Integer, Long, Currency, Single, Double, DateTime, Text, Binary, Guid, Decimal
};

// A cell value. Memo decodes to Text, OLE Object to Binary.
class Value {
 public:
  using Storage = std::variant<std::monostate, bool, uint8_t, int16_t, int32_t, Currency, float,
                               double, DateTime, std::u16string, Bytes, Guid, Decimal>;

  Value() = default;
  Value(bool v) : v_(v) {}
  Value(uint8_t v) : v_(v) {}
  Value(int16_t v) : v_(v) {}
  Value(int32_t v) : v_(v) {}
  Value(Currency v) : v_(v) {}
  Value(float v) : v_(v) {}
  Value(double v) : v_(v) {}
  Value(DateTime v) : v_(v) {}
  Value(std::u16string v) : v_(std::move(v)) {}
  Value(const char16_t* v) : v_(std::u16string(v)) {}
  Value(Bytes v) : v_(std::move(v)) {}
  Value(Guid v) : v_(v) {}
  Value(Decimal v) : v_(v) {}

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool isNull() const { return v_.index() == 0; }

  template <class T> const T& as() const { return std::get<T>(v_); }
  template <class T> T& as() { return std::get<T>(v_); }
  template <class T> const T* get() const { return std::get_if<T>(&v_); }

  const Storage& storage() const { return v_; }
  friend bool operator==(const Value&, const Value&) = default;

 private:
  Storage v_;
};

}  // namespace bv
