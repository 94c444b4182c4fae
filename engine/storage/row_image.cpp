#include "engine/storage/row_image.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/error.h"
#include "engine/storage/text_key.h"

namespace bv::storage {

namespace {

void putLE(uint8_t* p, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

[[noreturn]] void wrongKind(const ColumnDef& c) {
  throw JetError(3421, "Data type conversion error: the value for '" + toUtf8(c.name) +
                           "' is not of the column's type.");
}

template <class T> const T& need(const Value& v, const ColumnDef& c) {
  if (const T* p = v.get<T>()) return *p;
  wrongKind(c);
}

// Writes a fixed column's value at `p` (fixedColumnSize bytes).
void putFixed(uint8_t* p, const ColumnDef& c, const Value& v) {
  switch (c.type) {
    case ColType::Byte: p[0] = need<uint8_t>(v, c); break;
    case ColType::Integer: putLE(p, static_cast<uint16_t>(need<int16_t>(v, c)), 2); break;
    case ColType::Long: putLE(p, static_cast<uint32_t>(need<int32_t>(v, c)), 4); break;
    case ColType::Currency: putLE(p, static_cast<uint64_t>(need<Currency>(v, c).scaled), 8); break;
    case ColType::Single: {
      uint32_t bits;
      const float f = need<float>(v, c);
      std::memcpy(&bits, &f, 4);
      putLE(p, bits, 4);
      break;
    }
    case ColType::Double:
    case ColType::DateTime: {
      const double d = c.type == ColType::Double ? need<double>(v, c) : need<DateTime>(v, c).days;
      uint64_t bits;
      std::memcpy(&bits, &d, 8);
      putLE(p, bits, 8);
      break;
    }
    case ColType::Guid: std::memcpy(p, need<Guid>(v, c).bytes.data(), 16); break;
    case ColType::Decimal: {
      const Decimal& d = need<Decimal>(v, c);
      p[0] = d.negative ? 0x80 : 0x00;
      // Four u32 LE words, most significant first.
      putLE(p + 1, static_cast<uint32_t>(d.hi >> 32), 4);
      putLE(p + 5, static_cast<uint32_t>(d.hi), 4);
      putLE(p + 9, static_cast<uint32_t>(d.lo >> 32), 4);
      putLE(p + 13, static_cast<uint32_t>(d.lo), 4);
      break;
    }
    default: wrongKind(c);
  }
}

std::vector<uint8_t> textBytes(const ColumnDef& c, const std::u16string& s, bool jet4) {
  if (jet4) return encodeJet4Text(s, c.compressedUnicode);
  std::vector<uint8_t> out;
  out.reserve(s.size());
  for (char16_t ch : s) {
    const int b = cp1252Byte(ch);
    if (b < 0)
      throw JetError(kErrKeyNotEncodable, "The text for '" + toUtf8(c.name) +
                                              "' has a character this database's code page cannot hold.");
    out.push_back(static_cast<uint8_t>(b));
  }
  return out;
}

std::vector<uint8_t> variableBytes(const ColumnDef& c, const Value& v, bool jet4) {
  if (c.type == ColType::Text || c.type == ColType::Binary) {
    std::vector<uint8_t> b = c.type == ColType::Text ? textBytes(c, need<std::u16string>(v, c), jet4)
                                                     : need<Bytes>(v, c);
    const size_t limit = c.type == ColType::Text && jet4 ? c.length / 2u : c.length;
    const size_t units = c.type == ColType::Text ? need<std::u16string>(v, c).size() : b.size();
    if (units > limit)
      throw JetError(3163, "The value is too long for the column '" + toUtf8(c.name) + "'.");
    return b;
  }
  // Memo / OLE: an inline long value.
  const std::vector<uint8_t> data =
      c.type == ColType::Memo ? textBytes(c, need<std::u16string>(v, c), jet4) : need<Bytes>(v, c);
  std::vector<uint8_t> out(12 + data.size(), 0);
  putLE(out.data(), 0x80000000u | static_cast<uint32_t>(data.size()), 4);
  std::memcpy(out.data() + 12, data.data(), data.size());
  return out;
}

}  // namespace

std::vector<uint8_t> encodeJet4Text(std::u16string_view text, bool compress) {
  bool narrow = compress && text.size() > 2;
  for (char16_t ch : text) narrow = narrow && ch >= 1 && ch <= 0xFF;
  std::vector<uint8_t> out;
  if (narrow) {
    out.reserve(2 + text.size());
    out.push_back(0xFF);
    out.push_back(0xFE);
    for (char16_t ch : text) out.push_back(static_cast<uint8_t>(ch));
    return out;
  }
  out.reserve(2 * text.size());
  for (char16_t ch : text) {
    out.push_back(static_cast<uint8_t>(ch));
    out.push_back(static_cast<uint8_t>(ch >> 8));
  }
  return out;
}

std::vector<uint8_t> encodeRowImage(const TableDef& t, std::span<const Value> row, bool jet4) {
  if (row.size() != t.columns.size())
    throw JetError(3049, "Internal error: a row for '" + toUtf8(t.name) + "' has the wrong number of values.");
  const size_t countBytes = jet4 ? 2 : 1;
  size_t fixedEnd = 0;
  for (const ColumnDef& c : t.columns) {
    if (c.fixed && c.type != ColType::Bool)
      fixedEnd = std::max<size_t>(fixedEnd, c.fixedOffset + static_cast<size_t>(c.length));
  }
  const size_t maskBytes = (t.maxColumns + 7u) / 8u;
  std::vector<uint8_t> mask(maskBytes, 0);
  std::vector<uint8_t> out(countBytes + fixedEnd, 0);
  putLE(out.data(), t.maxColumns, static_cast<int>(countBytes));

  std::vector<std::vector<uint8_t>> var(t.varSlots);
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const ColumnDef& c = t.columns[i];
    const Value& v = row[i];
    if (c.type == ColType::Bool) {
      if (!v.isNull() && need<bool>(v, c)) mask[c.number / 8] |= static_cast<uint8_t>(1u << (c.number % 8));
      continue;
    }
    if (v.isNull()) continue;
    mask[c.number / 8] |= static_cast<uint8_t>(1u << (c.number % 8));
    if (c.fixed) {
      putFixed(out.data() + countBytes + c.fixedOffset, c, v);
    } else {
      var[c.varSlot] = variableBytes(c, v, jet4);
    }
  }
  // Variable data in slot order (a Null or absent value is an empty slot).
  const size_t varCount = t.varSlots;
  std::vector<size_t> offsets;
  for (size_t s = 0; s < varCount; ++s) {
    offsets.push_back(out.size());
    out.insert(out.end(), var[s].begin(), var[s].end());
  }
  const size_t eod = out.size();
  // The end-of-data offset is always there, even without variable columns.
  if (jet4) {
    uint8_t b[2];
    putLE(b, eod, 2);
    out.insert(out.end(), b, b + 2);
    for (size_t s = varCount; s-- > 0;) {
      putLE(b, offsets[s], 2);
      out.insert(out.end(), b, b + 2);
    }
    putLE(b, varCount, 2);
    out.insert(out.end(), b, b + 2);
  } else {
    // One-byte offsets: every 256-byte boundary the data crosses gets a jump-table entry
    // naming the first slot at or beyond it (slot V being the end of the data). The row
    // length decides the entry count, and the entries lengthen the row: settle it first.
    const size_t fixedPart = out.size() + varCount + 1 + 1 + maskBytes;
    size_t jumps = 0;
    while ((fixedPart + jumps - 1) / 256 > jumps) ++jumps;
    out.push_back(static_cast<uint8_t>(eod & 0xFF));
    for (size_t s = varCount; s-- > 0;) out.push_back(static_cast<uint8_t>(offsets[s] & 0xFF));
    // Entry 0 sits nearest the variable count: write the entries from the last one down.
    for (size_t j = jumps; j-- > 0;) {
      size_t slot = varCount;
      for (size_t s = 0; s < varCount; ++s) {
        if (offsets[s] >= 256 * (j + 1)) {
          slot = s;
          break;
        }
      }
      out.push_back(static_cast<uint8_t>(slot));
    }
    out.push_back(static_cast<uint8_t>(varCount));
  }
  out.insert(out.end(), mask.begin(), mask.end());
  const size_t room = jet4 ? 4096 - 16 : 2048 - 12;
  if (out.size() > room) throw JetError(3047, "The record for '" + toUtf8(t.name) + "' is too large.");
  return out;
}

}  // namespace bv::storage
