#include "engine/storage/key_encode.h"

#include <cstring>
#include <string>

#include "engine/storage/error.h"
#include "engine/storage/text_key.h"

namespace bv::storage {
namespace {

[[noreturn]] void badValue(const char* what) {
  throw JetError(kErrKeyNotEncodable, std::string("No index key can be built: ") + what + ".");
}

template <class T> const T& need(const Value& v) {
  const T* p = v.get<T>();
  if (!p) badValue("the value does not have the column's type");
  return *p;
}

// Big-endian two's complement of an n-byte integer with the sign bit flipped, so that the
// keys of signed numbers compare as unsigned bytes.
void appendSigned(std::vector<uint8_t>& out, uint64_t bits, int n) {
  for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  out[out.size() - n] ^= 0x80;
}

// IEEE bits big-endian; positive numbers get the sign bit set, negative ones are inverted.
void appendFloat(std::vector<uint8_t>& out, uint64_t bits, int n) {
  size_t at = out.size();
  for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  if (out[at] & 0x80) {
    for (size_t i = at; i < out.size(); ++i) out[i] = static_cast<uint8_t>(~out[i]);
  } else {
    out[at] |= 0x80;
  }
}

// Binary (and GUID): 8-byte segments; a full segment with more data after it is followed by
// 09, the last one is zero-padded and followed by its used length. Descending inverts the
// data and the final length, never the 09 continuation bytes.
void appendSegments(std::vector<uint8_t>& out, const uint8_t* data, size_t n, bool ascending) {
  auto put = [&](uint8_t b) { out.push_back(ascending ? b : static_cast<uint8_t>(~b)); };
  size_t i = 0;
  while (n - i > 8) {
    for (size_t k = 0; k < 8; ++k) put(data[i + k]);
    out.push_back(0x09);
    i += 8;
  }
  if (n == 0) return;
  size_t used = n - i;
  for (size_t k = 0; k < 8; ++k) put(k < used ? data[i + k] : 0);
  put(static_cast<uint8_t>(used));
}

// Decimal: sign byte and the 16-byte magnitude big-endian. Negative values are 00 + the
// inverted magnitude, positive ones FF + the magnitude; descending inverts the magnitude of
// positive values instead, so negatives come first in both directions.
void appendDecimal(std::vector<uint8_t>& out, const Decimal& d, bool ascending) {
  uint8_t mag[16];
  for (int i = 0; i < 8; ++i) {
    mag[i] = static_cast<uint8_t>(d.hi >> (56 - 8 * i));
    mag[8 + i] = static_cast<uint8_t>(d.lo >> (56 - 8 * i));
  }
  bool invert = d.negative == ascending;
  out.push_back(d.negative ? 0x00 : 0xFF);
  for (uint8_t b : mag) out.push_back(invert ? static_cast<uint8_t>(~b) : b);
}

void invertFrom(std::vector<uint8_t>& out, size_t from) {
  for (size_t i = from; i < out.size(); ++i) out[i] = static_cast<uint8_t>(~out[i]);
}

}  // namespace

void appendKeyPart(std::vector<uint8_t>& out, const KeyColumn& col, const Value& v, bool jet4) {
  const bool asc = col.ascending;
  if (col.type == ColType::Bool) {
    // Never Null: Yes keys as 00, No as FF.
    const bool* b = v.get<bool>();
    bool yes = b ? *b : false;
    out.push_back(asc ? 0x7F : 0x80);
    uint8_t byte = yes ? 0x00 : 0xFF;
    out.push_back(asc ? byte : static_cast<uint8_t>(~byte));
    return;
  }
  if (v.isNull()) {
    out.push_back(asc ? 0x00 : 0xFF);
    return;
  }
  out.push_back(asc ? 0x7F : 0x80);
  size_t body = out.size();
  switch (col.type) {
    case ColType::Byte:
      out.push_back(need<uint8_t>(v));
      break;
    case ColType::Integer:
      appendSigned(out, static_cast<uint16_t>(need<int16_t>(v)), 2);
      break;
    case ColType::Long:
      appendSigned(out, static_cast<uint32_t>(need<int32_t>(v)), 4);
      break;
    case ColType::Currency:
      appendSigned(out, static_cast<uint64_t>(need<Currency>(v).scaled), 8);
      break;
    case ColType::Single: {
      float f = need<float>(v);
      uint32_t bits;
      std::memcpy(&bits, &f, 4);
      appendFloat(out, bits, 4);
      break;
    }
    case ColType::Double:
    case ColType::DateTime: {
      double d = col.type == ColType::Double ? need<double>(v) : need<DateTime>(v).days;
      uint64_t bits;
      std::memcpy(&bits, &d, 8);
      appendFloat(out, bits, 8);
      break;
    }
    case ColType::Guid: {
      // Display order: the first three fields big-endian, the last 8 bytes as stored.
      const auto& g = need<Guid>(v).bytes;
      uint8_t d[16] = {g[3], g[2], g[1], g[0], g[5], g[4], g[7], g[6]};
      std::memcpy(d + 8, g.data() + 8, 8);
      appendSegments(out, d, 16, asc);
      return;
    }
    case ColType::Binary:
    case ColType::OLE: {
      const Bytes& b = need<Bytes>(v);
      appendSegments(out, b.data(), b.size(), asc);
      return;
    }
    case ColType::Decimal:
      appendDecimal(out, need<Decimal>(v), asc);
      return;
    case ColType::Text:
    case ColType::Memo:
      if (jet4)
        appendJet4TextKey(out, need<std::u16string>(v), asc);
      else
        appendJet3TextKey(out, need<std::u16string>(v), asc);
      return;
    default:
      badValue("the column's type cannot be indexed");
  }
  if (!asc) invertFrom(out, body);
}

std::vector<uint8_t> encodeKey(std::span<const KeyColumn> cols, std::span<const Value> values,
                               bool jet4) {
  if (cols.size() != values.size()) badValue("the number of values does not match the index");
  std::vector<uint8_t> out;
  for (size_t i = 0; i < cols.size(); ++i) appendKeyPart(out, cols[i], values[i], jet4);
  return out;
}

}  // namespace bv::storage

