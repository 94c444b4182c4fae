#include "engine/storage/row_image.h"

#include "engine/storage/error.h"
#include "engine/storage/row_encode.h"

namespace bv::storage {

std::vector<uint8_t> encodeRowImage(const TableDef& t, std::span<const Value> row, bool jet4) {
  if (row.size() != t.columns.size())
    throw JetError(3049, "Internal error: a row for '" + toUtf8(t.name) + "' has the wrong number of values.");
  const RowFormat fmt{jet4, 1252, jet4 ? 4096u : 2048u};
  std::vector<EncodedField> fields(t.columns.size());
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const ColumnDef& c = t.columns[i];
    const Value& v = row[i];
    if (!c.isLongValue()) {
      fields[i] = encodeField(fmt, c, v);
      continue;
    }
    if (v.isNull()) continue;
    // Memo / OLE: an inline long value (12-byte header, then the data).
    const std::u16string* text = v.get<std::u16string>();
    const Bytes* bytes = v.get<Bytes>();
    if (c.type == ColType::Memo ? !text : !bytes)
      throw JetError(3421, "Data type conversion error: the value for '" + toUtf8(c.name) +
                               "' is not of the column's type.");
    const Bytes data = text ? encodeText(fmt, c, *text, c.compressedUnicode) : *bytes;
    Bytes& out = fields[i].bytes;
    out.assign(12, 0);
    const uint32_t head = 0x80000000u | static_cast<uint32_t>(data.size());
    for (int k = 0; k < 4; ++k) out[k] = static_cast<uint8_t>(head >> (8 * k));
    out.insert(out.end(), data.begin(), data.end());
    fields[i].present = true;
  }
  return assembleRow(fmt, t, fields);
}

}  // namespace bv::storage