// ---- Keys of table rows -------------------------------------------------------------

namespace bv::storage {
namespace {

int columnPosition(const IndexColumn& ic, const TableDef& table) {
  int pos = table.columnByNumber(ic.columnNumber);
  if (pos < 0)
    throw JetError(3049, "The database is damaged: an index of table '" + toUtf8(table.name) +
                             "' names column number " + std::to_string(ic.columnNumber) +
                             ", which the table does not have.");
  return pos;
}

std::vector<uint8_t> rowKey(std::span<const IndexColumn> cols, const TableDef& table,
                            std::span<const Value> row, bool jet4) {
  std::vector<uint8_t> out;
  for (const IndexColumn& ic : cols) {
    int pos = columnPosition(ic, table);
    static const Value kNull;
    const Value& v = static_cast<size_t>(pos) < row.size() ? row[pos] : kNull;
    appendKeyPart(out, KeyColumn{table.columns[pos].type, ic.ascending}, v, jet4);
  }
  return out;
}

}  // namespace

std::vector<KeyColumn> keyColumns(std::span<const IndexColumn> cols, const TableDef& table) {
  std::vector<KeyColumn> out;
  for (const IndexColumn& ic : cols)
    out.push_back({table.columns[columnPosition(ic, table)].type, ic.ascending});
  return out;
}

std::vector<uint8_t> encodeKey(const IndexDef& index, const TableDef& table,
                               std::span<const Value> row, bool jet4) {
  return rowKey(index.columns, table, row, jet4);
}

std::vector<uint8_t> encodeKey(const RealIndexDef& index, const TableDef& table,
                               std::span<const Value> row, bool jet4) {
  return rowKey(index.columns, table, row, jet4);
}

bool allKeyColumnsNull(std::span<const IndexColumn> cols, const TableDef& table,
                       std::span<const Value> row) {
  for (const IndexColumn& ic : cols) {
    int pos = columnPosition(ic, table);
    if (table.columns[pos].type == ColType::Bool) return false;
    if (static_cast<size_t>(pos) < row.size() && !row[pos].isNull()) return false;
  }
  return true;
}

}  // namespace bv::storage
